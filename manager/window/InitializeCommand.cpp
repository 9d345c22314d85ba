#include "InitializeCommand.h"

#include "MainInitializeTokenThread.h"
#include "manager/core/CryptokiResultText.h"
#include "manager/core/ModalRunner.h"
#include "manager/core/NRVCMUCryptoki.h"
#include "manager/core/WindowWorker.h"
#include "manager/host/TokenCommandFrame.h"
#include "manager/pin/InitializeTokenDlg.h"

#include <wx/intl.h>

namespace {
// Applied on the GUI thread when the worker is done and the window still lives.
void FinishInitialization(TokenActionHost& host, int slotIndex, const InitTokenOutcome& outcome)
{
    SlotRecord& record = host.GetSlotRecord(slotIndex);
    if (outcome.rv == CKR_OK) {
        // The token has new PINs: a remembered login no longer holds.
        record.cachedPIN.Clear();
        record.loggedIn = false;
        host.ShowTokenInfo(slotIndex);
    }
    host.ResumePolling();
    host.UpdateActions(true, host.GetSlotRecord(slotIndex));
    host.SetStatus(outcome.statusText);
}
} // namespace

void InitializeCommand::Run(TokenActionHost& host, bool reinitialize)
{
    TokenCommandFrame frame(host);
    if (!frame.IsValid()) {
        return;
    }
    const wxString context
        = reinitialize ? _("Failed to re-initialize token.") : _("Failed to initialize token.");
    frame.Begin(reinitialize ? _("Preparing to re-initialize token . . .")
                             : _("Preparing to initialize token . . ."));

    wxString caption = _("Initialize Token");
    if (reinitialize) {
        // TRANSLATORS: %s is the token's label.
        caption = wxString::Format(_("Re-initialize \"%s\""), frame.ReadTokenFacts().label);
    }

    MainInitializeTokenThread::Request request;
    {
        InitializeTokenDlg dialog(frame.Parent(), caption, frame.Record().slotDescription, frame.Settings());
        dialog.SetErrorMessage(wxString());
        const int result = ModalRunner::ShowDialog(dialog);
        if (result == wxID_NO) {
            frame.Raise(reinitialize
                    ? _("Token has not been re-initialized because the operation was cancelled.")
                    : _("Token has not been initialized because the operation was cancelled."));
        }
        if (result != wxID_OK) {
            return;
        }
        request.userPIN = dialog.GetUserPIN();
        request.soPIN = dialog.GetSOPIN();
        request.clearCard = dialog.IsClearCardEnabled();
    }

    frame.Working(reinitialize ? _("Re-initializing token . . . Please do not remove card/token.")
                               : _("Initializing token . . . Please do not remove card/token."));
    const int slotIndex = frame.GetSlotIndex();
    SlotRecord& record = frame.Record();
    CK_SESSION_HANDLE& session = frame.Session();
    if (session != 0) {
        if (reinitialize && record.loggedIn) {
            // The sessions are closed next, which ends the login anyway.
            frame.Cryptoki().LogOut(session);
        }
        const CK_RV rv = frame.Cryptoki().CloseAllSessions(host.GetEnumeratedSlotId(slotIndex));
        if (rv != CKR_OK) {
            frame.Raise(GetResultMessage(rv, context));
            return;
        }
        session = 0;
        // Closing the sessions ended the login, whatever the worker's outcome.
        record.cachedPIN.Clear();
        record.loggedIn = false;
    }

    request.slotID = record.slot;
    request.enumeratedSlotID = host.GetEnumeratedSlotId(slotIndex);
    request.serialNumber = record.serialNumber;
    request.reinitialize = reinitialize;
    request.settings = InitTokenSettings::From(frame.Settings());

    const wxThreadError error
        = WindowWorker::Start(std::make_unique<MainInitializeTokenThread>(host.GetWindow(), frame.Cryptoki(),
            std::move(request), [&host, slotIndex](const InitTokenOutcome& outcome) {
                FinishInitialization(host, slotIndex, outcome);
            }));
    if (error != wxTHREAD_NO_ERROR) {
        frame.Raise(GetThreadErrorMessage(static_cast<int>(error), context));
        return;
    }
    frame.HandOver();
}
