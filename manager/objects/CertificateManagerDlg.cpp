#include "CertificateManagerDlg.h"

#include "certlens/Certlens.h"
#include "manager/core/CryptokiResultText.h"
#include "manager/core/DialogIdentity.h"
#include "manager/core/ModalRunner.h"
#include "manager/core/NRVCMUCryptoki.h"
#include "manager/core/NRVCMULog.h"
#include "manager/core/NRVCMUSettings.h"
#include "manager/core/SecretString.h"
#include "manager/core/WindowWorker.h"
#include "manager/host/TokenActionHost.h"
#include "manager/pin/LogInDlg.h"
#include "manager/pin/MessageBoxDlg.h"
#include "manager/pin/PinKind.h"
#include "manager/res/EmbeddedImages.h"
#include "platform/files/AtomicFile.h"

#include <algorithm>
#include <wx/button.h>
#include <wx/choice.h>
#include <wx/dynlib.h>
#include <wx/file.h>
#include <wx/filedlg.h>
#include <wx/filename.h>
#include <wx/imaglist.h>
#include <wx/intl.h>
#include <wx/sizer.h>
#include <wx/statbox.h>
#include <wx/stattext.h>
#include <wx/stdpaths.h>

using namespace vela5::platform;

namespace {

wxString g_viewerLibraryPath;

wxString ViewerLibraryPath()
{
    if (!g_viewerLibraryPath.empty()) {
        return g_viewerLibraryPath;
    }
    // Beside the program first, as the module is found; dlopen by plain name
    // would search the toolkit library's RUNPATH, not the program's.
    const wxFileName beside(wxFileName(wxStandardPaths::Get().GetExecutablePath()).GetPath(), "Certlens.so");
    return beside.FileExists() ? beside.GetFullPath() : wxString("Certlens.so");
}

} // namespace

// One token operation: controls off, polling and the agent paused; the
// destructor restores all of it, whatever way the operation ends.
class CertificateManagerDlg::Bracket final {
public:
    explicit Bracket(CertificateManagerDlg& dialog)
        : m_dialog(dialog)
    {
        m_dialog.EnableControls(false);
        m_dialog.m_access.Acquire(m_dialog.m_host);
        m_dialog.m_agent.Pause(m_dialog.m_host.GetSettings().IsInstallCertificate());
    }
    ~Bracket()
    {
        m_dialog.m_agent.Continue(m_dialog.m_host.GetSettings().IsInstallCertificate());
        m_dialog.ApplyButtons(CertificateManagerRules::AfterOperation(m_dialog.CurrentSelection(),
            m_dialog.m_lastSelectedCertificate, m_dialog.m_tables.certificates.size(),
            m_dialog.m_tables.privateKeys.size() + m_dialog.m_tables.publicKeys.size()));
        m_dialog.Enable(true);
        m_dialog.m_access.End();
    }
    Bracket(const Bracket&) = delete;
    Bracket& operator=(const Bracket&) = delete;

private:
    CertificateManagerDlg& m_dialog;
};

void CertificateManagerDlg::SetViewerLibraryPath(const wxString& path)
{
    g_viewerLibraryPath = path;
}

