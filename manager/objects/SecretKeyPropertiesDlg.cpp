#include "SecretKeyPropertiesDlg.h"

#include "SecretKeyRules.h"
#include "manager/core/DialogIdentity.h"
#include "manager/core/ModalRunner.h"
#include "manager/core/SecretString.h"
#include "manager/pin/PinDialogBase.h"
#include "platform/random/Random.h"

#include <algorithm>
#include <wx/button.h>
#include <wx/checkbox.h>
#include <wx/choice.h>
#include <wx/intl.h>
#include <wx/radiobut.h>
#include <wx/sizer.h>
#include <wx/statbox.h>
#include <wx/stattext.h>
#include <wx/textctrl.h>

using namespace vela5::platform;

namespace {

// The check boxes in the order the rows show them, two per row.
constexpr int kCheckIds[] = {
    SecretKeyPropertiesDlg::ID_CHK_MODIFIABLE,
    SecretKeyPropertiesDlg::ID_CHK_DERIVE,
    SecretKeyPropertiesDlg::ID_CHK_ENCRYPT,
    SecretKeyPropertiesDlg::ID_CHK_DECRYPT,
    SecretKeyPropertiesDlg::ID_CHK_WRAP,
    SecretKeyPropertiesDlg::ID_CHK_UNWRAP,
    SecretKeyPropertiesDlg::ID_CHK_SIGN,
    SecretKeyPropertiesDlg::ID_CHK_VERIFY,
};

} // namespace

SecretKeyPropertiesDlg::SecretKeyPropertiesDlg(wxWindow* parent,
    const std::vector<std::vector<uint8_t>>& listedIds, int editIndex, const SecretKeyEntry* edited)
    : wxDialog(parent, DialogIdentity::ID_DLG_SECRET_KEY_PROPERTIES,
        wxString::Format(_("Pavix Manager - %s"), _("Secret Key Properties")), wxDefaultPosition,
        wxDefaultSize, wxDEFAULT_DIALOG_STYLE,
        DialogIdentity::NameOf(DialogIdentity::ID_DLG_SECRET_KEY_PROPERTIES))
    , m_listedIds(listedIds)
    , m_editIndex(edited != nullptr ? editIndex : -1)
{
    CreateControls();
    if (edited != nullptr) {
        Fill(*edited);
    } else {
        Default();
        m_label->SetValue(_("Created by NRVCMU"));
    }
    Bind(
        wxEVT_BUTTON, [this](wxCommandEvent&) { Submit(); }, ID_BTN_ADD);
    Bind(
        wxEVT_BUTTON, [this](wxCommandEvent&) { Randomize(); }, ID_BTN_RANDOMIZE);
    Bind(
        wxEVT_BUTTON, [this](wxCommandEvent&) { Default(); }, ID_BTN_DEFAULT);
    Bind(
        wxEVT_BUTTON, [this](wxCommandEvent&) { Clear(); }, ID_BTN_CLEAR);
    Bind(
        wxEVT_RADIOBUTTON, [this](wxCommandEvent&) { FollowValueChoice(); }, ID_RAD_SETVALUE);
    Bind(
        wxEVT_RADIOBUTTON, [this](wxCommandEvent&) { FollowValueChoice(); }, ID_RAD_RANDGEN);
    Bind(
        wxEVT_CHOICE, [this](wxCommandEvent&) { FollowValueChoice(); }, ID_CBX_KEY_TYPE);
    // Escape and the close box cancel.
    Bind(
        wxEVT_BUTTON, [this](wxCommandEvent&) { EndModal(wxID_NO); }, wxID_CANCEL);
    Bind(wxEVT_CLOSE_WINDOW, [this](wxCloseEvent&) {
        if (IsModal()) {
            EndModal(wxID_NO);
        } else {
            Destroy();
        }
    });
}

