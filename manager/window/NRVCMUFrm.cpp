#include "NRVCMUFrm.h"

#include "AboutDlg.h"
#include "ActionStates.h"
#include "MainInitializeTokenThread.h"
#include "MainPollingThread.h"
#include "MySystemTrayIcon.h"
#include "SaveDetailsReport.h"
#include "SettingsThread.h"
#include "manager/core/CryptokiResultText.h"
#include "manager/core/DialogIdentity.h"
#include "manager/core/ModalRunner.h"
#include "manager/core/NRVCMUCryptoki.h"
#include "manager/core/NRVCMULog.h"
#include "manager/core/NRVCMUSettings.h"
#include "manager/core/WindowWorker.h"
#include "manager/host/ModuleAccess.h"
#include "manager/host/SlotText.h"
#include "manager/objects/CertificateManagerCommand.h"
#include "manager/objects/ObjectManagerCommands.h"
#include "manager/res/EmbeddedImages.h"
#include "manager/settings/SettingsDlg.h"
#include "platform/system/System.h"

#include <algorithm>
#include <wx/accel.h>
#include <wx/datetime.h>
#include <wx/filedlg.h>
#include <wx/filename.h>
#include <wx/imaglist.h>
#include <wx/listctrl.h>
#include <wx/log.h>
#include <wx/menu.h>
#include <wx/msgdlg.h>
#include <wx/sizer.h>
#include <wx/statbox.h>
#include <wx/stdpaths.h>

using namespace vela5::platform;

namespace {

constexpr int kButtonWidth = 114;
constexpr int kDetailsMinWidth = 130;
constexpr int kColumnPadding = 16;
constexpr int kTreeMinWidth = 300;
// Room a tree item takes beside its text and icon: the toolkit's padding and
// a vertical scroll bar.
constexpr int kTreeItemMargin = 40;
// Tree icons by slot state.
constexpr int kIconCardPresent = 0;
constexpr int kIconNoCard = 1;
constexpr int kIconUnknownDevice = 2;

struct LanguageItem {
    int id;
    const char* name;
};
const LanguageItem kLanguages[] = {
    { NRVCMUFrm::ID_MENU_LANGUAGE_ENGLISH, "English" },
    { NRVCMUFrm::ID_MENU_LANGUAGE_PORTUGUESE, "Portuguese" },
    { NRVCMUFrm::ID_MENU_LANGUAGE_BULGARIAN, "Bulgarian" },
    { NRVCMUFrm::ID_MENU_LANGUAGE_SPANISH, "Spanish" },
};

void Log(const char* line)
{
    NRVCMULog::Get().WriteLine(line);
}

bool CatalogExists(const wxString& programFolder, const wxString& language)
{
    if (language == "English") {
        return true;
    }
    return wxFileName(programFolder + wxFILE_SEP_PATH + "Language", language + ".mo").FileExists();
}

// How often auto-logout looks at the input clock.
constexpr int kAutoLogoutTick = 1000;

} // namespace

NRVCMUFrm::NRVCMUFrm(NRVCMUSettings* settings, NRVCMUCryptoki* cryptoki, int extraWidth,
    wxString programFolder, std::function<void()> reloadMainFrame)
    : wxFrame(nullptr, wxID_ANY, _("Pavix Manager"), wxDefaultPosition, wxDefaultSize, wxDEFAULT_FRAME_STYLE)
    , m_programFolder(std::move(programFolder))
    , m_settings(settings)
    , m_cryptoki(cryptoki)
    , m_extraWidth(extraWidth)
    , m_actions(*this)
    , m_reloadMainFrame(std::move(reloadMainFrame))
{
    CreateMenus();
    CreateControls();
    CreateStatusBar(2);
    const int statusWidths[] = { 8, -1 };
    SetStatusWidths(2, statusWidths);

    m_trayIcon = new MySystemTrayIcon(this);
    Bind(wxEVT_ICONIZE, &NRVCMUFrm::OnIconize, this);

    // The slot records start free and the poller's counts at -1 (SlotRecord, SlotPoller).
    UpdateActions(false, m_noSlot);
    StartPolling();

    m_autoLogout = std::make_unique<AutoLogout>();
    m_autoLogoutTimer.SetOwner(this);
    Bind(wxEVT_TIMER, &NRVCMUFrm::OnAutoLogoutTimer, this, m_autoLogoutTimer.GetId());
    m_autoLogoutTimer.Start(kAutoLogoutTick);
}

NRVCMUFrm::~NRVCMUFrm()
{
    Log("@NRVCMUFrm::~NRVCMUFrm() - ENTER");
    m_autoLogoutTimer.Stop();
    StopPolling();
    // The settings worker uses this window's agent record, the
    // initialization worker its module.
    WindowWorker::WaitUntilAllEnded();
    if (m_trayIcon != nullptr) {
        m_trayIcon->RemoveIcon();
        delete m_trayIcon;
        m_trayIcon = nullptr;
    }
    CloseAllSessionsOnExit();
    m_slotIds.clear();
    Log("@NRVCMUFrm::~NRVCMUFrm() - EXIT");
}

