#include "PinCommands.h"

#include "manager/core/CryptokiResultText.h"
#include "manager/core/ModalRunner.h"
#include "manager/core/NRVCMUCryptoki.h"
#include "manager/core/SecretString.h"
#include "manager/host/PinScrambler.h"
#include "manager/host/TokenCommandFrame.h"
#include "manager/host/TokenCommandRules.h"
#include "manager/pin/ChangePINDlg.h"
#include "manager/pin/PinKind.h"
#include "manager/pin/UnlockPINDlg.h"

#include <wx/intl.h>

using TokenCommandRules::LoginStep;

namespace {
// The PINs a change dialog returned; wiped when the command ends.
struct PinPair {
    SecretString current;
    SecretString replacement;
};

struct PinRange {
    int minLength = 0;
    int maxLength = 0;
};

// Shows the change-PIN dialog. True with the PINs on OK; otherwise the
// command is over (raised with the cancelled text on Cancel).
bool AskChangePin(TokenCommandFrame& frame, const wxString& label, PinKind kind, PinRange range,
    const wxString& error, const wxString& cancelled, PinPair& pins)
{
    ChangePINDlg dialog(frame.Parent(), label, kind, range.minLength, range.maxLength, false);
    dialog.SetErrorMessage(error);
    const int result = ModalRunner::ShowDialog(dialog);
    if (result == wxID_OK) {
        pins.current = dialog.GetCurrentPIN();
        pins.replacement = dialog.GetNewPIN();
        return true;
    }
    if (result == wxID_NO) {
        frame.Raise(cancelled);
    }
    return false;
}

// Verifies the current PIN by logging in with it, asking again while the
// token answers with a wrong-PIN result. False when the command is over.
bool LogInWithCurrentPin(TokenCommandFrame& frame, const wxString& label, PinKind kind, PinRange range,
    const wxString& workingText, const wxString& context, const wxString& cancelled, PinPair& pins)
{
    const bool isSO = kind == PinKind::SO;
    for (;;) {
        const CK_RV rv = frame.LogInHandlingSession(isSO ? CKU_SO : CKU_USER, pins.current);
        const LoginStep step = TokenCommandRules::ClassifyLogin(rv);
        if (step == LoginStep::Done) {
            return true;
        }
        if (step != LoginStep::AskAgain) {
            frame.Raise(TokenCommandRules::GetPinFailureText(rv, isSO, context));
            return false;
        }
        frame.SetStatus(context);
        frame.Resume();
        if (!AskChangePin(frame, label, kind, range, GetPINResultMessage(rv, isSO), cancelled, pins)) {
            return false;
        }
        frame.Working(workingText);
    }
}

PinRange DisplayedRange(TokenActionHost& host)
{
    return { static_cast<int>(host.GetDisplayedMinPinLength()),
        static_cast<int>(host.GetDisplayedMaxPinLength()) };
}
} // namespace

void PinCommands::RunChangeUserPIN(TokenActionHost& host)
{
    TokenCommandFrame frame(host);
    if (!frame.IsValid()) {
        return;
    }
    const wxString context = _("Failed to change User PIN.");
    const wxString cancelled = _("User PIN has not been changed because the operation was cancelled.");
    const wxString working = _("Changing User PIN . . .");
    frame.Begin(_("Preparing to change User PIN . . ."));
    const wxString label = frame.ReadTokenFacts().label;
    const PinRange range = DisplayedRange(host);

    PinPair pins;
    if (!AskChangePin(frame, label, PinKind::User, range, wxString(), cancelled, pins)) {
        return;
    }
    frame.Working(working);
    CK_RV rv = frame.EnsureSession();
    if (rv != CKR_OK) {
        frame.Raise(GetResultMessage(rv, context));
        return;
    }
    if (!LogInWithCurrentPin(frame, label, PinKind::User, range, working, context, cancelled, pins)) {
        return;
    }
    rv = frame.Cryptoki().SetPIN(frame.Session(), pins.current, pins.replacement);
    if (rv != CKR_OK) {
        frame.Raise(TokenCommandRules::GetPinFailureText(rv, false, context));
        return;
    }
    SlotRecord& record = frame.Record();
    record.loggedIn = true;
    record.cachedPIN.Keep(pins.replacement);
    frame.Succeed(_("User PIN has been changed successfully."), false);
}

