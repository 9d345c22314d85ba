#include "SettingsInitializationTokenPnl.h"

#include "SpinField.h"

#include <wx/checkbox.h>
#include <wx/intl.h>
#include <wx/sizer.h>
#include <wx/statbox.h>
#include <wx/stattext.h>
#include <wx/textctrl.h>

namespace {
constexpr long kMinKeyPairs = 1;
constexpr long kMaxKeyPairs = 10;
} // namespace

SettingsInitializationTokenPnl::SettingsInitializationTokenPnl(wxWindow* parent)
    : wxPanel(parent)
{
    const int gap = FromDIP(6);
    auto* column = new wxBoxSizer(wxVERTICAL);

    auto* labelGroup
        = new wxStaticBoxSizer(new wxStaticBox(this, ID_GBX_TOKEN_LABEL, wxString()), wxVERTICAL);
    wxWindow* labelBox = labelGroup->GetStaticBox();
    m_useDefault = new wxCheckBox(labelBox, ID_CHK_USE_NRV_DEFAULT_SETTING, _("Use NRV Default Token Label"));
    m_label = new wxTextCtrl(labelBox, ID_TXT_TOKEN_LABEL);
    // Wide enough for the longest label the token takes.
    m_label->SetInitialSize(m_label->GetSizeFromTextSize(m_label->GetTextExtent(wxString('W', 24)).x));
    m_appendSerial
        = new wxCheckBox(labelBox, ID_CHK_APPEND_SERIAL_NO, _("Append Card Serial Number to Label"));
    labelGroup->Add(m_useDefault, wxSizerFlags().Border(wxALL, gap / 2));
    labelGroup->Add(m_label, wxSizerFlags().Expand().Border(wxALL, gap / 2));
    labelGroup->Add(m_appendSerial, wxSizerFlags().Border(wxALL, gap / 2));
    column->Add(labelGroup, wxSizerFlags().Expand().Border(wxBOTTOM, gap));

    auto* pairsGroup
        = new wxStaticBoxSizer(new wxStaticBox(this, ID_GBX_KEYPAIRS, _("Token Key Pairs")), wxHORIZONTAL);
    wxWindow* pairsBox = pairsGroup->GetStaticBox();
    auto* caption = new wxStaticText(pairsBox, ID_LBE_MAX_KEYPAIRS, _("Maximum RSA Key Pairs:"));
    m_maxKeyPairs
        = new SpinField(pairsBox, ID_TXT_MAX_KEYPAIRS, ID_SPIN_MAX_KEYPAIRS, kMinKeyPairs, kMaxKeyPairs);
    pairsGroup->Add(caption, wxSizerFlags().CenterVertical().Border(wxALL, gap / 2));
    pairsGroup->Add(m_maxKeyPairs, wxSizerFlags().CenterVertical().Border(wxALL, gap / 2));
    column->Add(pairsGroup, wxSizerFlags().Expand());

    m_useDefault->Bind(wxEVT_CHECKBOX, &SettingsInitializationTokenPnl::OnUseDefault, this);
    m_appendSerial->Bind(wxEVT_CHECKBOX, &SettingsInitializationTokenPnl::OnAppendSerial, this);
    auto changed = [this](wxCommandEvent& event) {
        m_changed = true;
        event.Skip();
    };
    m_label->Bind(wxEVT_TEXT, changed);
    m_maxKeyPairs->GetText()->Bind(wxEVT_TEXT, changed);
    SetSizer(column);
}

void SettingsInitializationTokenPnl::Load(const SettingsValues& values)
{
    const bool useDefault = values.tokenLabel == kNrvDefaultTokenLabel;
    m_appendSerial->SetValue(values.appendSerialNumber);
    m_label->SetMaxLength(values.appendSerialNumber ? kTokenLabelLimitWithSerial : kTokenLabelLimit);
    m_label->ChangeValue(values.appendSerialNumber ? CutLabelForSerial(values.tokenLabel)
                                                   : values.tokenLabel.Left(kTokenLabelLimit));
    m_useDefault->SetValue(useDefault);
    m_label->Enable(!useDefault);
    m_maxKeyPairs->SetValue(values.maxRSAKeyPairs);
    m_changed = false;
}

TokenPageState SettingsInitializationTokenPnl::GetState() const
{
    return { m_useDefault->GetValue(), m_label->GetValue(), m_appendSerial->GetValue(),
        m_maxKeyPairs->GetValue() };
}

void SettingsInitializationTokenPnl::Store(SettingsValues& values) const
{
    const TokenPageState state = GetState();
    values.tokenLabel = TokenLabelWrite(state);
    values.appendSerialNumber = state.appendSerialNumber;
    values.maxRSAKeyPairs = state.maxKeyPairs;
}

void SettingsInitializationTokenPnl::OnUseDefault(wxCommandEvent&)
{
    m_changed = true;
    if (m_useDefault->GetValue()) {
        m_label->ChangeValue(m_appendSerial->GetValue() ? CutLabelForSerial(kNrvDefaultTokenLabel)
                                                        : wxString(kNrvDefaultTokenLabel));
        m_label->Disable();
        return;
    }
    m_label->Enable();
    m_label->SetFocus();
    m_label->SelectAll();
}

void SettingsInitializationTokenPnl::OnAppendSerial(wxCommandEvent&)
{
    m_changed = true;
    if (m_appendSerial->GetValue()) {
        m_label->ChangeValue(CutLabelForSerial(m_label->GetValue()));
        m_label->SetMaxLength(kTokenLabelLimitWithSerial);
    } else {
        m_label->SetMaxLength(kTokenLabelLimit);
    }
    m_label->SetInsertionPointEnd();
    m_label->SetFocus();
}
