#include "SecretKeyThreads.h"

#include "ObjectDeleteAll.h"
#include "SecretKeyRules.h"
#include "manager/core/CryptokiResultText.h"
#include "manager/core/NRVCMUCryptoki.h"

#include <wx/intl.h>

namespace {

// A flag as the template carries it.
struct Flag {
    explicit Flag(bool on)
        : value(on ? CK_TRUE : CK_FALSE)
    {
    }
    CK_BBOOL value;
};

// Refreshes the listing after a change; a failure leaves the list empty, not stale.
void RefreshInto(const ManagerTarget& target, SecretKeyOutcome& outcome, CK_RV& rv)
{
    outcome.listRead = true;
    rv = RefreshSecretKeys(target, outcome.keys);
    if (rv != CKR_OK) {
        outcome.keys.clear();
    }
}

} // namespace

CK_RV RefreshSecretKeys(const ManagerTarget& target, std::vector<SecretKeyEntry>& keys)
{
    keys.clear();
    const CK_RV rv = target.cryptoki->RefreshBeforeListing(target.slot);
    return rv != CKR_OK ? rv : ListSecretKeys(*target.cryptoki, target.session, keys);
}

SecretKeyAddThread::SecretKeyAddThread(wxWindow* window, const ManagerTarget& target, SecretKeyEntry entry,
    Progress progress, Completion completion)
    : ObjectManagerWorker(window, std::move(progress), std::move(completion))
    , m_target(target)
    , m_entry(std::move(entry))
{
}

SecretKeyOutcome SecretKeyAddThread::Work()
{
    SecretKeyOutcome outcome;
    Report(_("Adding the secret key . . ."));
    std::vector<uint8_t> label = SecretKeyRules::LabelBytes(m_entry.label);
    Flag derive(m_entry.derive), encrypt(m_entry.encrypt), decrypt(m_entry.decrypt), sign(m_entry.sign),
        verify(m_entry.verify), wrap(m_entry.wrap), unwrap(m_entry.unwrap), modifiable(m_entry.modifiable);
    CK_BBOOL onToken = CK_TRUE;
    CK_KEY_TYPE keyType = m_entry.keyType;
    CK_OBJECT_CLASS keyClass = CKO_SECRET_KEY;
    CK_ATTRIBUTE attributes[] = {
        { CKA_LABEL, label.data(), static_cast<CK_ULONG>(label.size()) },
        { CKA_ID, m_entry.id.data(), static_cast<CK_ULONG>(m_entry.id.size()) },
        { CKA_DERIVE, &derive.value, 1 },
        { CKA_ENCRYPT, &encrypt.value, 1 },
        { CKA_DECRYPT, &decrypt.value, 1 },
        { CKA_SIGN, &sign.value, 1 },
        { CKA_VERIFY, &verify.value, 1 },
        { CKA_WRAP, &wrap.value, 1 },
        { CKA_UNWRAP, &unwrap.value, 1 },
        { CKA_MODIFIABLE, &modifiable.value, 1 },
        { kKeyTypeAttribute, &keyType, sizeof keyType },
        { CKA_VALUE, m_entry.value.data(), static_cast<CK_ULONG>(m_entry.value.size()) },
        { CKA_TOKEN, &onToken, sizeof onToken },
        { CKA_CLASS, &keyClass, sizeof keyClass },
    };
    CK_OBJECT_HANDLE created = CK_INVALID_HANDLE;
    CK_RV rv = m_target.cryptoki->CreateCryptoObject(
        m_target.session, attributes, static_cast<CK_ULONG>(std::size(attributes)), &created);
    m_entry.WipeValue();
    const wxString failed = _("Failed to add the secret key.");
    if (rv == CKR_DEVICE_MEMORY) {
        outcome.text = failed + " " + _("Token already has the maximum number of secret keys.");
        return outcome;
    }
    if (rv != CKR_OK) {
        outcome.text = GetResultMessage(rv, failed);
        return outcome;
    }
    Report(_("Refreshing secret key list . . ."));
    RefreshInto(m_target, outcome, rv);
    if (rv != CKR_OK) {
        outcome.text = GetResultMessage(rv, _("Failed to refresh secret key list."));
        return outcome;
    }
    outcome.succeeded = true;
    outcome.text = _("Secret key has been added successfully.");
    return outcome;
}

SecretKeyEditThread::SecretKeyEditThread(wxWindow* window, const ManagerTarget& target, SecretKeyEntry entry,
    Progress progress, Completion completion)
    : ObjectManagerWorker(window, std::move(progress), std::move(completion))
    , m_target(target)
    , m_entry(std::move(entry))
{
}

