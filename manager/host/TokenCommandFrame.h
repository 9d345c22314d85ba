// The frame every token command runs in: the selected slot, the status texts,
// the actions switched off while the command runs and polling paused around
// module calls. Whatever way a command ends, the frame resumes polling and
// switches the actions back on for the slot.
#pragma once

#include "ModuleAccess.h"
#include "SlotRecord.h"
#include "TokenActionHost.h"
#include "pkcs11/pkcs11.h"

#include <wx/string.h>

class NRVCMUCryptoki;
class NRVCMUSettings;

// Label and model of the token in the slot, read when a dialog needs them.
struct TokenFacts {
    bool valid = false;
    wxString label;
    wxString model;
    CK_ULONG maxPinLen = 0;
    CK_ULONG minPinLen = 0;
};

class TokenCommandFrame final {
public:
    // Takes the selected slot; IsValid() is false when none is selected.
    explicit TokenCommandFrame(TokenActionHost& host);
    // Ends an unfinished command: resumes polling and enables the actions.
    ~TokenCommandFrame();
    TokenCommandFrame(const TokenCommandFrame&) = delete;
    TokenCommandFrame& operator=(const TokenCommandFrame&) = delete;

    bool IsValid() const { return m_slotIndex >= 0; }
    int GetSlotIndex() const { return m_slotIndex; }
    SlotRecord& Record() { return m_host.GetSlotRecord(m_slotIndex); }
    CK_SESSION_HANDLE& Session() { return m_host.GetSlotSession(m_slotIndex); }
    CK_SLOT_ID SlotId() { return Record().slot; }
    TokenActionHost& Host() { return m_host; }
    NRVCMUCryptoki& Cryptoki() { return m_host.GetCryptoki(); }
    NRVCMUSettings& Settings() { return m_host.GetSettings(); }
    wxWindow* Parent() { return m_host.GetWindow(); }

    // Sets the preparing text (when there is one) and disables the actions.
    void Begin(const wxString& preparingText);
    void SetStatus(const wxString& text) { m_host.SetStatus(text); }
    void Pause();
    void Resume();
    // Pauses polling and sets the working text.
    void Working(const wxString& workingText);

    // Ends the command with a failure or cancel text.
    void Raise(const wxString& text);
    // Ends the command successfully; showToken runs the status step first.
    void Succeed(const wxString& text, bool showToken);
    // The command carries on elsewhere (the initialization worker) and ends there.
    void HandOver()
    {
        m_access.HandOver();
        m_finished = true;
    }

    // Opens the slot's session when it has none.
    CK_RV EnsureSession();
    // Logs in on the slot's session, reopening an invalid session and logging
    // out a user already logged in; returns the first result that needs the
    // caller (success, a PIN result or a failure).
    CK_RV LogInHandlingSession(CK_USER_TYPE userType, const wxString& pin);
    // Logs the User in again with the cached PIN.
    CK_RV RestoreUserLogin();

    // Reads label, model and PIN limits of the token, with polling paused.
    TokenFacts ReadTokenFacts();

    // A command that loops on the module (session reopened, user logged out)
    // gives up after this many rounds instead of spinning.
    static constexpr int kMaxAutomaticRetries = 8;

private:
    CK_RV LogOutForLogin();
    void EnableActionsForSelection();

    TokenActionHost& m_host;
    int m_slotIndex = -1;
    ModuleAccess m_access;
    bool m_finished = false;
};
