#include "SettingsInitializationPINPnl.h"

#include "SpinField.h"
#include "manager/core/ModalRunner.h"
#include "manager/pin/PasswordChecker.h"
#include "manager/pin/PinDialogBase.h"

#include <wx/checkbox.h>
#include <wx/choice.h>
#include <wx/intl.h>
#include <wx/msgdlg.h>
#include <wx/sizer.h>
#include <wx/statbox.h>
#include <wx/stattext.h>
#include <wx/textctrl.h>

namespace {
constexpr long kMinErrorLimit = 1;
constexpr long kMaxErrorLimit = 8;
constexpr long kMinPinLength = 4;
constexpr long kMaxPinLength = 8;
constexpr int kPinValueLimit = 8;
} // namespace

SettingsInitializationPINPnl::SettingsInitializationPINPnl(wxWindow* parent, PinKind kind)
    : wxPanel(parent)
    , m_kind(kind)
{
    const bool so = kind == PinKind::SO;
    const int gap = FromDIP(6);
    auto* column = new wxBoxSizer(wxVERTICAL);
    auto labelled = [&](wxSizer* grid, wxWindow* box, int id, const wxString& text, wxWindow* control) {
        grid->Add(new wxStaticText(box, id, text), wxSizerFlags().CenterVertical());
        grid->Add(control, wxSizerFlags().CenterVertical());
    };

    auto* typeGroup = new wxStaticBoxSizer(
        new wxStaticBox(this, ID_GBX_PIN_TYPE, so ? _("SO PIN Type") : _("User PIN Type")), wxVERTICAL);
    wxWindow* typeBox = typeGroup->GetStaticBox();
    m_type = new wxChoice(typeBox, ID_CMB_PIN_TYPE);
    m_type->Append(_("Default Value"));
    m_type->Append(_("Manual Input"));
    m_type->Append(_("Randomly Generated"));
    auto* typeRow = new wxFlexGridSizer(2, gap, gap);
    labelled(typeRow, typeBox, ID_LBE_PIN_TYPE, _("Type:"), m_type);
    m_description = new wxStaticText(typeBox, ID_LBE_PIN_VALUE_DESCRIPTION, PinTypeDescription(kind, 0));
    typeGroup->Add(typeRow, wxSizerFlags().Border(wxALL, gap / 2));
    typeGroup->Add(m_description, wxSizerFlags().Border(wxALL, gap / 2));
    column->Add(typeGroup, wxSizerFlags().Expand().Border(wxBOTTOM, gap));

    m_valueGroup = new wxStaticBoxSizer(
        new wxStaticBox(this, ID_GBX_PIN_VALUE, so ? _("SO PIN Value") : _("User PIN Value")), wxVERTICAL);
    wxWindow* valueBox = m_valueGroup->GetStaticBox();
    m_masked = new wxTextCtrl(
        valueBox, ID_TXT_PIN_VALUE, wxString(), wxDefaultPosition, wxDefaultSize, wxTE_PASSWORD);
    m_plain = new wxTextCtrl(valueBox, ID_TXT_PIN_VALUE_CHAR);
    for (wxTextCtrl* field : { m_masked, m_plain }) {
        field->SetMaxLength(kPinValueLimit);
        field->SetInitialSize(field->GetSizeFromTextSize(field->GetTextExtent(wxString('W', 10)).x));
        field->Bind(wxEVT_TEXT, &SettingsInitializationPINPnl::OnValueText, this);
    }
    m_plain->Hide();
    auto* valueRow = new wxBoxSizer(wxHORIZONTAL);
    valueRow->Add(new wxStaticText(valueBox, ID_LBE_PIN_VALUE, _("Value:")),
        wxSizerFlags().CenterVertical().Border(wxRIGHT, gap));
    valueRow->Add(m_masked, wxSizerFlags().CenterVertical());
    valueRow->Add(m_plain, wxSizerFlags().CenterVertical());
    m_useDefaultPin = new wxCheckBox(valueBox, ID_CHK_USE_NRV_DEFAULT_PIN,
        so ? _("Use NRV Default SO PIN Value") : _("Use NRV Default User PIN Value"));
    m_showCharacters = new wxCheckBox(valueBox, ID_CHK_SHOW_CHARACTERS, _("Show characters"));
    auto* strengthRow = new wxBoxSizer(wxHORIZONTAL);
    strengthRow->Add(new wxStaticText(valueBox, ID_LBE_PIN_STRENGTH, _("Strength:")),
        wxSizerFlags().CenterVertical().Border(wxRIGHT, gap));
    m_strength = new wxStaticText(valueBox, ID_LBE_PIN_STRENGTH_VALUE, wxString());
    strengthRow->Add(m_strength, wxSizerFlags(1).CenterVertical());
    m_valueGroup->Add(valueRow, wxSizerFlags().Border(wxALL, gap / 2));
    m_valueGroup->Add(m_useDefaultPin, wxSizerFlags().Border(wxALL, gap / 2));
    m_valueGroup->Add(m_showCharacters, wxSizerFlags().Border(wxALL, gap / 2));
    m_valueGroup->Add(strengthRow, wxSizerFlags().Expand().Border(wxALL, gap / 2));
    column->Add(m_valueGroup, wxSizerFlags().Expand().Border(wxBOTTOM, gap));

    m_attributesGroup = new wxStaticBoxSizer(
        new wxStaticBox(this, ID_GBX_PIN_ATTRIBUTES, so ? _("SO PIN Attributes") : _("User PIN Attributes")),
        wxVERTICAL);
    wxWindow* attributesBox = m_attributesGroup->GetStaticBox();
    m_errorLimit = new SpinField(
        attributesBox, ID_TXT_ERROR_LIMIT, ID_SPIN_ERROR_LIMIT, kMinErrorLimit, kMaxErrorLimit);
    m_minLength = new SpinField(attributesBox, ID_TXT_MIN_LEN, ID_SPIN_MIN_LEN, kMinPinLength, kMaxPinLength);
    m_maxLength = new SpinField(attributesBox, ID_TXT_MAX_LEN, ID_SPIN_MAX_LEN, kMinPinLength, kMaxPinLength);
    auto* errorRow = new wxFlexGridSizer(2, gap, gap);
    labelled(errorRow, attributesBox, ID_LBE_ERROR_LIMIT, _("Error Limit:"), m_errorLimit);
    auto* lengthRows = new wxFlexGridSizer(2, gap, gap);
    labelled(lengthRows, attributesBox, ID_LBE_MIN_LEN, _("Minimum Length:"), m_minLength);
    labelled(lengthRows, attributesBox, ID_LBE_MAX_LEN, _("Maximum Length:"), m_maxLength);
    m_lengthRows = lengthRows;
    m_attributesGroup->Add(errorRow, wxSizerFlags().Border(wxALL, gap / 2));
    m_attributesGroup->Add(lengthRows, wxSizerFlags().Border(wxALL, gap / 2));
    column->Add(m_attributesGroup, wxSizerFlags().Expand().Border(wxBOTTOM, gap));

    m_randomGroup = new wxStaticBoxSizer(
        new wxStaticBox(this, ID_GBX_RANDOMIZATION_SETTINGS, _("Randomization Settings")), wxVERTICAL);
    wxWindow* randomBox = m_randomGroup->GetStaticBox();
    m_randomLength = new SpinField(
        randomBox, ID_TXT_RANDOM_PIN_LEN, ID_SPIN_RANDOM_PIN_LEN, kMinPinLength, kMaxPinLength);
    auto* lengthRow = new wxFlexGridSizer(2, gap, gap);
    labelled(lengthRow, randomBox, ID_LBE_RANDOM_PIN_LENGTH, _("PIN Length:"), m_randomLength);
    m_numbers = new wxCheckBox(randomBox, ID_CHK_USE_NUMBERS, _("Use numbers"));
    m_letters = new wxCheckBox(randomBox, ID_CHK_USE_LETTERS, _("Use letters"));
    m_uppercase = new wxCheckBox(randomBox, ID_CHK_USE_UPPERCASE, _("Uppercase"));
    m_lowercase = new wxCheckBox(randomBox, ID_CHK_USE_LOWERCASE, _("Lowercase"));
    m_symbols = new wxCheckBox(randomBox, ID_CHK_USE_SYMBOLS, _("Use symbols"));
    m_randomGroup->Add(lengthRow, wxSizerFlags().Border(wxALL, gap / 2));
    m_randomGroup->Add(m_numbers, wxSizerFlags().Border(wxALL, gap / 2));
    m_randomGroup->Add(m_letters, wxSizerFlags().Border(wxALL, gap / 2));
    auto* cases = new wxBoxSizer(wxHORIZONTAL);
    cases->Add(m_uppercase, wxSizerFlags().Border(wxRIGHT, gap * 2));
    cases->Add(m_lowercase);
    m_randomGroup->Add(cases, wxSizerFlags().Border(wxLEFT, gap * 4).Border(wxALL, gap / 2));
    m_randomGroup->Add(m_symbols, wxSizerFlags().Border(wxALL, gap / 2));
    column->Add(m_randomGroup, wxSizerFlags().Expand());
    for (wxCheckBox* box : { m_numbers, m_letters, m_uppercase, m_lowercase, m_symbols }) {
        box->Bind(wxEVT_CHECKBOX, &SettingsInitializationPINPnl::OnRandomization, this);
    }

    m_type->Bind(wxEVT_CHOICE, &SettingsInitializationPINPnl::OnType, this);
    m_useDefaultPin->Bind(wxEVT_CHECKBOX, &SettingsInitializationPINPnl::OnUseDefaultPin, this);
    m_showCharacters->Bind(wxEVT_CHECKBOX, &SettingsInitializationPINPnl::OnShowCharacters, this);
    for (SpinField* field : { m_errorLimit, m_minLength, m_maxLength, m_randomLength }) {
        field->GetText()->Bind(wxEVT_TEXT, [this](wxCommandEvent& event) {
            m_changed = true;
            event.Skip();
        });
    }
    SetSizer(column);
}

