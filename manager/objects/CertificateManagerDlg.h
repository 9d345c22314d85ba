// The certificate manager: the certificates and RSA keys of one token as a
// tree, with viewing (through the viewer library), export, import, deletion
// and the logon-default mark; the changes run in worker threads. Every token
// operation runs in one bracket: controls off, the main window's polling
// paused, the propagation agent paused, and all of it undone at the end.
#pragma once

#include "AgentPause.h"
#include "ButtonColumn.h"
#include "CertificateListing.h"
#include "CertificateManagerRules.h"
#include "CertificateOperations.h"
#include "CertificateThreads.h"
#include "MessageLine.h"
#include "manager/host/ModuleAccess.h"
#include "pkcs11/pkcs11.h"

#include <memory>
#include <wx/arrstr.h>
#include <wx/dialog.h>
#include <wx/treectrl.h>

class TokenActionHost;
class wxButton;
class wxChoice;

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

    // The operations, as the buttons run them. Import, Delete, DeleteAll and
    // SetAsDefault return once their worker has started; IsWorking() tells
    // when it has ended and its outcome is shown.
    void View();
    void Export();
    void Import();
    void Delete();
    void DeleteAll();
    void SetAsDefault();
    bool IsWorking() const { return m_workerBracket != nullptr; }

    // The file type an import uses: a known extension decides (GTK's chooser
    // keeps its filter out of sight), otherwise the chosen filter.
    static int ImportFileType(const wxString& path, int filterIndex);

private:
    class Bracket;
    // What is selected after a worker's refresh.
    enum class AfterWork { Keep, SelectLast, SelectAndDeselectLast };

    void CreateControls(const wxArrayString& slotTexts);
    void Load();
    CK_RV RefreshList();
    void ApplyButtons(const CertificateManagerRules::ButtonStates& states);
    void EnableControls(bool enable);
    CertificateManagerRules::Selection CurrentSelection() const;
    // The selected certificate's position in the table, or -1.
    int SelectedCertificate() const;
    bool HasSelection() const;
    // The selected item's entry among the root's items, or null.
    const CertificateTreeItem* SelectedRootItem() const;
    void ShowTables();
    bool Confirm(const wxString& title, const wxString& text);
    void StartWorker(std::unique_ptr<Bracket> bracket, std::unique_ptr<CertificateWorkerThread> thread,
        const wxString& failed, AfterWork after);
    void ApplyOutcome(const CertificateOperations::Outcome& outcome);
    CertificateWorkerThread::Link MakeLink();
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
    // The root's items as last shown, in order.
    std::vector<CertificateTreeItem> m_items;
    // Held while a worker runs; its end restores the window.
    std::unique_ptr<Bracket> m_workerBracket;
    AfterWork m_afterWork = AfterWork::Keep;
    AgentPause m_agent;
    bool m_lastSelectedCertificate = false;
    ModuleAccess m_access;
    bool m_shownModal = false;

    wxChoice* m_slots = nullptr;
    wxTreeCtrl* m_tree = nullptr;
    wxTreeItemId m_root;
    MessageLine* m_message = nullptr;
    ButtonColumn m_buttons;
};
