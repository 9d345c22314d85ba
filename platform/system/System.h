// Version and bitness questions the kit asks of the operating system, as
// Windows answers them (VerifyVersionInfo, IsWow64Process).
#pragma once

namespace vela5::platform::System {

struct Version {
    unsigned major = 0;
    unsigned minor = 0;
    unsigned servicePackMajor = 0;
    unsigned servicePackMinor = 0;
};

// The version this system reports: a current Windows level, so every
// "this version or later" test of the kit holds.
Version RunningVersion();

// VerifyVersionInfo with greater-or-equal on major, minor and service pack:
// the fields compare in that order, a higher field decides.
bool IsAtLeast(const Version& running, const Version& wanted);
bool IsVersionAtLeast(unsigned major, unsigned minor, unsigned servicePackMajor, unsigned servicePackMinor);

// Windows Vista with service pack 1 or later.
bool IsVistaSP1OrLater();

// True on a 64-bit machine (where HKLM\Software has two views).
bool Is64BitSystem();

} // namespace vela5::platform::System