void SecretKeyPropertiesDlg::CreateControls()
{
    auto* top = new wxBoxSizer(wxVERTICAL);
    auto* fields = new wxFlexGridSizer(2, 6, 8);
    fields->AddGrowableCol(1);

    fields->Add(new wxStaticText(this, wxID_ANY, _("Key Label")), 0, wxALIGN_CENTER_VERTICAL);
    m_label = new wxTextCtrl(this, ID_TXT_KEY_LABEL);
    fields->Add(m_label, 1, wxEXPAND);

    fields->Add(
        new wxStaticText(this, wxID_ANY, _("Key ID (Maximum of 32 Bytes)")), 0, wxALIGN_CENTER_VERTICAL);
    auto* idRow = new wxBoxSizer(wxHORIZONTAL);
    m_id = new wxTextCtrl(this, ID_TXT_KEY_ID);
    // Wide enough to show all 32 bytes, measured from such a text.
    const wxString widest = SecretKeyRules::HexText(std::vector<uint8_t>(SecretKeyRules::kMaxIdBytes, 0xDD));
    m_id->SetMinSize(wxSize(m_id->GetTextExtent(widest).x + m_id->GetCharWidth() * 3, -1));
    m_id->SetMaxLength(SecretKeyRules::kMaxIdTextLength);
    idRow->Add(m_id, 1, wxEXPAND | wxRIGHT, 6);
    idRow->Add(new wxButton(this, ID_BTN_RANDOMIZE, _("Randomize")));
    fields->Add(idRow, 1, wxEXPAND);

    fields->Add(new wxStaticText(this, wxID_ANY, _("Key Type")), 0, wxALIGN_CENTER_VERTICAL);
    wxArrayString types;
    types.Add(_("Single DES"));
    types.Add(_("Triple DES"));
    types.Add(_("AES"));
    m_type = new wxChoice(this, ID_CBX_KEY_TYPE, wxDefaultPosition, wxDefaultSize, types);
    fields->Add(m_type, 0);

    fields->Add(new wxStaticText(this, wxID_ANY, _("Key Value")), 0, wxALIGN_CENTER_VERTICAL);
    auto* choiceRow = new wxBoxSizer(wxHORIZONTAL);
    m_setValue = new wxRadioButton(
        this, ID_RAD_SETVALUE, _("Set Value"), wxDefaultPosition, wxDefaultSize, wxRB_GROUP);
    m_random = new wxRadioButton(this, ID_RAD_RANDGEN, _("Randomly Generated"));
    choiceRow->Add(m_setValue, 0, wxRIGHT, 12);
    choiceRow->Add(m_random);
    fields->Add(choiceRow);
    fields->AddSpacer(0);
    m_value = new wxTextCtrl(this, ID_TXT_KEY_VALUE);
    fields->Add(m_value, 1, wxEXPAND);
    top->Add(fields, 0, wxEXPAND | wxALL, 10);

    auto* attributes = new wxStaticBoxSizer(wxVERTICAL, this, _("Key Operation Attributes"));
    auto* grid = new wxGridSizer(2, 4, 16);
    const wxString labels[] = { _("Modifiable"), _("Derive"), _("Encrypt"), _("Decrypt"), _("Wrap"),
        _("Unwrap"), _("Sign"), _("Verify") };
    for (size_t i = 0; i < m_checks.size(); ++i) {
        m_checks[i] = new wxCheckBox(attributes->GetStaticBox(), kCheckIds[i], labels[i]);
        grid->Add(m_checks[i]);
    }
    attributes->Add(grid, 0, wxALL, 6);
    top->Add(attributes, 0, wxEXPAND | wxLEFT | wxRIGHT, 10);

    auto* buttons = new wxBoxSizer(wxHORIZONTAL);
    buttons->AddStretchSpacer();
    buttons->Add(new wxButton(this, ID_BTN_ADD, IsAddMode() ? _("Add") : _("Edit")), 0, wxRIGHT, 6);
    buttons->Add(new wxButton(this, ID_BTN_CLEAR, _("Clear")), 0, wxRIGHT, 6);
    buttons->Add(new wxButton(this, ID_BTN_DEFAULT, _("Default")));
    top->Add(buttons, 0, wxEXPAND | wxALL, 10);
    SetSizerAndFit(top);
}

wxCheckBox* SecretKeyPropertiesDlg::GetCheck(int id) const
{
    for (wxCheckBox* check : m_checks) {
        if (check->GetId() == id) {
            return check;
        }
    }
    return nullptr;
}

void SecretKeyPropertiesDlg::Fill(const SecretKeyEntry& entry)
{
    m_entry = entry;
    m_label->SetValue(entry.label);
    const wxString id = SecretKeyRules::HexText(entry.id);
    // A key made elsewhere may have a longer ID: the field keeps all of it.
    m_id->SetMaxLength(std::max<unsigned long>(SecretKeyRules::kMaxIdTextLength, id.length()));
    m_id->SetValue(id);
    const int index = SecretKeyRules::KeyTypeIndex(entry.keyType);
    m_type->SetSelection(index);
    m_setValue->SetValue(true);
    m_value->SetValue(SecretKeyRules::MaskedValue(SecretKeyRules::ValueLength(index)));
    const bool flags[] = { entry.modifiable, entry.derive, entry.encrypt, entry.decrypt, entry.wrap,
        entry.unwrap, entry.sign, entry.verify };
    for (size_t i = 0; i < m_checks.size(); ++i) {
        m_checks[i]->SetValue(flags[i]);
    }
    m_type->Disable();
    m_value->Disable();
    m_setValue->Disable();
    m_random->Disable();
    GetCheck(ID_CHK_MODIFIABLE)->Disable();
}

