// The secret key manager: the symmetric keys of one token in a list, with
// Add and Edit through the properties form and Delete and Delete All, each
// change running in its worker.
#pragma once

#include "ObjectListDlg.h"
#include "SecretKeyThreads.h"

class SecretKeyManagerDlg final : public ObjectListDlg {
public:
    enum {
        ID_CBX_SLOT_LIST = 1901,
        ID_LISTCTRL_SECRETKEYS,
        ID_BUTTON_ADD,
        ID_BUTTON_EDIT,
        ID_BUTTON_DELETE,
        ID_BUTTON_DELETEALL,
        ID_LBE_MESSAGE,
    };

    // slotTexts: the main window's slot list, one entry per slot; slotIndex
    // selects the slot the window works on.
    SecretKeyManagerDlg(
        wxWindow* parent, TokenActionHost& host, int slotIndex, const wxArrayString& slotTexts);

    const std::vector<SecretKeyEntry>& GetKeys() const { return m_keys; }

    // The operations, as the buttons run them.
    void Add();
    void Edit();
    void Delete();
    void DeleteAll();

private:
    void Load() override;
    void ApplyButtons() override;
    void ShowKeys(std::vector<SecretKeyEntry> keys);
    ManagerTarget Target();
    std::vector<std::vector<uint8_t>> ListedIds() const;
    void Finish(SecretKeyOutcome& outcome);

    std::vector<SecretKeyEntry> m_keys;
};
