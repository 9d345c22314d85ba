// Every standard entry, answering CKR_FUNCTION_NOT_SUPPORTED: weak, so the
// entries the token offers (Exports.cpp) take their place at link time and
// the signatures come from the one list in the ABI header.
#include "ExportGuard.h"

#define VELA5_WEAK_EXPORT __attribute__((visibility("default"), weak))

using velatoken::Guard;
using velatoken::Ignore;
using velatoken::M;

extern "C" {

#define UNSUPPORTED(name, params, args)                                                                      \
    VELA5_WEAK_EXPORT CK_RV name params                                                                      \
    {                                                                                                        \
        Ignore args;                                                                                         \
        return Guard([&] { M().Unsupported(CKR_FUNCTION_NOT_SUPPORTED); });                                  \
    }
NRV_STANDARD_FUNCTIONS(UNSUPPORTED)
#undef UNSUPPORTED

} // extern "C"
