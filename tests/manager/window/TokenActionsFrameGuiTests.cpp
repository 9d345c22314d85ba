// A user's first session with a blank token, through the real main window
// with its polling thread running: every button of the token commands.
#include "TokenActionsTestSupport.h"
#include "manager/core/NRVCMUCryptoki.h"
#include "manager/core/NRVCMULog.h"
#include "manager/core/NRVCMUSettings.h"
#include "manager/window/NRVCMUFrm.h"
#include "tests/support/ScopedTestRoot.h"

#include <chrono>
#include <cstdlib>
#include <memory>
#include <thread>
#include <wx/app.h>
#include <wx/listctrl.h>

using namespace token_actions_test;

namespace {

class TokenActionsFrameGuiTests : public testing::Test {
protected:
    void SetUp() override
    {
        const char* bin = std::getenv("VELA5_BIN_DIR");
        ASSERT_NE(bin, nullptr);
        m_bin = bin;
        NRVCMULog::Relocate();
        RunTokenTool(m_bin, "reader add 'VELA5 Virtual Reader 0'");
        const std::string serial
            = RunTokenTool(m_bin, "token create --test-pin-rounds 1000 --model VELA5-64 --blank");
        RunTokenTool(m_bin, "token insert " + serial + " 'VELA5 Virtual Reader 0'");

        m_cryptoki = std::make_unique<NRVCMUCryptoki>(wxString::FromUTF8(m_bin + "/velapkcs11.so"));
        ASSERT_EQ(m_cryptoki->CheckFunctionList(), CKR_OK);
        ASSERT_EQ(m_cryptoki->Initialize(), CKR_OK);
        m_settings = std::make_unique<NRVCMUSettings>(wxString::FromUTF8(m_bin));
        m_settings->SetIsAskOnExit(false);
        // No propagation agent: these tests are about the window alone.
        m_settings->SetIsInstallCertificate(false);
        m_settings->SaveHash();
        m_frame = new NRVCMUFrm(m_settings.get(), m_cryptoki.get(), 0);
        m_frame->Show();
    }

    void TearDown() override
    {
        if (m_frame != nullptr) {
            m_frame->Destroy();
            wxTheApp->ProcessIdle();
        }
        ModalRunner::ClearHooks();
        if (m_cryptoki) {
            m_cryptoki->Finalize();
        }
    }

