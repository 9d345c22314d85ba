// The settings dialog as a real window: page switching, the page behaviour
// the rules drive, what OK saves (and with a digest the next start accepts),
// what a refused OK keeps, Cancel and Reset to Default, and the Browse dialog.
#include "manager/core/ModalRunner.h"
#include "manager/core/NRVCMULog.h"
#include "manager/core/NRVCMUSettings.h"
#include "manager/settings/SettingsDlg.h"
#include "manager/settings/SettingsGeneralApplicationPnl.h"
#include "manager/settings/SettingsInitializationPINPnl.h"
#include "manager/settings/SettingsInitializationTokenPnl.h"
#include "manager/settings/SettingsLoggingPnl.h"
#include "manager/settings/SpinField.h"
#include "tests/manager/pin/DialogDriver.h"
#include "tests/support/ScopedTestRoot.h"

#include <gtest/gtest.h>
#include <memory>
#include <vector>
#include <wx/checkbox.h>
#include <wx/choice.h>
#include <wx/filedlg.h>
#include <wx/stattext.h>

using namespace DialogDriver;

namespace {

using App = SettingsGeneralApplicationPnl;
using Token = SettingsInitializationTokenPnl;
using Pin = SettingsInitializationPINPnl;
using Logging = SettingsLoggingPnl;

const wxString kProgram = "/opt/kit/bin";

class SettingsDlgGuiTest : public testing::Test {
protected:
    void SetUp() override
    {
        NRVCMULog::Relocate();
        m_settings = std::make_unique<NRVCMUSettings>(kProgram);
        ASSERT_FALSE(m_settings->IsTampered());
        ModalRunner::SetMessageHook([this](const wxString& message, const wxString& caption, long) {
            m_messages.push_back(message);
            m_captions.push_back(caption);
            return wxOK;
        });
    }
    void TearDown() override
    {
        ModalRunner::ClearHooks();
        m_settings.reset();
        NRVCMULog::Relocate();
    }

    // The store as the next start of the manager finds it.
    std::unique_ptr<NRVCMUSettings> Reopen()
    {
        m_settings.reset();
        auto reopened = std::make_unique<NRVCMUSettings>(kProgram);
        EXPECT_FALSE(reopened->IsTampered()) << "the saved digest does not match";
        return reopened;
    }

    static void Tick(wxWindow& page, int id, bool value)
    {
        auto* box = Find<wxCheckBox>(page, id);
        ASSERT_NE(box, nullptr);
        box->SetValue(value);
        wxCommandEvent event(wxEVT_CHECKBOX, id);
        event.SetEventObject(box);
        event.SetInt(value ? 1 : 0);
        box->GetEventHandler()->ProcessEvent(event);
    }

    static void PickType(Pin& page, int type)
    {
        auto* choice = Find<wxChoice>(page, Pin::ID_CMB_PIN_TYPE);
        choice->SetSelection(type);
        wxCommandEvent event(wxEVT_CHOICE, Pin::ID_CMB_PIN_TYPE);
        event.SetEventObject(choice);
        event.SetInt(type);
        choice->GetEventHandler()->ProcessEvent(event);
    }

    static bool Ticked(wxWindow& page, int id) { return Find<wxCheckBox>(page, id)->GetValue(); }

    // Presses OK inside the running dialog; returns its end code.
    static int PressOK(SettingsDlg& dialog)
    {
        return RunModal(dialog, [&dialog] { Press(dialog, SettingsDlg::ID_BTN_OK); });
    }

    DialogDriver::EnvironmentRestorer m_environment;
    ScopedTestRoot m_root;
    std::unique_ptr<NRVCMUSettings> m_settings;
    std::vector<wxString> m_messages;
    std::vector<wxString> m_captions;
};

} // namespace