CertificateManagerDlg::CertificateManagerDlg(
    wxWindow* parent, TokenActionHost& host, int slotIndex, const wxArrayString& slotTexts)
    : wxDialog(parent, DialogIdentity::ID_DLG_CERTIFICATE_MANAGER,
        wxString::Format(_("Pavix Manager - %s"), _("Certificate Manager")), wxDefaultPosition, wxDefaultSize,
        wxDEFAULT_DIALOG_STYLE | wxRESIZE_BORDER,
        DialogIdentity::NameOf(DialogIdentity::ID_DLG_CERTIFICATE_MANAGER))
    , m_host(host)
    , m_slotIndex(slotIndex)
{
    CreateControls(slotTexts);
    Bind(wxEVT_INIT_DIALOG, &CertificateManagerDlg::OnInitDialog, this);
    Bind(wxEVT_CLOSE_WINDOW, &CertificateManagerDlg::OnClose, this);
    // Escape closes the window the way the close box does.
    Bind(
        wxEVT_BUTTON, [this](wxCommandEvent&) { CloseWindow(); }, wxID_CANCEL);
    Bind(
        wxEVT_BUTTON, [this](wxCommandEvent&) { View(); }, ID_BTN_VIEW);
    Bind(
        wxEVT_BUTTON, [this](wxCommandEvent&) { Export(); }, ID_BTN_EXPORT);
    Bind(
        wxEVT_BUTTON, [this](wxCommandEvent&) { Import(); }, ID_BTN_IMPORT);
    Bind(
        wxEVT_BUTTON, [this](wxCommandEvent&) { Delete(); }, ID_BTN_DELETE);
    Bind(
        wxEVT_BUTTON, [this](wxCommandEvent&) { DeleteAll(); }, ID_BTN_DELETE_ALL);
    Bind(
        wxEVT_BUTTON, [this](wxCommandEvent&) { SetAsDefault(); }, ID_BTN_SET_AS_DEFAULT);
    m_tree->Bind(wxEVT_TREE_SEL_CHANGED, &CertificateManagerDlg::OnSelectionChanged, this);
}

CertificateManagerDlg::~CertificateManagerDlg()
{
    NRVCMULog& log = NRVCMULog::Get();
    log.WriteLine("CertificateManagerDlg::~CertificateManagerDlg()");
    log.WriteLine(m_shownModal ? "\t>> EndModal()" : "\t>> Destroy()");
    // A worker still using the session ends first; its posted outcome then
    // finds the window gone and is dropped.
    WindowWorker::WaitUntilAllEnded();
    m_workerBracket.reset();
    // Closed from outside (the poller on a slot change): the session still goes.
    if (m_session != CK_INVALID_HANDLE) {
        m_host.GetCryptoki().CloseSession(m_session);
        m_session = CK_INVALID_HANDLE;
    }
    m_access.End();
}

int CertificateManagerDlg::ShowModal()
{
    m_shownModal = true;
    return wxDialog::ShowModal();
}

void CertificateManagerDlg::CreateControls(const wxArrayString& slotTexts)
{
    auto* top = new wxBoxSizer(wxVERTICAL);
    m_slots = new wxChoice(this, ID_CBX_SLOT_LIST, wxDefaultPosition, wxDefaultSize, slotTexts);
    if (m_slotIndex >= 0 && static_cast<size_t>(m_slotIndex) < slotTexts.size()) {
        m_slots->SetSelection(m_slotIndex);
    }
    m_slots->Disable();
    top->Add(m_slots, 0, wxEXPAND | wxALL, 8);

    auto* row = new wxBoxSizer(wxHORIZONTAL);
    auto* items = new wxStaticBoxSizer(wxVERTICAL, this, _("Items"));
    m_tree = new wxTreeCtrl(items->GetStaticBox(), ID_TREE_ITEMS, wxDefaultPosition, wxSize(420, 260),
        wxTR_HAS_BUTTONS | wxTR_LINES_AT_ROOT | wxTR_HIDE_ROOT | wxTR_SINGLE);
    auto* images = new wxImageList(16, 16, true, 2);
    for (const char* name : { "Image4", "Image5" }) {
        const wxBitmap bitmap = LoadEmbeddedBitmap(name);
        images->Add(bitmap.IsOk() ? bitmap : wxBitmap(16, 16));
    }
    m_tree->AssignImageList(images);
    m_root = m_tree->AddRoot("Root");
    items->Add(m_tree, 1, wxEXPAND | wxALL, 4);
    row->Add(items, 1, wxEXPAND | wxLEFT | wxRIGHT, 8);

    // One column of equal buttons, as wide as the longest label needs: a
    // longer translation ("Set as Default" in Spanish) widens them all.
    const std::vector<ButtonColumn::Entry> buttons = {
        { ID_BTN_VIEW, _("View") },
        { ID_BTN_EXPORT, _("Export") },
        { ID_BTN_IMPORT, _("Import") },
        { ID_BTN_DELETE, _("Delete") },
        { ID_BTN_DELETE_ALL, _("Delete All") },
        { ID_BTN_SET_AS_DEFAULT, _("Set as Default") },
    };
    row->Add(m_buttons.Create(this, buttons), 0, wxRIGHT, 8);
    top->Add(row, 1, wxEXPAND);

    m_message = new MessageLine(this, ID_LBE_MESSAGE);
    top->Add(m_message, 0, wxEXPAND | wxALL, 8);
    SetSizerAndFit(top);
    SetMinSize(GetSize());
    ApplyButtons({});
}

