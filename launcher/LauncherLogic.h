// What the launcher decides: where the manager lies, whether it started, and
// the one message that explains a failure.
#pragma once

#include "platform/process/Process.h"

#include <functional>
#include <optional>
#include <string>

namespace Launcher {

// The launcher reads its own path into a buffer of this many characters; a
// path that needs the whole buffer (no room for the terminator) is refused.
constexpr size_t kPathBufferSize = 260;
inline constexpr char kTargetName[] = "PavixManager";
inline constexpr char kCaption[] = "PavixManagerLauncher Error";
inline constexpr char kBufferTooSmall[] = "Unable to launch application. Buffer too small.";

// The manager beside the launcher: everything up to the last separator, the
// separator, then the manager's name.
std::string TargetPath(const std::string& launcherPath);

// The message for a failed start of target.
std::string MessageFor(vela5::platform::Process::ErrorCode result, const std::string& target);

using StartFunction = std::function<vela5::platform::Process::ErrorCode(const std::string& program)>;

// Starts the manager through start without waiting for it; the message to
// show when that fails, nothing when it started.
std::optional<std::string> Launch(const std::string& launcherPath, const StartFunction& start);

// The default start: the program itself, in the normal way, let go at once.
vela5::platform::Process::ErrorCode StartProgram(const std::string& program);

} // namespace Launcher
