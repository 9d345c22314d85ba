// The main window on the software token under a virtual display: hot-plug
// seen in the tree, list and status; the classification on screen; dialogs
// closed on a slot change; the language change; the destructor's sequence.
#include "WindowTestSupport.h"
#include "manager/core/ModalRunner.h"
#include "manager/core/NRVCMUSettings.h"
#include "manager/window/AboutDlg.h"
#include "manager/window/NRVCMUFrm.h"
#include "platform/registry/Registry.h"

#include <fstream>
#include <sstream>
#include <wx/app.h>
#include <wx/listctrl.h>
#include <wx/menu.h>
#include <wx/timer.h>

using namespace vela5::platform;

namespace {

class MainWindowGuiTests : public SoftTokenFixture {
protected:
    void SetUp() override
    {
        SoftTokenFixture::SetUp();
        m_settings = std::make_unique<NRVCMUSettings>(wxString::FromUTF8(m_bin));
        ASSERT_FALSE(m_settings->IsTampered());
        m_settings->SetIsAskOnExit(false);
        // No propagation agent: these tests are about the window alone.
        m_settings->SetIsInstallCertificate(false);
        m_settings->SaveHash();
    }

    void TearDown() override
    {
        DestroyFrame();
        ModalRunner::ClearHooks();
        SoftTokenFixture::TearDown();
    }

    void OpenFrame()
    {
        m_frame = new NRVCMUFrm(m_settings.get(), m_cryptoki.get(), 0);
        m_frame->Show();
    }

    void DestroyFrame()
    {
        if (m_frame != nullptr) {
            m_frame->Destroy();
            m_frame = nullptr;
            wxTheApp->ProcessIdle();
        }
    }

    static void Pump()
    {
        wxTheApp->ProcessPendingEvents();
        wxTheApp->Yield(true);
    }

    // Waits a poll or two (with room for a loaded machine) for the condition.
    bool Eventually(const std::function<bool()>& condition)
    {
        return WaitFor(condition, Pump, std::chrono::seconds(3));
    }

    std::vector<wxString> TreeItems() const
    {
        std::vector<wxString> items;
        wxTreeCtrl* tree = m_frame->GetSlotTree();
        wxTreeItemIdValue cookie;
        for (wxTreeItemId item = tree->GetFirstChild(tree->GetRootItem(), cookie); item.IsOk();
             item = tree->GetNextChild(tree->GetRootItem(), cookie)) {
            items.push_back(tree->GetItemText(item));
        }
        return items;
    }

    wxString Row(long row, int column = 1) const { return m_frame->GetInfoList()->GetItemText(row, column); }

    bool ButtonEnabled(int id) const { return m_frame->GetActionButton(id)->IsEnabled(); }

    bool AnyActionEnabled() const
    {
        for (int id = NRVCMUFrm::ID_BTN_INITIALIZE_TOKEN; id <= NRVCMUFrm::ID_BTN_UNLOCK_USER_PIN; ++id) {
            if (ButtonEnabled(id)) {
                return true;
            }
        }
        return m_frame->GetMenuBar()->IsEnabled(NRVCMUFrm::ID_MENU_CERTIFICATE_MANAGER);
    }

    bool StatusIs(const wxString& text) const { return m_frame->GetStatus() == text && !m_frame->IsBusy(); }

    std::unique_ptr<NRVCMUSettings> m_settings;
    NRVCMUFrm* m_frame = nullptr;
};

const wxString kNoReader = "No smart card reader has been detected. Please plug in the device properly.";

} // namespace

