#include "CertificateListing.h"

#include "X509Info.h"
#include "manager/core/NRVCMUCryptoki.h"

#include <wx/intl.h>

namespace {

CK_RV FindHandles(NRVCMUCryptoki& cryptoki, CK_SESSION_HANDLE session, CK_ATTRIBUTE* filter, CK_ULONG count,
    CK_ULONG maxHandles, std::vector<CK_OBJECT_HANDLE>& handles)
{
    handles.assign(maxHandles, CK_INVALID_HANDLE);
    CK_ULONG found = 0;
    const CK_RV rv = cryptoki.FindObjects(session, filter, count, handles.data(), maxHandles, &found);
    handles.resize(rv == CKR_OK ? std::min(found, maxHandles) : 0);
    return rv;
}

// The key-pair index of a key or the logon mark of a certificate: one byte.
CK_RV ReadByte(NRVCMUCryptoki& cryptoki, CK_SESSION_HANDLE session, CK_OBJECT_HANDLE object,
    CK_ATTRIBUTE_TYPE type, CK_BYTE& value)
{
    CK_ATTRIBUTE attribute = { type, &value, sizeof value };
    return cryptoki.GetAttributeValue(session, object, &attribute, 1);
}

KeyEntry* FirstUnpaired(std::vector<KeyEntry>& keys, const std::vector<uint8_t>* id, CK_BYTE keyIndex)
{
    for (KeyEntry& key : keys) {
        if (key.paired) {
            continue;
        }
        if (id != nullptr ? key.id == *id : key.keyIndex == keyIndex) {
            return &key;
        }
    }
    return nullptr;
}

} // namespace

void CertificateTables::Reset()
{
    certificates.clear();
    privateKeys.clear();
    publicKeys.clear();
}

CK_RV ListKeys(NRVCMUCryptoki& cryptoki, CK_SESSION_HANDLE session, CK_OBJECT_CLASS keyClass,
    std::vector<KeyEntry>& keys)
{
    keys.clear();
    const bool fromPrivate = keyClass == CKO_PRIVATE_KEY;
    CK_OBJECT_CLASS searched = keyClass;
    CK_ATTRIBUTE filter[] = { { CKA_CLASS, &searched, sizeof searched } };
    std::vector<CK_OBJECT_HANDLE> handles;
    CK_RV rv = FindHandles(cryptoki, session, filter, 1, kMaxListedObjects, handles);
    if (rv != CKR_OK) {
        return rv;
    }
    for (const CK_OBJECT_HANDLE handle : handles) {
        KeyEntry key;
        key.handle = handle;
        std::vector<std::vector<uint8_t>> values;
        rv = cryptoki.GetAttributeBytes(session, handle, { CKA_ID }, values);
        if (rv != CKR_OK) {
            return rv;
        }
        key.id = std::move(values[0]);
        // A module without the maker's attributes pairs by ID only.
        if (!cryptoki.HasVendorEntries()) {
            key.pairIndex = 0;
            keys.push_back(std::move(key));
            continue;
        }
        rv = ReadByte(cryptoki, session, handle, CKA_NRV_KEY_PAIR_INDEX, key.keyIndex);
        if (rv != CKR_OK) {
            return rv;
        }
        rv = cryptoki.GetKeyPairIndex(session,
            fromPrivate ? NRV_FROM_PRIVATE_KEY_INDEX : NRV_FROM_PUBLIC_KEY_INDEX, key.keyIndex,
            &key.pairIndex);
        if (rv != CKR_OK) {
            return rv;
        }
        if (key.pairIndex != 0) {
            CK_OBJECT_CLASS other = fromPrivate ? CKO_PUBLIC_KEY : CKO_PRIVATE_KEY;
            CK_BYTE partner = key.pairIndex;
            CK_ATTRIBUTE partnerFilter[] = {
                { CKA_CLASS, &other, sizeof other },
                { CKA_NRV_KEY_PAIR_INDEX, &partner, sizeof partner },
            };
            std::vector<CK_OBJECT_HANDLE> found;
            rv = FindHandles(cryptoki, session, partnerFilter, 2, 1, found);
            if (rv != CKR_OK || found.size() != 1) {
                key.pairIndex = kUnknownKeyIndex;
            }
            if (rv != CKR_OK) {
                keys.push_back(std::move(key));
                return rv;
            }
        }
        keys.push_back(std::move(key));
    }
    return CKR_OK;
}

void PairCertificate(
    CertificateEntry& certificate, std::vector<KeyEntry>& privateKeys, std::vector<KeyEntry>& publicKeys)
{
    KeyEntry* privateKey = FirstUnpaired(privateKeys, &certificate.id, 0);
    KeyEntry* publicKey = FirstUnpaired(publicKeys, &certificate.id, 0);
    // A half found by ID brings the other half by its pair index.
    if (privateKey != nullptr && publicKey == nullptr && privateKey->pairIndex != 0) {
        publicKey = FirstUnpaired(publicKeys, nullptr, privateKey->pairIndex);
    } else if (publicKey != nullptr && privateKey == nullptr && publicKey->pairIndex != 0) {
        privateKey = FirstUnpaired(privateKeys, nullptr, publicKey->pairIndex);
    }
    if (privateKey != nullptr) {
        certificate.hasPrivateKey = true;
        certificate.privateKeyIndex = privateKey->keyIndex;
        certificate.privateKeyHandle = privateKey->handle;
        privateKey->paired = true;
    }
    if (publicKey != nullptr) {
        certificate.hasPublicKey = true;
        certificate.publicKeyIndex = publicKey->keyIndex;
        certificate.publicKeyHandle = publicKey->handle;
        publicKey->paired = true;
    }
}

