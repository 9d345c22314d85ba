#include "launcher/LauncherLogic.h"

using namespace vela5::platform;

namespace Launcher {

std::string TargetPath(const std::string& launcherPath)
{
    const size_t slash = launcherPath.rfind('/');
    return (slash == std::string::npos ? std::string() : launcherPath.substr(0, slash + 1)) + kTargetName;
}

std::string MessageFor(Process::ErrorCode result, const std::string& target)
{
    switch (result) {
    case Process::kErrorNoSystemResources:
        return "The operating system is out of memory or resources.";
    case Process::kErrorFileNotFound:
        // Built as a string: the full path never truncates the message.
        return "The specified path was not found. [" + target + "]";
    case Process::kErrorPathNotFound:
        return "The specified path was not found.";
    case Process::kErrorAccessDenied:
        return "The operating system denied access to the specified file.";
    case Process::kErrorNotEnoughMemory:
        return "There was not enough memory to complete the operation.";
    case Process::kErrorBadFormat:
        return "The .exe file is invalid (non-Win32 .exe or error in .exe image).";
    case Process::kErrorSharingViolation:
        return "A sharing violation occurred.";
    case 27:
        return "The file name association is incomplete or invalid.";
    case 28:
        return "The DDE transaction could not be completed because the request timed out.";
    case 29:
        return "The DDE transaction failed.";
    case 30:
        return "The DDE transaction could not be completed because other DDE transactions were being "
               "processed.";
    case Process::kErrorNoAssociation:
        return "There is no application associated with the given file name extension. This error will also "
               "be "
               "returned if you attempt to print a file that is not printable.";
    case 32:
        return "The specified DLL was not found.";
    default:
        return "Unknown Error.";
    }
}

std::optional<std::string> Launch(const std::string& launcherPath, const StartFunction& start)
{
    if (launcherPath.size() >= kPathBufferSize) {
        return std::string(kBufferTooSmall);
    }
    // Without a folder of its own there is nowhere to look for the manager.
    if (launcherPath.find('/') == std::string::npos) {
        return MessageFor(Process::kErrorPathNotFound, launcherPath);
    }
    const std::string target = TargetPath(launcherPath);
    const Process::ErrorCode result = start(target);
    if (result == Process::kSuccess) {
        return std::nullopt;
    }
    return MessageFor(result, target);
}

Process::ErrorCode StartProgram(const std::string& program)
{
    return Process::StartDetached(program, {}, Process::StartOptions {});
}

} // namespace Launcher
