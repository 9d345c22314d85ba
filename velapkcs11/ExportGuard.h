// Shared by the exported entries: no exception crosses the C boundary; the
// module's errors become their CK_RV, anything else a general error.
#pragma once

#include "CkError.h"
#include "Module.h"

#include <new>

namespace velatoken {

template <typename Call> CK_RV Guard(Call&& call) noexcept
{
    try {
        call();
        return CKR_OK;
    } catch (const CkError& error) {
        return error.Result();
    } catch (const std::bad_alloc&) {
        return CKR_HOST_MEMORY;
    } catch (...) {
        return CKR_GENERAL_ERROR;
    }
}

template <typename... Args> void Ignore(const Args&...)
{
}

inline Module& M()
{
    return Module::Instance();
}

} // namespace velatoken
