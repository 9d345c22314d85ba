#include "ksp/KeyTemplates.h"

#include "ksp/Globals.h"
#include "ksp/LoginToToken.h"
#include "platform/cng/WideText.h"

#include <algorithm>
#include <cstring>

using namespace vela5::platform;

namespace {

constexpr std::size_t kLabelBuffer = 64;
constexpr std::size_t kLongestLabelName = 62;

bool SupportedLength(CK_ULONG bits)
{
    return bits == 512 || bits == 1024 || bits == 2048 || bits == 4096;
}

CK_ATTRIBUTE Attribute(CK_ATTRIBUTE_TYPE type, const void* value, std::size_t size)
{
    return CK_ATTRIBUTE { type, const_cast<void*>(value), static_cast<CK_ULONG>(size) };
}

// One object of the class with the label; 0 when there is none.
CK_RV FindOne(CK_FUNCTION_LIST_PTR module, CK_SESSION_HANDLE session, CK_OBJECT_CLASS objectClass,
    const std::string& label, CK_OBJECT_HANDLE& found)
{
    found = 0;
    CK_ATTRIBUTE search[] = { Attribute(CKA_CLASS, &objectClass, sizeof objectClass),
        Attribute(CKA_LABEL, label.data(), label.size()) };
    CK_RV rv = module->C_FindObjectsInit(session, search, 2);
    if (rv != CKR_OK) {
        return rv;
    }
    CK_ULONG count = 0;
    rv = module->C_FindObjects(session, &found, 1, &count);
    const CK_RV ended = module->C_FindObjectsFinal(session);
    if (count == 0) {
        found = 0;
    }
    return rv != CKR_OK ? rv : ended;
}

} // namespace

bool PermissionFromAlgId(DWORD algId, Permission& permission)
{
    switch (algId) {
    case 0:
        permission = Permission::Both;
        return true;
    case CALG_RSA_KEYX:
        permission = Permission::EncryptDecrypt;
        return true;
    case CALG_RSA_SIGN:
        permission = Permission::SignVerify;
        return true;
    default:
        return false;
    }
}

std::string LabelFromName(LPCWSTR name)
{
    if (name == nullptr) {
        return std::string();
    }
    const std::size_t length = Cng::WideLength(name, kLongestLabelName + 1);
    if (length > kLongestLabelName) {
        return std::string();
    }
    std::string label = Cng::Narrow(std::u16string_view(name, length));
    // Room for the terminator in the 64-byte buffer.
    return label.size() < kLabelBuffer ? label : std::string();
}

std::vector<CK_BYTE> ExponentBytes(const std::uint8_t (&field)[4])
{
    const auto* first
        = std::find_if(std::begin(field), std::end(field), [](std::uint8_t b) { return b != 0; });
    return std::vector<CK_BYTE>(first, std::end(field));
}

CK_RV CreateObjectTolerant(CK_FUNCTION_LIST_PTR module, CK_SESSION_HANDLE session,
    std::vector<CK_ATTRIBUTE> attributes, std::initializer_list<CK_ATTRIBUTE_TYPE> foreign,
    CK_OBJECT_HANDLE& handle, const DebugClass& log)
{
    CK_RV rv = module->C_CreateObject(
        session, attributes.data(), static_cast<CK_ULONG>(attributes.size()), &handle);
    if (rv != CKR_TEMPLATE_INCONSISTENT && rv != CKR_ATTRIBUTE_TYPE_INVALID) {
        return rv;
    }
    const auto before = attributes.size();
    attributes.erase(std::remove_if(attributes.begin(), attributes.end(),
                         [&](const CK_ATTRIBUTE& a) {
                             return std::find(foreign.begin(), foreign.end(), a.type) != foreign.end();
                         }),
        attributes.end());
    if (attributes.size() == before) {
        return rv;
    }
    log.Write("Module refused attributes of other object classes; creating without them");
    return module->C_CreateObject(
        session, attributes.data(), static_cast<CK_ULONG>(attributes.size()), &handle);
}

