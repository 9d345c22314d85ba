// The data object manager's workers: DataObjectDeleteThread destroys one
// object and lists the token again; DataObjectDeleteAllThread destroys every
// data object, listing again until none is left.
#pragma once

#include "ObjectListing.h"
#include "ObjectManagerWorker.h"

// What a data object worker hands back to the window.
struct DataObjectOutcome {
    bool succeeded = false;
    // The failure text, or the success text.
    wxString text;
    // objects holds a fresh listing to show.
    bool listRead = false;
    std::vector<DataObjectEntry> objects;
};

class DataObjectDeleteThread final : public ObjectManagerWorker<DataObjectOutcome> {
public:
    DataObjectDeleteThread(wxWindow* window, const ManagerTarget& target, CK_OBJECT_HANDLE object,
        Progress progress, Completion completion);

private:
    DataObjectOutcome Work() override;

    ManagerTarget m_target;
    CK_OBJECT_HANDLE m_object;
};

class DataObjectDeleteAllThread final : public ObjectManagerWorker<DataObjectOutcome> {
public:
    DataObjectDeleteAllThread(
        wxWindow* window, const ManagerTarget& target, Progress progress, Completion completion);

private:
    DataObjectOutcome Work() override;

    ManagerTarget m_target;
};

// The maker's refresh call (on the maker's module), then the listing.
CK_RV RefreshDataObjects(const ManagerTarget& target, std::vector<DataObjectEntry>& objects);