void NRVCMUFrm::CreateMenus()
{
    auto* file = new wxMenu;
    file->Append(ID_MENU_SAVE_DETAILS, _("Save Details"));
    file->AppendSeparator();
    file->Append(wxID_EXIT, _("Exit"));

    auto* actions = new wxMenu;
    actions->Append(ID_MENU_CERTIFICATE_MANAGER, _("Certificate Manager"));
    actions->Append(ID_MENU_DATA_OBJECT_MANAGER, _("Data Object Manager"));
    actions->Append(ID_MENU_SECRET_KEY_MANAGER, _("Secret Key Manager"));

    auto* language = new wxMenu;
    language->AppendCheckItem(ID_MENU_LANGUAGE_ENGLISH, _("English"));
    language->AppendCheckItem(ID_MENU_LANGUAGE_PORTUGUESE, _("Portuguese (BR)"));
    language->AppendCheckItem(ID_MENU_LANGUAGE_BULGARIAN, _("Bulgarian"));
    language->AppendCheckItem(ID_MENU_LANGUAGE_SPANISH, _("Spanish"));
    auto* options = new wxMenu;
    options->Append(ID_MENU_SETTINGS, _("Settings"));
    options->Append(ID_MENU_LANGUAGE, _("Language"), language);

    auto* help = new wxMenu;
    help->Append(ID_MENU_HELP_TOPICS, _("Help Topics"));
    help->Append(wxID_ABOUT, _("About..."));

    auto* bar = new wxMenuBar;
    bar->Append(file, _("File"));
    bar->Append(actions, _("Actions"));
    bar->Append(options, _("Options"));
    bar->Append(help, _("Help"));
    // Built like the other items, but these windows are not offered.
    actions->Destroy(ID_MENU_DATA_OBJECT_MANAGER);
    actions->Destroy(ID_MENU_SECRET_KEY_MANAGER);
    help->Destroy(ID_MENU_HELP_TOPICS);
    SetMenuBar(bar);

    // Only a language whose catalog is installed can be the ticked one.
    const wxString stored = m_settings->GetDefaultLanguage();
    const wxString programFolder = !m_programFolder.empty()
        ? m_programFolder
        : wxFileName(wxStandardPaths::Get().GetExecutablePath()).GetPath();
    m_language = CatalogExists(programFolder, stored) ? stored : wxString("English");
    bool ticked = false;
    for (const LanguageItem& item : kLanguages) {
        const bool tick = m_language == item.name;
        bar->Check(item.id, tick);
        ticked = ticked || tick;
    }
    if (!ticked) {
        m_language = "English";
        bar->Check(ID_MENU_LANGUAGE_ENGLISH, true);
    }

    Bind(wxEVT_MENU, &NRVCMUFrm::OnExit, this, wxID_EXIT);
    Bind(wxEVT_MENU, &NRVCMUFrm::OnAbout, this, wxID_ABOUT);
    Bind(wxEVT_MENU, &NRVCMUFrm::OnSaveDetails, this, ID_MENU_SAVE_DETAILS);
    // The menu bar offers no help item; F1 opens the guide.
    Bind(wxEVT_MENU, &NRVCMUFrm::OnHelp, this, ID_MENU_HELP_TOPICS);
    wxAcceleratorEntry helpKey(wxACCEL_NORMAL, WXK_F1, ID_MENU_HELP_TOPICS);
    SetAcceleratorTable(wxAcceleratorTable(1, &helpKey));
    Bind(wxEVT_MENU, &NRVCMUFrm::OnCertificateManager, this, ID_MENU_CERTIFICATE_MANAGER);
    Bind(wxEVT_MENU, &NRVCMUFrm::OnSettings, this, ID_MENU_SETTINGS);
    // Their menu items are removed; the events still open them when sent.
    Bind(wxEVT_MENU, &NRVCMUFrm::OnDataObjectManager, this, ID_MENU_DATA_OBJECT_MANAGER);
    Bind(wxEVT_MENU, &NRVCMUFrm::OnSecretKeyManager, this, ID_MENU_SECRET_KEY_MANAGER);
    Bind(wxEVT_MENU, &NRVCMUFrm::OnLanguage, this, ID_MENU_LANGUAGE_ENGLISH, ID_MENU_LANGUAGE_SPANISH);
    Bind(wxEVT_CLOSE_WINDOW, &NRVCMUFrm::OnClose, this);
}

