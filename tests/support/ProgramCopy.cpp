#include "ProgramCopy.h"

#include <cstdlib>
#include <fstream>
#include <sstream>
#include <thread>
// Xlib last: its macros clash with other headers' names.
#include <X11/Xlib.h>

using namespace vela5::platform;

namespace ProgramCopy {

// Copies the built program name into folder; the copy's path.
std::filesystem::path Place(const std::string& name, const std::filesystem::path& folder)
{
    const char* bin = std::getenv("VELA5_BIN_DIR");
    std::filesystem::create_directories(folder);
    const std::filesystem::path copy = folder / name;
    std::filesystem::copy_file(std::filesystem::path(bin != nullptr ? bin : "bin") / name, copy,
        std::filesystem::copy_options::overwrite_existing);
    return copy;
}

// Starts program with its standard error going to errors.
Process::ErrorCode Run(const std::filesystem::path& program, const std::filesystem::path& errors,
    Process::Child& child, const std::vector<std::string>& arguments)
{
    std::vector<std::string> words = { "-c", "exec \"$0\" \"$@\" 2>\"$ERRORS\"", program.string() };
    words.insert(words.end(), arguments.begin(), arguments.end());
    setenv("ERRORS", errors.c_str(), 1);
    return Process::Start("/bin/sh", words, {}, child);
}

std::string ReadFile(const std::filesystem::path& file)
{
    std::ifstream in(file);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

std::shared_ptr<void> HoldDisplay()
{
    Display* display = XOpenDisplay(nullptr);
    if (display == nullptr) {
        return nullptr;
    }
    return std::shared_ptr<void>(display, [](void* held) { XCloseDisplay(static_cast<Display*>(held)); });
}

// The top-level window titled title once it exists, 0 after timeout.
Desktop::WindowHandle WaitForWindow(const std::string& title, std::chrono::milliseconds timeout)
{
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    do {
        if (const Desktop::WindowHandle window = Desktop::FindTopLevelWindow(title)) {
            return window;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    } while (std::chrono::steady_clock::now() < deadline);
    return 0;
}

// Asks the window to close, as its close box would (WM_DELETE_WINDOW).
bool AskToClose(Desktop::WindowHandle window)
{
    Display* display = XOpenDisplay(nullptr);
    if (display == nullptr) {
        return false;
    }
    XEvent event {};
    event.xclient.type = ClientMessage;
    event.xclient.window = static_cast<Window>(window);
    event.xclient.message_type = XInternAtom(display, "WM_PROTOCOLS", False);
    event.xclient.format = 32;
    event.xclient.data.l[0] = static_cast<long>(XInternAtom(display, "WM_DELETE_WINDOW", False));
    event.xclient.data.l[1] = CurrentTime;
    const bool sent = XSendEvent(display, static_cast<Window>(window), False, NoEventMask, &event) != 0;
    XSync(display, False);
    XCloseDisplay(display);
    return sent;
}

bool IsMapped(Desktop::WindowHandle window)
{
    Display* display = XOpenDisplay(nullptr);
    if (display == nullptr) {
        return false;
    }
    XWindowAttributes attributes {};
    const bool mapped = XGetWindowAttributes(display, static_cast<Window>(window), &attributes) != 0
        && attributes.map_state != IsUnmapped;
    XCloseDisplay(display);
    return mapped;
}

} // namespace ProgramCopy