wxButton* CertificateManagerDlg::GetButton(int id) const
{
    return m_buttons.Get(id);
}

wxString CertificateManagerDlg::GetMessage() const
{
    return m_message->GetMessage();
}

void CertificateManagerDlg::SetMessage(const wxString& text)
{
    m_message->SetMessage(text);
}

void CertificateManagerDlg::ApplyButtons(const CertificateManagerRules::ButtonStates& states)
{
    m_tree->Enable(states.tree);
    GetButton(ID_BTN_VIEW)->Enable(states.view);
    GetButton(ID_BTN_EXPORT)->Enable(states.exportCertificate);
    GetButton(ID_BTN_IMPORT)->Enable(states.import);
    GetButton(ID_BTN_DELETE)->Enable(states.remove);
    GetButton(ID_BTN_DELETE_ALL)->Enable(states.removeAll);
    GetButton(ID_BTN_SET_AS_DEFAULT)->Enable(states.setAsDefault);
}

void CertificateManagerDlg::EnableControls(bool enable)
{
    m_tree->Enable(enable);
    m_buttons.Enable(enable);
}

void CertificateManagerDlg::OnInitDialog(wxInitDialogEvent& event)
{
    event.Skip();
    Load();
}

void CertificateManagerDlg::Load()
{
    const Bracket bracket(*this);
    const wxString slotText = m_slots->GetStringSelection();
    if (slotText.Contains(_("No Card Present"))) {
        SetMessage(_("There is no token present in the slot."));
        return;
    }
    SetMessage(_("Searching for certificates . . ."));
    NRVCMUCryptoki& cryptoki = m_host.GetCryptoki();
    const CK_SLOT_ID slot = m_host.GetSlotRecord(m_slotIndex).slot;
    CK_RV rv = cryptoki.RefreshBeforeListing(slot);
    if (rv == CKR_OK) {
        rv = cryptoki.OpenSession(slot, &m_session);
    }
    if (rv == CKR_OK) {
        rv = RefreshList();
    }
    if (rv != CKR_OK) {
        SetMessage(GetResultMessage(rv, _("Failed to load certificates.")));
        return;
    }
    wxTreeItemIdValue cookie;
    const wxTreeItemId first = m_tree->GetFirstChild(m_root, cookie);
    if (first.IsOk()) {
        m_tree->SelectItem(first);
    }
    SetMessage(CertificateManagerRules::CountMessage(
        m_tables.certificates.size(), m_tables.privateKeys.size() + m_tables.publicKeys.size()));
    m_host.SetStatus(_("Certificate Manager is currently active . . ."));
}

CK_RV CertificateManagerDlg::RefreshList()
{
    m_tables.Reset();
    m_tree->DeleteChildren(m_root);
    NRVCMUCryptoki& cryptoki = m_host.GetCryptoki();
    CK_RV rv = cryptoki.RefreshBeforeListing(m_host.GetSlotRecord(m_slotIndex).slot);
    if (rv != CKR_OK) {
        return rv;
    }
    rv = ListAll(cryptoki, m_session, m_tables);
    ShowTables();
    return rv;
}