void NRVCMUFrm::CreateControls()
{
    auto* panel = new wxPanel(this);

    auto* treeBox = new wxStaticBoxSizer(wxVERTICAL, panel, _("Slot List"));
    m_slotTree = new wxTreeCtrl(treeBox->GetStaticBox(), ID_TREE_SLOTS, wxDefaultPosition,
        wxSize(kTreeMinWidth, 400), wxTR_HIDE_ROOT | wxTR_NO_LINES | wxTR_NO_BUTTONS | wxTR_SINGLE);
    auto* images = new wxImageList(16, 16, true, 3);
    for (const char* name : { "TreeSlotCard", "TreeSlotNoCard", "TreeSlotUnknown" }) {
        const wxBitmap bitmap = LoadEmbeddedBitmap(name);
        images->Add(bitmap.IsOk() ? bitmap : wxBitmap(16, 16));
    }
    m_slotTree->AssignImageList(images);
    m_slotTree->SetIndent(4);
    m_slotRoot = m_slotTree->AddRoot(_("Slot List"));
    treeBox->Add(m_slotTree, 1, wxEXPAND | wxALL, 4);

    auto* listBox = new wxStaticBoxSizer(wxVERTICAL, panel, _("Slot and Token Information"));
    // Tall enough for all fifteen rows without scrolling at the start size.
    m_infoList = new wxListCtrl(listBox->GetStaticBox(), ID_LIST_INFO, wxDefaultPosition, wxSize(480, 400),
        wxLC_REPORT | wxLC_SINGLE_SEL);
    m_infoList->AppendColumn(_("Details"), wxLIST_FORMAT_LEFT, kDetailsMinWidth);
    m_infoList->AppendColumn(_("Value"), wxLIST_FORMAT_LEFT, 240);
    listBox->Add(m_infoList, 1, wxEXPAND | wxALL, 4);

    struct ButtonSpec {
        int id;
        wxString label;
        wxString alternateLabel;
        const char* normal;
        const char* hover;
        void (NRVCMUFrm::*handler)(wxCommandEvent&);
    };
    const ButtonSpec specs[] = {
        { ID_BTN_INITIALIZE_TOKEN, _("Initialize Token"), _("Re-initialize Token"), "BtnInitializeTokenDef",
            "BtnInitializeTokenSel", &NRVCMUFrm::OnInitializeToken },
        { ID_BTN_LOGIN, _("Login"), _("Logout"), "BtnLogInDef", "BtnLogInSel", &NRVCMUFrm::OnLogin },
        { ID_BTN_CHANGE_USER_PIN, _("Change User PIN"), wxString(), "BtnChangePINDef", "BtnChangePINSel",
            &NRVCMUFrm::OnChangeUserPIN },
        { ID_BTN_RENAME_TOKEN, _("Rename Token"), wxString(), "BtnRenameTokenDef", "BtnRenameTokenSel",
            &NRVCMUFrm::OnRenameToken },
        { ID_BTN_CHANGE_SO_PIN, _("Change SO PIN"), wxString(), "BtnChangeSOPINDef", "BtnChangeSOPINSel",
            &NRVCMUFrm::OnChangeSOPIN },
        { ID_BTN_UNLOCK_USER_PIN, _("Unlock User PIN"), wxString(), "BtnUnlockPINDef", "BtnUnlockPINSel",
            &NRVCMUFrm::OnUnlockUserPIN },
    };
    auto* buttonColumn = new wxBoxSizer(wxVERTICAL);
    m_actionPanel = panel;
    for (std::size_t i = 0; i < std::size(specs); ++i) {
        const ButtonSpec& spec = specs[i];
        m_buttons[i] = new ActionButton(panel, spec.id, spec.label, spec.alternateLabel,
            LoadEmbeddedBitmap(spec.normal), LoadEmbeddedBitmap(spec.hover), kButtonWidth + m_extraWidth);
        buttonColumn->Add(m_buttons[i], 0, wxBOTTOM, 2);
        Bind(wxEVT_BUTTON, spec.handler, this, spec.id);
    }
    // One width for the column: the widest a label needs, at least the given one.
    int columnWidth = 0;
    for (const ActionButton* button : m_buttons) {
        columnWidth = std::max(columnWidth, button->GetButtonWidth());
    }
    for (ActionButton* button : m_buttons) {
        button->SetButtonWidth(columnWidth);
    }

    // Both the tree and the list grow with the window; the buttons keep their size.
    auto* row = new wxBoxSizer(wxHORIZONTAL);
    row->Add(treeBox, 2, wxEXPAND | wxALL, 6);
    row->Add(listBox, 3, wxEXPAND | wxTOP | wxBOTTOM, 6);
    row->Add(buttonColumn, 0, wxALL, 6);
    panel->SetSizer(row);
    auto* frameSizer = new wxBoxSizer(wxVERTICAL);
    frameSizer->Add(panel, 1, wxEXPAND);
    SetSizerAndFit(frameSizer);
    SetMinSize(GetSize());

    m_slotTree->Bind(wxEVT_TREE_SEL_CHANGED, &NRVCMUFrm::OnSlotSelected, this);
    m_infoList->Bind(wxEVT_SIZE, [this](wxSizeEvent& event) {
        event.Skip();
        FitValueColumn();
    });
    // The generic list control gets the mouse in child windows of its own.
    m_infoList->Bind(wxEVT_MOTION, &NRVCMUFrm::OnInfoListMotion, this);
    for (wxWindow* child : m_infoList->GetChildren()) {
        child->Bind(wxEVT_MOTION, &NRVCMUFrm::OnInfoListMotion, this);
    }
}

void NRVCMUFrm::StartPolling()
{
    if (m_settings->IsInstallCertificate()) {
        RunCertProp();
    }
    SetStatus(_("Retrieving available slots . . ."));
    auto* thread = new MainPollingThread(*m_cryptoki, *this);
    {
        const wxCriticalSectionLocker lock(m_threadCS);
        m_threadPolling = thread;
        // An access taken before the poller existed holds it too.
        if (m_pauses > 0) {
            thread->PausePolling();
        }
    }
    wxThreadError error = thread->Create();
    if (error != wxTHREAD_NO_ERROR) {
        delete thread;
        SetStatus(GetThreadErrorMessage(error, _("Failed to create polling thread.")));
        return;
    }
    error = thread->Run();
    if (error != wxTHREAD_NO_ERROR) {
        delete thread;
        SetStatus(GetThreadErrorMessage(error, _("Failed to run polling thread.")));
    }
}

void NRVCMUFrm::StopPolling()
{
    Log(">> Delete Polling Thread");
    {
        const wxCriticalSectionLocker lock(m_threadCS);
        if (m_threadPolling != nullptr && m_threadPolling->Delete() != wxTHREAD_NO_ERROR) {
            Log(">> Delete Polling Thread . . . Failed!");
        }
    }
    Log("deleting m_threadPolling2");
    // The thread wakes at once on Delete and ends after its current step,
    // whose module calls and readiness wait are bounded.
    for (;;) {
        {
            const wxCriticalSectionLocker lock(m_threadCS);
            if (m_threadPolling == nullptr) {
                break;
            }
        }
        wxMilliSleep(1);
        Log("deleting m_threadPolling2");
        Log("deleting m_threadPolling2");
    }
}

