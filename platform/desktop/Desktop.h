// Finding another program's top-level window by its title and bringing it
// forward (FindWindow, ShowWindowAsync(SW_RESTORE), SetForegroundWindow), on
// the X display named by $DISPLAY. Without a display nothing is found.
#pragma once

#include <cstdint>
#include <string>

namespace vela5::platform::Desktop {

// An X window id; 0 is no window.
using WindowHandle = std::uint64_t;

// The first top-level window whose title is exactly title (UTF-8), mapped or
// not: a window hidden to the tray is still found.
WindowHandle FindTopLevelWindow(const std::string& title);

// Restores the window from minimized or hidden, shows it in its normal state
// and asks the window manager to activate it. The window's owner sees the
// change through its own event loop. False when the window is gone.
bool RestoreAndRaise(WindowHandle window);

} // namespace vela5::platform::Desktop