TEST_F(MainWindowGuiTests, HotPlugIsReflectedInTreeListAndStatus)
{
    OpenFrame();
    ASSERT_TRUE(Eventually([&] { return StatusIs(kNoReader); })) << m_frame->GetStatus();
    EXPECT_TRUE(TreeItems().empty());
    EXPECT_TRUE(m_frame->GetMenuBar()->IsEnabled(wxID_EXIT));
    EXPECT_TRUE(m_frame->GetMenuBar()->IsEnabled(wxID_ABOUT));
    EXPECT_FALSE(m_frame->GetMenuBar()->IsEnabled(NRVCMUFrm::ID_MENU_SETTINGS));
    EXPECT_FALSE(AnyActionEnabled());

    Tool("reader add 'Reader A'");
    ASSERT_TRUE(Eventually([&] { return StatusIs("There is no token present in the slot."); }))
        << m_frame->GetStatus();
    EXPECT_EQ(TreeItems(), std::vector<wxString> { "Reader A [No Card Present]" });
    EXPECT_EQ(m_frame->GetInfoList()->GetItemCount(), 3);
    EXPECT_EQ(Row(0, 0), "Slot Description");
    EXPECT_EQ(Row(0), "Reader A");
    EXPECT_EQ(m_frame->GetSelectedSlot(), 0);

    const std::string serial = InsertToken("Reader A", "--model VELA5-64 --blank");
    ASSERT_TRUE(Eventually([&] { return StatusIs("Token has not been initialized."); }))
        << m_frame->GetStatus();
    EXPECT_EQ(TreeItems(), std::vector<wxString> { "Reader A [Card Present]" });
    ASSERT_EQ(m_frame->GetInfoList()->GetItemCount(), 15);
    EXPECT_EQ(Row(6), "<Token has not been initialized.>");
    EXPECT_EQ(m_frame->GetSlotRecord(0).serialNumber, wxString(serial));
    EXPECT_TRUE(ButtonEnabled(NRVCMUFrm::ID_BTN_INITIALIZE_TOKEN));
    EXPECT_FALSE(ButtonEnabled(NRVCMUFrm::ID_BTN_LOGIN));
    EXPECT_TRUE(m_frame->GetMenuBar()->IsEnabled(NRVCMUFrm::ID_MENU_SAVE_DETAILS));

    Tool("reader add 'Reader B'");
    ASSERT_TRUE(Eventually([&] { return TreeItems().size() == 2; }));
    EXPECT_EQ(TreeItems()[1], "Reader B [No Card Present]");

    Tool("token eject 'Reader A'");
    ASSERT_TRUE(Eventually([&] { return StatusIs("There is no token present in the slot."); }));
    EXPECT_EQ(TreeItems()[0], "Reader A [No Card Present]");

    Tool("reader remove 'Reader A'");
    Tool("reader remove 'Reader B'");
    ASSERT_TRUE(Eventually([&] { return StatusIs(kNoReader); }));
    EXPECT_TRUE(TreeItems().empty());
    EXPECT_EQ(m_frame->GetInfoList()->GetItemCount(), 0);
}

TEST_F(MainWindowGuiTests, OurTokenOffersActionsByLoginState)
{
    Tool("reader add 'Reader A'");
    InsertToken("Reader A", "--model VELA5-64 --label Mine --user-pin 1234 --so-pin 87654321");
    OpenFrame();
    ASSERT_TRUE(Eventually([&] { return StatusIs("Token is ready."); })) << m_frame->GetStatus();
    EXPECT_EQ(Row(3), "Mine");
    EXPECT_EQ(
        m_frame->GetActionButton(NRVCMUFrm::ID_BTN_INITIALIZE_TOKEN)->GetLabel(), "Re-initialize Token");
    EXPECT_EQ(m_frame->GetActionButton(NRVCMUFrm::ID_BTN_LOGIN)->GetLabel(), "Login");
    EXPECT_TRUE(ButtonEnabled(NRVCMUFrm::ID_BTN_LOGIN));
    EXPECT_FALSE(ButtonEnabled(NRVCMUFrm::ID_BTN_CHANGE_USER_PIN));

    m_frame->GetSlotRecord(0).loggedIn = true;
    m_frame->UpdateActions(true, m_frame->GetSlotRecord(0));
    EXPECT_EQ(m_frame->GetActionButton(NRVCMUFrm::ID_BTN_LOGIN)->GetLabel(), "Logout");
    EXPECT_TRUE(ButtonEnabled(NRVCMUFrm::ID_BTN_CHANGE_USER_PIN));
    EXPECT_TRUE(m_frame->GetMenuBar()->IsEnabled(NRVCMUFrm::ID_MENU_CERTIFICATE_MANAGER));
}