void SettingsInitializationPINPnl::Load(const PinPageValues& values)
{
    const long type = values.type < 0 || values.type > 2 ? 2 : values.type;
    m_type->SetSelection(static_cast<int>(type));
    m_masked->ChangeValue(values.defaultValue.Left(kPinValueLimit));
    m_plain->ChangeValue(m_masked->GetValue());
    const bool factory = values.defaultValue == kFactoryDefaultPin;
    m_useDefaultPin->SetValue(factory);
    m_masked->Enable(!factory);
    m_plain->Enable(!factory);
    m_strength->SetLabel(GetStrengthText(m_masked->GetValue()));
    m_errorLimit->SetValue(values.errorLimit);
    m_minLength->SetValue(values.minLength);
    m_maxLength->SetValue(values.maxLength);
    m_randomLength->SetValue(values.randomLength);
    m_numbers->SetValue(values.useNumbers);
    m_uppercase->SetValue(values.useUppercase);
    m_lowercase->SetValue(values.useLowercase);
    m_letters->SetValue(values.useUppercase || values.useLowercase);
    m_symbols->SetValue(values.useSymbols);
    ShowType(type);
    m_changed = false;
}

PinPageState SettingsInitializationPINPnl::GetState() const
{
    PinPageState state;
    state.type = m_type->GetSelection();
    state.value = GetVisibleValueField()->GetValue();
    state.errorLimit = m_errorLimit->GetValue();
    state.minLength = m_minLength->GetValue();
    state.maxLength = m_maxLength->GetValue();
    state.randomLength = m_randomLength->GetValue();
    state.useNumbers = m_numbers->GetValue();
    state.useUppercase = m_uppercase->GetValue();
    state.useLowercase = m_lowercase->GetValue();
    state.useSymbols = m_symbols->GetValue();
    return state;
}

