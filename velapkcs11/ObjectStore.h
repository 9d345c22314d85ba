// Token and session objects: rows with their attributes. Handles are row
// ids, never reused, so a stale handle stays invalid.
#pragma once

#include "Database.h"
#include "TokenKey.h"
#include "pkcs11/pkcs11.h"

#include <map>
#include <optional>
#include <vector>

namespace velatoken {

using AttributeMap = std::map<CK_ATTRIBUTE_TYPE, Blob>;

struct StoredObject {
    int64_t id = 0;
    int64_t tokenId = 0;
    int64_t sessionHandle = 0; // 0: a token object
    int64_t sessionPid = 0;
    CK_OBJECT_CLASS objectClass = CKO_DATA;
    bool isPrivate = false;
    int64_t keyPairIndex = 0;
    Blob secret; // private-key DER; never an attribute
    AttributeMap attributes;
    // Values read from the state still sealed under the token key: the
    // private-key DER and the attributes MustSeal names. Empty once opened.
    Blob sealedSecret;
    AttributeMap sealedAttributes;

    bool IsTokenObject() const { return sessionHandle == 0; }
    const Blob* Find(CK_ATTRIBUTE_TYPE type) const;
    bool Flag(CK_ATTRIBUTE_TYPE type, bool fallback = false) const;
    // The size of the plain values, sealed or not.
    int64_t Size() const;
    // True while some value is still sealed (no token key at hand).
    bool Locked() const { return !sealedSecret.empty() || !sealedAttributes.empty(); }
    // True when the object holds something only the token key may read.
    bool HasSealedValues() const;
    // Opens the sealed values; CKR_DEVICE_ERROR when one does not open.
    void Unseal(const TokenKey& key);
};

// Which values are kept sealed: the private-key DER of every private key
// (as a secret, not an attribute), and CKA_VALUE of secret keys that are
// private, sensitive or unextractable and of private data objects.
bool MustSeal(const StoredObject& object, CK_ATTRIBUTE_TYPE type);

class ObjectStore final {
public:
    explicit ObjectStore(Database& db)
        : m_db(db)
    {
    }

    // Both seal what MustSeal names with `key`; without a key for such a
    // value they throw CkError(CKR_USER_NOT_LOGGED_IN). Values still sealed
    // (a locked object) are written back as they are.
    int64_t Insert(StoredObject& object, const TokenKey* key);
    void ReplaceAttributes(const StoredObject& object, const TokenKey* key);
    // Seals the object's plain private-key DER into its row.
    void WriteSecret(const StoredObject& object, const TokenKey* key);
    // The object with its sealed values still sealed.
    std::optional<StoredObject> Load(int64_t id);
    void Destroy(int64_t id);
    // Objects of the token that a process may see (its session objects and
    // every token object), in creation order.
    std::vector<int64_t> Visible(int64_t tokenId, int64_t pid);
    std::vector<StoredObject> TokenObjects(int64_t tokenId);
    // Bytes used by token objects, private or public.
    int64_t UsedMemory(int64_t tokenId, bool isPrivate);
    // The lowest key-pair index from 1 that no token key uses, 0 when
    // maxPairs are taken.
    int64_t FreeKeyPairIndex(int64_t tokenId, int64_t maxPairs);
    int64_t PartnerIndex(int64_t tokenId, CK_OBJECT_CLASS partnerClass, int64_t index);
    // Session objects whose session is gone.
    void DropOrphans();

private:
    Database& m_db;
};

} // namespace velatoken