SecretKeyOutcome SecretKeyEditThread::Work()
{
    SecretKeyOutcome outcome;
    Report(_("Editing the secret key . . ."));
    std::vector<uint8_t> label = SecretKeyRules::LabelBytes(m_entry.label);
    Flag derive(m_entry.derive), encrypt(m_entry.encrypt), decrypt(m_entry.decrypt), sign(m_entry.sign),
        verify(m_entry.verify), wrap(m_entry.wrap), unwrap(m_entry.unwrap);
    CK_ATTRIBUTE attributes[] = {
        { CKA_LABEL, label.data(), static_cast<CK_ULONG>(label.size()) },
        { CKA_ID, m_entry.id.data(), static_cast<CK_ULONG>(m_entry.id.size()) },
        { CKA_DERIVE, &derive.value, 1 },
        { CKA_ENCRYPT, &encrypt.value, 1 },
        { CKA_DECRYPT, &decrypt.value, 1 },
        { CKA_SIGN, &sign.value, 1 },
        { CKA_VERIFY, &verify.value, 1 },
        { CKA_WRAP, &wrap.value, 1 },
        { CKA_UNWRAP, &unwrap.value, 1 },
    };
    const wxString failed = _("Failed to edit the secret key.");
    CK_RV rv = m_target.cryptoki->SetAttributeValue(
        m_target.session, m_entry.handle, attributes, static_cast<CK_ULONG>(std::size(attributes)));
    if (rv != CKR_OK) {
        outcome.text = GetResultMessage(rv, failed);
        return outcome;
    }
    RefreshInto(m_target, outcome, rv);
    if (rv != CKR_OK) {
        outcome.text = GetResultMessage(rv, failed);
        return outcome;
    }
    outcome.succeeded = true;
    outcome.text = _("Secret key has been edited successfully.");
    return outcome;
}

SecretKeyDeleteThread::SecretKeyDeleteThread(wxWindow* window, const ManagerTarget& target,
    CK_OBJECT_HANDLE key, Progress progress, Completion completion)
    : ObjectManagerWorker(window, std::move(progress), std::move(completion))
    , m_target(target)
    , m_key(key)
{
}

SecretKeyOutcome SecretKeyDeleteThread::Work()
{
    SecretKeyOutcome outcome;
    Report(_("Deleting the secret key . . ."));
    CK_RV rv = m_target.cryptoki->DestroyObject(m_target.session, m_key);
    if (rv != CKR_OK) {
        outcome.text = GetResultMessage(rv, _("Failed to delete the secret key."));
        return outcome;
    }
    Report(_("Refreshing secret key list . . ."));
    RefreshInto(m_target, outcome, rv);
    if (rv != CKR_OK) {
        outcome.text = GetResultMessage(rv, _("Failed to refresh secret key list."));
        return outcome;
    }
    outcome.succeeded = true;
    outcome.text = _("Secret key has been deleted successfully.");
    return outcome;
}

SecretKeyDeleteAllThread::SecretKeyDeleteAllThread(
    wxWindow* window, const ManagerTarget& target, bool single, Progress progress, Completion completion)
    : ObjectManagerWorker(window, std::move(progress), std::move(completion))
    , m_target(target)
    , m_single(single)
{
}

SecretKeyOutcome SecretKeyDeleteAllThread::Work()
{
    SecretKeyOutcome outcome;
    ObjectDeleteAll deleteAll(
        [this](std::vector<CK_OBJECT_HANDLE>& handles) {
            return FindSecretKeys(*m_target.cryptoki, m_target.session, handles);
        },
        [this](
            CK_OBJECT_HANDLE handle) { return m_target.cryptoki->DestroyObject(m_target.session, handle); });
    const CK_RV rv = deleteAll.Run();
    if (rv != CKR_OK) {
        outcome.text = GetResultMessage(
            rv, m_single ? _("Failed to delete the secret key.") : _("Failed to delete all secret keys."));
        // Some may be gone: show what is left rather than a stale list.
        outcome.listRead = RefreshSecretKeys(m_target, outcome.keys) == CKR_OK;
        return outcome;
    }
    // Nothing is left: the list is cleared without reading the token again.
    outcome.listRead = true;
    outcome.succeeded = true;
    outcome.text = m_single ? _("Secret key has been deleted successfully.")
                            : _("All secret keys have been deleted successfully.");
    return outcome;
}