TEST_F(SettingsDlgGuiTest, OpensOnApplicationSettingsAndCategoriesShowTheirFirstPage)
{
    SettingsDlg dialog(nullptr, *m_settings);
    EXPECT_EQ(dialog.GetTitle(), "Pavix Manager - Settings");
    EXPECT_EQ(dialog.GetShownPage(), SettingsPage::Application);
    EXPECT_EQ(dialog.GetHeaderText(), "Settings:");
    EXPECT_TRUE(dialog.GetPage(SettingsPage::Application)->IsShown());
    EXPECT_FALSE(dialog.GetPage(SettingsPage::Token)->IsShown());

    Press(dialog, SettingsDlg::ID_BTN_CATEGORY_LOGGING);
    EXPECT_EQ(dialog.GetShownPage(), SettingsPage::CSP);
    EXPECT_EQ(dialog.GetHeaderText(), "CSP - Cryptographic Service Provider:");
    Press(dialog, SettingsDlg::ID_BTN_CATEGORY_INITIALIZATION);
    EXPECT_EQ(dialog.GetShownPage(), SettingsPage::Token);
    Press(dialog, SettingsDlg::ID_BTN_PAGE_FIRST + static_cast<int>(SettingsPage::SOPIN));
    EXPECT_EQ(dialog.GetShownPage(), SettingsPage::SOPIN);
    EXPECT_EQ(dialog.GetHeaderText(), "SO PIN:");
    Press(dialog, SettingsDlg::ID_BTN_CATEGORY_INITIALIZATION);
    EXPECT_EQ(dialog.GetShownPage(), SettingsPage::SOPIN) << "a page of the category is already shown";
    for (SettingsPage page : { SettingsPage::Application, SettingsPage::Token, SettingsPage::UserPIN,
             SettingsPage::CSP, SettingsPage::KSP }) {
        EXPECT_FALSE(dialog.GetPage(page)->IsShown()) << static_cast<int>(page);
    }
}

TEST_F(SettingsDlgGuiTest, RefusedManualLengthsShowTheUserPinPageAndSaveNothing)
{
    m_settings->SetIsMinimizeToTray(false);
    m_settings->SaveHash();
    SettingsDlg dialog(nullptr, *m_settings);
    Tick(*dialog.GetApplicationPage(), App::ID_CHK_MINIMIZE_TO_TRAY, true);
    Pin& user = *dialog.GetPinPage(PinKind::User);
    PickType(user, 1);
    Type(user, Pin::ID_TXT_MIN_LEN, "6");
    Type(user, Pin::ID_TXT_MAX_LEN, "5");
    const int code = PressOK(dialog);
    EXPECT_EQ(code, -1) << "the dialog stays open";
    ASSERT_EQ(m_messages.size(), 1U);
    EXPECT_EQ(m_messages[0],
        "Please check User PIN Attributes. Minimum length must not be greater than the maximum length.");
    EXPECT_EQ(m_captions[0], "Pavix Manager - Settings");
    EXPECT_EQ(dialog.GetShownPage(), SettingsPage::UserPIN);
    EXPECT_FALSE(Reopen()->IsMinimizeToTray()) << "nothing was saved";
}

TEST_F(SettingsDlgGuiTest, OkSavesEveryPageWithADigestTheNextStartAccepts)
{
    SettingsDlg dialog(nullptr, *m_settings);
    App& app = *dialog.GetApplicationPage();
    Tick(app, App::ID_CHK_AUTO_LOGOUT, true);
    Type(app, App::ID_TXT_LOGOUT_TIME, "15");
    Tick(app, App::ID_CHK_PIN_CACHE, false);
    Token& token = *dialog.GetTokenPage();
    Tick(token, Token::ID_CHK_USE_NRV_DEFAULT_SETTING, false);
    Type(token, Token::ID_TXT_TOKEN_LABEL, "Office");
    Type(token, Token::ID_TXT_MAX_KEYPAIRS, "3");
    Pin& so = *dialog.GetPinPage(PinKind::SO);
    PickType(so, 2);
    Type(so, Pin::ID_TXT_RANDOM_PIN_LEN, "6");
    Tick(so, Pin::ID_CHK_USE_SYMBOLS, false);
    Logging& pkcs = *dialog.GetLoggingPage(LogComponent::PKCS11);
    Tick(pkcs, Logging::ID_CHK_64BIT_APPS, true);
    Type(pkcs, Logging::ID_TXT_64BIT_DIRECTORY, "/var/tmp/pkcs.log");
    EXPECT_EQ(PressOK(dialog), wxID_OK);
    EXPECT_TRUE(m_messages.empty());

    const auto saved = Reopen();
    EXPECT_TRUE(saved->IsAutoLogout());
    EXPECT_EQ(saved->GetAutoLogoutTime(), 15);
    EXPECT_FALSE(saved->IsPINCacheEnabled());
    EXPECT_EQ(saved->GetTokenLabel(), "Office");
    EXPECT_EQ(saved->GetMaxRSAKeyPairs(), 3);
    EXPECT_EQ(saved->GetSOPINType(), 2);
    EXPECT_EQ(saved->GetRandomSOPINLength(), 6);
    EXPECT_FALSE(saved->IsRandomSOPINUseSymbols());
    EXPECT_EQ(saved->GetSOPINDefaultValue(), "73920518");
    EXPECT_TRUE(saved->IsPKCS11x64LogEnabled());
    EXPECT_EQ(saved->GetPKCS11x64LogLocation(), "/var/tmp/pkcs.log");
    EXPECT_FALSE(saved->IsPKCS11x86LogEnabled());
}

