#include "platform/desktop/Desktop.h"

#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <memory>
#include <vector>

namespace vela5::platform::Desktop {
namespace {

struct DisplayCloser {
    void operator()(Display* display) const { XCloseDisplay(display); }
};
using DisplayPtr = std::unique_ptr<Display, DisplayCloser>;

// X errors (a window destroyed while we look at it) must not end the caller.
int IgnoreErrors(Display*, XErrorEvent*)
{
    return 0;
}

class ErrorGuard final {
public:
    ErrorGuard()
        : m_previous(XSetErrorHandler(IgnoreErrors))
    {
    }
    ~ErrorGuard() { XSetErrorHandler(m_previous); }
    ErrorGuard(const ErrorGuard&) = delete;
    ErrorGuard& operator=(const ErrorGuard&) = delete;

private:
    XErrorHandler m_previous;
};

DisplayPtr OpenDisplay()
{
    return DisplayPtr(XOpenDisplay(nullptr));
}

bool ReadProperty(Display* display, Window window, Atom property, Atom type, std::vector<unsigned char>& out)
{
    Atom actualType = None;
    int format = 0;
    unsigned long count = 0;
    unsigned long remaining = 0;
    unsigned char* data = nullptr;
    if (XGetWindowProperty(display, window, property, 0, 1 << 20, False, type, &actualType, &format, &count,
            &remaining, &data)
            != Success
        || data == nullptr) {
        return false;
    }
    const bool ok = actualType == type;
    if (ok) {
        const size_t unit = format == 32 ? sizeof(long) : static_cast<size_t>(format / 8);
        out.assign(data, data + count * unit);
    }
    XFree(data);
    return ok;
}

// EWMH _NET_WM_NAME (UTF-8) first, the ICCCM WM_NAME otherwise.
bool TitleIs(Display* display, Window window, const std::string& title)
{
    std::vector<unsigned char> name;
    const Atom netName = XInternAtom(display, "_NET_WM_NAME", False);
    const Atom utf8 = XInternAtom(display, "UTF8_STRING", False);
    if (ReadProperty(display, window, netName, utf8, name)) {
        return std::string(name.begin(), name.end()) == title;
    }
    if (ReadProperty(display, window, XA_WM_NAME, XA_STRING, name)) {
        return std::string(name.begin(), name.end()) == title;
    }
    return false;
}

// The window manager's list of clients when there is one; otherwise (or
// also, for hidden windows the list leaves out) the window tree itself.
void CollectWindows(Display* display, Window window, int depth, std::vector<Window>& out)
{
    Window root = 0;
    Window parent = 0;
    Window* children = nullptr;
    unsigned int count = 0;
    if (XQueryTree(display, window, &root, &parent, &children, &count) == 0) {
        return;
    }
    for (unsigned int i = 0; i < count; ++i) {
        out.push_back(children[i]);
        // A reparenting window manager puts clients one or two levels down.
        if (depth < 2) {
            CollectWindows(display, children[i], depth + 1, out);
        }
    }
    if (children != nullptr) {
        XFree(children);
    }
}

void SendRootMessage(Display* display, Window window, const char* type, long data0, long data1, long data2)
{
    XEvent event {};
    event.xclient.type = ClientMessage;
    event.xclient.window = window;
    event.xclient.message_type = XInternAtom(display, type, False);
    event.xclient.format = 32;
    event.xclient.data.l[0] = data0;
    event.xclient.data.l[1] = data1;
    event.xclient.data.l[2] = data2;
    XSendEvent(display, DefaultRootWindow(display), False, SubstructureRedirectMask | SubstructureNotifyMask,
        &event);
}

} // namespace

WindowHandle FindTopLevelWindow(const std::string& title)
{
    const DisplayPtr display = OpenDisplay();
    if (!display) {
        return 0;
    }
    const ErrorGuard guard;
    std::vector<Window> candidates;
    std::vector<unsigned char> clients;
    const Atom clientList = XInternAtom(display.get(), "_NET_CLIENT_LIST", False);
    if (ReadProperty(display.get(), DefaultRootWindow(display.get()), clientList, XA_WINDOW, clients)) {
        const auto* ids = reinterpret_cast<const unsigned long*>(clients.data());
        candidates.assign(ids, ids + clients.size() / sizeof(unsigned long));
    }
    CollectWindows(display.get(), DefaultRootWindow(display.get()), 0, candidates);
    for (const Window window : candidates) {
        if (TitleIs(display.get(), window, title)) {
            return window;
        }
    }
    return 0;
}

bool RestoreAndRaise(WindowHandle handle)
{
    const DisplayPtr display = OpenDisplay();
    if (!display || handle == 0) {
        return false;
    }
    const ErrorGuard guard;
    const auto window = static_cast<Window>(handle);
    XWindowAttributes attributes {};
    if (XGetWindowAttributes(display.get(), window, &attributes) == 0) {
        return false;
    }
    // Out of minimized or maximized state, then mapped and on top.
    const long removeState = 0;
    SendRootMessage(display.get(), window, "_NET_WM_STATE", removeState,
        static_cast<long>(XInternAtom(display.get(), "_NET_WM_STATE_HIDDEN", False)), 0);
    XMapRaised(display.get(), window);
    // Source 2: a pager-like request, which window managers honour.
    SendRootMessage(display.get(), window, "_NET_ACTIVE_WINDOW", 2, CurrentTime, 0);
    XSync(display.get(), False);
    return true;
}

} // namespace vela5::platform::Desktop
