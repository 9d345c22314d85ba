// The User PIN and SO PIN pages: how the PIN of that kind is chosen when a
// token is initialized, its attributes and the random PIN's character classes.
#pragma once

#include "SettingsDlgRules.h"

#include <wx/panel.h>

class SpinField;
class wxCheckBox;
class wxChoice;
class wxSizer;
class wxStaticBoxSizer;
class wxStaticText;
class wxTextCtrl;

class SettingsInitializationPINPnl final : public wxPanel {
public:
    enum {
        ID_GBX_PIN_TYPE = 2300,
        ID_LBE_PIN_TYPE,
        ID_CMB_PIN_TYPE,
        ID_LBE_PIN_VALUE_DESCRIPTION,
        ID_GBX_PIN_VALUE,
        ID_LBE_PIN_VALUE,
        ID_TXT_PIN_VALUE,
        ID_TXT_PIN_VALUE_CHAR,
        ID_CHK_USE_NRV_DEFAULT_PIN,
        ID_CHK_SHOW_CHARACTERS,
        ID_LBE_PIN_STRENGTH,
        ID_LBE_PIN_STRENGTH_VALUE,
        ID_GBX_PIN_ATTRIBUTES,
        ID_LBE_ERROR_LIMIT,
        ID_TXT_ERROR_LIMIT,
        ID_SPIN_ERROR_LIMIT,
        ID_LBE_MIN_LEN,
        ID_TXT_MIN_LEN,
        ID_SPIN_MIN_LEN,
        ID_LBE_MAX_LEN,
        ID_TXT_MAX_LEN,
        ID_SPIN_MAX_LEN,
        ID_GBX_RANDOMIZATION_SETTINGS,
        ID_LBE_RANDOM_PIN_LENGTH,
        ID_TXT_RANDOM_PIN_LEN,
        ID_SPIN_RANDOM_PIN_LEN,
        ID_CHK_USE_NUMBERS,
        ID_CHK_USE_LETTERS,
        ID_CHK_USE_UPPERCASE,
        ID_CHK_USE_LOWERCASE,
        ID_CHK_USE_SYMBOLS,
    };

    // kind is User or SO.
    SettingsInitializationPINPnl(wxWindow* parent, PinKind kind);

    void Load(const PinPageValues& values);
    PinPageValues Store() const { return PinPageWrite(GetState()); }
    PinPageState GetState() const;
    PinKind GetKind() const { return m_kind; }
    // The value field the user sees (plain while "Show characters" is ticked).
    wxTextCtrl* GetVisibleValueField() const;
    // Shows the controls of a type (0, 1, 2), as picking it does.
    void ShowType(long type);
    bool IsChanged() const { return m_changed; }

private:
    void OnType(wxCommandEvent& event);
    void OnUseDefaultPin(wxCommandEvent& event);
    void OnShowCharacters(wxCommandEvent& event);
    void OnValueText(wxCommandEvent& event);
    void OnRandomization(wxCommandEvent& event);
    RandomizationBoxes GetBoxes() const;
    void SetBoxes(const RandomizationBoxes& boxes);

    const PinKind m_kind;
    wxChoice* m_type = nullptr;
    wxStaticText* m_description = nullptr;
    wxStaticBoxSizer* m_valueGroup = nullptr;
    wxTextCtrl* m_masked = nullptr;
    wxTextCtrl* m_plain = nullptr;
    wxCheckBox* m_useDefaultPin = nullptr;
    wxCheckBox* m_showCharacters = nullptr;
    wxStaticText* m_strength = nullptr;
    wxStaticBoxSizer* m_attributesGroup = nullptr;
    SpinField* m_errorLimit = nullptr;
    wxSizer* m_lengthRows = nullptr;
    SpinField* m_minLength = nullptr;
    SpinField* m_maxLength = nullptr;
    wxStaticBoxSizer* m_randomGroup = nullptr;
    SpinField* m_randomLength = nullptr;
    wxCheckBox* m_numbers = nullptr;
    wxCheckBox* m_letters = nullptr;
    wxCheckBox* m_uppercase = nullptr;
    wxCheckBox* m_lowercase = nullptr;
    wxCheckBox* m_symbols = nullptr;
    bool m_changed = false;
};
