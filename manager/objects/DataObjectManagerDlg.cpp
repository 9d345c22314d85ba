#include "DataObjectManagerDlg.h"

#include "manager/core/CryptokiResultText.h"
#include "manager/core/DialogIdentity.h"
#include "manager/host/TokenActionHost.h"

#include <wx/button.h>
#include <wx/intl.h>
#include <wx/listctrl.h>

namespace {

wxString CountMessage(size_t objects)
{
    if (objects == 1) {
        return _("There is only 1 data object found in the token.");
    }
    if (objects > 1) {
        // TRANSLATORS: %d is the number of data objects
        return wxString::Format(
            _("There are %d data objects found in the token."), static_cast<int>(objects));
    }
    return _("There is no data object found in the token.");
}

} // namespace

DataObjectManagerDlg::DataObjectManagerDlg(
    wxWindow* parent, TokenActionHost& host, int slotIndex, const wxArrayString& slotTexts)
    : ObjectListDlg(parent, host, slotIndex, slotTexts, DialogIdentity::ID_DLG_DATA_OBJECT_MANAGER,
        _("Data Object Manager"), { ID_CBX_SLOT_LIST, ID_LIST_ITEMS, ID_LBE_MESSAGE },
        { { _("Application"), 133 }, { _("Label"), 133 }, { _("Object ID"), 133 }, { _("Type"), 95 } },
        { { ID_BUTTON_DELETE, _("Delete") }, { ID_BTN_DELETE_ALL, _("Delete All") } })
{
    Bind(
        wxEVT_BUTTON, [this](wxCommandEvent&) { Delete(); }, ID_BUTTON_DELETE);
    Bind(
        wxEVT_BUTTON, [this](wxCommandEvent&) { DeleteAll(); }, ID_BTN_DELETE_ALL);
    ApplyButtons();
}

void DataObjectManagerDlg::ApplyButtons()
{
    GetButton(ID_BUTTON_DELETE)->Enable(!m_objects.empty() && GetSelectedRow() >= 0);
    GetButton(ID_BTN_DELETE_ALL)->Enable(!m_objects.empty());
}

ManagerTarget DataObjectManagerDlg::Target()
{
    return { &Cryptoki(), m_session, m_host.GetSlotRecord(m_slotIndex).slot };
}

void DataObjectManagerDlg::ShowObjects(const std::vector<DataObjectEntry>& objects)
{
    m_objects = objects;
    std::vector<std::vector<wxString>> rows;
    for (const DataObjectEntry& object : m_objects) {
        rows.push_back({ object.application, object.label, object.objectId,
            object.isPublic ? _("Public") : _("Private") });
    }
    SetRows(rows);
}

void DataObjectManagerDlg::Load()
{
    const Bracket bracket(*this);
    if (IsNoCardPresent()) {
        SetMessage(_("There is no token present in the slot."));
        return;
    }
    SetMessage(_("Searching for data objects . . ."));
    CK_RV rv = OpenWindowSession();
    std::vector<DataObjectEntry> objects;
    if (rv == CKR_OK) {
        rv = RefreshDataObjects(Target(), objects);
    }
    ShowObjects(objects);
    if (rv != CKR_OK) {
        SetMessage(GetResultMessage(rv, _("Failed to load data objects.")));
        return;
    }
    SetMessage(CountMessage(m_objects.size()));
    m_host.SetStatus(_("Data Object Manager is currently active . . ."));
}

void DataObjectManagerDlg::Delete()
{
    const int row = GetSelectedRow();
    if (row < 0 || static_cast<size_t>(row) >= m_objects.size()) {
        SetMessage(_("There is no data object to be deleted."));
        return;
    }
    SetMessage(_("Preparing to delete the data object . . ."));
    if (!Confirm(_("Delete Data Object"),
            _("Such action can make the application that created this data object to stop working."))) {
        SetMessage(_("The data object has not been deleted because the operation was cancelled."));
        return;
    }
    BeginOperation(true);
    StartWorker(std::make_unique<DataObjectDeleteThread>(
                    this, Target(), m_objects[static_cast<size_t>(row)].handle,
                    [this](const wxString& text) { SetMessage(text); },
                    [this](DataObjectOutcome& outcome) { Finish(outcome); }),
        _("Failed to delete the data object."));
}

void DataObjectManagerDlg::DeleteAll()
{
    if (m_objects.empty()) {
        SetMessage(_("There is no data object to be deleted."));
        return;
    }
    const bool single = m_objects.size() == 1;
    SetMessage(single ? _("Preparing to delete the data object . . .")
                      : _("Preparing to delete all data objects . . ."));
    const bool confirmed = single
        ? Confirm(_("Delete Data Object"),
            _("Such action can make the application that created this data object to stop working."))
        : Confirm(_("Delete All Data Objects"),
            _("Such action can make the application that created these data objects to stop working."));
    if (!confirmed) {
        SetMessage(_("No data object has been deleted because the operation was cancelled."));
        return;
    }
    BeginOperation(true);
    SetMessage(single ? _("Deleting the data object . . .") : _("Deleting all data objects . . ."));
    StartWorker(std::make_unique<DataObjectDeleteAllThread>(
                    this, Target(), [this](const wxString& text) { SetMessage(text); },
                    [this](DataObjectOutcome& outcome) { Finish(outcome); }),
        _("Failed to delete all data objects."));
}

void DataObjectManagerDlg::Finish(DataObjectOutcome& outcome)
{
    if (outcome.listRead) {
        ShowObjects(outcome.objects);
    }
    if (!outcome.succeeded) {
        SelectRow(-1);
    }
    FinishWorker(outcome.succeeded, outcome.text);
}