void CertificateManagerDlg::ShowTables()
{
    m_tree->DeleteChildren(m_root);
    m_items = BuildCertificateTree(m_tables);
    for (const CertificateTreeItem& item : m_items) {
        const bool certificate = item.kind == CertificateTreeItem::Kind::Certificate;
        const wxTreeItemId added
            = m_tree->AppendItem(m_root, item.label, certificate ? kImageCertificate : kImageKey);
        for (const wxString& child : item.children) {
            m_tree->AppendItem(added, child);
        }
    }
    m_tree->ExpandAll();
}

bool CertificateManagerDlg::HasSelection() const
{
    // The tree keeps its current item after a deselection, and selects its
    // hidden root on its own once it is empty: neither is a selection.
    const wxTreeItemId selected = m_tree->GetSelection();
    return selected.IsOk() && selected != m_root && m_tree->IsSelected(selected);
}

const CertificateTreeItem* CertificateManagerDlg::SelectedRootItem() const
{
    const wxTreeItemId selected = m_tree->GetSelection();
    if (!HasSelection() || m_tree->GetItemParent(selected) != m_root) {
        return nullptr;
    }
    size_t position = 0;
    wxTreeItemIdValue cookie;
    for (wxTreeItemId item = m_tree->GetFirstChild(m_root, cookie); item.IsOk();
         item = m_tree->GetNextChild(m_root, cookie), ++position) {
        if (item == selected) {
            return position < m_items.size() ? &m_items[position] : nullptr;
        }
    }
    return nullptr;
}

int CertificateManagerDlg::SelectedCertificate() const
{
    const wxTreeItemId selected = m_tree->GetSelection();
    if (!HasSelection() || m_tree->GetItemParent(selected) != m_root
        || m_tree->GetItemImage(selected) != kImageCertificate) {
        return -1;
    }
    int position = 0;
    wxTreeItemIdValue cookie;
    for (wxTreeItemId item = m_tree->GetFirstChild(m_root, cookie); item.IsOk();
         item = m_tree->GetNextChild(m_root, cookie), ++position) {
        if (item == selected) {
            return position < static_cast<int>(m_tables.certificates.size()) ? position : -1;
        }
    }
    return -1;
}

CertificateManagerRules::Selection CertificateManagerDlg::CurrentSelection() const
{
    CertificateManagerRules::Selection selection;
    const wxTreeItemId selected = m_tree->GetSelection();
    if (!HasSelection()) {
        return selection;
    }
    const int certificate = SelectedCertificate();
    if (certificate >= 0) {
        const CertificateEntry& entry = m_tables.certificates[static_cast<size_t>(certificate)];
        selection.isCertificate = true;
        selection.hasBothKeys = entry.hasPrivateKey && entry.hasPublicKey;
        selection.isDefault = entry.logonDefault == 1;
    } else {
        selection.isRootKey = m_tree->GetItemParent(selected) == m_root;
    }
    return selection;
}

void CertificateManagerDlg::OnSelectionChanged(wxTreeEvent& event)
{
    event.Skip();
    // A worker's end sets the buttons itself; and a change that leaves
    // nothing selected (the item deleted or deselected) follows the counts,
    // not a selection that is gone.
    if (IsWorking()) {
        return;
    }
    if (!HasSelection()) {
        ApplyButtons(CertificateManagerRules::AfterOperation({}, m_lastSelectedCertificate,
            m_tables.certificates.size(), m_tables.privateKeys.size() + m_tables.publicKeys.size()));
        return;
    }
    const CertificateManagerRules::Selection selection = CurrentSelection();
    m_lastSelectedCertificate = selection.isCertificate;
    ApplyButtons(CertificateManagerRules::ForSelection(selection));
}

CK_RV CertificateManagerDlg::ReadCertificateValue(CK_OBJECT_HANDLE object, std::vector<uint8_t>& value)
{
    std::vector<std::vector<uint8_t>> values;
    const CK_RV rv = m_host.GetCryptoki().GetAttributeBytes(m_session, object, { CKA_VALUE }, values);
    value = std::move(values[0]);
    return rv;
}

