#include "TokenCommandFrame.h"

#include "PinScrambler.h"
#include "TokenCommandRules.h"
#include "manager/core/NRVCMUCryptoki.h"
#include "manager/core/SecretString.h"

using TokenCommandRules::LoginStep;

TokenCommandFrame::TokenCommandFrame(TokenActionHost& host)
    : m_host(host)
{
    const int selected = host.GetSelectedSlot();
    if (selected >= 0 && static_cast<std::size_t>(selected) < kSlotTableSize
        && !host.GetSlotRecord(selected).IsFree()) {
        m_slotIndex = selected;
    }
}

TokenCommandFrame::~TokenCommandFrame()
{
    if (IsValid() && !m_finished) {
        Resume();
        EnableActionsForSelection();
    }
}

void TokenCommandFrame::EnableActionsForSelection()
{
    // A slot change while a dialog was open rebuilt the tree under the
    // command: the buttons follow what is selected now, which with no reader
    // left is nothing. A rebuild still under way sets them when it is done.
    if (m_host.IsBusy()) {
        return;
    }
    const int selected = m_host.GetSelectedSlot();
    if (selected < 0 || static_cast<std::size_t>(selected) >= kSlotTableSize) {
        m_host.UpdateActions(true, SlotRecord());
        return;
    }
    m_host.UpdateActions(true, m_host.GetSlotRecord(selected));
}

void TokenCommandFrame::Begin(const wxString& preparingText)
{
    if (!preparingText.empty()) {
        m_host.SetStatus(preparingText);
    }
    m_host.UpdateActions(false, Record());
}

void TokenCommandFrame::Pause()
{
    m_access.Acquire(m_host);
}

void TokenCommandFrame::Resume()
{
    m_access.End();
}

void TokenCommandFrame::Working(const wxString& workingText)
{
    m_host.SetStatus(workingText);
    Pause();
}

void TokenCommandFrame::Raise(const wxString& text)
{
    Resume();
    EnableActionsForSelection();
    m_host.SetStatus(text);
    m_finished = true;
}

void TokenCommandFrame::Succeed(const wxString& text, bool showToken)
{
    if (showToken) {
        m_host.ShowTokenInfo(m_slotIndex);
    }
    Resume();
    EnableActionsForSelection();
    m_host.SetStatus(text);
    m_finished = true;
}

CK_RV TokenCommandFrame::EnsureSession()
{
    if (Session() != 0) {
        return CKR_OK;
    }
    return m_host.OpenSlotSession(m_slotIndex);
}

CK_RV TokenCommandFrame::LogOutForLogin()
{
    const CK_RV rv = Cryptoki().LogOut(Session());
    if (rv == CKR_DEVICE_ERROR) {
        return m_host.OpenSlotSession(m_slotIndex);
    }
    return rv;
}

CK_RV TokenCommandFrame::LogInHandlingSession(CK_USER_TYPE userType, const wxString& pin)
{
    CK_RV rv = CKR_OK;
    for (int round = 0; round < kMaxAutomaticRetries; ++round) {
        rv = Cryptoki().LogIn(userType, Session(), pin);
        switch (TokenCommandRules::ClassifyLogin(rv)) {
        case LoginStep::ReopenSession: {
            const CK_RV reopen = m_host.OpenSlotSession(m_slotIndex);
            if (reopen != CKR_OK) {
                return reopen;
            }
            break;
        }
        case LoginStep::LogOutFirst: {
            const CK_RV logout = LogOutForLogin();
            if (logout != CKR_OK) {
                return logout;
            }
            break;
        }
        default:
            return rv;
        }
    }
    return rv;
}

CK_RV TokenCommandFrame::RestoreUserLogin()
{
    const SecretString pin = Record().cachedPIN.Reveal();
    CK_RV rv = Cryptoki().LogIn(CKU_USER, Session(), pin);
    if (rv == CKR_USER_ALREADY_LOGGED_IN || rv == CKR_USER_ANOTHER_ALREADY_LOGGED_IN) {
        rv = LogOutForLogin();
        if (rv == CKR_OK) {
            rv = Cryptoki().LogIn(CKU_USER, Session(), pin);
        }
    } else {
        // Any other first answer lets the command go on: the module reports
        // its own error at the next step if the login really is missing.
        rv = CKR_OK;
    }
    return rv;
}

TokenFacts TokenCommandFrame::ReadTokenFacts()
{
    TokenFacts facts;
    CK_TOKEN_INFO info {};
    // Paused only for the read, unless the command already holds the module.
    ModuleAccess reading;
    if (!m_access.IsHeld()) {
        reading.Acquire(m_host);
    }
    if (Cryptoki().GetTokenInfo(SlotId(), &info) == CKR_OK) {
        facts.valid = true;
        facts.label = TokenCommandRules::FixedFieldText(info.label, sizeof info.label);
        facts.model = TokenCommandRules::FixedFieldText(info.model, sizeof info.model);
        facts.maxPinLen = info.ulMaxPinLen;
        facts.minPinLen = info.ulMinPinLen;
    }
    return facts;
}
