// Runs one of the kit's programs as a user would: a copy in a folder of the
// test's own (a program finds its companions beside itself), standard error
// kept in a file, and its windows found and closed on the test's display.
#pragma once

#include "platform/desktop/Desktop.h"
#include "platform/process/Process.h"

#include <chrono>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

namespace ProgramCopy {

// Copies the built program name into folder; the copy's path.
std::filesystem::path Place(const std::string& name, const std::filesystem::path& folder);

// Starts program with arguments, its standard error going to errors.
vela5::platform::Process::ErrorCode Run(const std::filesystem::path& program,
    const std::filesystem::path& errors, vela5::platform::Process::Child& child,
    const std::vector<std::string>& arguments = {});

std::string ReadFile(const std::filesystem::path& file);

// A connection to the display kept for as long as the result lives (null
// without a display): a display server resets when its last client leaves,
// taking down windows of a program that connected just then.
std::shared_ptr<void> HoldDisplay();

// The top-level window titled title once it exists, 0 after timeout.
vela5::platform::Desktop::WindowHandle WaitForWindow(
    const std::string& title, std::chrono::milliseconds timeout);

// Asks the window to close, as its close box would (WM_DELETE_WINDOW).
bool AskToClose(vela5::platform::Desktop::WindowHandle window);

// True when the window is mapped (shown) on the display.
bool IsMapped(vela5::platform::Desktop::WindowHandle window);

} // namespace ProgramCopy