void CertificateManagerDlg::CloseMainSession()
{
    SlotRecord& record = m_host.GetSlotRecord(m_slotIndex);
    record.loggedIn = false;
    record.cachedPIN.Clear();
    CK_SESSION_HANDLE& mainSession = m_host.GetSlotSession(m_slotIndex);
    if (mainSession != 0) {
        m_host.GetCryptoki().CloseSession(mainSession);
    }
    mainSession = 0;
}

CK_RV CertificateManagerDlg::LogInAgain()
{
    SlotRecord& record = m_host.GetSlotRecord(m_slotIndex);
    // Without a User login in the main window there is no PIN to restore,
    // and a login with an empty one would only count a wrong attempt.
    if (!record.loggedIn) {
        return CKR_OK;
    }
    NRVCMUCryptoki& cryptoki = m_host.GetCryptoki();
    const SecretString pin = record.cachedPIN.Reveal();
    CK_RV rv = cryptoki.LogIn(CKU_USER, m_session, pin);
    if (rv == CKR_USER_ALREADY_LOGGED_IN) {
        rv = cryptoki.LogOut(m_session);
        if (rv == CKR_DEVICE_ERROR) {
            CloseMainSession();
            rv = CKR_OK;
        } else if (rv == CKR_OK) {
            rv = cryptoki.LogIn(CKU_USER, m_session, pin);
        }
    }
    return rv;
}

void CertificateManagerDlg::View()
{
    const int certificate = SelectedCertificate();
    if (certificate < 0) {
        SetMessage(_("Please select a certificate to be viewed."));
        return;
    }
    const Bracket bracket(*this);
    const wxString failed = _("Failed to load certificate details.");
    SetMessage(_("Loading certificate details . . ."));
    std::vector<uint8_t> value;
    const CK_RV rv
        = ReadCertificateValue(m_tables.certificates[static_cast<size_t>(certificate)].handle, value);
    if (rv != CKR_OK) {
        SetMessage(GetResultMessage(rv, failed));
        return;
    }
    unsigned long result = 0;
    {
        wxDynamicLibrary viewer(ViewerLibraryPath(), wxDL_NOW | wxDL_VERBATIM | wxDL_QUIET);
        auto getFunctionList = viewer.IsLoaded()
            ? reinterpret_cast<CERTLENS_GET_FUNCTION_LIST>(viewer.GetSymbol("GetFunctionList"))
            : nullptr;
        CERTLENS_FUNCTION_LIST functions {};
        if (getFunctionList == nullptr || getFunctionList(&functions) != 0 || functions.IsReady == nullptr
            || functions.ViewCertificate == nullptr) {
            SetMessage(GetResultMessage(CKR_GENERAL_ERROR, failed));
            return;
        }
        if (functions.IsReady() != 0) {
            SetMessage(GetResultMessage(CKR_GENERAL_ERROR, failed));
            return;
        }
        SetMessage(_("Certificate Details window is currently active."));
        result = functions.ViewCertificate(1, value.data(), static_cast<unsigned long>(value.size()));
    }
    if (result == 0 || result == CERTLENS_RESULT_CANCELLED) {
        SetMessage(_("Certificate Details window has been closed."));
    } else {
        SetMessage(AppendErrorCode(failed, result, "CryptUIDlgViewCertificate"));
    }
    NRVCMUCryptoki& cryptoki = m_host.GetCryptoki();
    const CK_RV logout = cryptoki.LogOut(m_session);
    if (logout == CKR_DEVICE_ERROR) {
        CloseMainSession();
    } else if (logout == CKR_OK && m_host.GetSlotRecord(m_slotIndex).loggedIn) {
        const SecretString pin = m_host.GetSlotRecord(m_slotIndex).cachedPIN.Reveal();
        const CK_RV login = cryptoki.LogIn(CKU_USER, m_session, pin);
        if (login != CKR_OK) {
            SetMessage(GetResultMessage(login, failed));
        }
    }
}

