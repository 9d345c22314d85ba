// The token models the software token can stand in for.
#pragma once

#include "pkcs11/pkcs11.h"

#include <optional>
#include <string>

namespace velatoken {

struct Model {
    const char* name;
    bool recognized;
    // Bytes of object memory; half public, half private.
    CK_ULONG memory;
};

std::optional<Model> FindModel(const std::string& name);
// "VELA5-32, VELA5-64, SGL32, SGL64, UNKNOWN" for help and error texts.
std::string ModelNames();

} // namespace velatoken
