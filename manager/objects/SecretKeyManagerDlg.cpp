#include "SecretKeyManagerDlg.h"

#include "SecretKeyPropertiesDlg.h"
#include "SecretKeyRules.h"
#include "manager/core/CryptokiResultText.h"
#include "manager/core/DialogIdentity.h"
#include "manager/core/ModalRunner.h"
#include "manager/host/TokenActionHost.h"

#include <wx/button.h>
#include <wx/intl.h>
#include <wx/listctrl.h>

SecretKeyManagerDlg::SecretKeyManagerDlg(
    wxWindow* parent, TokenActionHost& host, int slotIndex, const wxArrayString& slotTexts)
    : ObjectListDlg(parent, host, slotIndex, slotTexts, DialogIdentity::ID_DLG_SECRET_KEY_MANAGER,
        _("Secret Key Manager"), { ID_CBX_SLOT_LIST, ID_LISTCTRL_SECRETKEYS, ID_LBE_MESSAGE },
        { { _("Label"), 150 }, { _("Type"), 50 }, { _("Modifiable"), 80 }, { _("Secret Key ID"), 214 } },
        { { ID_BUTTON_ADD, _("Add") }, { ID_BUTTON_EDIT, _("Edit") }, { ID_BUTTON_DELETE, _("Delete") },
            { ID_BUTTON_DELETEALL, _("Delete All") } })
{
    Bind(
        wxEVT_BUTTON, [this](wxCommandEvent&) { Add(); }, ID_BUTTON_ADD);
    Bind(
        wxEVT_BUTTON, [this](wxCommandEvent&) { Edit(); }, ID_BUTTON_EDIT);
    Bind(
        wxEVT_BUTTON, [this](wxCommandEvent&) { Delete(); }, ID_BUTTON_DELETE);
    Bind(
        wxEVT_BUTTON, [this](wxCommandEvent&) { DeleteAll(); }, ID_BUTTON_DELETEALL);
    ApplyButtons();
}

void SecretKeyManagerDlg::ApplyButtons()
{
    const int row = GetSelectedRow();
    const bool selected = row >= 0 && static_cast<size_t>(row) < m_keys.size();
    const SecretKeyRules::ButtonStates states = SecretKeyRules::ForSelection(
        selected, selected && m_keys[static_cast<size_t>(row)].modifiable, m_keys.size());
    GetButton(ID_BUTTON_ADD)->Enable(true);
    GetButton(ID_BUTTON_EDIT)->Enable(states.edit);
    GetButton(ID_BUTTON_DELETE)->Enable(states.remove);
    GetButton(ID_BUTTON_DELETEALL)->Enable(states.removeAll);
}

ManagerTarget SecretKeyManagerDlg::Target()
{
    return { &Cryptoki(), m_session, m_host.GetSlotRecord(m_slotIndex).slot };
}

std::vector<std::vector<uint8_t>> SecretKeyManagerDlg::ListedIds() const
{
    std::vector<std::vector<uint8_t>> ids;
    for (const SecretKeyEntry& key : m_keys) {
        ids.push_back(key.id);
    }
    return ids;
}

void SecretKeyManagerDlg::ShowKeys(std::vector<SecretKeyEntry> keys)
{
    m_keys = std::move(keys);
    std::vector<std::vector<wxString>> rows;
    for (const SecretKeyEntry& key : m_keys) {
        rows.push_back({ key.label, SecretKeyRules::KeyTypeText(key.keyType),
            key.modifiable ? _("True") : _("False"), SecretKeyRules::HexText(key.id) });
    }
    SetRows(rows);
}

void SecretKeyManagerDlg::Load()
{
    const Bracket bracket(*this);
    if (IsNoCardPresent()) {
        SetMessage(_("There is no token present in the slot."));
        return;
    }
    SetMessage(_("Searching for secret keys . . ."));
    CK_RV rv = OpenWindowSession();
    std::vector<SecretKeyEntry> keys;
    if (rv == CKR_OK) {
        rv = RefreshSecretKeys(Target(), keys);
    }
    ShowKeys(std::move(keys));
    if (rv != CKR_OK) {
        SetMessage(GetResultMessage(rv, _("Failed to load secret keys.")));
        return;
    }
    SetMessage(SecretKeyRules::CountMessage(m_keys.size()));
    m_host.SetStatus(_("Secret Key Manager is currently active . . ."));
}

