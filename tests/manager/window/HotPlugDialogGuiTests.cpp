// Hot-plug with the real modal dialog of a token command on screen: the
// poller runs inside the dialog's modal loop, the slot change ends the dialog
// with its log lines, the command ends cleanly and the buttons follow what is
// selected afterwards. No dialog hook answers anything here.
#include "TokenActionsTestSupport.h"
#include "WindowTestSupport.h"
#include "manager/core/ModalRunner.h"
#include "manager/core/NRVCMUSettings.h"
#include "manager/window/NRVCMUFrm.h"

#include <fstream>
#include <sstream>
#include <wx/app.h>
#include <wx/menu.h>
#include <wx/timer.h>

namespace {

enum class SlotChange { Eject, Insert, LastReaderGone };

struct HotPlugCase {
    const char* title;
    int button;
    const char* dialogName;
    bool loggedIn; // the command needs a logged-in token
    SlotChange change;
};

std::ostream& operator<<(std::ostream& out, const HotPlugCase& c)
{
    return out << c.title;
}

const wxString kNoReader = "No smart card reader has been detected. Please plug in the device properly.";

class HotPlugDialogGuiTests : public SoftTokenFixture, public testing::WithParamInterface<HotPlugCase> {
protected:
    void SetUp() override
    {
        SoftTokenFixture::SetUp();
        ModalRunner::ClearHooks();
        m_settings = std::make_unique<NRVCMUSettings>(wxString::FromUTF8(m_bin));
        m_settings->SetIsAskOnExit(false);
        // No propagation agent: these tests are about the window alone.
        m_settings->SetIsInstallCertificate(false);
        m_settings->SetIsAskChangeDefaultPin(false);
        m_settings->SaveHash();
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

    bool Settled(const wxString& status)
    {
        return WaitFor([&] { return m_frame->GetStatus() == status && !m_frame->IsBusy(); }, Pump,
            std::chrono::seconds(5));
    }

    bool Enabled(int id) const { return m_frame->GetActionButton(id)->IsEnabled(); }

    // The shown, modal dialog of that name, if any.
    static wxDialog* FindShownDialog(const wxString& name)
    {
        for (wxWindow* window : wxTopLevelWindows) {
            auto* dialog = dynamic_cast<wxDialog*>(window);
            if (dialog != nullptr && dialog->GetName() == name && dialog->IsShown() && dialog->IsModal()) {
                return dialog;
            }
        }
        return nullptr;
    }

    std::string LogText() const
    {
        std::ifstream log(NRVCMULog::Get().GetFilePath().ToStdString());
        std::stringstream text;
        text << log.rdbuf();
        return text.str();
    }

    std::unique_ptr<NRVCMUSettings> m_settings;
    NRVCMUFrm* m_frame = nullptr;
};

} // namespace

TEST_P(HotPlugDialogGuiTests, TheSlotChangeEndsTheOpenDialogAndTheWindowFollows)
{
    const HotPlugCase& param = GetParam();
    Tool("reader add 'Reader A'");
    Tool("reader add 'Reader B'");
    InsertToken("Reader A", "--model VELA5-64 --label Mine --user-pin 1234 --so-pin 87654321");
    m_frame = new NRVCMUFrm(m_settings.get(), m_cryptoki.get(), 0);
    m_frame->Show();
    ASSERT_TRUE(Settled("Token is ready.")) << m_frame->GetStatus();
    const auto press = [&](int id) {
        ASSERT_TRUE(Enabled(id)) << "button " << id;
        wxCommandEvent click(wxEVT_BUTTON, id);
        click.SetEventObject(m_frame->GetActionButton(id));
        m_frame->ProcessWindowEvent(click);
    };
    if (param.loggedIn) {
        token_actions_test::DialogScript script;
        script.Then(token_actions_test::EnterPin("1234"));
        press(NRVCMUFrm::ID_BTN_LOGIN);
        ASSERT_EQ(m_frame->GetStatus(), "User has logged in successfully.");
    }
    ModalRunner::ClearHooks();
    std::remove(NRVCMULog::Get().GetFilePath().ToStdString().c_str());

    // Inside the dialog's modal loop: wait for it on screen, then change the slots.
    bool seenOnScreen = false;
    bool changed = false;
    int ticks = 0;
    wxTimer driver;
    driver.Bind(wxEVT_TIMER, [&](wxTimerEvent&) {
        wxDialog* dialog = FindShownDialog(param.dialogName);
        if (!changed && dialog != nullptr && dialog->IsShownOnScreen()) {
            seenOnScreen = true;
            changed = true;
            switch (param.change) {
            case SlotChange::Eject:
                Tool("token eject 'Reader A'");
                break;
            case SlotChange::Insert:
                InsertToken("Reader B", "--model VELA5-64 --label Other --user-pin 1234 --so-pin 87654321");
                break;
            case SlotChange::LastReaderGone:
                Tool("reader remove 'Reader A'");
                Tool("reader remove 'Reader B'");
                break;
            }
        }
        // A dialog the poller never closes must not hang the test.
        if (++ticks > 400 && dialog != nullptr) {
            dialog->EndModal(wxID_ABORT);
        }
    });
    driver.Start(20);
    press(param.button);
    driver.Stop();

    EXPECT_TRUE(seenOnScreen) << param.dialogName << " was never on screen";
    EXPECT_EQ(FindShownDialog(param.dialogName), nullptr);
    const std::string log = LogText();
    EXPECT_NE(log.find(std::string("Close and Destroy2 \t") + param.dialogName + "\n"), std::string::npos)
        << log;
    EXPECT_NE(log.find(std::string(param.dialogName) + "\t Destroyed!\n"), std::string::npos) << log;
    EXPECT_TRUE(m_frame->IsEnabled());

    switch (param.change) {
    case SlotChange::Eject:
        ASSERT_TRUE(Settled("There is no token present in the slot.")) << m_frame->GetStatus();
        for (int id = NRVCMUFrm::ID_BTN_INITIALIZE_TOKEN; id <= NRVCMUFrm::ID_BTN_UNLOCK_USER_PIN; ++id) {
            EXPECT_FALSE(Enabled(id)) << "button " << id;
        }
        EXPECT_TRUE(m_frame->GetSlotTree()->IsEnabled());
        break;
    case SlotChange::Insert:
        // Reader A, still selected, holds the same token: its login followed the serial number.
        ASSERT_TRUE(Settled("Token is ready.")) << m_frame->GetStatus();
        EXPECT_EQ(m_frame->GetSelectedSlot(), 0);
        EXPECT_TRUE(Enabled(NRVCMUFrm::ID_BTN_INITIALIZE_TOKEN));
        EXPECT_TRUE(Enabled(NRVCMUFrm::ID_BTN_LOGIN));
        EXPECT_EQ(m_frame->GetActionButton(NRVCMUFrm::ID_BTN_LOGIN)->GetLabel(),
            param.loggedIn ? "Logout" : "Login");
        EXPECT_EQ(Enabled(NRVCMUFrm::ID_BTN_CHANGE_USER_PIN), param.loggedIn);
        EXPECT_EQ(Enabled(NRVCMUFrm::ID_BTN_RENAME_TOKEN), param.loggedIn);
        EXPECT_TRUE(Enabled(NRVCMUFrm::ID_BTN_CHANGE_SO_PIN));
        EXPECT_EQ(Enabled(NRVCMUFrm::ID_BTN_UNLOCK_USER_PIN), !param.loggedIn);
        break;
    case SlotChange::LastReaderGone:
        ASSERT_TRUE(Settled(kNoReader)) << m_frame->GetStatus();
        for (int id = NRVCMUFrm::ID_BTN_INITIALIZE_TOKEN; id <= NRVCMUFrm::ID_BTN_UNLOCK_USER_PIN; ++id) {
            EXPECT_FALSE(Enabled(id)) << "button " << id;
        }
        EXPECT_TRUE(m_frame->GetMenuBar()->IsEnabled(wxID_EXIT));
        EXPECT_TRUE(m_frame->GetMenuBar()->IsEnabled(wxID_ABOUT));
        EXPECT_FALSE(m_frame->GetMenuBar()->IsEnabled(NRVCMUFrm::ID_MENU_SAVE_DETAILS));
        break;
    }
    // Nothing of the ended command comes later to overwrite the poller's status.
    const wxString settled = m_frame->GetStatus();
    WaitFor([] { return false; }, Pump, std::chrono::milliseconds(300));
    EXPECT_EQ(m_frame->GetStatus(), settled);
}

namespace {
using enum SlotChange;
constexpr int kInit = NRVCMUFrm::ID_BTN_INITIALIZE_TOKEN;
constexpr int kLogin = NRVCMUFrm::ID_BTN_LOGIN;
constexpr int kChange = NRVCMUFrm::ID_BTN_CHANGE_USER_PIN;
constexpr int kRename = NRVCMUFrm::ID_BTN_RENAME_TOKEN;
} // namespace

INSTANTIATE_TEST_SUITE_P(Dialogs, HotPlugDialogGuiTests,
    testing::Values(HotPlugCase { "LoginEject", kLogin, "NRVCMU_DLG_LOGIN", false, Eject },
        HotPlugCase { "LoginInsert", kLogin, "NRVCMU_DLG_LOGIN", false, Insert },
        HotPlugCase { "LoginLastReader", kLogin, "NRVCMU_DLG_LOGIN", false, LastReaderGone },
        HotPlugCase { "ChangePinEject", kChange, "NRVCMU_DLG_CHANGE_PIN", true, Eject },
        HotPlugCase { "ChangePinInsert", kChange, "NRVCMU_DLG_CHANGE_PIN", true, Insert },
        HotPlugCase { "ChangePinLastReader", kChange, "NRVCMU_DLG_CHANGE_PIN", true, LastReaderGone },
        HotPlugCase { "RenameEject", kRename, "NRVCMU_DLG_RENAME_TOKEN", true, Eject },
        HotPlugCase { "RenameInsert", kRename, "NRVCMU_DLG_RENAME_TOKEN", true, Insert },
        HotPlugCase { "RenameLastReader", kRename, "NRVCMU_DLG_RENAME_TOKEN", true, LastReaderGone },
        HotPlugCase { "InitializeEject", kInit, "NRVCMU_DLG_INITIALIZE_TOKEN", true, Eject },
        HotPlugCase { "InitializeInsert", kInit, "NRVCMU_DLG_INITIALIZE_TOKEN", true, Insert },
        HotPlugCase { "InitializeLastReader", kInit, "NRVCMU_DLG_INITIALIZE_TOKEN", true, LastReaderGone }),
    [](const testing::TestParamInfo<HotPlugCase>& info) { return std::string(info.param.title); });
