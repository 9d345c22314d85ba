// A number field with its spin button, as the settings pages pair them: the
// field takes digits only and its value stays within the button's range; the
// button writes its value into the field, selected and focused. The minutes
// field of auto-logout follows its own edit rules instead.
#pragma once

#include <wx/panel.h>
#include <wx/string.h>

class wxSpinButton;
class wxTextCtrl;
class wxSpinEvent;

class SpinField final : public wxPanel {
public:
    enum class Rules { Clamp, Minutes };

    SpinField(
        wxWindow* parent, int textId, int spinId, long minValue, long maxValue, Rules rules = Rules::Clamp);

    wxTextCtrl* GetText() const { return m_text; }
    wxSpinButton* GetSpin() const { return m_spin; }

    long GetValue() const;
    // Shows value (clamped) in the field and the button.
    void SetValue(long value);

private:
    void OnKeyDown(wxKeyEvent& event);
    void OnText(wxCommandEvent& event);
    void OnSpin(wxSpinEvent& event);
    void OnKillFocus(wxFocusEvent& event);

    wxTextCtrl* m_text;
    wxSpinButton* m_spin;
    long m_min;
    long m_max;
    Rules m_rules;
    // The minutes field's text before the key press being handled.
    wxString m_previous;
};