void NRVCMUFrm::OnPollingThreadGone()
{
    const wxCriticalSectionLocker lock(m_threadCS);
    m_threadPolling = nullptr;
}

void NRVCMUFrm::CloseAllSessionsOnExit()
{
    for (std::size_t i = 0; i < m_sessions.size(); ++i) {
        if (m_sessions[i] == 0) {
            continue;
        }
        m_cryptoki->LogOut(m_sessions[i]);
        m_cryptoki->CloseAllSessions(GetEnumeratedSlotId(static_cast<int>(i)));
        m_sessions[i] = 0;
    }
}

bool NRVCMUFrm::IsValidSlot(int slotIndex) const
{
    return slotIndex >= 0 && static_cast<std::size_t>(slotIndex) < m_slots.size();
}

int NRVCMUFrm::GetSelectedSlot() const
{
    const wxTreeItemId selected = m_slotTree->GetSelection();
    if (!selected.IsOk() || selected == m_slotRoot) {
        return -1;
    }
    wxTreeItemIdValue cookie;
    int index = 0;
    for (wxTreeItemId child = m_slotTree->GetFirstChild(m_slotRoot, cookie); child.IsOk();
         child = m_slotTree->GetNextChild(m_slotRoot, cookie), ++index) {
        if (child == selected) {
            return index;
        }
    }
    return -1;
}

SlotRecord& NRVCMUFrm::GetSlotRecord(int slotIndex)
{
    if (!IsValidSlot(slotIndex)) {
        m_noSlot = SlotRecord();
        return m_noSlot;
    }
    return m_slots[static_cast<std::size_t>(slotIndex)];
}

CK_SESSION_HANDLE& NRVCMUFrm::GetSlotSession(int slotIndex)
{
    if (!IsValidSlot(slotIndex)) {
        m_noSession = 0;
        return m_noSession;
    }
    return m_sessions[static_cast<std::size_t>(slotIndex)];
}

CK_SLOT_ID NRVCMUFrm::GetEnumeratedSlotId(int slotIndex) const
{
    if (slotIndex >= 0 && static_cast<std::size_t>(slotIndex) < m_slotIds.size()) {
        return m_slotIds[static_cast<std::size_t>(slotIndex)];
    }
    // Without an enumeration the position is the module's slot ID.
    return static_cast<CK_SLOT_ID>(slotIndex < 0 ? 0 : slotIndex);
}

CK_RV NRVCMUFrm::OpenSlotSession(int slotIndex)
{
    const SlotRecord& record = GetSlotRecord(slotIndex);
    CK_SESSION_HANDLE& session = GetSlotSession(slotIndex);
    CK_RV rv = m_cryptoki->OpenSession(record.slot, &session);
    if (rv == CKR_DEVICE_ERROR) {
        m_cryptoki->CloseAllSessions(GetEnumeratedSlotId(slotIndex));
        rv = m_cryptoki->OpenSession(record.slot, &session);
    }
    return rv;
}

void NRVCMUFrm::SetStatus(const wxString& text)
{
    SetStatusText(text, 1);
}

wxString NRVCMUFrm::GetStatus() const
{
    return GetStatusBar()->GetStatusText(1);
}

ActionButton* NRVCMUFrm::GetActionButton(int id) const
{
    for (ActionButton* button : m_buttons) {
        if (button != nullptr && button->GetId() == id) {
            return button;
        }
    }
    return nullptr;
}

void NRVCMUFrm::UpdateActions(bool enable, const SlotRecord& record)
{
    const ActionStates states
        = DecideActions(enable, record, m_displayedToken, m_infoList->GetItemCount() > 0);
    m_slotTree->Enable(states.slotTree);

    GetActionButton(ID_BTN_INITIALIZE_TOKEN)
        ->SetLabel(states.reinitializeLabel ? _("Re-initialize Token") : _("Initialize Token"));
    GetActionButton(ID_BTN_LOGIN)->SetLabel(states.logoutLabel ? _("Logout") : _("Login"));
    GetActionButton(ID_BTN_INITIALIZE_TOKEN)->Enable(states.initialize);
    GetActionButton(ID_BTN_LOGIN)->Enable(states.login);
    GetActionButton(ID_BTN_CHANGE_USER_PIN)->Enable(states.changeUserPIN);
    GetActionButton(ID_BTN_RENAME_TOKEN)->Enable(states.renameToken);
    GetActionButton(ID_BTN_CHANGE_SO_PIN)->Enable(states.changeSOPIN);
    GetActionButton(ID_BTN_UNLOCK_USER_PIN)->Enable(states.unlockUserPIN);

    wxMenuBar* bar = GetMenuBar();
    bar->Enable(ID_MENU_SAVE_DETAILS, states.saveDetails);
    bar->Enable(ID_MENU_CERTIFICATE_MANAGER, states.certificateManager);
    bar->Enable(wxID_EXIT, states.commonGroup);
    // The settings dialog is not part of the manager yet.
    bar->Enable(ID_MENU_SETTINGS, false);
    bar->Enable(ID_MENU_LANGUAGE, states.commonGroup);
    bar->Enable(wxID_ABOUT, states.commonGroup);
}

