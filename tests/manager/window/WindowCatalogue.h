// Every window and dialog of the manager, built the way its caller builds it,
// with the texts a user meets. The layout test checks each of them in every
// language; the gallery renders each of them to a picture.
#pragma once

#include "manager/core/NRVCMUSettings.h"
#include "manager/pin/ChangePINDlg.h"
#include "manager/pin/InitializeTokenDlg.h"
#include "manager/pin/LogInDlg.h"
#include "manager/pin/MessageBoxDlg.h"
#include "manager/pin/PinKind.h"
#include "manager/pin/RenameTokenDlg.h"
#include "manager/pin/UnlockPINDlg.h"
#include "manager/settings/SettingsDlg.h"
#include "manager/settings/SettingsInitializationPINPnl.h"
#include "manager/window/AboutDlg.h"
#include "manager/window/NRVCMUFrm.h"

#include <functional>
#include <string>
#include <vector>
#include <wx/intl.h>
#include <wx/toplevel.h>

namespace window_catalogue {

struct Context {
    NRVCMUSettings* settings = nullptr;
    NRVCMUCryptoki* cryptoki = nullptr;
    wxWindow* parent = nullptr;
    // The main window's extra button width, as the application gives it.
    int extraWidth = 0;
};

struct Entry {
    // Also the picture's file name.
    std::string name;
    std::function<wxTopLevelWindow*(const Context&)> create;
};

inline PinPolicy Policy(long type)
{
    PinPolicy policy;
    policy.type = type;
    policy.defaultValue = "73920518";
    return policy;
}

// The settings dialog on one page; type picks the PIN page's type (-1 keeps the stored one).
inline Entry SettingsPageEntry(const char* name, SettingsPage page, long type = -1)
{
    return { name,
        [page, type](const Context& c) {
            auto* dialog = new SettingsDlg(c.parent, *c.settings);
            dialog->ShowPage(page);
            if (type >= 0 && (page == SettingsPage::UserPIN || page == SettingsPage::SOPIN)) {
                dialog->GetPinPage(page == SettingsPage::SOPIN ? PinKind::SO : PinKind::User)->ShowType(type);
            }
            return dialog;
        } };
}

inline std::vector<Entry> AllDialogs()
{
    const wxString label = "Mine";
    return {
        { "LogInDlg",
            [label](const Context& c) {
                auto* dialog = new LogInDlg(c.parent, PinKind::User, _("Login"),
                    wxString::Format(_("Please enter User PIN for \"%s\"."), label), 8);
                dialog->SetErrorMessage(wxString());
                return dialog;
            } },
        { "LogInDlg-error",
            [label](const Context& c) {
                auto* dialog = new LogInDlg(c.parent, PinKind::User, _("Login"),
                    wxString::Format(_("Please enter User PIN for \"%s\"."), label), 8);
                dialog->SetErrorMessage(
                    _("Incorrect user PIN.") + " " + _("User PIN is locked and cannot be used."));
                return dialog;
            } },
        { "ChangePINDlg-user",
            [label](
                const Context& c) { return new ChangePINDlg(c.parent, label, PinKind::User, 4, 8, false); } },
        { "ChangePINDlg-so",
            [label](
                const Context& c) { return new ChangePINDlg(c.parent, label, PinKind::SO, 8, 8, false); } },
        { "ChangePINDlg-default-user",
            [label](
                const Context& c) { return new ChangePINDlg(c.parent, label, PinKind::User, 4, 8, true); } },
        { "ChangePINDlg-default-so",
            [label](
                const Context& c) { return new ChangePINDlg(c.parent, label, PinKind::SO, 8, 8, true); } },
        { "UnlockPINDlg",
            [label](const Context& c) {
                auto* dialog = new UnlockPINDlg(c.parent, label, 4, 8, 8);
                dialog->SetErrorMessage(wxString());
                return dialog;
            } },
        { "RenameTokenDlg", [label](const Context& c) { return new RenameTokenDlg(c.parent, label); } },
        { "MessageBoxDlg",
            [](const Context& c) {
                return new MessageBoxDlg(c.parent, _("Language Settings"),
                    _("Application needs to restart for the new language settings to take effect.") + " "
                        + _("Restart application now?"),
                    true);
            } },
        { "InitializeTokenDlg-default",
            [](const Context& c) {
                auto* dialog = new InitializeTokenDlg(
                    c.parent, _("Initialize Token"), "VELA5 Virtual Reader 1", Policy(0), Policy(0));
                dialog->SetErrorMessage(wxString());
                return dialog;
            } },
        { "InitializeTokenDlg-manual",
            [](const Context& c) {
                auto* dialog = new InitializeTokenDlg(
                    c.parent, _("Initialize Token"), "VELA5 Virtual Reader 1", Policy(1), Policy(1));
                dialog->SetErrorMessage(_("Please input a valid User PIN."));
                return dialog;
            } },
        { "InitializeTokenDlg-random",
            [](const Context& c) {
                auto* dialog = new InitializeTokenDlg(
                    c.parent, _("Initialize Token"), "VELA5 Virtual Reader 1", Policy(2), Policy(2));
                dialog->SetErrorMessage(wxString());
                return dialog;
            } },
        { "InitializeTokenDlg-reinitialize",
            [label](const Context& c) {
                auto* dialog
                    = new InitializeTokenDlg(c.parent, wxString::Format(_("Re-initialize \"%s\""), label),
                        "VELA5 Virtual Reader 1", Policy(0), Policy(1));
                dialog->SetErrorMessage(wxString());
                return dialog;
            } },
        { "AboutDlg", [](const Context& c) { return new AboutDlg(c.parent); } },
        SettingsPageEntry("SettingsDlg-application", SettingsPage::Application),
        SettingsPageEntry("SettingsDlg-token", SettingsPage::Token),
        SettingsPageEntry("SettingsDlg-userpin-default", SettingsPage::UserPIN, 0),
        SettingsPageEntry("SettingsDlg-userpin-manual", SettingsPage::UserPIN, 1),
        SettingsPageEntry("SettingsDlg-sopin-random", SettingsPage::SOPIN, 2),
        SettingsPageEntry("SettingsDlg-csp", SettingsPage::CSP),
        SettingsPageEntry("SettingsDlg-pkcs11", SettingsPage::PKCS11),
    };
}

// The main window on the module the context holds.
inline Entry MainWindow()
{
    return { "NRVCMUFrm",
        [](const Context& c) { return new NRVCMUFrm(c.settings, c.cryptoki, c.extraWidth); } };
}

} // namespace window_catalogue
