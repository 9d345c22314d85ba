// "Actions", "Data Object Manager" and "Secret Key Manager" of the main
// window: each manager shown modally for the selected slot inside the token
// command frame. Their menu items are not shown; the commands are reached
// from code.
#pragma once

#include <wx/arrstr.h>

class TokenActionHost;

// slotTexts: the main window's slot list, one entry per slot.
void OpenDataObjectManager(TokenActionHost& host, const wxArrayString& slotTexts);
void OpenSecretKeyManager(TokenActionHost& host, const wxArrayString& slotTexts);