void NRVCMUFrm::ShowTokenInfo(int slotIndex)
{
    SetStatus(_("Retrieving token information . . ."));
    UpdateActions(false, m_noSlot);
    m_infoList->DeleteAllItems();
    m_displayedToken = DisplayedToken();
    if (!IsValidSlot(slotIndex)) {
        return;
    }
    SlotRecord& record = m_slots[static_cast<std::size_t>(slotIndex)];

    TokenStatus status;
    {
        const ModuleAccess access(*this);
        status = ReadTokenStatus(*m_cryptoki, record.slot, record.cardPresent);
    }
    if (status.noCard) {
        m_sessions[static_cast<std::size_t>(slotIndex)] = 0;
    } else if (status.rows != TokenRows::None) {
        record.tokenSupported = status.supported;
    }
    m_displayedToken = status.token;
    FillInfoList(BuildInfoRows(record, status));
    SetStatus(status.statusText);
    const bool readFailed = !status.noCard && status.rows == TokenRows::None;
    if (readFailed || status.rows == TokenRows::NotSupported) {
        UpdateActions(true, record);
    }
}

void NRVCMUFrm::FillInfoList(const std::vector<InfoRow>& rows)
{
    m_infoList->DeleteAllItems();
    for (const InfoRow& row : rows) {
        const long item = m_infoList->InsertItem(m_infoList->GetItemCount(), row.first);
        m_infoList->SetItem(item, 1, row.second);
    }
    // Measured here rather than with wxLIST_AUTOSIZE, which the generic list
    // control answers from rows it has not laid out yet.
    int labelWidth = 0;
    int valueWidth = 0;
    for (const InfoRow& row : rows) {
        labelWidth = std::max(labelWidth, m_infoList->GetTextExtent(row.first).GetWidth());
        valueWidth = std::max(valueWidth, m_infoList->GetTextExtent(row.second).GetWidth());
    }
    m_infoList->SetColumnWidth(0, std::max(labelWidth + kColumnPadding, kDetailsMinWidth));
    m_valueWidth = valueWidth + kColumnPadding;
    FitValueColumn();
}

void NRVCMUFrm::FitValueColumn()
{
    // The whole value, and at least the room the list leaves after "Details",
    // so the rows reach its edge at any window size.
    const int fill = m_infoList->GetClientSize().GetWidth() - m_infoList->GetColumnWidth(0);
    m_infoList->SetColumnWidth(1, std::max({ m_valueWidth, fill, 0 }));
}

void NRVCMUFrm::OnInfoListMotion(wxMouseEvent& event)
{
    event.Skip();
    // A value wider than the list (the flags) shows whole in the row's tooltip.
    auto* window = wxDynamicCast(event.GetEventObject(), wxWindow);
    if (window == nullptr) {
        return;
    }
    // Rows are found by their rectangles in the list's own coordinates,
    // whichever of its windows reported the mouse.
    const wxPoint inList
        = window == m_infoList ? event.GetPosition() : event.GetPosition() + window->GetPosition();
    wxString tip;
    for (long row = 0; row < m_infoList->GetItemCount(); ++row) {
        wxRect rect;
        if (m_infoList->GetItemRect(row, rect) && rect.Contains(inList)) {
            tip = m_infoList->GetItemText(row, 1);
            break;
        }
    }
    if (window->GetToolTipText() != tip) {
        window->SetToolTip(tip);
    }
}

void NRVCMUFrm::FitTreeToItems()
{
    // Every item text shows whole: the tree is at least as wide as its widest item.
    int widest = 0;
    wxTreeItemIdValue cookie;
    for (wxTreeItemId item = m_slotTree->GetFirstChild(m_slotRoot, cookie); item.IsOk();
         item = m_slotTree->GetNextChild(m_slotRoot, cookie)) {
        widest = std::max(widest, m_slotTree->GetTextExtent(m_slotTree->GetItemText(item)).GetWidth());
    }
    const int iconAndMargins = 16 + m_slotTree->GetIndent() + kTreeItemMargin;
    const int needed = std::max(kTreeMinWidth, widest + iconAndMargins);
    if (needed == m_slotTree->GetMinSize().GetWidth()) {
        return;
    }
    m_slotTree->SetMinSize(wxSize(needed, m_slotTree->GetMinSize().GetHeight()));
    const wxSize minimum = ClientToWindowSize(GetSizer()->GetMinSize());
    SetMinSize(minimum);
    const wxSize now = GetSize();
    if (now.x < minimum.x || now.y < minimum.y) {
        SetSize(wxSize(std::max(now.x, minimum.x), std::max(now.y, minimum.y)));
    }
    Layout();
}

void NRVCMUFrm::UpdateSlotList(int slotCount)
{
    std::vector<SlotInfoEntry> infos;
    {
        const ModuleAccess access(*this);
        for (int p = 0; p < slotCount && static_cast<std::size_t>(p) < m_slots.size(); ++p) {
            SlotInfoEntry entry;
            entry.rv = m_cryptoki->GetSlotInfo(m_slots[static_cast<std::size_t>(p)].slot, &entry.info);
            infos.push_back(entry);
        }
    }
    ApplySlotList(infos);
}

