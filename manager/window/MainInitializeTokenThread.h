// The worker that initializes or re-initializes a token, so the window stays
// responsive during the long card operation.
#pragma once

#include "manager/core/WindowWorker.h"
#include "pkcs11/pkcs11.h"

#include <wx/string.h>

class NRVCMUCryptoki;
class NRVCMUSettings;

// What the initialization record takes from the settings, read on the GUI
// thread before the worker starts.
struct InitTokenSettings {
    wxString tokenLabel;
    bool appendSerialNumber = false;
    long userPINErrorLimit = 0;
    long userPINMaxLength = 0;
    long userPINMinLength = 0;
    long soPINErrorLimit = 0;
    long soPINMaxLength = 0;
    long soPINMinLength = 0;
    long maxRSAKeyPairs = 0;

    static InitTokenSettings From(const NRVCMUSettings& settings);
};

// The worker's outcome: CKR_OK, or the failing code and the text to show.
struct InitTokenOutcome {
    CK_RV rv = CKR_OK;
    wxString statusText;
};

class MainInitializeTokenThread final : public WindowWorkerOf<InitTokenOutcome> {
public:
    struct Request {
        CK_SLOT_ID slotID = 0;
        // The slot ID from the last enumeration, for CloseAllSessions.
        CK_SLOT_ID enumeratedSlotID = 0;
        wxString serialNumber;
        wxString userPIN;
        wxString soPIN;
        bool reinitialize = false;
        bool clearCard = true;
        InitTokenSettings settings;
    };

    // Created on the GUI thread; the thread deletes itself when it ends.
    MainInitializeTokenThread(
        wxWindow* window, NRVCMUCryptoki& cryptoki, Request request, Completion completion);
    ~MainInitializeTokenThread() override;

    // The initialization itself, without threads: builds the record, calls
    // the module and closes sessions when the module asks for it.
    static InitTokenOutcome InitializeToken(NRVCMUCryptoki& cryptoki, const Request& request);

    // The most CKR_SESSION_EXISTS answers taken before giving up: sessions
    // held outside this process cannot be closed from here.
    static constexpr int kMaxSessionExistsRetries = 8;

private:
    InitTokenOutcome Work() override;

    NRVCMUCryptoki& m_cryptoki;
    Request m_request;
};
