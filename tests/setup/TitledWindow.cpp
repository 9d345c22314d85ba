// Stands in for the kit installer's window: an unmapped top-level window
// with the title given, kept until killed (at most a minute). Writes its
// window id to the file given once the window exists.
#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <cstdio>
#include <cstring>
#include <string>
#include <unistd.h>

int main(int argc, char** argv)
{
    if (argc != 3) {
        return 2;
    }
    Display* display = XOpenDisplay(nullptr);
    if (display == nullptr) {
        return 1;
    }
    const Window window = XCreateSimpleWindow(display, DefaultRootWindow(display), 0, 0, 200, 100, 0, 0, 0);
    XChangeProperty(display, window, XInternAtom(display, "_NET_WM_NAME", False),
        XInternAtom(display, "UTF8_STRING", False), 8, PropModeReplace,
        reinterpret_cast<const unsigned char*>(argv[1]), static_cast<int>(std::strlen(argv[1])));
    XSync(display, False);
    const std::string ready = std::string(argv[2]) + ".part";
    if (FILE* out = std::fopen(ready.c_str(), "w")) {
        std::fprintf(out, "%lu\n", static_cast<unsigned long>(window));
        std::fclose(out);
        std::rename(ready.c_str(), argv[2]);
    }
    for (int i = 0; i < 600; ++i) {
        usleep(100000);
    }
    XCloseDisplay(display);
    return 0;
}
