#include "CertificateManagerCommand.h"

#include "CertificateManagerDlg.h"
#include "manager/core/ModalRunner.h"
#include "manager/host/TokenCommandFrame.h"

#include <wx/intl.h>

void OpenCertificateManager(TokenActionHost& host, const wxArrayString& slotTexts)
{
    TokenCommandFrame frame(host);
    if (!frame.IsValid()) {
        return;
    }
    frame.Begin(_("Loading Certificate Manager . . ."));
    CertificateManagerDlg dialog(frame.Parent(), host, frame.GetSlotIndex(), slotTexts);
    if (ModalRunner::ShowDialog(dialog) == wxID_OK) {
        frame.Succeed(_("Certificate Manager has been closed."), false);
    }
    // Closed any other way (a slot change closed it): the frame ends the command.
}