void CertificateManagerDlg::Export()
{
    const int certificate = SelectedCertificate();
    if (certificate < 0) {
        SetMessage(_("Please select a certificate to be exported."));
        return;
    }
    const Bracket bracket(*this);
    const wxString failed = _("Failed to export the certificate.");
    SetMessage(_("Preparing to export the certificate . . ."));
    const CertificateEntry& entry = m_tables.certificates[static_cast<size_t>(certificate)];
    wxFileDialog save(this, _("Export Certificate"), wxString(),
        CertificateManagerRules::ExportFileName(entry.subjectName), _("Certificate Files (*.cer)|*.cer"),
        wxFD_SAVE | wxFD_OVERWRITE_PROMPT);
    wxString path;
    const int answer = ModalRunner::ShowFileDialog(save, path);
    CK_RV rv = LogInAgain();
    if (rv != CKR_OK) {
        SetMessage(GetResultMessage(rv, failed));
        return;
    }
    if (answer != wxID_OK) {
        SetMessage(_("Certificate has not been exported because the operation was cancelled."));
        return;
    }
    SetMessage(_("Exporting the certificate . . ."));
    std::vector<uint8_t> value;
    rv = ReadCertificateValue(entry.handle, value);
    if (rv != CKR_OK) {
        SetMessage(GetResultMessage(rv, failed));
        return;
    }
    if (!Files::WriteAtomically(
            std::filesystem::path(path.utf8_string()), value.data(), value.size(), 0644)) {
        SetMessage(GetResultMessage(CKR_GENERAL_ERROR, failed));
        return;
    }
    const wxString done = _("Certificate has been exported successfully.");
    SetMessage(done);
    // TRANSLATORS: the outcome, then the label and the exported file's path
    ModalRunner::ShowMessage(
        wxString::Format(_("%s\n%s %s"), done, _("Complete path to exported certificate:"), path),
        _("Export Certificate"), wxOK | wxICON_INFORMATION, this);
}

void CertificateManagerDlg::CloseWindow()
{
    // The window is disabled while a worker runs; a close that still
    // arrives waits for the outcome rather than pulling the session away.
    if (IsWorking()) {
        return;
    }
    if (m_session != CK_INVALID_HANDLE) {
        m_host.GetCryptoki().CloseSession(m_session);
        m_session = CK_INVALID_HANDLE;
    }
    m_agent.Continue(m_host.GetSettings().IsInstallCertificate());
    if (IsModal()) {
        EndModal(wxID_OK);
    } else {
        Destroy();
    }
}

void CertificateManagerDlg::OnClose(wxCloseEvent& event)
{
    if (IsWorking()) {
        if (event.CanVeto()) {
            event.Veto();
            return;
        }
        WindowWorker::WaitUntilAllEnded();
        m_workerBracket.reset();
    }
    CloseWindow();
}

int CertificateManagerDlg::ImportFileType(const wxString& path, int filterIndex)
{
    using namespace CertificateOperations;
    const wxString extension = wxFileName(path).GetExt().Lower();
    const std::pair<const char*, int> known[] = {
        { "pfx", kPfx },
        { "p12", kP12 },
        { "cer", kCer },
        { "p7b", kP7b },
        { "p7c", kP7c },
    };
    for (const auto& [name, type] : known) {
        if (extension == name) {
            return type;
        }
    }
    return filterIndex >= kPfx && filterIndex <= kP7c ? filterIndex : kCer;
}

bool CertificateManagerDlg::Confirm(const wxString& title, const wxString& text)
{
    // TRANSLATORS: what the action does, then the question whether to go on
    MessageBoxDlg box(
        this, title, wxString::Format(_("%s\n%s"), text, _("Do you still want to continue?")), true);
    return ModalRunner::ShowDialog(box) == wxID_OK;
}

