#include "LoginCommand.h"

#include "manager/core/CryptokiResultText.h"
#include "manager/core/ModalRunner.h"
#include "manager/core/NRVCMUCryptoki.h"
#include "manager/core/NRVCMUSettings.h"
#include "manager/core/SecretString.h"
#include "manager/host/PinScrambler.h"
#include "manager/host/TokenCommandFrame.h"
#include "manager/host/TokenCommandRules.h"
#include "manager/pin/ChangePINDlg.h"
#include "manager/pin/LogInDlg.h"
#include "manager/pin/PinKind.h"

#include <wx/intl.h>

using TokenCommandRules::LoginStep;

namespace {
enum class DialogAnswer { Ok, Cancelled, Ended };

DialogAnswer ToAnswer(int result)
{
    if (result == wxID_OK) {
        return DialogAnswer::Ok;
    }
    return result == wxID_NO ? DialogAnswer::Cancelled : DialogAnswer::Ended;
}

DialogAnswer AskUserPin(TokenCommandFrame& frame, const wxString& label, const wxString& error, wxString& pin)
{
    const int maxLength = TokenCommandRules::GetLoginMaxPinLength(frame.Host().GetDisplayedMaxPinLength());
    // TRANSLATORS: %s is the token's label.
    const wxString prompt = wxString::Format(_("Please enter User PIN for \"%s\"."), label);
    LogInDlg dialog(frame.Parent(), PinKind::User, _("Login"), prompt, maxLength, wxString());
    dialog.SetErrorMessage(error);
    const DialogAnswer answer = ToAnswer(ModalRunner::ShowDialog(dialog));
    if (answer == DialogAnswer::Ok) {
        pin = dialog.GetPIN();
    }
    return answer;
}
} // namespace

void LoginCommand::RunLogin(TokenActionHost& host)
{
    TokenCommandFrame frame(host);
    if (!frame.IsValid()) {
        return;
    }
    const wxString context = _("Failed to login.");
    const wxString cancelled = _("User has not logged in because the operation was cancelled.");
    frame.Begin(_("Preparing to login . . ."));
    const wxString label = frame.ReadTokenFacts().label;

    SecretString pin;
    DialogAnswer answer = AskUserPin(frame, label, wxString(), pin.Text());
    if (answer == DialogAnswer::Cancelled) {
        frame.Raise(cancelled);
    }
    if (answer != DialogAnswer::Ok) {
        return;
    }
    frame.Working(_("Logging in . . ."));
    if (frame.Session() == 0) {
        const CK_RV rv = host.OpenSlotSession(frame.GetSlotIndex());
        if (rv != CKR_OK) {
            frame.Raise(GetResultMessage(rv, context));
            return;
        }
    }

    for (;;) {
        const CK_RV rv = frame.LogInHandlingSession(CKU_USER, pin);
        const LoginStep step = TokenCommandRules::ClassifyLogin(rv);
        if (step == LoginStep::Done) {
            break;
        }
        if (step != LoginStep::AskAgain) {
            frame.Raise(TokenCommandRules::GetPinFailureText(rv, false, context));
            return;
        }
        frame.SetStatus(context);
        frame.Resume();
        SecretString::Wipe(pin.Text());
        answer = AskUserPin(frame, label, GetPINResultMessage(rv, false), pin.Text());
        if (answer == DialogAnswer::Cancelled) {
            frame.Raise(cancelled);
        }
        if (answer != DialogAnswer::Ok) {
            return;
        }
        frame.Working(_("Logging in . . ."));
    }

    SlotRecord& record = frame.Record();
    record.loggedIn = true;
    record.cachedPIN.Keep(pin);
    frame.SetStatus(_("User has logged in successfully."));
    frame.Resume();
    NRVCMUSettings& settings = frame.Settings();
    if (settings.IsAskChangeDefaultPin() && pin == settings.GetUserPINDefaultValue()) {
        RunDefaultPinPrompt(frame, label, pin);
    } else {
        frame.Succeed(_("User has logged in successfully."), false);
    }
}

void LoginCommand::RunDefaultPinPrompt(TokenCommandFrame& frame, const wxString& label, const wxString& pin)
{
    TokenActionHost& host = frame.Host();
    wxString error;
    SecretString newPIN;
    for (;;) {
        ChangePINDlg dialog(frame.Parent(), label, PinKind::User,
            static_cast<int>(host.GetDisplayedMinPinLength()),
            static_cast<int>(host.GetDisplayedMaxPinLength()), true);
        dialog.SetErrorMessage(error);
        const DialogAnswer answer = ToAnswer(ModalRunner::ShowDialog(dialog));
        if (answer != DialogAnswer::Ok) {
            frame.Raise(_("User has logged in successfully but default User PIN has not been changed."));
            return;
        }
        newPIN = dialog.GetNewPIN();
        if (newPIN != pin) {
            break;
        }
        error = _("Please change default User PIN.");
    }

    frame.Pause();
    const CK_RV rv = frame.Cryptoki().SetPIN(frame.Session(), pin, newPIN);
    if (rv != CKR_OK) {
        frame.Raise(GetResultMessage(
            rv, _("User has logged in successfully. Default User PIN has not been changed.")));
        return;
    }
    frame.Record().cachedPIN.Keep(newPIN);
    frame.Succeed(_("User has logged in successfully. Default User PIN has also been changed."), false);
}

void LoginCommand::RunLogout(TokenActionHost& host)
{
    TokenCommandFrame frame(host);
    if (!frame.IsValid()) {
        return;
    }
    frame.Pause();
    frame.SetStatus(_("Logging out . . ."));
    frame.Begin(wxString());
    SlotRecord& record = frame.Record();
    CK_SESSION_HANDLE& session = frame.Session();
    if (session != 0) {
        if (record.loggedIn) {
            // The sessions are closed next, which ends the login anyway.
            frame.Cryptoki().LogOut(session);
        }
        frame.Cryptoki().CloseAllSessions(host.GetEnumeratedSlotId(frame.GetSlotIndex()));
        session = 0;
    }
    record.cachedPIN.Clear();
    record.loggedIn = false;
    frame.Succeed(_("User has logged out successfully."), false);
}