wxTextCtrl* SettingsInitializationPINPnl::GetVisibleValueField() const
{
    return m_showCharacters->GetValue() ? m_plain : m_masked;
}

void SettingsInitializationPINPnl::ShowType(long type)
{
    const PinSource source = PinSourceForType(type);
    m_type->SetSelection(static_cast<int>(type < 0 || type > 2 ? 2 : type));
    const bool isDefault = source == PinSource::Default;
    if (isDefault) {
        // The value starts masked whenever its type is picked.
        m_showCharacters->SetValue(false);
        m_plain->Hide();
    }
    GetSizer()->Show(m_valueGroup, isDefault, true);
    if (isDefault) {
        m_plain->Hide();
    }
    m_attributesGroup->Show(m_lengthRows, source == PinSource::Manual, true);
    GetSizer()->Show(m_randomGroup, source == PinSource::Random, true);
    m_description->SetLabel(PinTypeDescription(m_kind, type));
    Layout();
}

void SettingsInitializationPINPnl::OnType(wxCommandEvent&)
{
    m_changed = true;
    ShowType(m_type->GetSelection());
}

void SettingsInitializationPINPnl::OnUseDefaultPin(wxCommandEvent&)
{
    m_changed = true;
    if (m_useDefaultPin->GetValue()) {
        m_masked->ChangeValue(kFactoryDefaultPin);
        m_plain->ChangeValue(kFactoryDefaultPin);
        m_masked->Disable();
        m_plain->Disable();
        m_strength->SetLabel(GetStrengthText(kFactoryDefaultPin));
        return;
    }
    m_masked->Enable();
    m_plain->Enable();
    wxTextCtrl* visible = GetVisibleValueField();
    visible->SetFocus();
    visible->SelectAll();
}

