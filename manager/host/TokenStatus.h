// The status step of the main window without its widgets: what the module
// says about the token in one slot, the classification (absent, unsupported,
// not initialized, initialized by another application, ours), the status
// text and the rows of the information list.
#pragma once

#include "SlotRecord.h"
#include "pkcs11/pkcs11.h"

#include <chrono>
#include <utility>
#include <vector>
#include <wx/string.h>

class NRVCMUCryptoki;

// The token the status step showed last.
struct DisplayedToken {
    bool initialized = false;
    bool maxPinLengthValid = false;
    bool minPinLengthValid = false;
    // Both lengths valid and in order: the token was initialized by this manager.
    bool ours = false;
    wxString label;
    wxString manufacturer;
    wxString model;
    wxString serialNumber;
    wxString flags;
    wxString maxSessionCount;
    wxString sessionCount;
    wxString maxRwSessionCount;
    wxString rwSessionCount;
    wxString maxPinLength;
    wxString minPinLength;
    wxString totalPublicMemory;
    wxString freePublicMemory;
    wxString totalPrivateMemory;
    wxString freePrivateMemory;
    wxString hardwareVersion;
    wxString firmwareVersion;
    CK_ULONG maxPinLen = 0;
    CK_ULONG minPinLen = 0;
};

// Which token rows the information list carries.
enum class TokenRows {
    None, // no card, or the token information could not be read
    NotSupported,
    NotInitialized,
    Initialized,
};

struct TokenStatus {
    DisplayedToken token;
    TokenRows rows = TokenRows::None;
    wxString statusText;
    // The slot has no card: its session handle is dropped.
    bool noCard = false;
    // The module recognised the token; unset when it was never asked.
    bool supported = false;
};

// Fills the PIN-length flags and the ours flag of an initialized token. The
// 64-bit models take PINs of 4 to 8 characters; any other model up to 16.
void ClassifyToken(DisplayedToken& token);

// Asks IsTokenReady until it answers CKR_OK or timeout has passed; returns
// the module's last answer, so a token that never gets ready is reported
// rather than waited for.
CK_RV WaitForTokenReady(NRVCMUCryptoki& cryptoki, CK_SLOT_ID slot, std::chrono::milliseconds timeout);

// Runs the module side of the status step for one slot. The readiness wait
// gives up after readyTimeout so a token that never gets ready cannot hang
// the caller; the token information is then read (and reported) as it is.
TokenStatus ReadTokenStatus(NRVCMUCryptoki& cryptoki, CK_SLOT_ID slot, bool cardPresent,
    std::chrono::milliseconds readyTimeout = std::chrono::milliseconds(2000));

using InfoRow = std::pair<wxString, wxString>;

// The list's rows in order: the slot rows, then the token rows the status asks for.
std::vector<InfoRow> BuildInfoRows(const SlotRecord& record, const TokenStatus& status);
