// The wait dialog in-process: keys that must not dismiss it, the About
// entry, the picture, and the installation started by its first paint.
#include "setup/SetupDlg.h"
#include "setup/SetupLogic.h"
#include "tests/support/ScopedTestRoot.h"

#include <gtest/gtest.h>
#include <wx/app.h>
#include <wx/menu.h>

namespace fs = std::filesystem;

namespace {

class SetupDlgTest : public testing::Test {
protected:
    std::string Folder() const { return m_root.Base().string() + "/"; }
    void PlacePicture()
    {
        const char* bin = std::getenv("VELA5_BIN_DIR");
        fs::copy_file(fs::path(bin != nullptr ? bin : "bin") / Setup::kPictureName,
            m_root.Base() / Setup::kPictureName);
    }
    // Sends a key as the toolkit does before any control sees it; true when
    // something consumed it.
    static bool PressKey(wxWindow& window, int key)
    {
        wxKeyEvent event(wxEVT_CHAR_HOOK);
        event.m_keyCode = key;
        event.SetEventObject(&window);
        const bool consumed = window.GetEventHandler()->ProcessEvent(event);
        wxTheApp->Yield(true);
        return consumed;
    }

    ScopedTestRoot m_root;
};

TEST_F(SetupDlgTest, EnterAndEscapeDoNotDismissIt)
{
    // The keys come while the installation runs, the only time the user sees
    // the dialog. They are consumed before the dialog's own handling (which
    // would end it on Escape once it had a Cancel button); other keys go on.
    std::vector<int> passedOn;
    std::vector<int> dismissedBy;
    SetupDlg dialog(nullptr, Folder(), [&](const std::function<void()>&) {
        for (const int key :
            std::vector<int> { WXK_ESCAPE, WXK_RETURN, WXK_NUMPAD_ENTER, int('A'), WXK_TAB }) {
            if (!PressKey(dialog, key)) {
                passedOn.push_back(key);
            }
            if (!dialog.IsShown() || !dialog.IsModal()) {
                dismissedBy.push_back(key);
            }
        }
    });
    EXPECT_EQ(wxID_OK, dialog.ShowModal());
    EXPECT_EQ((std::vector<int> { int('A'), WXK_TAB }), passedOn);
    EXPECT_EQ(std::vector<int> {}, dismissedBy);
}

TEST_F(SetupDlgTest, AboutIsOnTheMenuAndCommands16To31OpenIt)
{
    SetupDlg dialog(nullptr, Folder(), nullptr);
    int shown = 0;
    dialog.SetAboutHandler([&shown] { ++shown; });
    std::unique_ptr<wxMenu> menu(dialog.CreateSystemMenu());
    ASSERT_EQ(2u, menu->GetMenuItemCount());
    EXPECT_TRUE(menu->FindItemByPosition(0)->IsSeparator());
    EXPECT_EQ(SetupDlg::kAboutCommand, menu->FindItemByPosition(1)->GetId());
    EXPECT_EQ("&About Setup...", menu->FindItemByPosition(1)->GetItemLabel());

    for (const int command : { 15, 16, 31, 32 }) {
        EXPECT_EQ(command >= 16 && command <= 31, dialog.HandleSystemCommand(command)) << command;
    }
    EXPECT_EQ(2, shown);
    wxCommandEvent click(wxEVT_MENU, SetupDlg::kAboutCommand);
    dialog.GetEventHandler()->ProcessEvent(click);
    EXPECT_EQ(3, shown);
}

TEST_F(SetupDlgTest, TheFirstPaintInstallsWhileThePictureTurnsThenEverythingStops)
{
    PlacePicture();
    bool installed = false;
    bool turning = false;
    int ticks = 0;
    SetupDlg dialog(nullptr, Folder(), [&](const std::function<void()>& tick) {
        turning = dialog.Picture()->IsRunning();
        for (int i = 0; i < 3; ++i) {
            tick();
            ++ticks;
        }
        installed = true;
    });
    EXPECT_TRUE(dialog.PictureLoaded());
    EXPECT_TRUE(dialog.Picture()->Animation().IsAnimated());
    EXPECT_EQ(SetupDlg::kBackground, dialog.GetBackgroundColour());
    EXPECT_EQ(wxID_OK, dialog.ShowModal());
    EXPECT_TRUE(installed);
    EXPECT_TRUE(turning);
    EXPECT_EQ(3, ticks);
    EXPECT_FALSE(dialog.Picture()->IsRunning());
}

TEST_F(SetupDlgTest, AMissingPictureStillInstalls)
{
    bool installed = false;
    SetupDlg dialog(nullptr, Folder(), [&](const std::function<void()>&) { installed = true; });
    EXPECT_FALSE(dialog.PictureLoaded());
    EXPECT_EQ(wxID_OK, dialog.ShowModal());
    EXPECT_TRUE(installed);
}

TEST_F(SetupDlgTest, ClosingDuringTheInstallationWaitsForIt)
{
    bool vetoed = false;
    SetupDlg dialog(nullptr, Folder(), [&](const std::function<void()>& tick) {
        vetoed = !dialog.Close();
        tick();
        EXPECT_TRUE(dialog.IsModal());
    });
    EXPECT_EQ(wxID_OK, dialog.ShowModal());
    EXPECT_TRUE(vetoed);
}

} // namespace
