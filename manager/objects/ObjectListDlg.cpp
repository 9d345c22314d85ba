#include "ObjectListDlg.h"

#include "manager/core/CryptokiResultText.h"
#include "manager/core/DialogIdentity.h"
#include "manager/core/ModalRunner.h"
#include "manager/core/NRVCMUCryptoki.h"
#include "manager/core/WindowWorker.h"
#include "manager/host/TokenActionHost.h"
#include "manager/pin/MessageBoxDlg.h"

#include <algorithm>
#include <wx/button.h>
#include <wx/choice.h>
#include <wx/intl.h>
#include <wx/listctrl.h>
#include <wx/sizer.h>
#include <wx/statbox.h>
#include <wx/stattext.h>

ObjectListDlg::ObjectListDlg(wxWindow* parent, TokenActionHost& host, int slotIndex,
    const wxArrayString& slotTexts, int dialogId, const wxString& subject, const ControlIds& ids,
    const std::vector<Column>& columns, const std::vector<ListButton>& buttons)
    : wxDialog(parent, dialogId, wxString::Format(_("Pavix Manager - %s"), subject), wxDefaultPosition,
        wxDefaultSize, wxDEFAULT_DIALOG_STYLE | wxRESIZE_BORDER, DialogIdentity::NameOf(dialogId))
    , m_host(host)
    , m_slotIndex(slotIndex)
{
    auto* top = new wxBoxSizer(wxVERTICAL);
    m_slots = new wxChoice(this, ids.slotChoice, wxDefaultPosition, wxDefaultSize, slotTexts);
    if (m_slotIndex >= 0 && static_cast<size_t>(m_slotIndex) < slotTexts.size()) {
        m_slots->SetSelection(m_slotIndex);
    }
    m_slots->Disable();
    top->Add(m_slots, 0, wxEXPAND | wxALL, 8);

    auto* row = new wxBoxSizer(wxHORIZONTAL);
    auto* items = new wxStaticBoxSizer(wxVERTICAL, this, _("Items"));
    m_list = new wxListCtrl(
        items->GetStaticBox(), ids.list, wxDefaultPosition, wxDefaultSize, wxLC_REPORT | wxLC_SINGLE_SEL);
    int listWidth = 0;
    for (const Column& column : columns) {
        // A translated title may be wider than the width its values need.
        const int width
            = std::max(column.width, m_list->GetTextExtent(column.title).x + m_list->GetCharWidth() * 3);
        m_list->AppendColumn(column.title, wxLIST_FORMAT_CENTRE, width);
        listWidth += width;
    }
    m_list->SetMinSize(wxSize(listWidth + 8, 240));
    items->Add(m_list, 1, wxEXPAND | wxALL, 4);
    row->Add(items, 1, wxEXPAND | wxLEFT | wxRIGHT, 8);

    row->Add(m_buttons.Create(this, buttons), 0, wxRIGHT, 8);
    top->Add(row, 1, wxEXPAND);

    m_message = new MessageLine(this, ids.message);
    top->Add(m_message, 0, wxEXPAND | wxALL, 8);
    SetSizerAndFit(top);
    SetMinSize(GetSize());

    Bind(wxEVT_INIT_DIALOG, [this](wxInitDialogEvent& event) {
        event.Skip();
        Load();
    });
    Bind(wxEVT_CLOSE_WINDOW, [this](wxCloseEvent& event) {
        // A worker holds the window's session until its outcome is applied.
        if (m_working && event.CanVeto()) {
            event.Veto();
            return;
        }
        CloseWindow();
    });
    // Escape closes the window the way the close box does.
    Bind(
        wxEVT_BUTTON, [this](wxCommandEvent&) { Close(); }, wxID_CANCEL);
    m_list->Bind(wxEVT_LIST_ITEM_SELECTED, [this](wxListEvent& event) {
        event.Skip();
        ApplyButtons();
    });
    m_list->Bind(wxEVT_LIST_ITEM_DESELECTED, [this](wxListEvent& event) {
        event.Skip();
        ApplyButtons();
    });
}

ObjectListDlg::~ObjectListDlg()
{
    WindowWorker::WaitUntilAllEnded();
    // Closed from outside (the poller on a slot change): the session still goes.
    if (m_session != CK_INVALID_HANDLE) {
        Cryptoki().CloseSession(m_session);
        m_session = CK_INVALID_HANDLE;
    }
    m_access.End();
}

