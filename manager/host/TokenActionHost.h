// What the token commands need from the main window: the selected slot, its
// record and session, the status text, the actions' enabled state, polling
// and the status step. NRVCMUFrm implements it; tests may substitute it.
#pragma once

#include "SlotRecord.h"
#include "pkcs11/pkcs11.h"

#include <wx/string.h>

class NRVCMUCryptoki;
class NRVCMUSettings;
class wxWindow;

class TokenActionHost {
public:
    virtual ~TokenActionHost() = default;

    virtual wxWindow* GetWindow() = 0;
    virtual NRVCMUCryptoki& GetCryptoki() = 0;
    virtual NRVCMUSettings& GetSettings() = 0;

    // Position of the selected slot among the tree's children, or -1.
    virtual int GetSelectedSlot() const = 0;
    virtual SlotRecord& GetSlotRecord(int slotIndex) = 0;
    virtual CK_SESSION_HANDLE& GetSlotSession(int slotIndex) = 0;
    // The slot ID of the last full enumeration; only CloseAllSessions uses it.
    virtual CK_SLOT_ID GetEnumeratedSlotId(int slotIndex) const = 0;
    // Opens the slot's session (reopening after CKR_DEVICE_ERROR) and returns the last code.
    virtual CK_RV OpenSlotSession(int slotIndex) = 0;

    // Flags of the token the status step showed last.
    virtual bool IsDisplayedTokenInitialized() const = 0;
    virtual CK_ULONG GetDisplayedMaxPinLength() const = 0;
    virtual CK_ULONG GetDisplayedMinPinLength() const = 0;

    virtual void SetStatus(const wxString& text) = 0;
    virtual void UpdateActions(bool enable, const SlotRecord& record) = 0;
    virtual void ShowTokenInfo(int slotIndex) = 0;
    virtual void PausePolling() = 0;
    virtual void ResumePolling() = 0;
    // True while the poller rebuilds the slot list (or holds a pause): the
    // rebuild sets the actions itself when it is done.
    virtual bool IsBusy() const { return false; }
};
