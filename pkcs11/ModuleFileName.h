// Which token module the kit's programs load: the software token by its plain
// name, unless VELA5_PKCS11_MODULE names another (a path or a plain name).
#pragma once

#include <cstdlib>

inline const char* Vela5ModuleFileName()
{
    const char* chosen = std::getenv("VELA5_PKCS11_MODULE");
    return chosen != nullptr && *chosen != '\0' ? chosen : "velapkcs11.so";
}