TEST_F(SettingsDlgGuiTest, DefaultTypeWritesFixedLengthsWhateverTheHiddenControlsShow)
{
    m_settings->SetUserPINType(1);
    m_settings->SetUserPINMinLength(6);
    m_settings->SetUserPINMaxLength(7);
    m_settings->SetIsRandomUserPINUseNumbers(false);
    m_settings->SaveHash();
    SettingsDlg dialog(nullptr, *m_settings);
    Pin& user = *dialog.GetPinPage(PinKind::User);
    PickType(user, 0);
    Tick(user, Pin::ID_CHK_USE_NRV_DEFAULT_PIN, false);
    Type(user, Pin::ID_TXT_PIN_VALUE, "4242");
    EXPECT_EQ(Find(user, Pin::ID_TXT_PIN_VALUE_CHAR)->GetValue(), "4242") << "both value fields follow";
    EXPECT_FALSE(Find<wxStaticText>(user, Pin::ID_LBE_PIN_STRENGTH_VALUE)->GetLabel().empty());
    EXPECT_EQ(PressOK(dialog), wxID_OK);
    const auto saved = Reopen();
    EXPECT_EQ(saved->GetUserPINDefaultValue(), "4242");
    EXPECT_EQ(saved->GetUserPINMinLength(), 4);
    EXPECT_EQ(saved->GetUserPINMaxLength(), 8);
    EXPECT_EQ(saved->GetRandomUserPINLength(), 8);
    EXPECT_TRUE(saved->IsRandomUserPINUseNumbers());
}

TEST_F(SettingsDlgGuiTest, ShortValueAndTrailingBlankAreRefusedOnTheirPages)
{
    SettingsDlg dialog(nullptr, *m_settings);
    Token& token = *dialog.GetTokenPage();
    Tick(token, Token::ID_CHK_USE_NRV_DEFAULT_SETTING, false);
    Type(token, Token::ID_TXT_TOKEN_LABEL, "abc ");
    Pin& user = *dialog.GetPinPage(PinKind::User);
    Tick(user, Pin::ID_CHK_USE_NRV_DEFAULT_PIN, false);
    Type(user, Pin::ID_TXT_PIN_VALUE, "123");
    EXPECT_EQ(PressOK(dialog), -1);
    ASSERT_EQ(m_messages.size(), 1U);
    EXPECT_EQ(m_messages[0], "Token label should not end with a white-space.");
    EXPECT_EQ(dialog.GetShownPage(), SettingsPage::Token);
    EXPECT_EQ(Find(token, Token::ID_TXT_TOKEN_LABEL)->GetValue(), "abc");

    EXPECT_EQ(PressOK(dialog), -1);
    ASSERT_EQ(m_messages.size(), 2U);
    EXPECT_EQ(m_messages[1], "Please check User PIN Value. It must be at least 4 characters long.");
    EXPECT_EQ(dialog.GetShownPage(), SettingsPage::UserPIN);
}

