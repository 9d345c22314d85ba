// Object calls: create, destroy, attributes, search, key generation and
// PKCS#12 import.
#include "AttributeRules.h"
#include "CkError.h"
#include "Model.h"
#include "Module.h"
#include "ObjectTemplate.h"
#include "Pkcs12Loader.h"

#include <algorithm>
#include <cstring>
#include <unistd.h>

namespace velatoken {

namespace {

int64_t Pid()
{
    return static_cast<int64_t>(getpid());
}

bool NeedsSealed(const StoredObject& object, const CK_ATTRIBUTE* attributes, CK_ULONG count)
{
    for (CK_ULONG i = 0; i < count; ++i) {
        if (object.sealedAttributes.count(attributes[i].type) != 0) {
            return true;
        }
    }
    return false;
}

bool WantsTokenObject(const AttributeMap& map)
{
    const auto found = map.find(CKA_TOKEN);
    return found != map.end() && found->second.size() == 1 && found->second[0] != 0;
}

} // namespace

bool Module::IsOwnObject(const StoredObject& object) const
{
    return object.IsTokenObject()
        || m_sessions.count(static_cast<CK_SESSION_HANDLE>(object.sessionHandle)) != 0;
}

StoredObject Module::VisibleObject(const Session& session, CK_OBJECT_HANDLE handle)
{
    auto object = m_objects->Load(handle);
    Require(object.has_value(), CKR_OBJECT_HANDLE_INVALID);
    Require(object->tokenId == session.tokenId, CKR_OBJECT_HANDLE_INVALID);
    Require(IsOwnObject(*object), CKR_OBJECT_HANDLE_INVALID);
    Require(!object->isPrivate || UserLoggedIn(session.tokenId), CKR_OBJECT_HANDLE_INVALID);
    return std::move(*object);
}

void Module::CheckWritable(const Session& session, const StoredObject& object)
{
    Require(!object.IsTokenObject() || (session.flags & CKF_RW_SESSION) != 0, CKR_SESSION_READ_ONLY);
}

void Module::CheckCapacity(int64_t tokenId, const StoredObject& object, int64_t sizeBefore)
{
    if (!object.IsTokenObject()) {
        return;
    }
    const TokenRecord token = Token(tokenId);
    const auto model = FindModel(token.model);
    const int64_t half = model ? static_cast<int64_t>(model->memory / 2) : 0;
    const int64_t used = m_objects->UsedMemory(tokenId, object.isPrivate) - sizeBefore;
    Require(used + object.Size() <= half, CKR_DEVICE_MEMORY);
}

int64_t Module::KeyPairIndexFor(int64_t tokenId, const StoredObject& key)
{
    const CK_OBJECT_CLASS other = key.objectClass == CKO_PRIVATE_KEY ? CKO_PUBLIC_KEY : CKO_PRIVATE_KEY;
    const Blob* id = key.Find(CKA_ID);
    if (id != nullptr && !id->empty()) {
        const std::vector<StoredObject> objects = m_objects->TokenObjects(tokenId);
        for (const StoredObject& half : objects) {
            const Blob* halfId = half.Find(CKA_ID);
            if (half.objectClass != other || half.keyPairIndex == 0 || halfId == nullptr || *halfId != *id) {
                continue;
            }
            const bool taken = std::any_of(objects.begin(), objects.end(), [&](const StoredObject& mine) {
                return mine.objectClass == key.objectClass && mine.keyPairIndex == half.keyPairIndex;
            });
            if (!taken) {
                return half.keyPairIndex;
            }
        }
    }
    const TokenRecord token = Token(tokenId);
    const int64_t index = m_objects->FreeKeyPairIndex(tokenId, token.maxKeyPairs);
    Require(index != 0, CKR_DEVICE_MEMORY);
    return index;
}

void Module::CreateObject(
    CK_SESSION_HANDLE handle, CK_ATTRIBUTE_PTR attributes, CK_ULONG count, CK_OBJECT_HANDLE_PTR object)
{
    auto lock = Enter();
    const Session& session = UseSession(handle, SwitchableCall::C_CreateObject);
    Require(object != nullptr, CKR_ARGUMENTS_BAD);
    StoredObject created = BuildObject(ReadTemplate(attributes, count));
    const SwitchableCall classCall = created.objectClass == CKO_CERTIFICATE
        ? SwitchableCall::C_CreateObject_Certificate
        : created.objectClass == CKO_PUBLIC_KEY  ? SwitchableCall::C_CreateObject_PublicKey
        : created.objectClass == CKO_PRIVATE_KEY ? SwitchableCall::C_CreateObject_PrivateKey
                                                 : SwitchableCall::C_CreateObject_Other;
    for (const SlotEntry& slot : m_slots) {
        if (slot.readerId == session.readerId) {
            CheckSwitch(classCall, &slot);
        }
    }
    if (!WantsTokenObject(created.attributes)) {
        created.sessionHandle = handle;
        created.sessionPid = Pid();
    }
    created.tokenId = session.tokenId;
    CheckWritable(session, created);
    Transaction transaction(*m_db);
    Require(!created.isPrivate || UserLoggedIn(session.tokenId), CKR_USER_NOT_LOGGED_IN);
    // Every key stored on the token carries its key-pair index, as generated
    // and loaded keys do: readers of the vendor attribute rely on it.
    const bool tokenKey = created.IsTokenObject()
        && (created.objectClass == CKO_PRIVATE_KEY || created.objectClass == CKO_PUBLIC_KEY);
    if (tokenKey) {
        created.keyPairIndex = KeyPairIndexFor(session.tokenId, created);
        created.attributes[CKA_NRV_KEY_PAIR_INDEX]
            = Blob { static_cast<unsigned char>(created.keyPairIndex) };
    }
    CheckCapacity(session.tokenId, created, 0);
    *object = static_cast<CK_OBJECT_HANDLE>(m_objects->Insert(created, HeldKey(session.tokenId)));
    transaction.Commit();
}

void Module::DestroyObject(CK_SESSION_HANDLE handle, CK_OBJECT_HANDLE object)
{
    auto lock = Enter();
    const Session& session = UseSession(handle, SwitchableCall::C_DestroyObject);
    // Looked up inside the write transaction: an object another process
    // destroyed meanwhile is gone, not destroyed twice.
    Transaction transaction(*m_db);
    const StoredObject stored = VisibleObject(session, object);
    CheckWritable(session, stored);
    m_objects->Destroy(stored.id);
    transaction.Commit();
    m_keyCache.erase(stored.id);
}

void Module::GetObjectSize(CK_SESSION_HANDLE handle, CK_OBJECT_HANDLE object, CK_ULONG_PTR size)
{
    auto lock = Enter();
    const Session& session = UseSession(handle, SwitchableCall::C_GetObjectSize);
    Require(size != nullptr, CKR_ARGUMENTS_BAD);
    *size = static_cast<CK_ULONG>(VisibleObject(session, object).Size());
}

void Module::GetAttributeValue(
    CK_SESSION_HANDLE handle, CK_OBJECT_HANDLE object, CK_ATTRIBUTE_PTR attributes, CK_ULONG count)
{
    auto lock = Enter();
    const Session& session = UseSession(handle, SwitchableCall::C_GetAttributeValue);
    Require(attributes != nullptr || count == 0, CKR_ARGUMENTS_BAD);
    StoredObject stored = VisibleObject(session, object);
    // Sealed values are opened only when asked for: an object whose seal is
    // damaged still answers for its plain attributes, and can be destroyed.
    if (NeedsSealed(stored, attributes, count)) {
        Unseal(stored);
    }
    // Every attribute is answered; the worst outcome is reported.
    CK_RV result = CKR_OK;
    for (CK_ULONG i = 0; i < count; ++i) {
        CK_ATTRIBUTE& attribute = attributes[i];
        // A value still sealed (no token key at hand) is never shown either.
        if (IsSensitive(stored, attribute.type) || stored.sealedAttributes.count(attribute.type) != 0) {
            attribute.ulValueLen = CK_UNAVAILABLE_INFORMATION;
            result = result == CKR_OK ? CKR_ATTRIBUTE_SENSITIVE : result;
            continue;
        }
        const Blob* value = stored.Find(attribute.type);
        if (value == nullptr) {
            attribute.ulValueLen = CK_UNAVAILABLE_INFORMATION;
            result = result == CKR_OK ? CKR_ATTRIBUTE_TYPE_INVALID : result;
            continue;
        }
        const auto length = static_cast<CK_ULONG>(value->size());
        if (attribute.pValue != nullptr) {
            // A short buffer gets no length back, as the standard says:
            // callers ask for the length with a null value first.
            if (attribute.ulValueLen < length) {
                attribute.ulValueLen = CK_UNAVAILABLE_INFORMATION;
                result = result == CKR_OK ? CKR_BUFFER_TOO_SMALL : result;
                continue;
            }
            if (length != 0) {
                std::memcpy(attribute.pValue, value->data(), length);
            }
        }
        attribute.ulValueLen = length;
    }
    Require(result == CKR_OK, result);
}

void Module::SetAttributeValue(
    CK_SESSION_HANDLE handle, CK_OBJECT_HANDLE object, CK_ATTRIBUTE_PTR attributes, CK_ULONG count)
{
    auto lock = Enter();
    const Session& session = UseSession(handle, SwitchableCall::C_SetAttributeValue);
    const AttributeMap changes = ReadTemplate(attributes, count);
    // Every attribute is written back, so the object is read inside the
    // write transaction: a copy read before it would undo another process's
    // change committed while this one waited for the lock.
    Transaction transaction(*m_db);
    StoredObject stored = VisibleObject(session, object);
    CheckWritable(session, stored);
    Require(stored.Flag(CKA_MODIFIABLE, true), CKR_ATTRIBUTE_READ_ONLY);
    const int64_t sizeBefore = stored.Size();
    for (const auto& [type, value] : changes) {
        ApplyChange(stored, type, value);
    }
    CheckCapacity(session.tokenId, stored, sizeBefore);
    m_objects->ReplaceAttributes(stored, HeldKey(session.tokenId));
    transaction.Commit();
}

bool Module::Matches(const StoredObject& object, const AttributeMap& filter)
{
    for (const auto& [type, value] : filter) {
        if (IsSensitive(object, type)) {
            return false;
        }
        const Blob* stored = object.Find(type);
        if (stored == nullptr || *stored != value) {
            return false;
        }
    }
    return true;
}

void Module::FindObjectsInit(CK_SESSION_HANDLE handle, CK_ATTRIBUTE_PTR attributes, CK_ULONG count)
{
    auto lock = Enter();
    Session& session = UseSession(handle, SwitchableCall::C_FindObjectsInit);
    const AttributeMap filter = ReadTemplate(attributes, count);
    Require(!session.findActive, CKR_OPERATION_ACTIVE);
    const bool userIn = UserLoggedIn(session.tokenId);
    std::vector<int64_t> found;
    for (int64_t id : m_objects->Visible(session.tokenId, Pid())) {
        auto object = m_objects->Load(id);
        if (!object || !IsOwnObject(*object) || (object->isPrivate && !userIn)) {
            continue;
        }
        if (std::any_of(filter.begin(), filter.end(),
                [&](const auto& entry) { return object->sealedAttributes.count(entry.first) != 0; })) {
            Unseal(*object);
        }
        if (Matches(*object, filter)) {
            found.push_back(id);
        }
    }
    session.found = std::move(found);
    session.foundPosition = 0;
    session.findActive = true;
}

void Module::FindObjects(
    CK_SESSION_HANDLE handle, CK_OBJECT_HANDLE_PTR objects, CK_ULONG max, CK_ULONG_PTR count)
{
    auto lock = Enter();
    Session& session = UseSession(handle, SwitchableCall::C_FindObjects);
    Require(count != nullptr, CKR_ARGUMENTS_BAD);
    Require(session.findActive, CKR_OPERATION_NOT_INITIALIZED);
    const size_t remaining = session.found.size() - session.foundPosition;
    const size_t take = std::min<size_t>(remaining, max);
    if (objects == nullptr) {
        // The vendor reading: a null array asks how many match.
        *count = static_cast<CK_ULONG>(take);
        return;
    }
    for (size_t i = 0; i < take; ++i) {
        objects[i] = static_cast<CK_OBJECT_HANDLE>(session.found[session.foundPosition + i]);
    }
    session.foundPosition += take;
    *count = static_cast<CK_ULONG>(take);
}

void Module::FindObjectsFinal(CK_SESSION_HANDLE handle)
{
    auto lock = Enter();
    Session& session = UseSession(handle, SwitchableCall::C_FindObjectsFinal);
    Require(session.findActive, CKR_OPERATION_NOT_INITIALIZED);
    session.findActive = false;
    session.found.clear();
}

void Module::GenerateKeyPair(CK_SESSION_HANDLE handle, CK_MECHANISM_PTR mechanism,
    CK_ATTRIBUTE_PTR publicTemplate, CK_ULONG publicCount, CK_ATTRIBUTE_PTR privateTemplate,
    CK_ULONG privateCount, CK_OBJECT_HANDLE_PTR publicKey, CK_OBJECT_HANDLE_PTR privateKey)
{
    auto lock = Enter();
    const Session& session = UseSession(handle, SwitchableCall::C_GenerateKeyPair);
    Require(mechanism != nullptr && publicKey != nullptr && privateKey != nullptr, CKR_ARGUMENTS_BAD);
    Require(mechanism->mechanism == CKM_RSA_PKCS_KEY_PAIR_GEN, CKR_MECHANISM_INVALID);
    AttributeMap publicMap = ReadTemplate(publicTemplate, publicCount, true);
    AttributeMap privateMap = ReadTemplate(privateTemplate, privateCount, true);
    CK_ULONG bits = 0;
    Require(publicMap.count(CKA_MODULUS_BITS) != 0, CKR_TEMPLATE_INCOMPLETE);
    Require(ReadUlong(publicMap[CKA_MODULUS_BITS], bits), CKR_ATTRIBUTE_VALUE_INVALID);
    CheckKeyPairTemplates(publicMap, privateMap, bits);
    // A modulus given only as a length says nothing; the key decides.
    publicMap.erase(CKA_MODULUS);
    publicMap.erase(CKA_CLASS);
    privateMap.erase(CKA_CLASS);
    const Blob exponent = publicMap.count(CKA_PUBLIC_EXPONENT) != 0 ? publicMap[CKA_PUBLIC_EXPONENT] : Blob();
    Require(UserLoggedIn(session.tokenId), CKR_USER_NOT_LOGGED_IN);
    const RsaKey key = RsaKey::Generate(bits, exponent);
    publicMap[CKA_LOCAL] = BoolBlob(true);
    privateMap[CKA_LOCAL] = BoolBlob(true);
    StoredObject pub = BuildPublicKey(key, std::move(publicMap));
    StoredObject priv = BuildPrivateKey(key, std::move(privateMap));
    for (StoredObject* half : { &pub, &priv }) {
        half->tokenId = session.tokenId;
        if (!WantsTokenObject(half->attributes)) {
            half->sessionHandle = handle;
            half->sessionPid = Pid();
        }
        CheckWritable(session, *half);
    }
    Transaction transaction(*m_db);
    if (pub.IsTokenObject() || priv.IsTokenObject()) {
        const TokenRecord token = Token(session.tokenId);
        const int64_t index = m_objects->FreeKeyPairIndex(token.id, token.maxKeyPairs);
        Require(index != 0, CKR_DEVICE_MEMORY);
        pub.keyPairIndex = pub.IsTokenObject() ? index : 0;
        priv.keyPairIndex = priv.IsTokenObject() ? index : 0;
    }
    for (StoredObject* half : { &pub, &priv }) {
        if (half->keyPairIndex != 0) {
            half->attributes[CKA_NRV_KEY_PAIR_INDEX]
                = Blob { static_cast<unsigned char>(half->keyPairIndex) };
        }
        CheckCapacity(session.tokenId, *half, 0);
        m_objects->Insert(*half, HeldKey(session.tokenId));
    }
    transaction.Commit();
    *publicKey = static_cast<CK_OBJECT_HANDLE>(pub.id);
    *privateKey = static_cast<CK_OBJECT_HANDLE>(priv.id);
}

void Module::LoadCert(
    CK_SESSION_HANDLE handle, CK_BYTE_PTR path, CK_BYTE_PTR password, CK_ULONG passwordLength)
{
    auto lock = Enter();
    const Session& session = UseSession(handle, SwitchableCall::C_NRV_LoadCert);
    Require(path != nullptr, CKR_ARGUMENTS_BAD);
    Require(password != nullptr || passwordLength == 0, CKR_ARGUMENTS_BAD);
    Require(passwordLength < NRV_PASSWORD_BUFFER_SIZE, CKR_ARGUMENTS_BAD);
    const auto* pathText = reinterpret_cast<const char*>(path);
    const size_t pathLength = strnlen(pathText, NRV_PATH_BUFFER_SIZE);
    Require(pathLength < NRV_PATH_BUFFER_SIZE, CKR_ARGUMENTS_BAD);
    Require((session.flags & CKF_RW_SESSION) != 0, CKR_SESSION_READ_ONLY);
    Require(UserLoggedIn(session.tokenId), CKR_USER_NOT_LOGGED_IN);
    const std::string file = UndoubleBackslashes(std::string(pathText, pathLength));
    // The state's own files are never a PKCS#12 file, and opening one here
    // would break the locking that keeps processes from losing changes.
    Require(!m_db->IsStateFile(file), NRV_CKR_CERT_DATA_INVALID);
    const vela5::platform::SecretBytes secret(password, passwordLength);
    // Reading and decrypting the file happen without the module lock: a slow
    // or stuck file must not hold up every other call of the process.
    lock.unlock();
    const Pkcs12Content content = ParsePkcs12(ReadPkcs12File(file), secret);
    lock = Enter();
    // The session may have closed or logged out meanwhile.
    const Session& current = UseSession(handle, SwitchableCall::C_NRV_LoadCert);
    Require(UserLoggedIn(current.tokenId), CKR_USER_NOT_LOGGED_IN);

    AttributeMap common;
    common[CKA_TOKEN] = BoolBlob(true);
    common[CKA_ID] = content.keyId;
    common[CKA_LABEL] = Blob(content.friendlyName.begin(), content.friendlyName.end());
    AttributeMap certificateMap = common;
    certificateMap[CKA_CLASS] = UlongBlob(CKO_CERTIFICATE);
    certificateMap[CKA_VALUE] = content.certificate;
    StoredObject certificate = BuildObject(std::move(certificateMap));
    StoredObject pub = BuildPublicKey(content.key, common);
    StoredObject priv = BuildPrivateKey(content.key, common);
    pub.attributes[CKA_SUBJECT] = priv.attributes[CKA_SUBJECT] = certificate.attributes[CKA_SUBJECT];

    Transaction transaction(*m_db);
    const TokenRecord token = Token(current.tokenId);
    const int64_t index = m_objects->FreeKeyPairIndex(token.id, token.maxKeyPairs);
    Require(index != 0, CKR_DEVICE_MEMORY);
    for (StoredObject* object : { &certificate, &pub, &priv }) {
        object->tokenId = token.id;
        if (object != &certificate) {
            object->keyPairIndex = index;
            object->attributes[CKA_NRV_KEY_PAIR_INDEX] = Blob { static_cast<unsigned char>(index) };
        }
        CheckCapacity(token.id, *object, 0);
        m_objects->Insert(*object, HeldKey(token.id));
    }
    transaction.Commit();
}

void Module::FindPriPubKey(CK_SESSION_HANDLE handle, CK_BYTE direction, CK_BYTE index, CK_BYTE_PTR partner)
{
    auto lock = Enter();
    const Session& session = UseSession(handle, SwitchableCall::C_NRV_FindPriPubKey);
    Require(partner != nullptr, CKR_ARGUMENTS_BAD);
    Require(
        direction == NRV_FROM_PRIVATE_KEY_INDEX || direction == NRV_FROM_PUBLIC_KEY_INDEX, CKR_ARGUMENTS_BAD);
    const CK_OBJECT_CLASS other = direction == NRV_FROM_PRIVATE_KEY_INDEX ? CKO_PUBLIC_KEY : CKO_PRIVATE_KEY;
    *partner = index == 0 ? 0 : static_cast<CK_BYTE>(m_objects->PartnerIndex(session.tokenId, other, index));
}

} // namespace velatoken