void SecretKeyManagerDlg::Add()
{
    SetMessage(_("Preparing to add a secret key . . ."));
    SecretKeyPropertiesDlg form(this, ListedIds(), -1, nullptr);
    if (ModalRunner::ShowDialog(form) != wxID_OK) {
        SetMessage(_("No secret key has been added because the operation was cancelled."));
        return;
    }
    BeginOperation(true);
    StartWorker(std::make_unique<SecretKeyAddThread>(
                    this, Target(), form.TakeEntry(), [this](const wxString& text) { SetMessage(text); },
                    [this](SecretKeyOutcome& outcome) { Finish(outcome); }),
        _("Failed to add the secret key."));
}

void SecretKeyManagerDlg::Edit()
{
    const int row = GetSelectedRow();
    if (row < 0 || static_cast<size_t>(row) >= m_keys.size()) {
        SetMessage(_("Please select a secret key to be edited."));
        return;
    }
    const SecretKeyEntry& key = m_keys[static_cast<size_t>(row)];
    // The token refuses changes to a key that is not modifiable.
    if (!key.modifiable) {
        return;
    }
    SetMessage(_("Preparing to edit the secret key . . ."));
    SecretKeyPropertiesDlg form(this, ListedIds(), row, &key);
    if (ModalRunner::ShowDialog(form) != wxID_OK) {
        SetMessage(_("Secret key has not been edited because the operation was cancelled."));
        return;
    }
    BeginOperation(true);
    StartWorker(std::make_unique<SecretKeyEditThread>(
                    this, Target(), form.TakeEntry(), [this](const wxString& text) { SetMessage(text); },
                    [this](SecretKeyOutcome& outcome) { Finish(outcome); }),
        _("Failed to edit the secret key."));
}

void SecretKeyManagerDlg::Delete()
{
    const int row = GetSelectedRow();
    if (row < 0 || static_cast<size_t>(row) >= m_keys.size()) {
        SetMessage(_("Please select a secret key to be deleted."));
        return;
    }
    SetMessage(_("Preparing to delete secret key . . ."));
    if (!Confirm(_("Delete Secret Key"),
            _("Such action can make the application that created this secret key to stop working."))) {
        SetMessage(_("Secret key has not been deleted because the operation was cancelled."));
        return;
    }
    BeginOperation(true);
    StartWorker(std::make_unique<SecretKeyDeleteThread>(
                    this, Target(), m_keys[static_cast<size_t>(row)].handle,
                    [this](const wxString& text) { SetMessage(text); },
                    [this](SecretKeyOutcome& outcome) { Finish(outcome); }),
        _("Failed to delete the secret key."));
}

void SecretKeyManagerDlg::DeleteAll()
{
    if (m_keys.empty()) {
        SetMessage(_("Please select a secret key to be deleted."));
        return;
    }
    const bool single = m_keys.size() == 1;
    SetMessage(
        single ? _("Preparing to delete secret key . . .") : _("Preparing to delete all secret keys . . ."));
    const bool confirmed = single
        ? Confirm(_("Delete Secret Key"),
            _("Such action can make the application that created this secret key to stop working."))
        : Confirm(_("Delete All Secret Keys"),
            _("Such action can make the application that created these secret keys to stop working."));
    if (!confirmed) {
        SetMessage(_("No secret key has been deleted because the operation was cancelled."));
        return;
    }
    BeginOperation(true);
    SetMessage(single ? _("Deleting the secret key . . .") : _("Deleting all secret keys . . ."));
    StartWorker(std::make_unique<SecretKeyDeleteAllThread>(
                    this, Target(), single, [this](const wxString& text) { SetMessage(text); },
                    [this](SecretKeyOutcome& outcome) { Finish(outcome); }),
        single ? _("Failed to delete the secret key.") : _("Failed to delete all secret keys."));
}

void SecretKeyManagerDlg::Finish(SecretKeyOutcome& outcome)
{
    if (outcome.listRead) {
        ShowKeys(std::move(outcome.keys));
    }
    if (!outcome.succeeded) {
        SelectRow(-1);
    }
    FinishWorker(outcome.succeeded, outcome.text);
}