void SettingsInitializationPINPnl::OnShowCharacters(wxCommandEvent&)
{
    const bool show = m_showCharacters->GetValue();
    wxTextCtrl* from = show ? m_masked : m_plain;
    wxTextCtrl* to = show ? m_plain : m_masked;
    const long caret = from->GetInsertionPoint();
    from->Hide();
    to->Show();
    m_valueGroup->GetStaticBox()->Layout();
    Layout();
    to->SetFocus();
    to->SetInsertionPoint(caret);
}

void SettingsInitializationPINPnl::OnValueText(wxCommandEvent& event)
{
    m_changed = true;
    auto* field = static_cast<wxTextCtrl*>(event.GetEventObject());
    wxTextCtrl* other = field == m_masked ? m_plain : m_masked;
    other->ChangeValue(field->GetValue());
    m_strength->SetLabel(GetStrengthText(field->GetValue()));
}

RandomizationBoxes SettingsInitializationPINPnl::GetBoxes() const
{
    return { m_numbers->GetValue(), m_letters->GetValue(), m_uppercase->GetValue(), m_lowercase->GetValue(),
        m_symbols->GetValue() };
}

void SettingsInitializationPINPnl::SetBoxes(const RandomizationBoxes& boxes)
{
    m_numbers->SetValue(boxes.numbers);
    m_letters->SetValue(boxes.letters);
    m_uppercase->SetValue(boxes.uppercase);
    m_lowercase->SetValue(boxes.lowercase);
    m_symbols->SetValue(boxes.symbols);
}

void SettingsInitializationPINPnl::OnRandomization(wxCommandEvent& event)
{
    m_changed = true;
    RandomizationBox which = RandomizationBox::Numbers;
    switch (event.GetId()) {
    case ID_CHK_USE_LETTERS:
        which = RandomizationBox::Letters;
        break;
    case ID_CHK_USE_UPPERCASE:
        which = RandomizationBox::Uppercase;
        break;
    case ID_CHK_USE_LOWERCASE:
        which = RandomizationBox::Lowercase;
        break;
    case ID_CHK_USE_SYMBOLS:
        which = RandomizationBox::Symbols;
        break;
    default:
        break;
    }
    // The box already shows its new state; the rule wants the state before.
    const bool ticked = event.IsChecked();
    RandomizationBoxes before = GetBoxes();
    switch (which) {
    case RandomizationBox::Numbers:
        before.numbers = !ticked;
        break;
    case RandomizationBox::Letters:
        before.letters = !ticked;
        break;
    case RandomizationBox::Uppercase:
        before.uppercase = !ticked;
        break;
    case RandomizationBox::Lowercase:
        before.lowercase = !ticked;
        break;
    case RandomizationBox::Symbols:
        before.symbols = !ticked;
        break;
    }
    const RandomizationReaction reaction = ToggleRandomization(before, which, ticked);
    SetBoxes(reaction.boxes);
    if (reaction.showMessage) {
        ModalRunner::ShowMessage(_("At least one randomization option must be checked."),
            ManagerTitle(_("Settings")), wxOK | wxICON_INFORMATION, this);
    }
}