CK_RV ListCertificates(NRVCMUCryptoki& cryptoki, CK_SESSION_HANDLE session, CertificateTables& tables)
{
    tables.certificates.clear();
    CK_OBJECT_CLASS certificateClass = CKO_CERTIFICATE;
    CK_BBOOL onToken = CK_TRUE;
    CK_ATTRIBUTE filter[] = {
        { CKA_CLASS, &certificateClass, sizeof certificateClass },
        { CKA_TOKEN, &onToken, sizeof onToken },
    };
    std::vector<CK_OBJECT_HANDLE> handles;
    CK_RV rv = FindHandles(cryptoki, session, filter, 2, kMaxListedObjects, handles);
    if (rv != CKR_OK) {
        return rv;
    }
    for (const CK_OBJECT_HANDLE handle : handles) {
        CertificateEntry certificate;
        certificate.handle = handle;
        std::vector<std::vector<uint8_t>> values;
        rv = cryptoki.GetAttributeBytes(session, handle, { CKA_ID, CKA_SUBJECT, CKA_ISSUER }, values);
        certificate.id = std::move(values[0]);
        certificate.subject = std::move(values[1]);
        certificate.issuer = std::move(values[2]);
        if (rv == CKR_OK && cryptoki.HasVendorEntries()) {
            rv = ReadByte(cryptoki, session, handle, CKA_NRV_LOGON_DEFAULT, certificate.logonDefault);
        }
        if (rv != CKR_OK) {
            return rv;
        }
        certificate.subjectName = GetDisplayName(certificate.subject.data(), certificate.subject.size());
        certificate.issuerName = GetDisplayName(certificate.issuer.data(), certificate.issuer.size());
        PairCertificate(certificate, tables.privateKeys, tables.publicKeys);
        tables.certificates.push_back(std::move(certificate));
    }
    return CKR_OK;
}

CK_RV ListAll(NRVCMUCryptoki& cryptoki, CK_SESSION_HANDLE session, CertificateTables& tables)
{
    tables.Reset();
    CK_RV rv = ListKeys(cryptoki, session, CKO_PRIVATE_KEY, tables.privateKeys);
    if (rv == CKR_OK) {
        rv = ListKeys(cryptoki, session, CKO_PUBLIC_KEY, tables.publicKeys);
    }
    if (rv == CKR_OK) {
        rv = ListCertificates(cryptoki, session, tables);
    }
    return rv;
}

wxString CertificateItemText(const CertificateEntry& certificate)
{
    // TRANSLATORS: a certificate in the list: subject name [issuer name]
    wxString text = wxString::Format(_("%s [%s]"), certificate.subjectName, certificate.issuerName);
    if (certificate.logonDefault == 1) {
        text += _(" - Default");
    }
    return text;
}

wxString KeyItemText(const KeyEntry& key, bool isPrivate)
{
    const wxString tag = key.id.empty()
        ? wxString::Format("(%02X)", static_cast<unsigned>(key.keyIndex))
        : wxString::Format("[%s]", GetKeyIdText(key.id.data(), key.id.size()));
    // TRANSLATORS: a key on its own: "Private Key" or "Public Key", then its ID or index
    return wxString::Format(_("%s %s"), isPrivate ? _("Private Key") : _("Public Key"), tag);
}

std::vector<CertificateTreeItem> BuildCertificateTree(const CertificateTables& tables)
{
    std::vector<CertificateTreeItem> items;
    for (size_t i = 0; i < tables.certificates.size(); ++i) {
        const CertificateEntry& certificate = tables.certificates[i];
        CertificateTreeItem item;
        item.index = i;
        item.label = CertificateItemText(certificate);
        if (certificate.hasPublicKey) {
            item.children.push_back(_("Public Key"));
        }
        if (certificate.hasPrivateKey) {
            item.children.push_back(_("Private Key"));
        }
        items.push_back(std::move(item));
    }
    const size_t keys = std::max(tables.privateKeys.size(), tables.publicKeys.size());
    for (size_t i = 0; i < keys; ++i) {
        if (i < tables.privateKeys.size() && !tables.privateKeys[i].paired) {
            items.push_back(
                { CertificateTreeItem::Kind::PrivateKey, i, KeyItemText(tables.privateKeys[i], true), {} });
        }
        if (i < tables.publicKeys.size() && !tables.publicKeys[i].paired) {
            items.push_back(
                { CertificateTreeItem::Kind::PublicKey, i, KeyItemText(tables.publicKeys[i], false), {} });
        }
    }
    return items;
}