TEST_F(MainWindowGuiTests, UnsupportedAndForeignTokensAreClassifiedOnScreen)
{
    Tool("reader add 'Reader A'");
    InsertToken("Reader A", "--model UNKNOWN --blank");
    OpenFrame();
    ASSERT_TRUE(Eventually([&] { return StatusIs("The token in the slot is not supported."); }))
        << m_frame->GetStatus();
    ASSERT_EQ(m_frame->GetInfoList()->GetItemCount(), 15);
    for (long row = 3; row < 15; ++row) {
        EXPECT_EQ(Row(row), "<Token is not supported.>") << row;
    }
    EXPECT_FALSE(AnyActionEnabled());
    EXPECT_TRUE(m_frame->GetSlotTree()->IsEnabled());

    // A swap between two polls changes neither count; the eject is seen first.
    Tool("token eject 'Reader A'");
    ASSERT_TRUE(Eventually([&] { return StatusIs("There is no token present in the slot."); }));
    InsertToken("Reader A", "--model VELA5-64 --label Theirs --user-pin 1234 --so-pin 87654321 --max-pin 12");
    ASSERT_TRUE(Eventually([&] { return StatusIs("Token has been initialized using other application."); }))
        << m_frame->GetStatus();
    EXPECT_EQ(m_frame->GetActionButton(NRVCMUFrm::ID_BTN_INITIALIZE_TOKEN)->GetLabel(), "Initialize Token");
    EXPECT_TRUE(ButtonEnabled(NRVCMUFrm::ID_BTN_INITIALIZE_TOKEN));
    EXPECT_FALSE(ButtonEnabled(NRVCMUFrm::ID_BTN_LOGIN));
    EXPECT_TRUE(m_frame->IsDisplayedTokenInitialized());
}

TEST_F(MainWindowGuiTests, ASlotWhoseInformationFailsIsAnUnknownDevice)
{
    Tool("reader add 'Reader A'");
    Tool("reader add 'Reader B'");
    Tool("reader fail 'Reader A' C_GetSlotInfo 0x30");
    OpenFrame();
    ASSERT_TRUE(Eventually([&] { return TreeItems().size() == 2 && !m_frame->IsBusy(); }));
    EXPECT_EQ(TreeItems()[0], "Unknown Device (Error: 0x00000030)");
    EXPECT_EQ(TreeItems()[1], "Reader B [No Card Present]");
    EXPECT_FALSE(m_frame->GetSlotRecord(0).cardPresent);
}

TEST_F(MainWindowGuiTests, APollingErrorShowsItsTextAndPollingGoesOn)
{
    Tool("reader add 'Reader A'");
    OpenFrame();
    ASSERT_TRUE(Eventually([&] { return StatusIs("There is no token present in the slot."); }));
    Tool("reader fail 'Reader A' C_GetSlotList 0x30");
    ASSERT_TRUE(Eventually([&] {
        return m_frame->GetStatus()
            == "Failed to get total number of slots. Some problem has occurred with the token and/or slot.";
    })) << m_frame->GetStatus();
    Tool("reader fail 'Reader A' C_GetSlotList off");
    Tool("reader add 'Reader B'");
    EXPECT_TRUE(Eventually([&] { return TreeItems().size() == 2; }));
}

TEST_F(MainWindowGuiTests, ASlotChangeCancelsAnOpenLoginDialog)
{
    Tool("reader add 'Reader A'");
    OpenFrame();
    ASSERT_TRUE(Eventually([&] { return StatusIs("There is no token present in the slot."); }));

    wxDialog dialog(
        m_frame, 2, "Login", wxDefaultPosition, wxDefaultSize, wxDEFAULT_DIALOG_STYLE, "NRVCMU_DLG_LOGIN");
    wxTimer safety(&dialog);
    dialog.Bind(wxEVT_TIMER, [&](wxTimerEvent&) { dialog.EndModal(wxID_ABORT); });
    safety.StartOnce(5000);
    dialog.CallAfter([&] { Tool("reader remove 'Reader A'"); });
    EXPECT_EQ(dialog.ShowModal(), wxID_CANCEL);
    EXPECT_TRUE(Eventually([&] { return StatusIs(kNoReader); }));
    EXPECT_TRUE(m_frame->IsEnabled());

    std::ifstream log(NRVCMULog::Get().GetFilePath().ToStdString());
    std::stringstream text;
    text << log.rdbuf();
    EXPECT_NE(text.str().find("Close and Destroy2 \tNRVCMU_DLG_LOGIN\n"), std::string::npos) << text.str();
    EXPECT_NE(text.str().find("NRVCMU_DLG_LOGIN\t Destroyed!\n"), std::string::npos);
}