NRVCMUCryptoki& ObjectListDlg::Cryptoki()
{
    return m_host.GetCryptoki();
}

wxButton* ObjectListDlg::GetButton(int id) const
{
    return m_buttons.Get(id);
}

wxString ObjectListDlg::GetMessage() const
{
    return m_message->GetMessage();
}

void ObjectListDlg::SetMessage(const wxString& text)
{
    m_messages.push_back(text);
    m_message->SetMessage(text);
}

int ObjectListDlg::GetSelectedRow() const
{
    return static_cast<int>(m_list->GetNextItem(-1, wxLIST_NEXT_ALL, wxLIST_STATE_SELECTED));
}

void ObjectListDlg::SelectRow(int row)
{
    const long selected = m_list->GetNextItem(-1, wxLIST_NEXT_ALL, wxLIST_STATE_SELECTED);
    if (selected >= 0 && selected != row) {
        m_list->SetItemState(selected, 0, wxLIST_STATE_SELECTED | wxLIST_STATE_FOCUSED);
    }
    if (row >= 0 && row < m_list->GetItemCount()) {
        m_list->SetItemState(
            row, wxLIST_STATE_SELECTED | wxLIST_STATE_FOCUSED, wxLIST_STATE_SELECTED | wxLIST_STATE_FOCUSED);
    }
    ApplyButtons();
}

bool ObjectListDlg::IsNoCardPresent() const
{
    return m_slots->GetStringSelection().Contains(_("No Card Present"));
}

CK_RV ObjectListDlg::RefreshTokenFlag()
{
    return Cryptoki().RefreshBeforeListing(m_host.GetSlotRecord(m_slotIndex).slot);
}

CK_RV ObjectListDlg::OpenWindowSession()
{
    const CK_RV rv = RefreshTokenFlag();
    if (rv != CKR_OK) {
        return rv;
    }
    return Cryptoki().OpenSession(m_host.GetSlotRecord(m_slotIndex).slot, &m_session);
}

void ObjectListDlg::SetRows(const std::vector<std::vector<wxString>>& rows)
{
    m_list->DeleteAllItems();
    for (const std::vector<wxString>& cells : rows) {
        const long row = m_list->InsertItem(m_list->GetItemCount(), cells.empty() ? wxString() : cells[0]);
        for (size_t column = 1; column < cells.size(); ++column) {
            m_list->SetItem(row, static_cast<int>(column), cells[column]);
        }
    }
}

bool ObjectListDlg::Confirm(const wxString& title, const wxString& text)
{
    // TRANSLATORS: the action's warning, then the question
    MessageBoxDlg box(
        this, title, wxString::Format(_("%s\n%s"), text, _("Do you still want to continue?")), true);
    return ModalRunner::ShowDialog(box) == wxID_OK;
}

void ObjectListDlg::EnableControls(bool enable)
{
    m_list->Enable(enable);
    m_buttons.Enable(enable);
}

void ObjectListDlg::BeginOperation(bool worker)
{
    EnableControls(false);
    if (worker) {
        Enable(false);
    }
    m_access.Acquire(m_host);
}

void ObjectListDlg::EndOperation()
{
    m_working = false;
    EnableControls(true);
    ApplyButtons();
    Enable(true);
    m_access.End();
}

bool ObjectListDlg::StartWorker(std::unique_ptr<WindowWorker> worker, const wxString& failure)
{
    m_working = true;
    const wxThreadError error = WindowWorker::Start(std::move(worker));
    if (error != wxTHREAD_NO_ERROR) {
        SetMessage(GetThreadErrorMessage(static_cast<int>(error), failure));
        EndOperation();
        return false;
    }
    return true;
}

void ObjectListDlg::FinishWorker(bool succeeded, const wxString& text)
{
    if (succeeded) {
        SetMessage(_("Retrieving token information . . ."));
        m_host.ShowTokenInfo(m_slotIndex);
    }
    SetMessage(text);
    EndOperation();
}

void ObjectListDlg::CloseWindow()
{
    if (m_session != CK_INVALID_HANDLE) {
        Cryptoki().CloseSession(m_session);
        m_session = CK_INVALID_HANDLE;
    }
    if (IsModal()) {
        EndModal(wxID_OK);
    } else {
        Destroy();
    }
}
