// The certificates and RSA keys found on a token, and how they pair: a
// certificate claims the first unpaired private and public key with its
// CKA_ID, and a half found that way brings its partner by key-pair index.
// Also the texts the certificate manager's tree shows for them.
#pragma once

#include "pkcs11/pkcs11.h"

#include <cstdint>
#include <vector>
#include <wx/string.h>

class NRVCMUCryptoki;

// Key and pair indexes: 255 unknown; a pair index of 0 means no pair.
constexpr CK_BYTE kUnknownKeyIndex = 255;
// At most this many objects of each class are listed.
constexpr CK_ULONG kMaxListedObjects = 10;

struct CertificateEntry {
    CK_OBJECT_HANDLE handle = CK_INVALID_HANDLE;
    // Whole values: an ID or name longer than the module's usual sizes is
    // kept and compared whole, never cut.
    std::vector<uint8_t> id;
    std::vector<uint8_t> subject;
    std::vector<uint8_t> issuer;
    wxString subjectName;
    wxString issuerName;
    bool hasPrivateKey = false;
    CK_BYTE privateKeyIndex = kUnknownKeyIndex;
    bool hasPublicKey = false;
    CK_BYTE publicKeyIndex = kUnknownKeyIndex;
    // The claimed keys' objects: deletion goes by these, never by a text.
    CK_OBJECT_HANDLE privateKeyHandle = CK_INVALID_HANDLE;
    CK_OBJECT_HANDLE publicKeyHandle = CK_INVALID_HANDLE;
    CK_BYTE logonDefault = 0;
};

struct KeyEntry {
    CK_OBJECT_HANDLE handle = CK_INVALID_HANDLE;
    std::vector<uint8_t> id;
    CK_BYTE keyIndex = kUnknownKeyIndex;
    CK_BYTE pairIndex = kUnknownKeyIndex;
    bool paired = false;
};

struct CertificateTables {
    std::vector<CertificateEntry> certificates;
    std::vector<KeyEntry> privateKeys;
    std::vector<KeyEntry> publicKeys;

    void Reset();
};

// Lists the private (CKO_PRIVATE_KEY) or public keys with their indexes.
CK_RV ListKeys(NRVCMUCryptoki& cryptoki, CK_SESSION_HANDLE session, CK_OBJECT_CLASS keyClass,
    std::vector<KeyEntry>& keys);
// Lists the token's certificates and pairs each with the listed keys.
CK_RV ListCertificates(NRVCMUCryptoki& cryptoki, CK_SESSION_HANDLE session, CertificateTables& tables);
// Private keys, public keys, then certificates with pairing.
CK_RV ListAll(NRVCMUCryptoki& cryptoki, CK_SESSION_HANDLE session, CertificateTables& tables);

// Claims keys for one certificate (the pairing rules above).
void PairCertificate(
    CertificateEntry& certificate, std::vector<KeyEntry>& privateKeys, std::vector<KeyEntry>& publicKeys);

// "%s [%s]": subject and issuer display names, then " - Default" for the
// logon default.
wxString CertificateItemText(const CertificateEntry& certificate);
// "Private Key [ID]" or, with an empty ID, "Private Key (index)".
wxString KeyItemText(const KeyEntry& key, bool isPrivate);

// One item of the manager's tree, in the order it is added.
struct CertificateTreeItem {
    enum class Kind { Certificate, PrivateKey, PublicKey };
    Kind kind = Kind::Certificate;
    // Position in its table.
    size_t index = 0;
    wxString label;
    // Children of a certificate: "Public Key" then "Private Key", as paired.
    std::vector<wxString> children;
};
std::vector<CertificateTreeItem> BuildCertificateTree(const CertificateTables& tables);
