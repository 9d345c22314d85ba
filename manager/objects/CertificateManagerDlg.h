// The certificate manager: the certificates and RSA keys of one token as a
// tree, with viewing (through the viewer library) and export. Every token
// operation runs in one bracket: controls off, the main window's polling
// paused, the propagation agent paused, and all of it undone at the end.
#pragma once

#include "AgentPause.h"
#include "CertificateListing.h"
#include "CertificateManagerRules.h"
#include "pkcs11/pkcs11.h"

#include <wx/arrstr.h>
#include <wx/dialog.h>
#include <wx/treectrl.h>

class TokenActionHost;
class wxButton;
class wxChoice;
class wxStaticText;

class CertificateManagerDlg final : public wxDialog {
public:
    enum {
        ID_CBX_SLOT_LIST = 1601,
        ID_TREE_ITEMS,
        ID_BTN_VIEW,
        ID_BTN_EXPORT,
        ID_BTN_IMPORT,
        ID_BTN_DELETE,
        ID_BTN_DELETE_ALL,
        ID_BTN_SET_AS_DEFAULT,
        ID_LBE_MESSAGE,
    };
    static constexpr int kImageCertificate = 0;
    static constexpr int kImageKey = 1;

    // slotTexts: the main window's slot list, one entry per slot; slotIndex
    // selects the slot the window works on.
    CertificateManagerDlg(
        wxWindow* parent, TokenActionHost& host, int slotIndex, const wxArrayString& slotTexts);
    ~CertificateManagerDlg() override;
    // Remembers that the window was shown modally, for the destructor's log line.
    int ShowModal() override;

    // The viewer library to load; by default "Certlens.so" beside the program.
    static void SetViewerLibraryPath(const wxString& path);

    // What tests read back.
    wxString GetMessage() const;
    wxTreeCtrl* GetTree() const { return m_tree; }
    wxButton* GetButton(int id) const;
    const CertificateTables& GetTables() const { return m_tables; }
    CK_SESSION_HANDLE GetSession() const { return m_session; }
    const AgentPause& GetAgent() const { return m_agent; }

    // The operations, as the buttons run them.
    void View();
    void Export();

private:
    class Bracket;

    void CreateControls(const wxArrayString& slotTexts);
    void Load();
    CK_RV RefreshList();
    void ApplyButtons(const CertificateManagerRules::ButtonStates& states);
    void EnableControls(bool enable);
    CertificateManagerRules::Selection CurrentSelection() const;
    // The selected certificate's position in the table, or -1.
    int SelectedCertificate() const;
    CK_RV ReadCertificateValue(CK_OBJECT_HANDLE object, std::vector<uint8_t>& value);
    CK_RV LogInAgain();
    void CloseMainSession();
    void SetMessage(const wxString& text);
    void CloseWindow();

    void OnInitDialog(wxInitDialogEvent& event);
    void OnSelectionChanged(wxTreeEvent& event);
    void OnClose(wxCloseEvent& event);

    TokenActionHost& m_host;
    const int m_slotIndex;
    CK_SESSION_HANDLE m_session = CK_INVALID_HANDLE;
    CertificateTables m_tables;
    AgentPause m_agent;
    bool m_lastSelectedCertificate = false;
    bool m_paused = false;
    bool m_shownModal = false;

    wxChoice* m_slots = nullptr;
    wxTreeCtrl* m_tree = nullptr;
    wxTreeItemId m_root;
    wxStaticText* m_message = nullptr;
    std::vector<wxButton*> m_buttons;
};