TEST_F(SettingsDlgGuiTest, CancelDiscardsAndResetToDefaultThenOkWritesTheDefaults)
{
    m_settings->SetIsAskOnExit(false);
    m_settings->SetTokenLabel("Mine");
    m_settings->SetMaxRSAKeyPairs(2);
    m_settings->SetIsKSPx86LogEnabled(true);
    m_settings->SetKSPx86LogLocation("/var/tmp/k.log");
    m_settings->SaveHash();
    {
        SettingsDlg dialog(nullptr, *m_settings);
        Tick(*dialog.GetApplicationPage(), App::ID_CHK_NOTIFY_ON_CLOSE, true);
        EXPECT_EQ(RunModal(dialog, [&] { Press(dialog, SettingsDlg::ID_BTN_CANCEL); }), wxID_CANCEL);
    }
    EXPECT_FALSE(m_settings->IsAskOnExit());
    {
        SettingsDlg dialog(nullptr, *m_settings);
        Press(dialog, SettingsDlg::ID_BTN_DEFAULT);
        EXPECT_TRUE(Ticked(*dialog.GetTokenPage(), Token::ID_CHK_USE_NRV_DEFAULT_SETTING));
        EXPECT_EQ(PressOK(dialog), wxID_OK);
    }
    const auto saved = Reopen();
    EXPECT_TRUE(saved->IsAskOnExit());
    EXPECT_EQ(saved->GetTokenLabel(), "NRV Card OS 5");
    EXPECT_EQ(saved->GetMaxRSAKeyPairs(), 10);
    EXPECT_FALSE(saved->IsKSPx86LogEnabled());
    EXPECT_EQ(saved->GetKSPx86LogLocation(), saved->GetDefaultValue("KSPx86LogLocation"));
}

TEST_F(SettingsDlgGuiTest, PageBehaviourFollowsTheBoxes)
{
    SettingsDlg dialog(nullptr, *m_settings);
    App& app = *dialog.GetApplicationPage();
    Tick(app, App::ID_CHK_TURN_ON_CERT_PROP, false);
    EXPECT_FALSE(Ticked(app, App::ID_CHK_REMOVE_CERT_TO_STORE));
    EXPECT_FALSE(app.FindWindow(App::ID_CHK_REMOVE_CERT_TO_STORE)->IsEnabled());
    Tick(app, App::ID_CHK_TURN_ON_CERT_PROP, true);
    EXPECT_TRUE(app.FindWindow(App::ID_CHK_REMOVE_CERT_TO_STORE)->IsEnabled());

    // Minutes: a third digit after 15 gives 100; emptying brings the text back.
    EXPECT_FALSE(app.FindWindow(App::ID_TXT_LOGOUT_TIME)->IsEnabled());
    Tick(app, App::ID_CHK_AUTO_LOGOUT, true);
    EXPECT_TRUE(app.FindWindow(App::ID_TXT_LOGOUT_TIME)->IsEnabled());
    Type(app, App::ID_TXT_LOGOUT_TIME, "15");
    Type(app, App::ID_TXT_LOGOUT_TIME, "151");
    EXPECT_EQ(Find(app, App::ID_TXT_LOGOUT_TIME)->GetValue(), "100");
    EXPECT_EQ(app.GetLogoutTime()->GetValue(), 100);
    Type(app, App::ID_TXT_LOGOUT_TIME, "");
    EXPECT_EQ(Find(app, App::ID_TXT_LOGOUT_TIME)->GetValue(), "100");
    Tick(app, App::ID_CHK_AUTO_LOGOUT, false);
    EXPECT_EQ(app.GetLogoutTime()->GetValue(), 1) << "unticking resets the minutes";

    Token& token = *dialog.GetTokenPage();
    Tick(token, Token::ID_CHK_USE_NRV_DEFAULT_SETTING, false);
    Type(token, Token::ID_TXT_TOKEN_LABEL, "ABCDEFGHIJKLMNOPQRSTUVWXY");
    Tick(token, Token::ID_CHK_APPEND_SERIAL_NO, true);
    EXPECT_EQ(Find(token, Token::ID_TXT_TOKEN_LABEL)->GetValue(), "ABCDEFGHIJKLMNOPQRS");
    Type(token, Token::ID_TXT_MAX_KEYPAIRS, "4x");
    EXPECT_EQ(Find(token, Token::ID_TXT_MAX_KEYPAIRS)->GetValue(), "4") << "digits only";

    // The last randomization group cannot be cleared.
    Pin& user = *dialog.GetPinPage(PinKind::User);
    PickType(user, 2);
    EXPECT_TRUE(user.FindWindow(Pin::ID_CHK_USE_NUMBERS)->IsShown());
    EXPECT_FALSE(user.FindWindow(Pin::ID_TXT_MIN_LEN)->GetParent()->IsShown()) << "its spin field is hidden";
    Tick(user, Pin::ID_CHK_USE_NUMBERS, false);
    Tick(user, Pin::ID_CHK_USE_LETTERS, false);
    EXPECT_FALSE(Ticked(user, Pin::ID_CHK_USE_UPPERCASE));
    EXPECT_TRUE(m_messages.empty());
    Tick(user, Pin::ID_CHK_USE_SYMBOLS, false);
    ASSERT_EQ(m_messages.size(), 1U);
    EXPECT_EQ(m_messages[0], "At least one randomization option must be checked.");
    EXPECT_TRUE(Ticked(user, Pin::ID_CHK_USE_SYMBOLS));
}