CK_RV CreatePublicKeyObject(PublicKey& key, Permission permission, const std::string* label)
{
    CryptokiLibrary* library = key.Library();
    if (key.Session() == 0 || library == nullptr || library->Functions() == nullptr || key.Handle() != 0) {
        return CKR_ARGUMENTS_BAD;
    }
    if (!SupportedLength(key.keyBits)) {
        return CKR_ARGUMENTS_BAD;
    }
    const std::vector<CK_BYTE> exponent = ExponentBytes(key.publicExponent);
    if (key.modulus.Size() == 0 || exponent.empty()) {
        return CKR_TEMPLATE_INCOMPLETE;
    }
    CK_OBJECT_CLASS objectClass = CKO_PUBLIC_KEY;
    const CK_BBOOL token = label != nullptr ? CK_TRUE : CK_FALSE;
    const CK_BBOOL no = CK_FALSE;
    const CK_BBOOL yes = CK_TRUE;
    CK_BYTE id[kImportedIdSize] = {};
    std::memcpy(id, key.idSource, sizeof key.idSource);
    const CK_ULONG bits = key.keyBits;
    const CK_BBOOL encrypt = permission != Permission::SignVerify ? CK_TRUE : CK_FALSE;
    const CK_BBOOL verify = permission != Permission::EncryptDecrypt ? CK_TRUE : CK_FALSE;
    std::vector<CK_ATTRIBUTE> attributes = { Attribute(CKA_CLASS, &objectClass, sizeof objectClass),
        Attribute(CKA_TOKEN, &token, 1), Attribute(CKA_PRIVATE, &no, 1), Attribute(CKA_MODIFIABLE, &yes, 1),
        Attribute(CKA_EXTRACTABLE, &yes, 1), Attribute(CKA_ID, id, sizeof id),
        Attribute(CKA_PUBLIC_EXPONENT, exponent.data(), exponent.size()),
        Attribute(CKA_MODULUS, key.modulus.Bytes().data(), key.modulus.Size()),
        Attribute(CKA_MODULUS_BITS, &bits, sizeof bits), Attribute(CKA_ENCRYPT, &encrypt, 1),
        Attribute(CKA_VERIFY, &verify, 1) };
    if (label != nullptr) {
        attributes.push_back(Attribute(CKA_LABEL, label->data(), label->size()));
    }
    CK_OBJECT_HANDLE handle = 0;
    const CK_RV rv = CreateObjectTolerant(
        library->Functions(), key.Session(), std::move(attributes), { CKA_EXTRACTABLE }, handle, HelperLog());
    if (rv == CKR_OK) {
        key.SetHandle(handle);
    }
    return rv;
}