void CertificateManagerDlg::StartWorker(std::unique_ptr<Bracket> bracket,
    std::unique_ptr<CertificateWorkerThread> thread, const wxString& failed, AfterWork after)
{
    Enable(false);
    m_workerBracket = std::move(bracket);
    m_afterWork = after;
    const wxThreadError error = WindowWorker::Start(std::move(thread));
    if (error != wxTHREAD_NO_ERROR) {
        SetMessage(GetThreadErrorMessage(static_cast<int>(error), failed));
        m_workerBracket.reset();
    }
}

void CertificateManagerDlg::ApplyOutcome(const CertificateOperations::Outcome& outcome)
{
    if (outcome.listed || outcome.cleared) {
        m_tables = outcome.listed ? outcome.tables : CertificateTables();
        ShowTables();
        if (outcome.succeeded && m_afterWork != AfterWork::Keep) {
            const wxTreeItemId last = m_tree->GetLastChild(m_root);
            if (last.IsOk()) {
                m_tree->SelectItem(last);
                if (m_afterWork == AfterWork::SelectAndDeselectLast) {
                    m_tree->Unselect();
                }
            }
        }
    }
    if (outcome.tokenInfoRead) {
        m_host.ShowTokenInfo(m_slotIndex);
        m_host.SetStatus(_("Certificate Manager is currently active . . ."));
    }
    SetMessage(outcome.message);
    m_workerBracket.reset();
}

void CertificateManagerDlg::Import()
{
    using namespace CertificateOperations;
    auto bracket = std::make_unique<Bracket>(*this);
    const wxString failed = _("Failed to import the certificate.");
    const wxString cancelled = _("No certificate has been imported because the operation was cancelled.");
    SetMessage(_("Preparing to import a certificate . . ."));
    wxFileDialog open(this, _("Import Certificate"), wxString(), wxString(),
        _("PFX Files (*.pfx)|*.pfx|P12 Files (*.p12)|*.p12|Certificate Files (*.cer)|*.cer|P7B Files "
          "(*.p7b)|*.p7b|P7C Files (*.p7c)|*.p7c"),
        wxFD_OPEN | wxFD_FILE_MUST_EXIST);
    wxString path;
    const int answer = ModalRunner::ShowFileDialog(open, path);
    const CK_RV rv = LogInAgain();
    if (rv != CKR_OK) {
        SetMessage(GetResultMessage(rv, failed));
        return;
    }
    if (answer != wxID_OK) {
        SetMessage(cancelled);
        return;
    }
    if (!wxFile::Access(path, wxFile::read) || wxFileName::DirExists(path)) {
        SetMessage(ImportFailureText(NRV_CKR_FILE_OPEN_FAILED));
        return;
    }
    const int fileType = ImportFileType(path, open.GetFilterIndex());
    SecretString password;
    if (fileType == kPfx || fileType == kP12) {
        LogInDlg ask(this, PinKind::Password, _("P12/PFX Password Required"),
            _("Please enter the password used to protect the certificate."), 100);
        if (ModalRunner::ShowDialog(ask) != wxID_OK) {
            SetMessage(cancelled);
            return;
        }
        password = ask.GetPIN();
    }
    auto thread = std::make_unique<CertificateImportThread>(MakeLink(), fileType, path, password);
    StartWorker(std::move(bracket), std::move(thread), failed, AfterWork::SelectLast);
}