TEST_F(MainWindowGuiTests, ReinsertedTokenKeepsItsLoginButNotItsSession)
{
    Tool("reader add 'Reader A'");
    const std::string serial
        = InsertToken("Reader A", "--model VELA5-64 --label Mine --user-pin 1234 --so-pin 87654321");
    OpenFrame();
    ASSERT_TRUE(Eventually([&] { return StatusIs("Token is ready."); }));
    ASSERT_EQ(m_frame->OpenSlotSession(0), CKR_OK);
    ASSERT_NE(m_frame->GetSlotSession(0), 0U);
    m_frame->GetSlotRecord(0).loggedIn = true;
    m_frame->GetSlotRecord(0).cachedPIN.Keep("4321");

    // A USB token leaves as reader and token together...
    Tool("reader remove 'Reader A'");
    ASSERT_TRUE(Eventually([&] { return StatusIs(kNoReader); }));
    EXPECT_EQ(m_frame->GetSlotSession(0), 0U);
    // ... and comes back the same way, in one piece.
    m_frame->PausePolling();
    Tool("reader add 'Reader A'");
    Tool("token insert " + serial + " 'Reader A'");
    m_frame->ResumePolling();
    ASSERT_TRUE(Eventually([&] { return StatusIs("Token is ready."); })) << m_frame->GetStatus();
    EXPECT_TRUE(m_frame->GetSlotRecord(0).loggedIn);
    EXPECT_EQ(m_frame->GetSlotRecord(0).cachedPIN.Reveal(), "4321");
    EXPECT_EQ(m_frame->GetSlotSession(0), 0U);
    EXPECT_EQ(m_frame->GetActionButton(NRVCMUFrm::ID_BTN_LOGIN)->GetLabel(), "Logout");
}

TEST_F(MainWindowGuiTests, PausedPollingNoticesNothingUntilTheLastResume)
{
    OpenFrame();
    ASSERT_TRUE(Eventually([&] { return StatusIs(kNoReader); }));
    // Accesses nest: a command's status step pauses inside the command's pause.
    m_frame->PausePolling();
    m_frame->PausePolling();
    EXPECT_TRUE(m_frame->IsBusy());
    Tool("reader add 'Reader A'");
    m_frame->ResumePolling();
    EXPECT_TRUE(m_frame->IsBusy());
    EXPECT_FALSE(WaitFor([&] { return !TreeItems().empty(); }, Pump, std::chrono::milliseconds(700)));
    m_frame->ResumePolling();
    // The poller may mark the window busy again at once to rebuild the list.
    EXPECT_TRUE(Eventually([&] { return TreeItems().size() == 1 && !m_frame->IsBusy(); }));
}

TEST_F(MainWindowGuiTests, LanguageChangeStoresTheChoiceAndReloadsOnlyOnYes)
{
    // A fresh settings file holds "Bulgarian", but without its catalog the
    // window runs in English.
    ASSERT_EQ(m_settings->GetDefaultLanguage(), "Bulgarian");
    OpenFrame();
    wxMenuBar* bar = m_frame->GetMenuBar();
    EXPECT_EQ(m_frame->GetLanguage(), "English");
    EXPECT_TRUE(bar->IsChecked(NRVCMUFrm::ID_MENU_LANGUAGE_ENGLISH));
    EXPECT_FALSE(bar->IsChecked(NRVCMUFrm::ID_MENU_LANGUAGE_BULGARIAN));

    int reloads = 0;
    m_frame->SetReloadMainFrameHandler([&] { ++reloads; });
    wxString asked;
    wxString caption;
    long style = 0;
    int answer = wxNO;
    ModalRunner::SetMessageHook([&](const wxString& message, const wxString& title, long flags) {
        asked = message;
        caption = title;
        style = flags;
        return answer;
    });
    const auto pick = [&](int id) {
        bar->Check(id, !bar->IsChecked(id)); // what the toolkit does before the handler runs
        wxCommandEvent event(wxEVT_MENU, id);
        m_frame->ProcessWindowEvent(event);
    };

    pick(NRVCMUFrm::ID_MENU_LANGUAGE_SPANISH);
    EXPECT_EQ(asked,
        "Application needs to restart for the new language settings to take effect. Restart application "
        "now?");
    EXPECT_EQ(caption, "Pavix Manager - Language Settings");
    EXPECT_EQ(style, wxYES_NO | wxICON_QUESTION);
    EXPECT_EQ(reloads, 0);
    EXPECT_TRUE(bar->IsChecked(NRVCMUFrm::ID_MENU_LANGUAGE_ENGLISH));
    EXPECT_FALSE(bar->IsChecked(NRVCMUFrm::ID_MENU_LANGUAGE_SPANISH));
    EXPECT_EQ(m_settings->GetDefaultLanguage(), "Spanish");
    EXPECT_FALSE(NRVCMUSettings(wxString::FromUTF8(m_bin)).IsTampered())
        << "the choice was saved with its digest";

    asked.clear();
    pick(NRVCMUFrm::ID_MENU_LANGUAGE_ENGLISH);
    EXPECT_TRUE(asked.empty()) << "picking the ticked language asks nothing";
    EXPECT_TRUE(bar->IsChecked(NRVCMUFrm::ID_MENU_LANGUAGE_ENGLISH));

    answer = wxYES;
    pick(NRVCMUFrm::ID_MENU_LANGUAGE_PORTUGUESE);
    EXPECT_EQ(reloads, 1);
    EXPECT_FALSE(m_frame->IsShown());
    EXPECT_TRUE(m_frame->IsBusy()) << "polling stays paused while the window is rebuilt";
    EXPECT_TRUE(bar->IsChecked(NRVCMUFrm::ID_MENU_LANGUAGE_PORTUGUESE));
    EXPECT_EQ(m_settings->GetDefaultLanguage(), "Portuguese");
    EXPECT_FALSE(NRVCMUSettings(wxString::FromUTF8(m_bin)).IsTampered());
}