void PinCommands::RunChangeSOPIN(TokenActionHost& host)
{
    TokenCommandFrame frame(host);
    if (!frame.IsValid()) {
        return;
    }
    const wxString context = _("Failed to change SO PIN.");
    const wxString cancelled = _("SO PIN has not been changed because the operation was cancelled.");
    const wxString working = _("Changing SO PIN . . .");
    frame.Begin(_("Preparing to change SO PIN . . ."));
    frame.Pause();
    CK_RV rv = frame.EnsureSession();
    if (rv != CKR_OK) {
        frame.Raise(GetResultMessage(rv, context));
        return;
    }

    const wxString rangeContext = _("Failed to get SO PIN length range.");
    NRV_PIN_MIN_MAX limits {};
    for (int attempt = 1;; ++attempt) {
        rv = frame.Cryptoki().GetSOPINLengthRange(frame.SlotId(), &limits);
        if (rv != CKR_DEVICE_ERROR || attempt == TokenCommandFrame::kMaxAutomaticRetries) {
            break;
        }
        const CK_RV reopened = host.OpenSlotSession(frame.GetSlotIndex());
        if (reopened != CKR_OK) {
            frame.Raise(GetResultMessage(reopened, rangeContext));
            return;
        }
    }
    if (rv != CKR_OK) {
        frame.Raise(GetResultMessage(rv, rangeContext));
        return;
    }
    const wxString label = frame.ReadTokenFacts().label;
    frame.Resume();

    const PinRange range { static_cast<int>(limits.ulMinLen), static_cast<int>(limits.ulMaxLen) };
    PinPair pins;
    if (!AskChangePin(frame, label, PinKind::SO, range, wxString(), cancelled, pins)) {
        return;
    }
    frame.Working(working);
    if (!LogInWithCurrentPin(frame, label, PinKind::SO, range, working, context, cancelled, pins)) {
        return;
    }
    rv = frame.Cryptoki().SetPIN(frame.Session(), pins.current, pins.replacement);
    if (rv != CKR_OK) {
        frame.Raise(TokenCommandRules::GetPinFailureText(rv, true, context));
        return;
    }
    if (frame.Record().loggedIn) {
        rv = frame.RestoreUserLogin();
        if (rv != CKR_OK) {
            frame.Raise(GetResultMessage(rv, context));
            return;
        }
    }
    frame.Succeed(_("SO PIN has been changed successfully."), true);
}

void PinCommands::RunUnlockUserPIN(TokenActionHost& host)
{
    TokenCommandFrame frame(host);
    if (!frame.IsValid()) {
        return;
    }
    const wxString context = _("Failed to unlock the User PIN.");
    const wxString cancelled = _("User PIN has not been unlocked because the operation was cancelled.");
    const wxString working = _("Unlocking User PIN . . .");
    frame.Begin(_("Preparing to unlock User PIN . . ."));
    const TokenFacts facts = frame.ReadTokenFacts();
    const int minLength = static_cast<int>(host.GetDisplayedMinPinLength());
    const int maxLength = static_cast<int>(host.GetDisplayedMaxPinLength());
    const int soMaxLength = TokenCommandRules::GetUnlockSOPINMaxLength(facts.model);

    wxString error;
    bool sessionChecked = false;
    for (;;) {
        SecretString soPIN;
        SecretString newUserPIN;
        {
            UnlockPINDlg dialog(frame.Parent(), facts.label, minLength, maxLength, soMaxLength);
            dialog.SetErrorMessage(error);
            const int result = ModalRunner::ShowDialog(dialog);
            if (result == wxID_NO) {
                frame.Raise(cancelled);
            }
            if (result != wxID_OK) {
                return;
            }
            soPIN = dialog.GetSOPIN();
            newUserPIN = dialog.GetNewUserPIN();
        }
        frame.Working(working);
        if (!sessionChecked) {
            sessionChecked = true;
            const CK_RV opened = frame.EnsureSession();
            if (opened != CKR_OK) {
                frame.Raise(GetResultMessage(opened, context));
                return;
            }
        }
        const CK_RV rv = frame.Cryptoki().UnblockUserPIN(frame.Session(), soPIN, newUserPIN);
        if (rv == CKR_OK) {
            frame.Succeed(_("User PIN has been unlocked successfully."), true);
            return;
        }
        if (!TokenCommandRules::IsWrongPinResult(rv)) {
            frame.Raise(TokenCommandRules::GetPinFailureText(rv, true, context));
            return;
        }
        frame.SetStatus(context);
        frame.Resume();
        error = GetPINResultMessage(rv, true);
    }
}
