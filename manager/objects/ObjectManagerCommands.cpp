#include "ObjectManagerCommands.h"

#include "DataObjectManagerDlg.h"
#include "SecretKeyManagerDlg.h"
#include "manager/core/ModalRunner.h"
#include "manager/host/TokenCommandFrame.h"

#include <wx/intl.h>

namespace {

template <typename Dialog>
void OpenManager(
    TokenActionHost& host, const wxArrayString& slotTexts, const wxString& loading, const wxString& closed)
{
    TokenCommandFrame frame(host);
    if (!frame.IsValid()) {
        return;
    }
    frame.Begin(loading);
    Dialog dialog(frame.Parent(), host, frame.GetSlotIndex(), slotTexts);
    if (ModalRunner::ShowDialog(dialog) == wxID_OK) {
        frame.Succeed(closed, false);
    }
    // Closed any other way (a slot change closed it): the frame ends the command.
}

} // namespace

void OpenDataObjectManager(TokenActionHost& host, const wxArrayString& slotTexts)
{
    OpenManager<DataObjectManagerDlg>(
        host, slotTexts, _("Loading Data Object Manager . . ."), _("Data Object Manager has been closed."));
}

void OpenSecretKeyManager(TokenActionHost& host, const wxArrayString& slotTexts)
{
    OpenManager<SecretKeyManagerDlg>(
        host, slotTexts, _("Loading Secret Key Manager . . ."), _("Secret Key Manager has been closed."));
}
