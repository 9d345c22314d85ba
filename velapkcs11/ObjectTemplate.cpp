// Object classes the token keeps: data, X.509 certificates, RSA public and
// private keys, DES/DES3/AES/generic secret keys.
#include "ObjectTemplate.h"

#include "AttributeRules.h"
#include "CkError.h"
#include "platform/openssl/OpenSslPtr.h"

#include <cstring>
#include <openssl/x509.h>

namespace velatoken {

namespace {

void Default(AttributeMap& map, CK_ATTRIBUTE_TYPE type, const Blob& value)
{
    map.emplace(type, value);
}

void RequireBoolOrAbsent(const AttributeMap& map, CK_ATTRIBUTE_TYPE type)
{
    const auto found = map.find(type);
    Require(found == map.end() || found->second.size() == 1, CKR_ATTRIBUTE_VALUE_INVALID);
}

CK_ULONG UlongOf(const AttributeMap& map, CK_ATTRIBUTE_TYPE type)
{
    const auto found = map.find(type);
    Require(found != map.end(), CKR_TEMPLATE_INCOMPLETE);
    CK_ULONG value = 0;
    Require(ReadUlong(found->second, value), CKR_ATTRIBUTE_VALUE_INVALID);
    return value;
}

void CommonDefaults(AttributeMap& map, bool privateDefault)
{
    Default(map, CKA_TOKEN, BoolBlob(false));
    Default(map, CKA_PRIVATE, BoolBlob(privateDefault));
    Default(map, CKA_MODIFIABLE, BoolBlob(true));
    Default(map, CKA_LABEL, {});
    for (CK_ATTRIBUTE_TYPE type : { CKA_TOKEN, CKA_PRIVATE, CKA_MODIFIABLE }) {
        RequireBoolOrAbsent(map, type);
    }
}

void KeyDefaults(AttributeMap& map)
{
    Default(map, CKA_ID, {});
    Default(map, CKA_DERIVE, BoolBlob(false));
    Default(map, CKA_LOCAL, BoolBlob(false));
    Default(map, CKA_START_DATE, {});
    Default(map, CKA_END_DATE, {});
}

// The DER encoding of a certificate field; empty when it does not encode.
template <typename Field> Blob DerOf(const Field* field, int (*encode)(const Field*, unsigned char**))
{
    unsigned char* out = nullptr;
    const int length = encode(field, &out);
    Blob der = length > 0 ? Blob(out, out + length) : Blob();
    OPENSSL_free(out);
    return der;
}

void CertificateDefaults(AttributeMap& map)
{
    Default(map, CKA_CERTIFICATE_TYPE, UlongBlob(CKC_X_509));
    Require(UlongOf(map, CKA_CERTIFICATE_TYPE) == CKC_X_509, CKR_ATTRIBUTE_VALUE_INVALID);
    const auto value = map.find(CKA_VALUE);
    Require(value != map.end() && !value->second.empty(), CKR_TEMPLATE_INCOMPLETE);
    const unsigned char* cursor = value->second.data();
    const unsigned char* const end = cursor + value->second.size();
    const vela5::platform::X509Ptr cert(d2i_X509(nullptr, &cursor, static_cast<long>(value->second.size())));
    Require(cert != nullptr, CKR_ATTRIBUTE_VALUE_INVALID);
    Require(cursor == end, CKR_ATTRIBUTE_VALUE_INVALID); // bytes after the certificate
    Default(map, CKA_SUBJECT, DerOf(X509_get_subject_name(cert.get()), i2d_X509_NAME));
    Default(map, CKA_ISSUER, DerOf(X509_get_issuer_name(cert.get()), i2d_X509_NAME));
    Default(map, CKA_SERIAL_NUMBER, DerOf(X509_get0_serialNumber(cert.get()), i2d_ASN1_INTEGER));
    Default(map, CKA_ID, {});
    Default(map, CKA_TRUSTED, BoolBlob(false));
    Default(map, CKA_NRV_LOGON_DEFAULT, Blob { 0 });
}

void SecretKeyDefaults(AttributeMap& map)
{
    const CK_ULONG keyType = UlongOf(map, CKA_KEY_TYPE);
    const auto value = map.find(CKA_VALUE);
    Require(value != map.end(), CKR_TEMPLATE_INCOMPLETE);
    const size_t length = value->second.size();
    switch (keyType) {
    case CKK_DES:
        Require(length == 8, CKR_ATTRIBUTE_VALUE_INVALID);
        break;
    case CKK_DES2:
        Require(length == 16, CKR_ATTRIBUTE_VALUE_INVALID);
        break;
    case CKK_DES3:
        Require(length == 24, CKR_ATTRIBUTE_VALUE_INVALID);
        break;
    case CKK_AES:
        Require(length == 16 || length == 24 || length == 32, CKR_ATTRIBUTE_VALUE_INVALID);
        break;
    case CKK_GENERIC_SECRET:
        Require(length >= 1 && length <= 512, CKR_ATTRIBUTE_VALUE_INVALID);
        break;
    default:
        throw CkError(CKR_ATTRIBUTE_VALUE_INVALID);
    }
    map[CKA_VALUE_LEN] = UlongBlob(static_cast<CK_ULONG>(length));
    KeyDefaults(map);
    for (CK_ATTRIBUTE_TYPE type : { CKA_ENCRYPT, CKA_DECRYPT, CKA_SIGN, CKA_VERIFY }) {
        Default(map, type, BoolBlob(true));
    }
    Default(map, CKA_WRAP, BoolBlob(false));
    Default(map, CKA_UNWRAP, BoolBlob(false));
    Default(map, CKA_SENSITIVE, BoolBlob(false));
    Default(map, CKA_EXTRACTABLE, BoolBlob(true));
    map[CKA_ALWAYS_SENSITIVE] = map[CKA_SENSITIVE];
    map[CKA_NEVER_EXTRACTABLE] = BoolBlob(map[CKA_EXTRACTABLE] == BoolBlob(false));
}

void PublicKeyDefaults(AttributeMap& map)
{
    KeyDefaults(map);
    map[CKA_KEY_TYPE] = UlongBlob(CKK_RSA);
    Default(map, CKA_ENCRYPT, BoolBlob(true));
    Default(map, CKA_VERIFY, BoolBlob(true));
    Default(map, CKA_VERIFY_RECOVER, BoolBlob(false));
    Default(map, CKA_WRAP, BoolBlob(false));
    Default(map, CKA_SUBJECT, {});
}

void PrivateKeyDefaults(AttributeMap& map)
{
    KeyDefaults(map);
    map[CKA_KEY_TYPE] = UlongBlob(CKK_RSA);
    Default(map, CKA_SIGN, BoolBlob(true));
    Default(map, CKA_DECRYPT, BoolBlob(true));
    Default(map, CKA_SIGN_RECOVER, BoolBlob(false));
    Default(map, CKA_UNWRAP, BoolBlob(false));
    Default(map, CKA_SENSITIVE, BoolBlob(true));
    Default(map, CKA_EXTRACTABLE, BoolBlob(false));
    Default(map, CKA_SUBJECT, {});
    // No key here asks for a login per operation.
    Default(map, CKA_ALWAYS_AUTHENTICATE, BoolBlob(false));
    Require(map[CKA_ALWAYS_AUTHENTICATE] == BoolBlob(false), CKR_ATTRIBUTE_VALUE_INVALID);
    map[CKA_ALWAYS_SENSITIVE] = map[CKA_SENSITIVE];
    map[CKA_NEVER_EXTRACTABLE] = BoolBlob(map[CKA_EXTRACTABLE] == BoolBlob(false));
}

const CK_ATTRIBUTE_TYPE kPrivateComponents[]
    = { CKA_PRIVATE_EXPONENT, CKA_PRIME_1, CKA_PRIME_2, CKA_EXPONENT_1, CKA_EXPONENT_2, CKA_COEFFICIENT };

StoredObject Finish(CK_OBJECT_CLASS objectClass, AttributeMap map)
{
    StoredObject object;
    object.objectClass = objectClass;
    map[CKA_CLASS] = UlongBlob(objectClass);
    object.isPrivate = map.count(CKA_PRIVATE) != 0 && map[CKA_PRIVATE] == BoolBlob(true);
    object.attributes = std::move(map);
    return object;
}

} // namespace

AttributeMap ReadTemplate(const CK_ATTRIBUTE* attributes, CK_ULONG count, bool skipEmpty)
{
    Require(attributes != nullptr || count == 0, CKR_ARGUMENTS_BAD);
    AttributeMap map;
    for (CK_ULONG i = 0; i < count; ++i) {
        const CK_ATTRIBUTE& attribute = attributes[i];
        if (skipEmpty && attribute.pValue == nullptr) {
            continue;
        }
        Require(attribute.pValue != nullptr || attribute.ulValueLen == 0, CKR_ATTRIBUTE_VALUE_INVALID);
        const auto* bytes = static_cast<const unsigned char*>(attribute.pValue);
        map[attribute.type] = bytes != nullptr ? Blob(bytes, bytes + attribute.ulValueLen) : Blob();
    }
    return map;
}

Blob BoolBlob(bool value)
{
    return Blob { static_cast<unsigned char>(value ? CK_TRUE : CK_FALSE) };
}

Blob UlongBlob(CK_ULONG value)
{
    Blob blob(sizeof value);
    std::memcpy(blob.data(), &value, sizeof value);
    return blob;
}

bool ReadUlong(const Blob& blob, CK_ULONG& value)
{
    if (blob.size() != sizeof value) {
        return false;
    }
    std::memcpy(&value, blob.data(), sizeof value);
    return true;
}

StoredObject BuildObject(AttributeMap map)
{
    const CK_OBJECT_CLASS objectClass = UlongOf(map, CKA_CLASS);
    switch (objectClass) {
    case CKO_DATA:
    case CKO_CERTIFICATE:
    case CKO_PUBLIC_KEY:
    case CKO_PRIVATE_KEY:
    case CKO_SECRET_KEY:
        CheckTemplate(objectClass, map);
        break;
    default:
        throw CkError(CKR_ATTRIBUTE_VALUE_INVALID);
    }
    if (const auto alias = map.find(kManagerKeyTypeAttribute); alias != map.end()) {
        map.emplace(CKA_KEY_TYPE, alias->second);
        map.erase(alias);
    }
    switch (objectClass) {
    case CKO_DATA:
        CommonDefaults(map, false);
        Default(map, CKA_APPLICATION, {});
        Default(map, CKA_OBJECT_ID, {});
        Default(map, CKA_VALUE, {});
        return Finish(objectClass, std::move(map));
    case CKO_CERTIFICATE:
        CommonDefaults(map, false);
        CertificateDefaults(map);
        return Finish(objectClass, std::move(map));
    case CKO_SECRET_KEY:
        CommonDefaults(map, true);
        SecretKeyDefaults(map);
        return Finish(objectClass, std::move(map));
    case CKO_PUBLIC_KEY: {
        CommonDefaults(map, false);
        Require(map.count(CKA_KEY_TYPE) == 0 || UlongOf(map, CKA_KEY_TYPE) == CKK_RSA,
            CKR_ATTRIBUTE_VALUE_INVALID);
        Require(map.count(CKA_MODULUS) != 0 && map.count(CKA_PUBLIC_EXPONENT) != 0, CKR_TEMPLATE_INCOMPLETE);
        CheckRsaComponents(map, false);
        const RsaKey key = RsaKey::FromPublic(map[CKA_MODULUS], map[CKA_PUBLIC_EXPONENT]);
        return BuildPublicKey(key, std::move(map));
    }
    case CKO_PRIVATE_KEY: {
        CommonDefaults(map, true);
        Require(map.count(CKA_KEY_TYPE) == 0 || UlongOf(map, CKA_KEY_TYPE) == CKK_RSA,
            CKR_ATTRIBUTE_VALUE_INVALID);
        Require(map.count(CKA_MODULUS) != 0 && map.count(CKA_PUBLIC_EXPONENT) != 0
                && map.count(CKA_PRIVATE_EXPONENT) != 0,
            CKR_TEMPLATE_INCOMPLETE);
        CheckRsaComponents(map, true);
        const Blob* crt[5] = {};
        for (int i = 0; i < 5; ++i) {
            const auto found = map.find(kPrivateComponents[i + 1]);
            crt[i] = found != map.end() ? &found->second : nullptr;
        }
        const RsaKey key = RsaKey::FromComponents(
            map[CKA_MODULUS], map[CKA_PUBLIC_EXPONENT], map[CKA_PRIVATE_EXPONENT], crt);
        return BuildPrivateKey(key, std::move(map));
    }
    default:
        throw CkError(CKR_ATTRIBUTE_VALUE_INVALID);
    }
}

StoredObject BuildPublicKey(const RsaKey& key, AttributeMap map)
{
    CommonDefaults(map, false);
    PublicKeyDefaults(map);
    map[CKA_MODULUS] = key.Modulus();
    map[CKA_PUBLIC_EXPONENT] = key.PublicExponent();
    map[CKA_MODULUS_BITS] = UlongBlob(key.Bits());
    return Finish(CKO_PUBLIC_KEY, std::move(map));
}

StoredObject BuildPrivateKey(const RsaKey& key, AttributeMap map)
{
    CommonDefaults(map, true);
    PrivateKeyDefaults(map);
    // The components live only inside the DER secret.
    for (CK_ATTRIBUTE_TYPE type : kPrivateComponents) {
        auto found = map.find(type);
        if (found != map.end()) {
            OPENSSL_cleanse(found->second.data(), found->second.size());
            map.erase(found);
        }
    }
    map[CKA_MODULUS] = key.Modulus();
    map[CKA_PUBLIC_EXPONENT] = key.PublicExponent();
    map[CKA_MODULUS_BITS] = UlongBlob(key.Bits());
    StoredObject object = Finish(CKO_PRIVATE_KEY, std::move(map));
    object.secret = key.PrivateDer();
    return object;
}

bool IsSensitive(const StoredObject& object, CK_ATTRIBUTE_TYPE type)
{
    if (object.objectClass == CKO_PRIVATE_KEY) {
        for (CK_ATTRIBUTE_TYPE component : kPrivateComponents) {
            if (type == component) {
                return true;
            }
        }
    }
    if (object.objectClass == CKO_SECRET_KEY && type == CKA_VALUE) {
        return object.Flag(CKA_SENSITIVE) || !object.Flag(CKA_EXTRACTABLE, true);
    }
    return false;
}

void ApplyChange(StoredObject& object, CK_ATTRIBUTE_TYPE type, const Blob& value)
{
    CheckAttribute(object.objectClass, type, value);
    switch (type) {
    case CKA_LABEL:
    case CKA_ID:
    case CKA_SUBJECT:
    case CKA_APPLICATION:
    case CKA_OBJECT_ID:
    case CKA_START_DATE:
    case CKA_END_DATE:
        break;
    case CKA_VALUE:
        Require(object.objectClass == CKO_DATA, CKR_ATTRIBUTE_READ_ONLY);
        break;
    case CKA_ENCRYPT:
    case CKA_DECRYPT:
    case CKA_SIGN:
    case CKA_VERIFY:
    case CKA_WRAP:
    case CKA_UNWRAP:
    case CKA_DERIVE:
    case CKA_SIGN_RECOVER:
    case CKA_VERIFY_RECOVER:
    case CKA_TRUSTED:
        Require((object.objectClass != CKO_DATA && object.objectClass != CKO_CERTIFICATE)
                || (type == CKA_TRUSTED && object.objectClass == CKO_CERTIFICATE),
            CKR_ATTRIBUTE_TYPE_INVALID);
        Require(value.size() == 1, CKR_ATTRIBUTE_VALUE_INVALID);
        break;
    case CKA_SENSITIVE:
        // Sensitivity can be raised, never lowered.
        Require(value.size() == 1, CKR_ATTRIBUTE_VALUE_INVALID);
        Require(object.Find(CKA_SENSITIVE) != nullptr, CKR_ATTRIBUTE_TYPE_INVALID);
        Require(value[0] != 0 || !object.Flag(CKA_SENSITIVE), CKR_ATTRIBUTE_READ_ONLY);
        break;
    case CKA_EXTRACTABLE:
        Require(value.size() == 1, CKR_ATTRIBUTE_VALUE_INVALID);
        Require(object.Find(CKA_EXTRACTABLE) != nullptr, CKR_ATTRIBUTE_TYPE_INVALID);
        Require(value[0] == 0 || object.Flag(CKA_EXTRACTABLE), CKR_ATTRIBUTE_READ_ONLY);
        break;
    case CKA_NRV_LOGON_DEFAULT:
        Require(object.objectClass == CKO_CERTIFICATE, CKR_ATTRIBUTE_TYPE_INVALID);
        Require(value.size() == 1, CKR_ATTRIBUTE_VALUE_INVALID);
        break;
    default:
        throw CkError(object.Find(type) != nullptr ? CKR_ATTRIBUTE_READ_ONLY : CKR_ATTRIBUTE_TYPE_INVALID);
    }
    object.attributes[type] = value;
}

} // namespace velatoken
