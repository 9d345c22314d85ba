// Finding a window by its exact title and bringing a hidden one back, on the
// test's X display (the suite runs under Xvfb).
#include "platform/desktop/Desktop.h"

#include <cstdlib>
#include <cstring>
#include <gtest/gtest.h>
#include <string>
#include <unistd.h>
// Xlib last: its macros (None, Bool, Status) clash with the test framework.
#include <X11/Xlib.h>
#include <X11/Xutil.h>

using namespace vela5::platform;

namespace {

class DesktopTest : public testing::Test {
protected:
    void SetUp() override
    {
        m_display = XOpenDisplay(nullptr);
        if (m_display == nullptr) {
            GTEST_SKIP() << "no X display";
        }
    }
    void TearDown() override
    {
        if (m_display != nullptr) {
            XCloseDisplay(m_display);
        }
    }

    Window MakeWindow(const std::string& title, bool setNetName)
    {
        const char* utf8Title = title.c_str();
        const Window window
            = XCreateSimpleWindow(m_display, DefaultRootWindow(m_display), 0, 0, 50, 50, 0, 0, 0);
        if (setNetName) {
            XChangeProperty(m_display, window, XInternAtom(m_display, "_NET_WM_NAME", False),
                XInternAtom(m_display, "UTF8_STRING", False), 8, PropModeReplace,
                reinterpret_cast<const unsigned char*>(utf8Title), static_cast<int>(std::strlen(utf8Title)));
        } else {
            XStoreName(m_display, window, utf8Title);
        }
        XSync(m_display, False);
        return window;
    }

    bool IsMapped(Window window)
    {
        XWindowAttributes attributes {};
        XGetWindowAttributes(m_display, window, &attributes);
        return attributes.map_state == IsViewable;
    }

    Display* m_display = nullptr;
};

TEST_F(DesktopTest, FindsOnlyTheExactTitleEvenWhenHidden)
{
    // Titles of this test's own: the manager's windows, which other tests show
    // on the shared display at the same time, must not be found instead.
    const std::string title = "Desktop Probe " + std::to_string(getpid());
    const Window utf8 = MakeWindow("NRV Gerenciador de Certificados - Utilitários " + title, true);
    const Window plain = MakeWindow(title, false);
    const Window longer = MakeWindow(title + " - Settings", true);

    EXPECT_EQ(utf8, Desktop::FindTopLevelWindow("NRV Gerenciador de Certificados - Utilitários " + title));
    EXPECT_EQ(plain, Desktop::FindTopLevelWindow(title)) << "ICCCM name and no prefix match";
    EXPECT_EQ(longer, Desktop::FindTopLevelWindow(title + " - Settings"));
    EXPECT_EQ(0u, Desktop::FindTopLevelWindow("Desktop Probe"));
    EXPECT_EQ(0u, Desktop::FindTopLevelWindow("desktop probe " + std::to_string(getpid())));

    XDestroyWindow(m_display, plain);
    XSync(m_display, False);
    EXPECT_EQ(0u, Desktop::FindTopLevelWindow(title));
    XDestroyWindow(m_display, utf8);
    XDestroyWindow(m_display, longer);
}

TEST_F(DesktopTest, RestoreAndRaiseMapsAHiddenWindow)
{
    const Window window = MakeWindow("Desktop test window", true);
    ASSERT_FALSE(IsMapped(window));
    ASSERT_TRUE(Desktop::RestoreAndRaise(Desktop::FindTopLevelWindow("Desktop test window")));
    EXPECT_TRUE(IsMapped(window));
    XDestroyWindow(m_display, window);
    XSync(m_display, False);
    EXPECT_FALSE(Desktop::RestoreAndRaise(window)) << "a window that is gone";
}

} // namespace