void SecretKeyPropertiesDlg::FollowValueChoice()
{
    if (!IsAddMode()) {
        return;
    }
    // A generated value is never shown: the field shows its mask.
    const bool random = m_random->GetValue();
    m_value->Enable(!random);
    if (random) {
        m_value->SetValue(SecretKeyRules::MaskedValue(SecretKeyRules::ValueLength(m_type->GetSelection())));
    } else if (m_value->GetValue().StartsWith("XX")) {
        m_value->Clear();
    }
}

void SecretKeyPropertiesDlg::Randomize()
{
    std::vector<uint8_t> id(SecretKeyRules::kMaxIdBytes);
    if (!Random::Fill(id.data(), id.size())) {
        return;
    }
    m_id->SetValue(SecretKeyRules::HexText(id));
}

void SecretKeyPropertiesDlg::Default()
{
    m_label->SetValue(_("Created by NRVCME"));
    for (wxCheckBox* check : m_checks) {
        if (check->GetId() != ID_CHK_MODIFIABLE) {
            check->SetValue(true);
        }
    }
    if (IsAddMode()) {
        m_type->SetSelection(0);
        m_setValue->SetValue(true);
        m_value->Clear();
        GetCheck(ID_CHK_MODIFIABLE)->SetValue(true);
        FollowValueChoice();
    }
}

void SecretKeyPropertiesDlg::Clear()
{
    m_label->Clear();
    m_id->Clear();
    if (IsAddMode() && m_value->IsEnabled()) {
        m_value->Clear();
    }
}

void SecretKeyPropertiesDlg::Submit()
{
    SecretKeyRules::FormInput input;
    input.addMode = IsAddMode();
    input.label = m_label->GetValue();
    input.id = m_id->GetValue();
    input.typeIndex = m_type->GetSelection();
    input.randomValue = m_random->GetValue();
    input.value = IsAddMode() && !input.randomValue ? m_value->GetValue() : wxString();
    const SecretKeyRules::FormCheck check = SecretKeyRules::CheckForm(input, m_listedIds, m_editIndex);
    if (check.field != SecretKeyRules::Field::None) {
        SecretString::Wipe(input.value);
        ModalRunner::ShowMessage(check.message,
            wxString::Format(
                _("Pavix Manager - %s"), IsAddMode() ? _("Add Secret Key") : _("Edit Secret Key")),
            wxOK | wxICON_EXCLAMATION, this);
        if (check.field == SecretKeyRules::Field::Label) {
            m_label->SetFocus();
            m_label->SelectAll();
        } else {
            (check.field == SecretKeyRules::Field::Id ? m_id : m_value)->SetFocus();
        }
        return;
    }
    m_entry.label = input.label;
    SecretKeyRules::ReadHex(input.id, m_entry.id);
    const bool flags[] = { GetCheck(ID_CHK_DERIVE)->GetValue(), GetCheck(ID_CHK_ENCRYPT)->GetValue(),
        GetCheck(ID_CHK_DECRYPT)->GetValue(), GetCheck(ID_CHK_SIGN)->GetValue(),
        GetCheck(ID_CHK_VERIFY)->GetValue(), GetCheck(ID_CHK_WRAP)->GetValue(),
        GetCheck(ID_CHK_UNWRAP)->GetValue() };
    m_entry.derive = flags[0];
    m_entry.encrypt = flags[1];
    m_entry.decrypt = flags[2];
    m_entry.sign = flags[3];
    m_entry.verify = flags[4];
    m_entry.wrap = flags[5];
    m_entry.unwrap = flags[6];
    if (IsAddMode()) {
        m_entry.modifiable = GetCheck(ID_CHK_MODIFIABLE)->GetValue();
        m_entry.keyType = SecretKeyRules::KeyTypeOfIndex(input.typeIndex);
        m_entry.WipeValue();
        if (input.randomValue) {
            m_entry.value.resize(SecretKeyRules::ValueLength(input.typeIndex));
            if (!Random::Fill(m_entry.value.data(), m_entry.value.size())) {
                m_entry.WipeValue();
                return;
            }
        } else {
            SecretKeyRules::ReadHex(input.value, m_entry.value);
            SecretString::Wipe(input.value);
            m_value->Clear();
        }
    }
    EndModal(wxID_OK);
}