TEST_F(MainWindowGuiTests, AboutShowsTheInstalledMiddlewareVersion)
{
    OpenFrame();
    wxString shown = "unset";
    ModalRunner::SetDialogHook([&](wxDialog& dialog) {
        auto* about = dynamic_cast<AboutDlg*>(&dialog);
        shown = about != nullptr ? about->GetMiddlewareVersionText() : wxString("not the About dialog");
        return wxID_OK;
    });
    wxCommandEvent about(wxEVT_MENU, wxID_ABOUT);
    m_frame->ProcessWindowEvent(about);
    EXPECT_EQ(shown, "");

    Registry::Key key;
    ASSERT_EQ(Registry::Key::Create(Registry::Hive::LocalMachine, "SOFTWARE\\Nurvon Ltd.\\VELA5 SDK",
                  Registry::View::Wow32, key),
        Registry::Success);
    ASSERT_EQ(key.SetString("MSIVER", "2.10.345.6"), Registry::Success);
    m_frame->ProcessWindowEvent(about);
    EXPECT_EQ(shown, " v2.10.34");
}

TEST_F(MainWindowGuiTests, DestructionStopsPollingAndClosesEverySession)
{
    Tool("reader add 'Reader A'");
    InsertToken("Reader A", "--model VELA5-64 --label Mine --user-pin 1234 --so-pin 87654321");
    OpenFrame();
    ASSERT_TRUE(Eventually([&] { return StatusIs("Token is ready."); }));
    ASSERT_EQ(m_frame->OpenSlotSession(0), CKR_OK);
    const CK_SESSION_HANDLE session = m_frame->GetSlotSession(0);
    ASSERT_EQ(m_cryptoki->LogIn(CKU_USER, session, "1234"), CKR_OK);
    const std::string logPath = NRVCMULog::Get().GetFilePath().ToStdString();
    std::remove(logPath.c_str());

    DestroyFrame();
    EXPECT_EQ(m_cryptoki->CloseSession(session), CKR_SESSION_HANDLE_INVALID);

    std::ifstream log(logPath);
    std::vector<std::string> lines;
    for (std::string line; std::getline(log, line);) {
        if (line.find("NRVCMUCryptoki::") == std::string::npos && line.find("\tC_") == std::string::npos) {
            lines.push_back(line);
        }
    }
    // The thread may be gone before the first look, so the wait loop can log nothing.
    ASSERT_GE(lines.size(), 4U);
    EXPECT_EQ(lines[0], "@NRVCMUFrm::~NRVCMUFrm() - ENTER\t ");
    EXPECT_EQ(lines[1], ">> Delete Polling Thread\t ");
    EXPECT_EQ(lines[2], "deleting m_threadPolling2\t ");
    EXPECT_EQ(lines.back(), "@NRVCMUFrm::~NRVCMUFrm() - EXIT\t ");
    for (std::size_t i = 3; i + 1 < lines.size(); ++i) {
        EXPECT_EQ(lines[i], "deleting m_threadPolling2\t ") << i;
    }
}
