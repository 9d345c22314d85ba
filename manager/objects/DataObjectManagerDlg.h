// The data object manager: the data objects of one token in a list, with
// Delete and Delete All running in their workers. Delete needs a selected
// row; both buttons are off while the list is empty.
#pragma once

#include "DataObjectThreads.h"
#include "ObjectListDlg.h"

class DataObjectManagerDlg final : public ObjectListDlg {
public:
    enum {
        ID_CBX_SLOT_LIST = 1701,
        ID_LIST_ITEMS,
        ID_BUTTON_DELETE,
        ID_BTN_DELETE_ALL,
        ID_LBE_MESSAGE,
    };

    // slotTexts: the main window's slot list, one entry per slot; slotIndex
    // selects the slot the window works on.
    DataObjectManagerDlg(
        wxWindow* parent, TokenActionHost& host, int slotIndex, const wxArrayString& slotTexts);

    const std::vector<DataObjectEntry>& GetObjects() const { return m_objects; }

    // The operations, as the buttons run them.
    void Delete();
    void DeleteAll();

private:
    void Load() override;
    void ApplyButtons() override;
    void ShowObjects(const std::vector<DataObjectEntry>& objects);
    ManagerTarget Target();
    void Finish(DataObjectOutcome& outcome);

    std::vector<DataObjectEntry> m_objects;
};