TEST_F(SettingsDlgGuiTest, BrowseOffersTheDefaultNameAndPutsThePickedPathInTheField)
{
    SettingsDlg dialog(nullptr, *m_settings);
    Logging& ksp = *dialog.GetLoggingPage(LogComponent::KSP);
    EXPECT_FALSE(ksp.FindWindow(Logging::ID_BTN_BROWSE_32BIT_DIRECTORY)->IsEnabled());
    Tick(ksp, Logging::ID_CHK_32BIT_APPS, true);
    EXPECT_TRUE(ksp.FindWindow(Logging::ID_BTN_BROWSE_32BIT_DIRECTORY)->IsEnabled());
    wxString title;
    wxString name;
    ModalRunner::SetFileHook([&](wxFileDialog& file, wxString& path) {
        title = file.GetMessage();
        name = file.GetFilename();
        path = "/var/tmp/chosen.LOG";
        return wxID_OK;
    });
    Press(ksp, Logging::ID_BTN_BROWSE_32BIT_DIRECTORY);
    EXPECT_EQ(title, "Save KSP log as");
    EXPECT_EQ(name, "KSP_x86.LOG");
    EXPECT_EQ(Find(ksp, Logging::ID_TXT_32BIT_DIRECTORY)->GetValue(), "/var/tmp/chosen.LOG");
}

TEST(SettingsValuesStoreGuiTest, DefaultsMatchAFreshFileAndWritesComeBackAfterARestart)
{
    ScopedTestRoot root;
    const wxString program = "/opt/kit/bin";
    SettingsValues changed;
    {
        NRVCMUSettings fresh(program);
        ASSERT_FALSE(fresh.IsTampered());
        const SettingsValues defaults = DefaultSettingsValues(fresh);
        const SettingsValues read = ReadSettingsValues(fresh);
        EXPECT_EQ(defaults.tokenLabel, read.tokenLabel);
        EXPECT_EQ(defaults.userPin.defaultValue, "73920518");
        EXPECT_EQ(defaults.askOnExit, read.askOnExit);
        EXPECT_EQ(defaults.maxRSAKeyPairs, read.maxRSAKeyPairs);
        EXPECT_EQ(defaults.pkcs11.x64Location, read.pkcs11.x64Location);
        EXPECT_EQ(defaults.pkcs11.x64Location, "/opt/kit/Middleware/Logs/PKCS_x64.LOG");
        EXPECT_EQ(defaults.csp.x86Location, "/opt/kit/Middleware/Logs/CSP_x86.LOG");

        changed = read;
        changed.autoLogout = true;
        changed.autoLogoutTime = 42;
        changed.tokenLabel = "Desk";
        changed.soPin.maxLength = 6;
        changed.userPin.useSymbols = false;
        changed.ksp.x64Enabled = true;
        changed.ksp.x64Location = "/var/log/ksp.log";
        changed.pinCacheEnabled = false;
        WriteSettingsValues(fresh, changed);
        fresh.SaveHash();
    }
    NRVCMUSettings again(program);
    ASSERT_FALSE(again.IsTampered());
    const SettingsValues read = ReadSettingsValues(again);
    EXPECT_TRUE(read.autoLogout);
    EXPECT_EQ(read.autoLogoutTime, 42);
    EXPECT_EQ(read.tokenLabel, "Desk");
    EXPECT_EQ(read.soPin.maxLength, 6);
    EXPECT_FALSE(read.userPin.useSymbols);
    EXPECT_TRUE(read.ksp.x64Enabled);
    EXPECT_EQ(read.ksp.x64Location, "/var/log/ksp.log");
    EXPECT_FALSE(read.pinCacheEnabled);
    EXPECT_EQ(read.csp.x86Location, changed.csp.x86Location);
}