    // Pumps events until the status bar shows text with the window idle.
    bool WaitForStatus(const wxString& text)
    {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
        while (std::chrono::steady_clock::now() < deadline) {
            wxTheApp->ProcessPendingEvents();
            wxTheApp->Yield(true);
            if (m_frame->GetStatus() == text && !m_frame->IsBusy()) {
                return true;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
        return false;
    }

    void Click(int id)
    {
        ASSERT_TRUE(m_frame->GetActionButton(id)->IsEnabled()) << "button " << id << " is off";
        wxCommandEvent event(wxEVT_BUTTON, id);
        event.SetEventObject(m_frame->GetActionButton(id));
        m_frame->GetEventHandler()->ProcessEvent(event);
    }

    wxString Label() const { return m_frame->GetInfoList()->GetItemText(3, 1); }
    wxString ButtonLabel(int id) const { return m_frame->GetActionButton(id)->GetLabel(); }

    ScopedTestRoot m_root;
    std::string m_bin;
    std::unique_ptr<NRVCMUCryptoki> m_cryptoki;
    std::unique_ptr<NRVCMUSettings> m_settings;
    NRVCMUFrm* m_frame = nullptr;
};

TEST_F(TokenActionsFrameGuiTests, BlankTokenToRenamedAndReinitialized)
{
    ASSERT_TRUE(WaitForStatus(wxS("Token has not been initialized."))) << m_frame->GetStatus();
    {
        DialogScript script;
        script.Then(AcceptInit(true));
        Click(NRVCMUFrm::ID_BTN_INITIALIZE_TOKEN);
        ASSERT_TRUE(WaitForStatus(wxS("Token has been initialized successfully."))) << m_frame->GetStatus();
    }
    EXPECT_EQ(Label(), wxS("NRV Card OS 5"));
    EXPECT_EQ(ButtonLabel(NRVCMUFrm::ID_BTN_INITIALIZE_TOKEN), wxS("Re-initialize Token"));
    {
        DialogScript script;
        script.Then(EnterPin(kFactoryPIN)).Then(ChangePin(wxString(), wxS("24682468")));
        Click(NRVCMUFrm::ID_BTN_LOGIN);
        EXPECT_EQ(m_frame->GetStatus(),
            wxS("User has logged in successfully. Default User PIN has also been changed."));
    }
    EXPECT_EQ(ButtonLabel(NRVCMUFrm::ID_BTN_LOGIN), wxS("Logout"));
    {
        DialogScript script;
        script.Then(ChangePin(wxS("24682468"), wxS("13571357")));
        Click(NRVCMUFrm::ID_BTN_CHANGE_USER_PIN);
        EXPECT_EQ(m_frame->GetStatus(), wxS("User PIN has been changed successfully."));
    }
    {
        DialogScript script;
        script.Then(ChangePin(kFactoryPIN, wxS("86428642")));
        Click(NRVCMUFrm::ID_BTN_CHANGE_SO_PIN);
        EXPECT_EQ(m_frame->GetStatus(), wxS("SO PIN has been changed successfully."));
    }
    EXPECT_EQ(ButtonLabel(NRVCMUFrm::ID_BTN_LOGIN), wxS("Logout"));
    {
        // Renaming needs the User, restored after the SO PIN change.
        DialogScript script;
        script.Then(Rename(wxS("Travel Token")));
        Click(NRVCMUFrm::ID_BTN_RENAME_TOKEN);
        EXPECT_EQ(m_frame->GetStatus(), wxS("Token has been renamed successfully."));
        EXPECT_EQ(Label(), wxS("Travel Token"));
    }
    Click(NRVCMUFrm::ID_BTN_LOGIN);
    EXPECT_EQ(m_frame->GetStatus(), wxS("User has logged out successfully."));
    EXPECT_EQ(ButtonLabel(NRVCMUFrm::ID_BTN_LOGIN), wxS("Login"));
    {
        // Re-initialization proves itself with the current SO PIN.
        m_settings->SetSOPINDefaultValue(wxS("86428642"));
        DialogScript script;
        script.Then(AcceptInit(true));
        Click(NRVCMUFrm::ID_BTN_INITIALIZE_TOKEN);
        ASSERT_TRUE(WaitForStatus(wxS("Token has been re-initialized successfully.")))
            << m_frame->GetStatus();
        EXPECT_EQ(Label(), wxS("NRV Card OS 5"));
    }
}

} // namespace

TEST_F(TokenActionsFrameGuiTests, AutoLogoutEndsTheLoginAfterTheSetIdleTimeOnlyWhenOn)
{
    ASSERT_TRUE(WaitForStatus(wxS("Token has not been initialized."))) << m_frame->GetStatus();
    {
        DialogScript script;
        script.Then(AcceptInit(true));
        Click(NRVCMUFrm::ID_BTN_INITIALIZE_TOKEN);
        ASSERT_TRUE(WaitForStatus(wxS("Token has been initialized successfully."))) << m_frame->GetStatus();
    }
    m_settings->SetIsAskChangeDefaultPin(false);
    m_settings->SetIsAutoLogout(false);
    m_settings->SetAutoLogoutTime(2);
    m_settings->SaveHash();
    // Two "minutes" of 150 ms each.
    m_frame->SetAutoLogoutMinuteLength(std::chrono::milliseconds(150));
    {
        DialogScript script;
        script.Then(EnterPin(kFactoryPIN));
        Click(NRVCMUFrm::ID_BTN_LOGIN);
        ASSERT_EQ(m_frame->GetStatus(), wxS("User has logged in successfully."));
    }
    const auto pumpFor = [](std::chrono::milliseconds span) {
        const auto end = std::chrono::steady_clock::now() + span;
        while (std::chrono::steady_clock::now() < end) {
            wxTheApp->ProcessPendingEvents();
            wxTheApp->Yield(true);
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
    };
    pumpFor(std::chrono::milliseconds(700));
    EXPECT_EQ(ButtonLabel(NRVCMUFrm::ID_BTN_LOGIN), wxS("Logout")) << "auto-logout is off";

    m_settings->SetIsAutoLogout(true);
    m_settings->SaveHash();
    m_frame->GetAutoLogout().Touch();
    const auto start = std::chrono::steady_clock::now();
    ASSERT_TRUE(WaitForStatus(wxS("User has logged out successfully."))) << m_frame->GetStatus();
    EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(300))
        << "logged out before the idle time had passed";
    EXPECT_EQ(ButtonLabel(NRVCMUFrm::ID_BTN_LOGIN), wxS("Login"));
    EXPECT_FALSE(m_frame->GetSlotRecord(0).loggedIn);
}
