#include "platform/system/System.h"

#include <cstring>
#include <sys/utsname.h>
#include <tuple>

namespace vela5::platform::System {

Version RunningVersion()
{
    return Version { 10, 0, 0, 0 };
}

bool IsAtLeast(const Version& running, const Version& wanted)
{
    return std::tie(running.major, running.minor, running.servicePackMajor, running.servicePackMinor)
        >= std::tie(wanted.major, wanted.minor, wanted.servicePackMajor, wanted.servicePackMinor);
}

bool IsVersionAtLeast(unsigned major, unsigned minor, unsigned servicePackMajor, unsigned servicePackMinor)
{
    return IsAtLeast(RunningVersion(), Version { major, minor, servicePackMajor, servicePackMinor });
}

bool IsVistaSP1OrLater()
{
    return IsVersionAtLeast(6, 0, 1, 0);
}

bool Is64BitSystem()
{
    // The machine, not this process: a 32-bit build on a 64-bit kernel still
    // sees both registry views, as a WOW64 process does.
    utsname names {};
    if (::uname(&names) != 0) {
        return sizeof(void*) == 8;
    }
    return std::strstr(names.machine, "64") != nullptr || std::strcmp(names.machine, "s390x") == 0;
}

} // namespace vela5::platform::System
