#include "setup/SetupLogic.h"

#include <chrono>

using namespace vela5::platform;

namespace Setup {

Packages PackagesFor(const std::string& setupFolder, bool is64Bit)
{
    if (is64Bit) {
        return { setupFolder + "x64/NRV_Unified_PCSC_Driver-4.0.0.6.msi",
            setupFolder + "x64/SGL_user_x64_40.msi" };
    }
    return { setupFolder + "x86/NRV_Unified_PCSC_Driver-4.0.0.6.msi",
        setupFolder + "x86/SGL_user_x86_40.msi" };
}

// The path quoted so it reaches msiexec whole even with a quote or a
// trailing backslash in it (never so on Windows, possible here).
std::string QuietInstallCommand(const std::string& package)
{
    return "msiexec /i " + Process::QuoteArgument(package) + " /q";
}

std::string InstallCommand(const std::string& package)
{
    return "msiexec /i " + Process::QuoteArgument(package);
}

std::string OwnFolder()
{
    const std::string self = Process::OwnProgramPath();
    const std::size_t slash = self.rfind('/');
    return slash == std::string::npos ? std::string("./") : self.substr(0, slash + 1);
}

void RunInstallation(const Packages& packages, const std::function<void()>& tick)
{
    Process::Child driver;
    if (Process::StartCommandLine(QuietInstallCommand(packages.driver), {}, driver) == Process::kSuccess) {
        driver.WaitWhile(tick, std::chrono::milliseconds(100));
    }
    Process::Child userKit;
    if (Process::StartCommandLine(InstallCommand(packages.userKit), {}, userKit) == Process::kSuccess) {
        userKit.WaitFor(std::chrono::milliseconds(100));
        // The interactive installer runs on; it is reaped if we outlive it.
        userKit.Detach();
    }
}

} // namespace Setup
