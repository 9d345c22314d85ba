// Finding a window by its exact title and bringing a hidden one back, on the
// test's X display (the suite runs under Xvfb).
#include "platform/desktop/Desktop.h"

#include <cstdlib>
#include <cstring>
#include <gtest/gtest.h>
// Xlib last: its macros (None, Bool, Status) clash with the test framework.
#include <X11/Xlib.h>
#include <X11/Xutil.h>

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

    Window MakeWindow(const char* utf8Title, bool setNetName)
    {
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
    const Window utf8 = MakeWindow("NRV Gerenciador de Certificados - Utilitários", true);
    const Window plain = MakeWindow("Pavix Manager", false);
    const Window longer = MakeWindow("Pavix Manager - Settings", true);

    EXPECT_EQ(utf8, Desktop::FindTopLevelWindow("NRV Gerenciador de Certificados - Utilitários"));
    EXPECT_EQ(plain, Desktop::FindTopLevelWindow("Pavix Manager")) << "ICCCM name and no prefix match";
    EXPECT_EQ(longer, Desktop::FindTopLevelWindow("Pavix Manager - Settings"));
    EXPECT_EQ(0u, Desktop::FindTopLevelWindow("Pavix"));
    EXPECT_EQ(0u, Desktop::FindTopLevelWindow("pavix manager"));

    XDestroyWindow(m_display, plain);
    XSync(m_display, False);
    EXPECT_EQ(0u, Desktop::FindTopLevelWindow("Pavix Manager"));
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