CK_RV CreatePrivateKeyObject(PrivateKey& key, Permission permission, const std::string* label)
{
    CryptokiLibrary* library = key.Library();
    if (key.Session() == 0 || library == nullptr || library->Functions() == nullptr || key.Handle() != 0) {
        return CKR_ARGUMENTS_BAD;
    }
    if (!SupportedLength(key.keyBits)) {
        return CKR_ARGUMENTS_BAD;
    }
    const std::vector<CK_BYTE> exponent = ExponentBytes(key.publicExponent);
    for (const WipedBytes* part : { &key.modulus, &key.privateExponent, &key.prime1, &key.prime2,
             &key.exponent1, &key.exponent2, &key.coefficient }) {
        if (part->Size() == 0) {
            return CKR_TEMPLATE_INCOMPLETE;
        }
    }
    if (exponent.empty()) {
        return CKR_TEMPLATE_INCOMPLETE;
    }
    CK_OBJECT_CLASS objectClass = CKO_PRIVATE_KEY;
    CK_KEY_TYPE keyType = CKK_RSA;
    const CK_BBOOL token = label != nullptr ? CK_TRUE : CK_FALSE;
    const CK_BBOOL no = CK_FALSE;
    const CK_BBOOL yes = CK_TRUE;
    CK_BYTE id[kImportedIdSize] = {};
    std::memcpy(id, key.idSource, sizeof key.idSource);
    const CK_BBOOL decrypt = permission != Permission::SignVerify ? CK_TRUE : CK_FALSE;
    const CK_BBOOL sign = permission != Permission::EncryptDecrypt ? CK_TRUE : CK_FALSE;
    auto bytes = [](const WipedBytes& part) {
        return std::make_pair(static_cast<const void*>(part.Bytes().data()), part.Size());
    };
    std::vector<CK_ATTRIBUTE> attributes = { Attribute(CKA_CLASS, &objectClass, sizeof objectClass),
        Attribute(CKA_KEY_TYPE, &keyType, sizeof keyType), Attribute(CKA_TOKEN, &token, 1),
        Attribute(CKA_PRIVATE, &yes, 1), Attribute(CKA_MODIFIABLE, &yes, 1),
        Attribute(CKA_SENSITIVE, &yes, 1), Attribute(CKA_EXTRACTABLE, &no, 1),
        Attribute(CKA_ID, id, sizeof id),
        Attribute(CKA_MODULUS, bytes(key.modulus).first, bytes(key.modulus).second),
        Attribute(CKA_PUBLIC_EXPONENT, exponent.data(), exponent.size()),
        Attribute(CKA_PRIVATE_EXPONENT, bytes(key.privateExponent).first, bytes(key.privateExponent).second),
        Attribute(CKA_PRIME_1, bytes(key.prime1).first, bytes(key.prime1).second),
        Attribute(CKA_PRIME_2, bytes(key.prime2).first, bytes(key.prime2).second),
        Attribute(CKA_EXPONENT_1, bytes(key.exponent1).first, bytes(key.exponent1).second),
        Attribute(CKA_EXPONENT_2, bytes(key.exponent2).first, bytes(key.exponent2).second),
        Attribute(CKA_COEFFICIENT, bytes(key.coefficient).first, bytes(key.coefficient).second),
        Attribute(CKA_DECRYPT, &decrypt, 1), Attribute(CKA_SIGN, &sign, 1) };
    if (label != nullptr) {
        attributes.push_back(Attribute(CKA_LABEL, label->data(), label->size()));
    }
    CK_OBJECT_HANDLE handle = 0;
    const CK_RV rv = library->Functions()->C_CreateObject(
        key.Session(), attributes.data(), static_cast<CK_ULONG>(attributes.size()), &handle);
    if (rv == CKR_OK) {
        key.SetHandle(handle);
    }
    return rv;
}

CK_RV GenerateKeyPair(RSAPair& pair, const std::string& label, bool named)
{
    CryptokiLibrary* library = pair.Library();
    if (pair.Session() == 0 || library == nullptr || library->Functions() == nullptr) {
        return CKR_ARGUMENTS_BAD;
    }
    CK_OBJECT_CLASS publicClass = CKO_PUBLIC_KEY;
    CK_OBJECT_CLASS privateClass = CKO_PRIVATE_KEY;
    CK_KEY_TYPE keyType = CKK_RSA;
    const CK_BBOOL yes = CK_TRUE;
    const CK_BBOOL no = CK_FALSE;
    const CK_BBOOL token = named ? CK_TRUE : CK_FALSE;
    const CK_ULONG bits = pair.keyBits;
    const CK_BYTE exponent[] = { 0x01, 0x00, 0x01 };
    CK_ATTRIBUTE publicTemplate[] = { Attribute(CKA_CLASS, &publicClass, sizeof publicClass),
        Attribute(CKA_MODIFIABLE, &yes, 1), Attribute(CKA_KEY_TYPE, &keyType, sizeof keyType),
        Attribute(CKA_DERIVE, &no, 1), Attribute(CKA_LOCAL, &yes, 1), Attribute(CKA_TOKEN, &token, 1),
        // A length without a value: the token decides the modulus.
        Attribute(CKA_MODULUS, nullptr, bits / 8), Attribute(CKA_MODULUS_BITS, &bits, sizeof bits),
        Attribute(CKA_PUBLIC_EXPONENT, exponent, sizeof exponent), Attribute(CKA_ENCRYPT, &pair.encrypt, 1),
        Attribute(CKA_VERIFY, &pair.verify, 1), Attribute(CKA_VERIFY_RECOVER, &no, 1),
        Attribute(CKA_WRAP, &pair.wrap, 1), Attribute(CKA_ID, pair.id, sizeof pair.id),
        Attribute(CKA_LABEL, label.data(), label.size()) };
    CK_ATTRIBUTE privateTemplate[] = { Attribute(CKA_CLASS, &privateClass, sizeof privateClass),
        Attribute(CKA_MODIFIABLE, &yes, 1), Attribute(CKA_PRIVATE, &yes, 1), Attribute(CKA_TOKEN, &token, 1),
        Attribute(CKA_SENSITIVE, &no, 1), Attribute(CKA_DERIVE, &no, 1), Attribute(CKA_LOCAL, &yes, 1),
        Attribute(CKA_DECRYPT, &pair.decrypt, 1), Attribute(CKA_SIGN, &pair.sign, 1),
        Attribute(CKA_SIGN_RECOVER, &no, 1), Attribute(CKA_UNWRAP, &pair.unwrap, 1),
        Attribute(CKA_ID, pair.id, sizeof pair.id), Attribute(CKA_LABEL, label.data(), label.size()) };
    CK_MECHANISM mechanism = { CKM_RSA_PKCS_KEY_PAIR_GEN, nullptr, 0 };
    CK_OBJECT_HANDLE publicKey = 0;
    CK_OBJECT_HANDLE privateKey = 0;
    const CK_RV rv = library->Functions()->C_GenerateKeyPair(pair.Session(), &mechanism, publicTemplate,
        static_cast<CK_ULONG>(std::size(publicTemplate)), privateTemplate,
        static_cast<CK_ULONG>(std::size(privateTemplate)), &publicKey, &privateKey);
    if (rv == CKR_OK) {
        pair.publicKey = publicKey;
        pair.privateKey = privateKey;
    }
    return rv;
}

