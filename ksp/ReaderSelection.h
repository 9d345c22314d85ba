// Lets the user choose a smart-card reader for a provider being opened.
// What the dialog shows is decided here in plain code; CSelectCard only
// lays it out and reports the choice.
#pragma once

#include "ksp/DebugClass.h"
#include "pkcs11/pkcs11.h"
#include "platform/cng/Cng.h"

#include <string>
#include <vector>

// The readers to offer, or the one line saying why there are none:
// "SCardEstablishContext Failed: 0x%08X", "SCardListReaders Failed: 0x%08X"
// or "No cards/tokens were detected.".
bool ListReadersForSelection(
    CK_FUNCTION_LIST_PTR module, std::vector<std::u16string>& readers, std::string& failure);

// Shows CSelectCard with no parent. ERROR_SUCCESS with the chosen name (at
// most 1024 characters); SCARD_W_CANCELLED_BY_USER when the dialog ends any
// other way than "OK" or cannot be shown; NTE_FAIL, with failure set, when
// no reader list can be built.
SECURITY_STATUS SelectReader(
    CK_FUNCTION_LIST_PTR module, const DebugClass& log, std::u16string& reader, std::string& failure);