void CertificateManagerDlg::Delete()
{
    using CertificateOperations::DeleteTarget;
    const CertificateTreeItem* item = SelectedRootItem();
    if (item == nullptr) {
        SetMessage(_("Please select a certificate or a key to be deleted."));
        return;
    }
    DeleteTarget target;
    wxString title;
    wxString text;
    wxString preparing;
    wxString cancelled;
    wxString failed;
    switch (item->kind) {
    case CertificateTreeItem::Kind::Certificate: {
        const CertificateEntry& entry = m_tables.certificates[item->index];
        target.kind = DeleteTarget::Kind::Certificate;
        target.object = entry.handle;
        target.hasPrivateKey = entry.hasPrivateKey;
        target.privateKey = entry.privateKeyHandle;
        target.hasPublicKey = entry.hasPublicKey;
        target.publicKey = entry.publicKeyHandle;
        title = _("Delete Certificate");
        text = _(
            "This action will permanently remove the selected certificate and its associated keys from the "
            "token.");
        preparing = _("Preparing to delete the certificate . . .");
        cancelled = _("Certificate has not been deleted because the operation was cancelled.");
        failed = _("Failed to delete the certificate.");
        break;
    }
    case CertificateTreeItem::Kind::PublicKey:
        target.kind = DeleteTarget::Kind::PublicKey;
        target.object = m_tables.publicKeys[item->index].handle;
        title = _("Delete Public Key");
        text = _("This action will permanently remove the selected public key from the token.");
        preparing = _("Preparing to delete the public key . . .");
        cancelled = _("Public key has not been deleted because the operation was cancelled.");
        failed = _("Failed to delete the public key.");
        break;
    case CertificateTreeItem::Kind::PrivateKey:
        target.kind = DeleteTarget::Kind::PrivateKey;
        target.object = m_tables.privateKeys[item->index].handle;
        title = _("Delete Private Key");
        text = _("This action will permanently remove the selected private key from the token.");
        preparing = _("Preparing to delete the private key . . .");
        cancelled = _("Private key has not been deleted because the operation was cancelled.");
        failed = _("Failed to delete the private key.");
        break;
    }
    auto bracket = std::make_unique<Bracket>(*this);
    SetMessage(preparing);
    if (!Confirm(title, text)) {
        SetMessage(cancelled);
        return;
    }
    StartWorker(std::move(bracket), std::make_unique<CertificateDeleteThread>(MakeLink(), target), failed,
        AfterWork::SelectAndDeselectLast);
}

void CertificateManagerDlg::DeleteAll()
{
    const bool all = m_tables.certificates.size() >= 2;
    auto bracket = std::make_unique<Bracket>(*this);
    if (all) {
        SetMessage(_("Preparing to delete all certificates . . ."));
    } else {
        SetMessage(_("Preparing to delete the certificate . . ."));
    }
    const bool go = all
        ? Confirm(_("Delete All Certificates"),
            _("This action will permanently remove all certificates and their associated keys from the "
              "token."))
        : Confirm(_("Delete Certificate"),
            _("This action will permanently remove the selected certificate and its associated keys from the "
              "token."));
    if (!go) {
        SetMessage(_("No certificate has been deleted because the operation was cancelled."));
        return;
    }
    StartWorker(std::move(bracket), std::make_unique<CertificateDeleteAllThread>(MakeLink(), all),
        all ? _("Failed to delete all certificates.") : _("Failed to delete the certificate."),
        AfterWork::Keep);
}

void CertificateManagerDlg::SetAsDefault()
{
    const int certificate = SelectedCertificate();
    if (certificate < 0) {
        SetMessage(_("Please select a certificate to be set as Windows logon default certificate."));
        return;
    }
    auto bracket = std::make_unique<Bracket>(*this);
    SetMessage(_("Preparing to set Windows logon default certificate . . ."));
    if (!Confirm(_("Set Window Logon Default Certificate"),
            _("This action will change the Windows logon default certificate."))) {
        SetMessage(
            _("Certificate has not been set as Windows logon default certificate because the operation was "
              "cancelled."));
        return;
    }
    StartWorker(std::move(bracket),
        std::make_unique<CertificateSetDefaultThread>(
            MakeLink(), m_tables.certificates[static_cast<size_t>(certificate)].handle),
        _("Failed to set Windows logon default certificate."), AfterWork::SelectLast);
}

CertificateWorkerThread::Link CertificateManagerDlg::MakeLink()
{
    CertificateWorkerThread::Link link;
    link.window = this;
    link.cryptoki = &m_host.GetCryptoki();
    link.session = m_session;
    link.slot = m_host.GetSlotRecord(m_slotIndex).slot;
    link.progress = [this](const wxString& text) { SetMessage(text); };
    link.completion = [this](const CertificateOperations::Outcome& outcome) { ApplyOutcome(outcome); };
    return link;
}
