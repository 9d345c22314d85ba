// "Actions", "Certificate Manager" of the main window: the certificate
// manager shown modally for the selected slot inside the token command frame.
#pragma once

#include <wx/arrstr.h>

class TokenActionHost;

// slotTexts: the main window's slot list, one entry per slot.
void OpenCertificateManager(TokenActionHost& host, const wxArrayString& slotTexts);