void NRVCMUFrm::ApplySlotList(const std::vector<SlotInfoEntry>& slotInfos)
{
    SetStatus(_("Updating slot list . . ."));
    UpdateActions(false, m_noSlot);
    m_selectingSlot = true;
    m_slotTree->DeleteChildren(m_slotRoot);
    m_selectingSlot = false;
    m_infoList->DeleteAllItems();
    for (std::size_t p = 0; p < slotInfos.size() && p < m_slots.size(); ++p) {
        SlotRecord& record = m_slots[p];
        const SlotInfoEntry& entry = slotInfos[p];
        if (entry.rv != CKR_OK) {
            record.cardPresent = false;
            record.slotDescription.clear();
            record.slotManufacturer.clear();
            record.slotFlags.clear();
            record.slotHardwareVersion.clear();
            record.slotFirmwareVersion.clear();
            m_slotTree->AppendItem(
                m_slotRoot, _("Unknown Device") + " " + FormatErrorCode(entry.rv), kIconUnknownDevice);
            continue;
        }
        const CK_SLOT_INFO& info = entry.info;
        record.slotDescription = TrimmedField(info.slotDescription, sizeof info.slotDescription);
        record.slotManufacturer = TrimmedField(info.manufacturerID, sizeof info.manufacturerID);
        record.slotFlags = GetSlotFlagsText(info.flags);
        record.slotHardwareVersion = FormatVersionText(info.hardwareVersion);
        record.slotFirmwareVersion = FormatVersionText(info.firmwareVersion);
        record.cardPresent = (info.flags & CKF_TOKEN_PRESENT) != 0;
        const wxString state = record.cardPresent ? _("[Card Present]") : _("[No Card Present]");
        m_slotTree->AppendItem(m_slotRoot, record.slotDescription + " " + state,
            record.cardPresent ? kIconCardPresent : kIconNoCard);
    }
    FitTreeToItems();
}

void NRVCMUFrm::SelectSlot(int slotIndex)
{
    wxTreeItemIdValue cookie;
    wxTreeItemId item = m_slotTree->GetFirstChild(m_slotRoot, cookie);
    for (int i = 0; item.IsOk() && i < slotIndex; ++i) {
        item = m_slotTree->GetNextChild(m_slotRoot, cookie);
    }
    if (!item.IsOk()) {
        return;
    }
    // The toolkit may or may not report a selection made in code; the handler
    // runs exactly once either way.
    m_selectingSlot = true;
    m_slotTree->SelectItem(item);
    m_selectingSlot = false;
    ShowTokenInfo(slotIndex);
    UpdateActions(true, GetSlotRecord(slotIndex));
}

void NRVCMUFrm::OnSlotSelected(wxTreeEvent& event)
{
    event.Skip();
    if (m_selectingSlot) {
        return;
    }
    const int slotIndex = GetSelectedSlot();
    if (slotIndex < 0) {
        return;
    }
    ShowTokenInfo(slotIndex);
    UpdateActions(true, GetSlotRecord(slotIndex));
}

void NRVCMUFrm::PausePolling()
{
    const wxCriticalSectionLocker lock(m_threadCS);
    if (m_pauses++ == 0 && m_threadPolling != nullptr) {
        m_threadPolling->PausePolling();
    }
}

void NRVCMUFrm::ResumePolling()
{
    const wxCriticalSectionLocker lock(m_threadCS);
    // A resume without a pause changes nothing.
    if (m_pauses == 0) {
        return;
    }
    if (--m_pauses == 0 && m_threadPolling != nullptr) {
        m_threadPolling->ResumePolling();
    }
}

// The poller's updates: each one runs on the GUI thread. The window outlives
// the thread (the destructor waits for it), and events still queued for a
// destroyed window are dropped with it.
void NRVCMUFrm::PostReadersGone()
{
    CallAfter([this] { ApplyReadersGone(); });
}

void NRVCMUFrm::PostBeginRebuild()
{
    CallAfter([this] { ApplyBeginRebuild(); });
}

void NRVCMUFrm::PostRebuild(SlotEnumeration enumeration)
{
    CallAfter([this, enumeration = std::move(enumeration)] { ApplyRebuild(enumeration); });
}

void NRVCMUFrm::PostStepError(const wxString& text)
{
    // wxString is not safe to share between threads: hand over a private copy.
    const std::wstring copy = text.ToStdWstring();
    CallAfter([this, copy] { ApplyStepError(wxString(copy)); });
}

void NRVCMUFrm::ApplyReadersGone()
{
    CloseKnownDialogs();
    m_sessions.fill(0);
    m_slotIds.clear();
    m_infoList->DeleteAllItems();
    m_selectingSlot = true;
    m_slotTree->DeleteChildren(m_slotRoot);
    m_selectingSlot = false;
    m_displayedToken = DisplayedToken();
    UpdateActions(true, m_noSlot);
    SetStatus(_("No smart card reader has been detected. Please plug in the device properly."));
}

void NRVCMUFrm::ApplyBeginRebuild()
{
    UpdateActions(false, m_noSlot);
    SetStatus(_("Updating slot list . . ."));
    CloseKnownDialogs();
    m_infoList->DeleteAllItems();
}

void NRVCMUFrm::ApplyRebuild(const SlotEnumeration& enumeration)
{
    m_slotIds = enumeration.slotIds;
    m_sessions.fill(0);
    m_slots = BuildSlotRecords(m_slots, enumeration.slotIds, enumeration.serials);
    ApplySlotList(enumeration.slotInfos);
    SelectSlot(0);
    m_rebuilding = false;
}

void NRVCMUFrm::ApplyStepError(const wxString& text)
{
    SetStatus(text);
    UpdateActions(true, m_slots[0]);
}

void NRVCMUFrm::CloseKnownDialogs()
{
    for (const DialogIdentity::KnownDialog& known : DialogIdentity::kKnownDialogs) {
        wxDialog* dialog = FindChildDialog(known.id);
        if (dialog == nullptr || dialog->GetName() != known.name) {
            continue;
        }
        NRVCMULog::Get().WriteText("Close and Destroy2 ", known.name, true);
        if (dialog->IsModal()) {
            dialog->EndModal(wxID_CANCEL);
            NRVCMULog::Get().WriteText(known.name, " Destroyed!", true);
        } else {
            Log("Close and Destroy3 - !win_dlg->IsModal()");
            dialog->Close(false);
        }
    }
    Enable(true);
}

