#include "platform/system/MachineRoot.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>

namespace vela5::platform::System {

std::filesystem::path MachineRoot()
{
    if (const char* root = std::getenv("VELA5_ROOT"); root != nullptr && *root != '\0') {
        return root;
    }
    if (const char* data = std::getenv("XDG_DATA_HOME"); data != nullptr && *data != '\0') {
        return std::filesystem::path(data) / "vela5";
    }
    const char* home = std::getenv("HOME");
    return std::filesystem::path(home != nullptr ? home : ".") / ".local" / "share" / "vela5";
}

std::string MachineTag()
{
    // "root" and "root/" and "./root" name one machine.
    std::error_code error;
    std::filesystem::path path = std::filesystem::absolute(MachineRoot(), error).lexically_normal();
    std::string text = path.string();
    while (text.size() > 1 && text.back() == '/') {
        text.pop_back();
    }
    // FNV-1a: stable across builds and runs, which std::hash is not bound to be.
    uint32_t hash = 2166136261u;
    for (const char c : text) {
        hash ^= static_cast<unsigned char>(c);
        hash *= 16777619u;
    }
    char tag[9];
    std::snprintf(tag, sizeof tag, "%08x", hash);
    return tag;
}

} // namespace vela5::platform::System