SECURITY_STATUS FindKeyByLabel(ProviderContext* provider, const std::string& label, KeyContext& key)
{
    CK_FUNCTION_LIST_PTR module = Cryptoki().Functions();
    if (module == nullptr) {
        return NTE_INTERNAL_ERROR;
    }
    CK_OBJECT_HANDLE publicKey = 0;
    if (FindOne(module, provider->hSession, CKO_PUBLIC_KEY, label, publicKey) != CKR_OK) {
        return NTE_INTERNAL_ERROR;
    }
    if (publicKey == 0) {
        return NTE_NOT_FOUND;
    }
    // The token shows private keys only to the User; without the login an
    // existing key would never be found and its name used twice.
    const SECURITY_STATUS login = LoginIfRequired(provider);
    if (login != ERROR_SUCCESS) {
        return login;
    }
    CK_OBJECT_HANDLE privateKey = 0;
    if (FindOne(module, provider->hSession, CKO_PRIVATE_KEY, label, privateKey) != CKR_OK) {
        return NTE_INTERNAL_ERROR;
    }
    if (privateKey == 0) {
        return NTE_NOT_FOUND;
    }
    BYTE modulus[512] = {};
    CK_ULONG bits = 0;
    BYTE exponent[16] = {};
    BYTE id[sizeof key.ckaId] = {};
    CK_ATTRIBUTE publicRead[]
        = { Attribute(CKA_MODULUS, modulus, sizeof modulus), Attribute(CKA_MODULUS_BITS, &bits, sizeof bits),
              Attribute(CKA_PUBLIC_EXPONENT, exponent, sizeof exponent), Attribute(CKA_ID, id, sizeof id) };
    CK_BBOOL sign = CK_FALSE;
    CK_BBOOL decrypt = CK_FALSE;
    CK_ATTRIBUTE privateRead[] = { Attribute(CKA_SIGN, &sign, 1), Attribute(CKA_DECRYPT, &decrypt, 1) };
    if (module->C_GetAttributeValue(provider->hSession, publicKey, publicRead, 4) != CKR_OK
        || module->C_GetAttributeValue(provider->hSession, privateKey, privateRead, 2) != CKR_OK) {
        return NTE_INTERNAL_ERROR;
    }
    key.hPublicKey = publicKey;
    key.hPrivateKey = privateKey;
    std::memcpy(key.ckaId, id, sizeof id);
    key.cbCkaId = static_cast<DWORD>(publicRead[3].ulValueLen);
    return NTE_EXISTS;
}