wxDialog* NRVCMUFrm::FindChildDialog(int id) const
{
    // wxWindow::FindWindow skips top-level children, and dialogs are exactly those.
    for (wxWindow* child : GetChildren()) {
        if (child->GetId() == id) {
            return wxDynamicCast(child, wxDialog);
        }
    }
    return nullptr;
}

void NRVCMUFrm::OnInitializeToken(wxCommandEvent&)
{
    if (m_displayedToken.initialized) {
        m_actions.Reinitialize();
    } else {
        m_actions.Initialize();
    }
}

void NRVCMUFrm::OnLogin(wxCommandEvent&)
{
    if (GetSlotRecord(GetSelectedSlot()).loggedIn) {
        m_actions.Logout();
    } else {
        m_actions.Login();
    }
}

void NRVCMUFrm::OnChangeUserPIN(wxCommandEvent&)
{
    m_actions.ChangeUserPIN();
}

void NRVCMUFrm::OnRenameToken(wxCommandEvent&)
{
    m_actions.RenameToken();
}

void NRVCMUFrm::OnChangeSOPIN(wxCommandEvent&)
{
    m_actions.ChangeSOPIN();
}

void NRVCMUFrm::OnUnlockUserPIN(wxCommandEvent&)
{
    m_actions.UnlockUserPIN();
}

void NRVCMUFrm::OnExit(wxCommandEvent&)
{
    Close(false);
}

void NRVCMUFrm::OnLanguage(wxCommandEvent& event)
{
    wxMenuBar* bar = GetMenuBar();
    const LanguageItem* picked = nullptr;
    for (const LanguageItem& item : kLanguages) {
        if (item.id == event.GetId()) {
            picked = &item;
        }
    }
    if (picked == nullptr || m_language == picked->name) {
        // Picking the ticked language again changes nothing; keep it ticked.
        bar->Check(event.GetId(), true);
        return;
    }
    const wxString previous = m_language;
    for (const LanguageItem& item : kLanguages) {
        bar->Check(item.id, item.id == picked->id);
    }
    m_settings->SetDefaultLanguage(picked->name);
    m_settings->SaveHash();

    const wxString question = _("Application needs to restart for the new language settings to take effect.")
        + " " + _("Restart application now?");
    const int answer = ModalRunner::ShowMessage(question,
        wxString::Format(_("Pavix Manager - %s"), _("Language Settings")), wxYES_NO | wxICON_QUESTION, this);
    if (answer != wxYES) {
        // The stored language stays changed and takes effect at the next start.
        for (const LanguageItem& item : kLanguages) {
            bar->Check(item.id, previous == item.name);
        }
        return;
    }
    m_language = picked->name;
    Hide();
    m_settings->SaveHash();
    PausePolling();
    if (m_reloadMainFrame) {
        m_reloadMainFrame();
    }
}

void NRVCMUFrm::OnAbout(wxCommandEvent&)
{
    AboutDlg dialog(this);
    ModalRunner::ShowDialog(dialog);
}

wxString NRVCMUFrm::GetProgramFolder() const
{
    return !m_programFolder.empty() ? m_programFolder : m_settings->GetProgramFolder();
}

wxString NRVCMUFrm::GetHelpFilePath() const
{
    return GetProgramFolder() + wxFileName::GetPathSeparator() + "Pavix Manager-EN.html";
}

void NRVCMUFrm::RunCertProp()
{
    // A failed start is only logged.
    m_certProp.Run(GetProgramFolder(), m_settings->IsRemoveCertificate());
}

void NRVCMUFrm::StartSettingsThread(
    bool wasInstallCertificate, bool wasRemoveCertificate, ModuleAccess access)
{
    access.Acquire(*this);
    const SettingsThread::Request request { GetProgramFolder(), wasInstallCertificate, wasRemoveCertificate };
    if (WindowWorker::Start(std::make_unique<SettingsThread>(
            this, *m_settings, m_certProp, request, [this](std::monostate&) { ResumePolling(); }))
        == wxTHREAD_NO_ERROR) {
        access.HandOver();
        return;
    }
    SettingsThread::ApplySettings(*m_settings, m_certProp, request);
}

void NRVCMUFrm::OnSettings(wxCommandEvent&)
{
    ShowSettings();
}

void NRVCMUFrm::ShowSettings()
{
    if (IsBusy()) {
        // A token action holds the module; its window is the one to answer.
        return;
    }
    ModuleAccess access(*this);
    const bool wasInstallCertificate = m_settings->IsInstallCertificate();
    const bool wasRemoveCertificate = m_settings->IsRemoveCertificate();
    {
        SettingsDlg dialog(this, *m_settings, System::Is64BitSystem());
        ModalRunner::ShowDialog(dialog);
    }
    // The worker resumes polling once it has applied the settings.
    StartSettingsThread(wasInstallCertificate, wasRemoveCertificate, std::move(access));
}

void NRVCMUFrm::SetAutoLogoutMinuteLength(AutoLogout::Clock::duration length)
{
    m_autoLogout->SetMinuteLength(length);
    const auto tick = std::chrono::duration_cast<std::chrono::milliseconds>(length / 4).count();
    m_autoLogoutTimer.Start(static_cast<int>(std::clamp<long long>(tick, 10, kAutoLogoutTick)));
}

