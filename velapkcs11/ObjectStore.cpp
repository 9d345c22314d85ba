// Object rows and attribute rows in the shared state.
#include "ObjectStore.h"

#include "CkError.h"

namespace velatoken {

namespace {

// What a sealed value is bound to: its token, its object and its place in
// it, so a value copied to another object or attribute does not open.
constexpr unsigned char kSecretPlace = 'S';
constexpr unsigned char kAttributePlace = 'A';

Blob SealContext(const StoredObject& object, unsigned char place, CK_ATTRIBUTE_TYPE type)
{
    static const char label[] = "vela5 object value";
    Blob context(label, label + sizeof label - 1);
    auto append = [&](uint64_t value) {
        for (int shift = 0; shift < 64; shift += 8) {
            context.push_back(static_cast<unsigned char>(value >> shift));
        }
    };
    append(static_cast<uint64_t>(object.tokenId));
    append(static_cast<uint64_t>(object.id));
    context.push_back(place);
    append(static_cast<uint64_t>(type));
    return context;
}

int64_t PlainSize(const Blob& sealed)
{
    return sealed.size() >= TokenKey::kOverhead ? static_cast<int64_t>(sealed.size() - TokenKey::kOverhead)
                                                : 0;
}

const TokenKey& RequireKey(const TokenKey* key)
{
    Require(key != nullptr, CKR_USER_NOT_LOGGED_IN);
    return *key;
}

} // namespace

bool MustSeal(const StoredObject& object, CK_ATTRIBUTE_TYPE type)
{
    if (type != CKA_VALUE) {
        return false;
    }
    switch (object.objectClass) {
    case CKO_SECRET_KEY:
        return object.isPrivate || object.Flag(CKA_SENSITIVE) || !object.Flag(CKA_EXTRACTABLE, true);
    case CKO_DATA:
        return object.isPrivate;
    default:
        return false;
    }
}

bool StoredObject::HasSealedValues() const
{
    if (Locked() || !secret.empty()) {
        return true;
    }
    for (const auto& [type, value] : attributes) {
        if (MustSeal(*this, type)) {
            return true;
        }
    }
    return false;
}

void StoredObject::Unseal(const TokenKey& key)
{
    if (!sealedSecret.empty()) {
        secret = key.Open(sealedSecret, SealContext(*this, kSecretPlace, 0));
        sealedSecret.clear();
    }
    for (auto& [type, sealed] : sealedAttributes) {
        attributes[type] = key.Open(sealed, SealContext(*this, kAttributePlace, type));
    }
    sealedAttributes.clear();
}

const Blob* StoredObject::Find(CK_ATTRIBUTE_TYPE type) const
{
    const auto found = attributes.find(type);
    return found != attributes.end() ? &found->second : nullptr;
}

bool StoredObject::Flag(CK_ATTRIBUTE_TYPE type, bool fallback) const
{
    const Blob* value = Find(type);
    return value != nullptr && !value->empty() ? (*value)[0] != 0 : fallback;
}

int64_t StoredObject::Size() const
{
    int64_t size = 16 + static_cast<int64_t>(secret.size()) + PlainSize(sealedSecret);
    for (const auto& [type, value] : attributes) {
        size += 8 + static_cast<int64_t>(value.size());
    }
    for (const auto& [type, value] : sealedAttributes) {
        size += 8 + PlainSize(value);
    }
    return size;
}

int64_t ObjectStore::Insert(StoredObject& object, const TokenKey* key)
{
    if (object.HasSealedValues()) {
        RequireKey(key);
    }
    Statement row(m_db,
        "INSERT INTO objects(token_id, session_handle, session_pid, class, private, size, "
        "key_pair_index) VALUES(?, ?, ?, ?, ?, ?, ?)");
    row.Bind(1, object.tokenId);
    if (object.sessionHandle == 0) {
        row.BindNull(2).BindNull(3);
    } else {
        row.Bind(2, object.sessionHandle).Bind(3, object.sessionPid);
    }
    row.Bind(4, static_cast<int64_t>(object.objectClass)).Bind(5, object.isPrivate ? 1 : 0);
    row.Bind(6, object.Size()).Bind(7, object.keyPairIndex);
    row.Run();
    object.id = m_db.LastInsertId();
    // Sealed only now: the row id is part of what the secret is bound to.
    WriteSecret(object, key);
    ReplaceAttributes(object, key);
    return object.id;
}

void ObjectStore::WriteSecret(const StoredObject& object, const TokenKey* key)
{
    if (object.secret.empty()) {
        return;
    }
    Statement secret(m_db, "UPDATE objects SET secret=?, sealed=1 WHERE id=?");
    secret.Bind(1, RequireKey(key).Seal(object.secret, SealContext(object, kSecretPlace, 0)));
    secret.Bind(2, object.id).Run();
}

std::optional<StoredObject> ObjectStore::Load(int64_t id)
{
    Statement row(m_db,
        "SELECT token_id, coalesce(session_handle, 0), coalesce(session_pid, 0), class, private, "
        "key_pair_index, secret, sealed FROM objects WHERE id=?");
    row.Bind(1, id);
    if (!row.Step()) {
        return std::nullopt;
    }
    StoredObject object;
    object.id = id;
    object.tokenId = row.Int(0);
    object.sessionHandle = row.Int(1);
    object.sessionPid = row.Int(2);
    object.objectClass = static_cast<CK_OBJECT_CLASS>(row.Int(3));
    object.isPrivate = row.Int(4) != 0;
    object.keyPairIndex = row.Int(5);
    (row.Int(7) != 0 ? object.sealedSecret : object.secret) = row.Bytes(6);
    Statement attributes(m_db, "SELECT type, value, sealed FROM attributes WHERE object_id=?");
    attributes.Bind(1, id);
    while (attributes.Step()) {
        const auto type = static_cast<CK_ATTRIBUTE_TYPE>(attributes.Int(0));
        (attributes.Int(2) != 0 ? object.sealedAttributes : object.attributes)[type] = attributes.Bytes(1);
    }
    return object;
}

void ObjectStore::Destroy(int64_t id)
{
    Statement attributes(m_db, "DELETE FROM attributes WHERE object_id=?");
    attributes.Bind(1, id).Run();
    Statement row(m_db, "DELETE FROM objects WHERE id=?");
    row.Bind(1, id).Run();
}

void ObjectStore::ReplaceAttributes(const StoredObject& object, const TokenKey* key)
{
    Statement clear(m_db, "DELETE FROM attributes WHERE object_id=?");
    clear.Bind(1, object.id).Run();
    Statement insert(m_db, "INSERT INTO attributes(object_id, type, value, sealed) VALUES(?, ?, ?, ?)");
    for (const auto& [type, value] : object.attributes) {
        const bool seal = MustSeal(object, type);
        insert.Reset();
        insert.Bind(1, object.id).Bind(2, static_cast<int64_t>(type)).Bind(4, seal ? 1 : 0);
        insert.Bind(
            3, seal ? RequireKey(key).Seal(value, SealContext(object, kAttributePlace, type)) : value);
        insert.Run();
    }
    for (const auto& [type, sealed] : object.sealedAttributes) {
        if (object.attributes.count(type) != 0) {
            continue; // replaced by a new value, sealed above
        }
        insert.Reset();
        insert.Bind(1, object.id).Bind(2, static_cast<int64_t>(type)).Bind(3, sealed).Bind(4, 1).Run();
    }
    Statement size(m_db, "UPDATE objects SET size=?, key_pair_index=? WHERE id=?");
    size.Bind(1, object.Size()).Bind(2, object.keyPairIndex).Bind(3, object.id).Run();
}

std::vector<int64_t> ObjectStore::Visible(int64_t tokenId, int64_t pid)
{
    Statement rows(m_db,
        "SELECT id FROM objects WHERE token_id=? AND (session_handle IS NULL OR session_pid=?) "
        "ORDER BY id");
    rows.Bind(1, tokenId).Bind(2, pid);
    std::vector<int64_t> ids;
    while (rows.Step()) {
        ids.push_back(rows.Int(0));
    }
    return ids;
}

std::vector<StoredObject> ObjectStore::TokenObjects(int64_t tokenId)
{
    Statement rows(m_db, "SELECT id FROM objects WHERE token_id=? AND session_handle IS NULL ORDER BY id");
    rows.Bind(1, tokenId);
    std::vector<int64_t> ids;
    while (rows.Step()) {
        ids.push_back(rows.Int(0));
    }
    std::vector<StoredObject> objects;
    for (int64_t id : ids) {
        if (auto object = Load(id)) {
            objects.push_back(std::move(*object));
        }
    }
    return objects;
}

int64_t ObjectStore::UsedMemory(int64_t tokenId, bool isPrivate)
{
    Statement sum(m_db,
        "SELECT coalesce(sum(size), 0) FROM objects WHERE token_id=? AND private=? AND session_handle IS "
        "NULL");
    sum.Bind(1, tokenId).Bind(2, isPrivate ? 1 : 0);
    sum.Step();
    return sum.Int(0);
}

int64_t ObjectStore::FreeKeyPairIndex(int64_t tokenId, int64_t maxPairs)
{
    Statement used(m_db,
        "SELECT DISTINCT key_pair_index FROM objects WHERE token_id=? AND key_pair_index>0 AND "
        "session_handle IS NULL ORDER BY key_pair_index");
    used.Bind(1, tokenId);
    int64_t candidate = 1;
    while (used.Step() && used.Int(0) == candidate) {
        ++candidate;
    }
    return candidate <= maxPairs ? candidate : 0;
}

int64_t ObjectStore::PartnerIndex(int64_t tokenId, CK_OBJECT_CLASS partnerClass, int64_t index)
{
    Statement partner(m_db,
        "SELECT 1 FROM objects WHERE token_id=? AND class=? AND key_pair_index=? AND "
        "session_handle IS NULL");
    partner.Bind(1, tokenId).Bind(2, static_cast<int64_t>(partnerClass)).Bind(3, index);
    return partner.Step() ? index : 0;
}

void ObjectStore::DropOrphans()
{
    m_db.Exec(
        "DELETE FROM attributes WHERE object_id IN (SELECT id FROM objects WHERE session_handle IS NOT NULL "
        "AND session_handle NOT IN (SELECT handle FROM sessions))");
    m_db.Exec(
        "DELETE FROM objects WHERE session_handle IS NOT NULL AND session_handle NOT IN (SELECT handle FROM "
        "sessions)");
}

} // namespace velatoken
