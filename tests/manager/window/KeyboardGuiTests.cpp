// The main window from the keyboard alone: Tab reaches the action buttons,
// the focused button shows it, and Space and Enter press it. Keys are typed
// through the display (XTest), as a user types them.
#include "TokenActionsTestSupport.h"
#include "WindowTestSupport.h"
#include "manager/core/ModalRunner.h"
#include "manager/core/NRVCMUSettings.h"
#include "manager/window/NRVCMUFrm.h"

#include <wx/app.h>
#include <wx/button.h>
#include <wx/listctrl.h>
#include <wx/uiaction.h>

namespace {

class KeyboardGuiTests : public SoftTokenFixture {
protected:
    void SetUp() override
    {
        SoftTokenFixture::SetUp();
        m_settings = std::make_unique<NRVCMUSettings>(wxString::FromUTF8(m_bin));
        m_settings->SetIsAskOnExit(false);
        // No propagation agent: these tests are about the window alone.
        m_settings->SetIsInstallCertificate(false);
        m_settings->SetIsAskChangeDefaultPin(false);
        m_settings->SaveHash();
        Tool("reader add 'Reader A'");
        InsertToken("Reader A", "--model VELA5-64 --label Mine --user-pin 1234 --so-pin 87654321");
        m_frame = new NRVCMUFrm(m_settings.get(), m_cryptoki.get(), 0);
        m_frame->Show();
        m_frame->Raise();
        ASSERT_TRUE(
            WaitFor([&] { return m_frame->GetStatus() == "Token is ready." && !m_frame->IsBusy(); }, Pump));
    }

    void TearDown() override
    {
        if (m_frame != nullptr) {
            m_frame->Destroy();
            wxTheApp->ProcessIdle();
        }
        ModalRunner::ClearHooks();
        SoftTokenFixture::TearDown();
    }

    static void Pump()
    {
        wxTheApp->ProcessPendingEvents();
        wxTheApp->Yield(true);
    }

    // Types one key and lets the window handle it.
    void Type(int key)
    {
        wxUIActionSimulator keyboard;
        keyboard.Char(key);
        WaitFor([] { return false; }, Pump, std::chrono::milliseconds(60));
    }

    wxButton* Button(int id) const { return m_frame->GetActionButton(id)->GetButton(); }

    std::unique_ptr<NRVCMUSettings> m_settings;
    NRVCMUFrm* m_frame = nullptr;
};

} // namespace

TEST_F(KeyboardGuiTests, TabReachesTheEnabledButtonsAndSpaceOrEnterPressesThem)
{
    using namespace token_actions_test;
    m_frame->GetInfoList()->SetFocus();
    ASSERT_TRUE(WaitFor([&] { return wxWindow::FindFocus() == m_frame->GetInfoList(); }, Pump))
        << "the window never got the keyboard focus";

    // From the list, Tab goes on to the first enabled button; the disabled ones are skipped.
    std::vector<wxWindow*> visited;
    for (int i = 0; i < 6 && wxWindow::FindFocus() != Button(NRVCMUFrm::ID_BTN_LOGIN); ++i) {
        Type(WXK_TAB);
        visited.push_back(wxWindow::FindFocus());
    }
    ASSERT_EQ(wxWindow::FindFocus(), Button(NRVCMUFrm::ID_BTN_LOGIN));
    for (wxWindow* window : visited) {
        EXPECT_NE(window, Button(NRVCMUFrm::ID_BTN_CHANGE_USER_PIN)) << "a disabled button took the focus";
    }
    EXPECT_TRUE(Button(NRVCMUFrm::ID_BTN_LOGIN)->HasFocus());

    // Space presses the focused button: the login dialog comes up and is answered.
    DialogScript script;
    script.Then(EnterPin("1234"));
    Type(WXK_SPACE);
    ASSERT_TRUE(WaitFor([&] { return m_frame->GetStatus() == "User has logged in successfully."; }, Pump))
        << m_frame->GetStatus();
    EXPECT_TRUE(script.AllUsed());
    EXPECT_EQ(m_frame->GetActionButton(NRVCMUFrm::ID_BTN_LOGIN)->GetLabel(), "Logout");

    // Enter presses it too; the logged-in token now offers Change User PIN.
    Button(NRVCMUFrm::ID_BTN_CHANGE_USER_PIN)->SetFocus();
    ASSERT_TRUE(WaitFor([&] { return Button(NRVCMUFrm::ID_BTN_CHANGE_USER_PIN)->HasFocus(); }, Pump));
    script.Then(Cancel());
    Type(WXK_RETURN);
    ASSERT_TRUE(WaitFor(
        [&] {
            return m_frame->GetStatus()
                == "User PIN has not been changed because the operation was cancelled.";
        },
        Pump))
        << m_frame->GetStatus();
    EXPECT_TRUE(script.AllUsed());
}

TEST_F(KeyboardGuiTests, AButtonsLabelIsItsTextAndFollowsItsState)
{
    // The native button carries the label a screen reader announces; the
    // wrapping only breaks it into lines.
    for (int id = NRVCMUFrm::ID_BTN_INITIALIZE_TOKEN; id <= NRVCMUFrm::ID_BTN_UNLOCK_USER_PIN; ++id) {
        wxString shown = Button(id)->GetLabelText();
        shown.Replace("\n", " ");
        EXPECT_EQ(shown, m_frame->GetActionButton(id)->GetLabel()) << id;
        EXPECT_EQ(Button(id)->IsEnabled(), m_frame->GetActionButton(id)->IsEnabled()) << id;
    }
    m_frame->GetSlotRecord(0).loggedIn = true;
    m_frame->UpdateActions(true, m_frame->GetSlotRecord(0));
    EXPECT_TRUE(Button(NRVCMUFrm::ID_BTN_CHANGE_USER_PIN)->IsThisEnabled());
    EXPECT_EQ(Button(NRVCMUFrm::ID_BTN_LOGIN)->GetLabelText(), "Logout");
}
