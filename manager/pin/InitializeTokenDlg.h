// Collects the User PIN and the SO PIN for initializing a token, each from
// the configured default, manual input or a random draw, and the clear-card
// option.
#pragma once

#include "PinDialogBase.h"
#include "PinDialogChecks.h"
#include "PinKind.h"
#include "PinPolicy.h"

class NRVCMUSettings;
class wxCheckBox;
class wxStaticBoxSizer;
class wxStaticText;
class InitializeTokenDefaultPINPnl;
class InitializeTokenManualInputPINPnl;
class InitializeTokenRandomPINPnl;

class InitializeTokenDlg final : public PinDialogBase {
public:
    enum {
        ID_GBX_MAIN = 1501,
        ID_LBE_NOTIFCATION0,
        ID_LBE_NOTIFCATION1,
        ID_LBE_SLOT_DESCRIPTION,
        ID_GBX_USER_PIN,
        ID_GBX_SO_PIN,
        ID_CHK_ENABLE_CLEAR_CARD,
        ID_LBE_ERROR_MESSAGE,
        ID_BTN_OK,
        ID_BTN_CANCEL,
    };

    // A caption other than "Initialize Token" (re-initialization) gives the
    // compact form without the two notices.
    InitializeTokenDlg(wxWindow* parent, const wxString& caption, const wxString& slotDescription,
        const NRVCMUSettings& settings);
    InitializeTokenDlg(wxWindow* parent, const wxString& caption, const wxString& slotDescription,
        const PinPolicy& userPolicy, const PinPolicy& soPolicy);
    ~InitializeTokenDlg() override;

    void SetErrorMessage(const wxString& text);
    wxString GetUserPIN() const { return m_userPin; }
    wxString GetSOPIN() const { return m_soPin; }
    bool IsClearCardEnabled() const { return m_clearCard; }

    // The panels of one kind, for callers that look inside (tests).
    InitializeTokenDefaultPINPnl* GetDefaultPanel(PinKind kind) const;
    InitializeTokenManualInputPINPnl* GetManualPanel(PinKind kind) const;
    InitializeTokenRandomPINPnl* GetRandomPanel(PinKind kind) const;

private:
    struct PinPanels {
        PinPolicy policy;
        InitializeTokenDefaultPINPnl* defaultPanel = nullptr;
        InitializeTokenManualInputPINPnl* manualPanel = nullptr;
        InitializeTokenRandomPINPnl* randomPanel = nullptr;
    };

    void CreatePanels(PinKind kind, wxStaticBoxSizer* group);
    const PinPanels& Panels(PinKind kind) const { return kind == PinKind::SO ? m_so : m_user; }
    // False when a manually entered PIN of the kind fails its checks.
    bool CheckManualPIN(PinKind kind);
    wxString ChosenPIN(PinKind kind) const;
    void OnOK(wxCommandEvent& event);
    void OnClearCard(wxCommandEvent& event);

    PinPanels m_user;
    PinPanels m_so;
    wxCheckBox* m_clearCardBox = nullptr;
    wxStaticText* m_errorLine = nullptr;
    wxString m_userPin;
    wxString m_soPin;
    bool m_clearCard = false;
};
