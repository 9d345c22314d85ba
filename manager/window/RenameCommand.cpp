#include "RenameCommand.h"

#include "manager/core/CryptokiResultText.h"
#include "manager/core/ModalRunner.h"
#include "manager/core/NRVCMUCryptoki.h"
#include "manager/host/TokenCommandFrame.h"
#include "manager/pin/RenameTokenDlg.h"

#include <wx/intl.h>

void RenameCommand::Run(TokenActionHost& host)
{
    TokenCommandFrame frame(host);
    if (!frame.IsValid()) {
        return;
    }
    const wxString context = _("Failed to rename token.");
    frame.Begin(_("Preparing to rename token . . ."));
    const wxString label = frame.ReadTokenFacts().label;

    wxString newLabel;
    {
        RenameTokenDlg dialog(frame.Parent(), label);
        const int result = ModalRunner::ShowDialog(dialog);
        if (result == wxID_NO) {
            frame.Raise(_("Token has not been renamed because the operation was cancelled."));
        }
        if (result != wxID_OK) {
            return;
        }
        newLabel = dialog.GetNewLabel();
    }

    frame.Working(_("Renaming token . . ."));
    // A token seen again after re-enumeration keeps its login mark but has no
    // session; without one the login cannot be restored.
    CK_RV rv = frame.EnsureSession();
    if (rv == CKR_OK) {
        rv = frame.RestoreUserLogin();
    }
    if (rv != CKR_OK) {
        frame.Raise(GetResultMessage(rv, context));
        return;
    }
    rv = frame.Cryptoki().ChangeTokenName(frame.Session(), newLabel);
    if (rv != CKR_OK) {
        frame.Raise(GetResultMessage(rv, context));
        return;
    }
    frame.Succeed(_("Token has been renamed successfully."), true);
}
