// The form for one secret key, in add mode or edit mode. The checks and
// texts it applies live in SecretKeyRules; the form fills an entry from its
// fields when they pass. In edit mode key type, value and "Modifiable" are
// fixed.
#pragma once

#include "ObjectListing.h"

#include <array>
#include <wx/dialog.h>

class wxButton;
class wxCheckBox;
class wxChoice;
class wxRadioButton;
class wxTextCtrl;

class SecretKeyPropertiesDlg final : public wxDialog {
public:
    enum {
        ID_TXT_KEY_LABEL = 1801,
        ID_TXT_KEY_ID,
        ID_BTN_RANDOMIZE,
        ID_CBX_KEY_TYPE,
        ID_RAD_SETVALUE,
        ID_RAD_RANDGEN,
        ID_TXT_KEY_VALUE,
        ID_CHK_MODIFIABLE,
        ID_CHK_ENCRYPT,
        ID_CHK_WRAP,
        ID_CHK_SIGN,
        ID_CHK_DERIVE,
        ID_CHK_DECRYPT,
        ID_CHK_UNWRAP,
        ID_CHK_VERIFY,
        ID_BTN_ADD,
        ID_BTN_CLEAR,
        ID_BTN_DEFAULT,
    };

    // listedIds: the IDs of all listed keys. editIndex: the edited key's
    // position among them and edited its entry; -1 and nullptr to add.
    SecretKeyPropertiesDlg(wxWindow* parent, const std::vector<std::vector<uint8_t>>& listedIds,
        int editIndex, const SecretKeyEntry* edited);

    bool IsAddMode() const { return m_editIndex < 0; }
    // The filled entry, once the form ended with wxID_OK.
    const SecretKeyEntry& GetEntry() const { return m_entry; }
    SecretKeyEntry TakeEntry() { return std::move(m_entry); }

    // The buttons, as pressed.
    void Submit();
    void Randomize();
    void Default();
    void Clear();

    // The fields, for tests.
    wxTextCtrl* GetLabelField() const { return m_label; }
    wxTextCtrl* GetIdField() const { return m_id; }
    wxTextCtrl* GetValueField() const { return m_value; }
    wxChoice* GetTypeChoice() const { return m_type; }
    wxRadioButton* GetRandomChoice() const { return m_random; }
    wxCheckBox* GetCheck(int id) const;

private:
    void CreateControls();
    void Fill(const SecretKeyEntry& entry);
    void FollowValueChoice();

    const std::vector<std::vector<uint8_t>> m_listedIds;
    const int m_editIndex;
    SecretKeyEntry m_entry;

    wxTextCtrl* m_label = nullptr;
    wxTextCtrl* m_id = nullptr;
    wxChoice* m_type = nullptr;
    wxRadioButton* m_setValue = nullptr;
    wxRadioButton* m_random = nullptr;
    wxTextCtrl* m_value = nullptr;
    std::array<wxCheckBox*, 8> m_checks {};
};
