// The secret key manager's workers: add, edit, delete and delete all. Each
// changes the token through the window's session, then lists the keys again
// (delete all lists again until none is left).
#pragma once

#include "ObjectListing.h"
#include "ObjectManagerWorker.h"

// What a secret key worker hands back to the window.
struct SecretKeyOutcome {
    bool succeeded = false;
    // The failure text, or the success text.
    wxString text;
    // keys holds a fresh listing to show.
    bool listRead = false;
    std::vector<SecretKeyEntry> keys;
};

class SecretKeyAddThread final : public ObjectManagerWorker<SecretKeyOutcome> {
public:
    SecretKeyAddThread(wxWindow* window, const ManagerTarget& target, SecretKeyEntry entry, Progress progress,
        Completion completion);

    // The creation template: 14 attributes in the token manager's order,
    // the key type under the maker's attribute 0xFFFFFFFF.
    static constexpr CK_ATTRIBUTE_TYPE kKeyTypeAttribute = 0xFFFFFFFFUL;

private:
    SecretKeyOutcome Work() override;

    ManagerTarget m_target;
    SecretKeyEntry m_entry;
};

class SecretKeyEditThread final : public ObjectManagerWorker<SecretKeyOutcome> {
public:
    SecretKeyEditThread(wxWindow* window, const ManagerTarget& target, SecretKeyEntry entry,
        Progress progress, Completion completion);

private:
    SecretKeyOutcome Work() override;

    ManagerTarget m_target;
    SecretKeyEntry m_entry;
};

class SecretKeyDeleteThread final : public ObjectManagerWorker<SecretKeyOutcome> {
public:
    SecretKeyDeleteThread(wxWindow* window, const ManagerTarget& target, CK_OBJECT_HANDLE key,
        Progress progress, Completion completion);

private:
    SecretKeyOutcome Work() override;

    ManagerTarget m_target;
    CK_OBJECT_HANDLE m_key;
};

class SecretKeyDeleteAllThread final : public ObjectManagerWorker<SecretKeyOutcome> {
public:
    // single: the window listed one key, and the single-key texts are used.
    SecretKeyDeleteAllThread(
        wxWindow* window, const ManagerTarget& target, bool single, Progress progress, Completion completion);

private:
    SecretKeyOutcome Work() override;

    ManagerTarget m_target;
    bool m_single;
};

// The maker's refresh call (on the maker's module), then the listing.
CK_RV RefreshSecretKeys(const ManagerTarget& target, std::vector<SecretKeyEntry>& keys);