void NRVCMUFrm::OnAutoLogoutTimer(wxTimerEvent&)
{
    if (!AutoLogout::IsDue(m_settings->IsAutoLogout(), m_settings->GetAutoLogoutTime(),
            m_autoLogout->GetMinuteLength(), m_autoLogout->GetLastInput(), AutoLogout::Clock::now())) {
        return;
    }
    // A token action or a modal window holds the token: the logout waits
    // until it is done.
    if (IsBusy() || !IsEnabled()) {
        return;
    }
    for (int slot = 0; IsValidSlot(slot); ++slot) {
        if (!m_slots[static_cast<std::size_t>(slot)].loggedIn) {
            continue;
        }
        if (GetSelectedSlot() != slot) {
            SelectSlot(slot);
        }
        m_actions.Logout();
    }
    m_autoLogout->Touch();
}

void NRVCMUFrm::OnSaveDetails(wxCommandEvent&)
{
    SaveDetails();
}

void NRVCMUFrm::SaveDetails()
{
    if (m_infoList->GetItemCount() == 0) {
        return;
    }
    SetStatus(_("Saving slot and token information . . ."));
    // The filter's closing "|" ends the list on Windows; the toolkit here
    // would read it as one more, empty, pair.
    wxString filter = _("Text Files (*.txt)|*.txt|");
    if (filter.EndsWith("|")) {
        filter.RemoveLast();
    }
    // No "*.txt" file name: here that would be a real name, not a pattern.
    wxFileDialog dialog(this, _("Save Slot and Token Information as"), wxString(), wxString(), filter,
        wxFD_SAVE | wxFD_OVERWRITE_PROMPT);
    dialog.Centre();
    wxString path;
    if (ModalRunner::ShowFileDialog(dialog, path) != wxID_OK) {
        SetStatus(_("Slot and token information was not saved because the operation was cancelled."));
        return;
    }
    SaveDetailsTo(path);
}

void NRVCMUFrm::SaveDetailsTo(const wxString& path)
{
    std::vector<SaveDetailsReport::Row> rows;
    for (long row = 0; row < m_infoList->GetItemCount(); ++row) {
        rows.emplace_back(m_infoList->GetItemText(row, 0), m_infoList->GetItemText(row, 1));
    }
    const wxDateTime now = wxDateTime::Now();
    const std::string report
        = SaveDetailsReport::Format(rows, "Pavix Manager", now.FormatDate() + " " + now.FormatTime());
    const int error = SaveDetailsReport::Write(std::filesystem::path(path.utf8_string()), report);
    if (error != 0) {
        SetStatus(_("Slot and token information was not saved.") + " " + wxSysErrorMsgStr(error));
        return;
    }
    SetStatus(_("Slot and token information was saved successfully."));
}

void NRVCMUFrm::OnHelp(wxCommandEvent&)
{
    ShowHelp();
}

void NRVCMUFrm::ShowHelp()
{
    const wxString guide = GetHelpFilePath();
    if (!wxFileName::FileExists(guide)) {
        ModalRunner::ShowMessage(_("Unable to locate the Help file for this application."),
            wxString::Format(_("Pavix Manager - %s"), _("Help")), wxOK | wxICON_ERROR, this);
        return;
    }
    const Process::ErrorCode result = Process::OpenDocument(std::filesystem::path(guide.utf8_string()));
    if (result != Process::kSuccess) {
        NRVCMULog::Get().WriteValue("NRVCMUFrm::ShowHelp() - Open Error = ", "%08X", result, true);
    }
}

void NRVCMUFrm::OnIconize(wxIconizeEvent& event)
{
    event.Skip();
    if (MySystemTrayIcon::ShouldHideOnMinimize(
            event.IsIconized(), m_settings->IsMinimizeToTray(), wxTaskBarIcon::IsAvailable())) {
        Hide();
    }
}

void NRVCMUFrm::OnCertificateManager(wxCommandEvent&)
{
    wxArrayString slotTexts;
    wxTreeItemIdValue cookie;
    for (wxTreeItemId item = m_slotTree->GetFirstChild(m_slotRoot, cookie); item.IsOk();
         item = m_slotTree->GetNextChild(m_slotRoot, cookie)) {
        slotTexts.Add(m_slotTree->GetItemText(item));
    }
    OpenCertificateManager(*this, slotTexts);
}

wxArrayString NRVCMUFrm::SlotTexts() const
{
    wxArrayString slotTexts;
    wxTreeItemIdValue cookie;
    for (wxTreeItemId item = m_slotTree->GetFirstChild(m_slotRoot, cookie); item.IsOk();
         item = m_slotTree->GetNextChild(m_slotRoot, cookie)) {
        slotTexts.Add(m_slotTree->GetItemText(item));
    }
    return slotTexts;
}

void NRVCMUFrm::OnDataObjectManager(wxCommandEvent&)
{
    OpenDataObjectManager(*this, SlotTexts());
}

void NRVCMUFrm::OnSecretKeyManager(wxCommandEvent&)
{
    OpenSecretKeyManager(*this, SlotTexts());
}

void NRVCMUFrm::OnClose(wxCloseEvent& event)
{
    if (m_settings->IsAskOnExit() && event.CanVeto()) {
        ModuleAccess asking(*this);
        const wxString question
            = _("Some security features might not be available when this application is closed.") + " "
            + _("Do you still want to continue?");
        const int answer = ModalRunner::ShowMessage(question,
            wxString::Format(_("Pavix Manager - %s"), _("Close Application")), wxYES_NO | wxICON_EXCLAMATION,
            this);
        if (answer != wxYES) {
            event.Veto();
            return;
        }
        // The window closes with its poller paused.
        asking.HandOver();
    }
    m_settings->SaveHash();
    Log("@NRVCMUFrm::OnClose - EXIT");
    Destroy();
}
