#include "SpinField.h"

#include "SettingsDlgRules.h"

#include <wx/sizer.h>
#include <wx/spinbutt.h>
#include <wx/textctrl.h>

SpinField::SpinField(wxWindow* parent, int textId, int spinId, long minValue, long maxValue, Rules rules)
    : wxPanel(parent)
    , m_min(minValue)
    , m_max(maxValue)
    , m_rules(rules)
{
    const int digits = wxString::Format("%ld", maxValue).length();
    m_text = new wxTextCtrl(this, textId, wxString(), wxDefaultPosition, wxDefaultSize, wxTE_RIGHT);
    // Room for the widest value and a little more, measured from the font.
    m_text->SetInitialSize(m_text->GetSizeFromTextSize(m_text->GetTextExtent(wxString('0', digits + 1)).x));
    m_text->SetMaxLength(rules == Rules::Minutes ? 0 : digits);
    m_spin
        = new wxSpinButton(this, spinId, wxDefaultPosition, wxDefaultSize, wxSP_VERTICAL | wxSP_ARROW_KEYS);
    m_spin->SetRange(static_cast<int>(minValue), static_cast<int>(maxValue));
    auto* row = new wxBoxSizer(wxHORIZONTAL);
    row->Add(m_text, wxSizerFlags().CenterVertical());
    row->Add(m_spin, wxSizerFlags().Expand());
    SetSizerAndFit(row);

    if (rules == Rules::Minutes) {
        m_text->Bind(wxEVT_KEY_DOWN, &SpinField::OnKeyDown, this);
    }
    m_text->Bind(wxEVT_TEXT, &SpinField::OnText, this);
    m_text->Bind(wxEVT_KILL_FOCUS, &SpinField::OnKillFocus, this);
    m_spin->Bind(wxEVT_SPIN, &SpinField::OnSpin, this);
    SetValue(minValue);
}

long SpinField::GetValue() const
{
    return m_spin->GetValue();
}

void SpinField::SetValue(long value)
{
    const long clamped = value < m_min ? m_min : (value > m_max ? m_max : value);
    m_spin->SetValue(static_cast<int>(clamped));
    m_text->ChangeValue(wxString::Format("%ld", clamped));
    m_previous = m_text->GetValue();
}

void SpinField::OnKeyDown(wxKeyEvent& event)
{
    if (!IsMinutesKeyAccepted(event.GetKeyCode(), event.ShiftDown())) {
        return;
    }
    m_previous = m_text->GetValue();
    event.Skip();
}

void SpinField::OnText(wxCommandEvent&)
{
    const wxString typed = m_text->GetValue();
    if (m_rules == Rules::Minutes) {
        const MinutesEdit edit = ApplyMinutesEdit(typed, m_previous);
        if (edit.shown != typed) {
            m_text->ChangeValue(edit.shown);
        }
        m_spin->SetValue(static_cast<int>(edit.value));
        m_text->SetInsertionPointEnd();
        m_previous = edit.shown;
        return;
    }
    const wxString digits = DigitsOnly(typed);
    if (digits != typed) {
        m_text->ChangeValue(digits);
        m_text->SetInsertionPointEnd();
    }
    m_spin->SetValue(static_cast<int>(ClampSpinText(digits, m_min, m_max)));
}

void SpinField::OnKillFocus(wxFocusEvent& event)
{
    event.Skip();
    // What the field shows is what gets saved.
    const wxString shown = wxString::Format("%d", m_spin->GetValue());
    if (m_text->GetValue() != shown) {
        m_text->ChangeValue(shown);
    }
}

void SpinField::OnSpin(wxSpinEvent& event)
{
    m_text->ChangeValue(wxString::Format("%d", event.GetPosition()));
    m_previous = m_text->GetValue();
    m_text->SetFocus();
    m_text->SelectAll();
}
