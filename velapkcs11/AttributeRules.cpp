// The attribute table of the object classes the token keeps.
#include "AttributeRules.h"

#include "CkError.h"

#include <algorithm>
#include <cstring>
#include <iterator>

namespace velatoken {

namespace {

enum class Form { Bool, Ulong, Date, Byte, Bytes };

// Classes as bits, so one row says every class an attribute belongs to.
constexpr unsigned kData = 1, kCertificate = 2, kPublic = 4, kPrivate = 8, kSecret = 16;
constexpr unsigned kAll = kData | kCertificate | kPublic | kPrivate | kSecret;
constexpr unsigned kKeys = kPublic | kPrivate | kSecret;

struct Rule {
    CK_ATTRIBUTE_TYPE type;
    Form form;
    unsigned classes;
};

// Standard types that the project's header does not name.
constexpr CK_ATTRIBUTE_TYPE kJavaMidpSecurityDomain = 0x88, kUrl = 0x89, kHashOfSubjectPublicKey = 0x8A,
                            kHashOfIssuerPublicKey = 0x8B, kNameHashAlgorithm = 0x8C, kPublicKeyInfo = 0x129,
                            kCopyable = 0x171, kDestroyable = 0x172, kWrapWithTrusted = 0x210,
                            kWrapTemplate = 0x40000211, kUnwrapTemplate = 0x40000212,
                            kAllowedMechanisms = 0x40000600;

constexpr Rule kRules[] = {
    { CKA_CLASS, Form::Ulong, kAll },
    { CKA_TOKEN, Form::Bool, kAll },
    { CKA_PRIVATE, Form::Bool, kAll },
    { CKA_MODIFIABLE, Form::Bool, kAll },
    { kCopyable, Form::Bool, kAll },
    { kDestroyable, Form::Bool, kAll },
    { CKA_LABEL, Form::Bytes, kAll },
    { CKA_APPLICATION, Form::Bytes, kData },
    { CKA_OBJECT_ID, Form::Bytes, kData },
    { CKA_VALUE, Form::Bytes, kData | kCertificate | kSecret },
    { CKA_CERTIFICATE_TYPE, Form::Ulong, kCertificate },
    { CKA_ISSUER, Form::Bytes, kCertificate },
    { CKA_SERIAL_NUMBER, Form::Bytes, kCertificate },
    { CKA_TRUSTED, Form::Bool, kCertificate | kPublic | kSecret },
    { CKA_CERTIFICATE_CATEGORY, Form::Ulong, kCertificate },
    { kJavaMidpSecurityDomain, Form::Ulong, kCertificate },
    { kUrl, Form::Bytes, kCertificate },
    { kHashOfSubjectPublicKey, Form::Bytes, kCertificate },
    { kHashOfIssuerPublicKey, Form::Bytes, kCertificate },
    { kNameHashAlgorithm, Form::Ulong, kCertificate },
    { CKA_CHECK_VALUE, Form::Bytes, kCertificate | kSecret },
    { CKA_SUBJECT, Form::Bytes, kCertificate | kPublic | kPrivate },
    { CKA_ID, Form::Bytes, kCertificate | kKeys },
    { CKA_START_DATE, Form::Date, kCertificate | kKeys },
    { CKA_END_DATE, Form::Date, kCertificate | kKeys },
    { kPublicKeyInfo, Form::Bytes, kCertificate | kPublic | kPrivate },
    { CKA_KEY_TYPE, Form::Ulong, kKeys },
    { CKA_DERIVE, Form::Bool, kKeys },
    { CKA_LOCAL, Form::Bool, kKeys },
    { CKA_KEY_GEN_MECHANISM, Form::Ulong, kKeys },
    { kAllowedMechanisms, Form::Bytes, kKeys },
    { CKA_ENCRYPT, Form::Bool, kPublic | kSecret },
    { CKA_VERIFY, Form::Bool, kPublic | kSecret },
    { CKA_VERIFY_RECOVER, Form::Bool, kPublic },
    { CKA_WRAP, Form::Bool, kPublic | kSecret },
    { kWrapTemplate, Form::Bytes, kPublic | kSecret },
    { CKA_DECRYPT, Form::Bool, kPrivate | kSecret },
    { CKA_SIGN, Form::Bool, kPrivate | kSecret },
    { CKA_SIGN_RECOVER, Form::Bool, kPrivate },
    { CKA_UNWRAP, Form::Bool, kPrivate | kSecret },
    { kUnwrapTemplate, Form::Bytes, kPrivate | kSecret },
    { CKA_SENSITIVE, Form::Bool, kPrivate | kSecret },
    { CKA_EXTRACTABLE, Form::Bool, kPrivate | kSecret },
    { CKA_ALWAYS_SENSITIVE, Form::Bool, kPrivate | kSecret },
    { CKA_NEVER_EXTRACTABLE, Form::Bool, kPrivate | kSecret },
    { kWrapWithTrusted, Form::Bool, kPrivate | kSecret },
    { CKA_ALWAYS_AUTHENTICATE, Form::Bool, kPrivate },
    { CKA_MODULUS, Form::Bytes, kPublic | kPrivate },
    { CKA_MODULUS_BITS, Form::Ulong, kPublic },
    { CKA_PUBLIC_EXPONENT, Form::Bytes, kPublic | kPrivate },
    { CKA_PRIVATE_EXPONENT, Form::Bytes, kPrivate },
    { CKA_PRIME_1, Form::Bytes, kPrivate },
    { CKA_PRIME_2, Form::Bytes, kPrivate },
    { CKA_EXPONENT_1, Form::Bytes, kPrivate },
    { CKA_EXPONENT_2, Form::Bytes, kPrivate },
    { CKA_COEFFICIENT, Form::Bytes, kPrivate },
    { CKA_VALUE_LEN, Form::Ulong, kSecret },
    // The vendor attributes: a key's pair index, a certificate's
    // logon-default mark, and the manager's key type of a secret key.
    { CKA_NRV_KEY_PAIR_INDEX, Form::Byte, kPublic | kPrivate },
    { CKA_NRV_LOGON_DEFAULT, Form::Byte, kCertificate },
    { kManagerKeyTypeAttribute, Form::Ulong, kSecret },
};

unsigned ClassBit(CK_OBJECT_CLASS objectClass)
{
    switch (objectClass) {
    case CKO_DATA:
        return kData;
    case CKO_CERTIFICATE:
        return kCertificate;
    case CKO_PUBLIC_KEY:
        return kPublic;
    case CKO_PRIVATE_KEY:
        return kPrivate;
    case CKO_SECRET_KEY:
        return kSecret;
    default:
        return 0;
    }
}

// The big-endian magnitude without its leading zero bytes.
Blob Magnitude(const Blob& value)
{
    const auto first = std::find_if(value.begin(), value.end(), [](unsigned char byte) { return byte != 0; });
    return Blob(first, value.end());
}

size_t Bits(const Blob& value)
{
    const Blob magnitude = Magnitude(value);
    if (magnitude.empty()) {
        return 0;
    }
    size_t bits = magnitude.size() * 8;
    for (unsigned char top = magnitude[0]; (top & 0x80) == 0; top = static_cast<unsigned char>(top << 1)) {
        --bits;
    }
    return bits;
}

// An odd exponent above 1 and shorter than a modulus of modulusBits.
void CheckExponent(const Blob& exponent, size_t modulusBits)
{
    const Blob magnitude = Magnitude(exponent);
    Require(!magnitude.empty() && (magnitude.back() & 1) != 0, CKR_ATTRIBUTE_VALUE_INVALID);
    Require(Bits(magnitude) > 1 && Bits(magnitude) < modulusBits, CKR_ATTRIBUTE_VALUE_INVALID);
}

const Blob* Find(const AttributeMap& map, CK_ATTRIBUTE_TYPE type)
{
    const auto found = map.find(type);
    return found != map.end() ? &found->second : nullptr;
}

} // namespace

void CheckAttribute(CK_OBJECT_CLASS objectClass, CK_ATTRIBUTE_TYPE type, const Blob& value)
{
    const auto rule = std::find_if(
        std::begin(kRules), std::end(kRules), [type](const Rule& entry) { return entry.type == type; });
    Require(rule != std::end(kRules), CKR_ATTRIBUTE_TYPE_INVALID);
    Require((rule->classes & ClassBit(objectClass)) != 0, CKR_TEMPLATE_INCONSISTENT);
    switch (rule->form) {
    case Form::Bool:
    case Form::Byte:
        Require(value.size() == 1, CKR_ATTRIBUTE_VALUE_INVALID);
        break;
    case Form::Ulong:
        Require(value.size() == sizeof(CK_ULONG), CKR_ATTRIBUTE_VALUE_INVALID);
        break;
    case Form::Date:
        // Empty is "no date"; a date is YYYYMMDD in digits.
        Require(value.empty() || value.size() == 8, CKR_ATTRIBUTE_VALUE_INVALID);
        Require(std::all_of(value.begin(), value.end(), [](unsigned char c) { return c >= '0' && c <= '9'; }),
            CKR_ATTRIBUTE_VALUE_INVALID);
        break;
    case Form::Bytes:
        break;
    }
}

void CheckTemplate(CK_OBJECT_CLASS objectClass, const AttributeMap& map)
{
    // Unknown types first: they are wrong whatever the class.
    for (const auto& [type, value] : map) {
        const bool known = std::any_of(
            std::begin(kRules), std::end(kRules), [type](const Rule& entry) { return entry.type == type; });
        Require(known, CKR_ATTRIBUTE_TYPE_INVALID);
    }
    for (const auto& [type, value] : map) {
        CheckAttribute(objectClass, type, value);
    }
}

void CheckRsaComponents(const AttributeMap& map, bool isPrivate)
{
    const Blob* modulus = Find(map, CKA_MODULUS);
    const Blob* exponent = Find(map, CKA_PUBLIC_EXPONENT);
    Require(modulus != nullptr && exponent != nullptr, CKR_TEMPLATE_INCOMPLETE);
    const size_t bits = Bits(*modulus);
    Require(bits >= 512 && bits <= 4096, CKR_ATTRIBUTE_VALUE_INVALID);
    Require(((*modulus)[modulus->size() - 1] & 1) != 0, CKR_ATTRIBUTE_VALUE_INVALID);
    CheckExponent(*exponent, bits);
    if (!isPrivate) {
        return;
    }
    const Blob* privateExponent = Find(map, CKA_PRIVATE_EXPONENT);
    Require(privateExponent != nullptr, CKR_TEMPLATE_INCOMPLETE);
    Require(Bits(*privateExponent) != 0, CKR_ATTRIBUTE_VALUE_INVALID);
    for (CK_ATTRIBUTE_TYPE type :
        { CKA_PRIME_1, CKA_PRIME_2, CKA_EXPONENT_1, CKA_EXPONENT_2, CKA_COEFFICIENT }) {
        const Blob* component = Find(map, type);
        Require(component == nullptr || Bits(*component) != 0, CKR_ATTRIBUTE_VALUE_INVALID);
    }
}

void CheckKeyPairTemplates(const AttributeMap& publicMap, const AttributeMap& privateMap, CK_ULONG bits)
{
    const struct {
        const AttributeMap& map;
        CK_OBJECT_CLASS objectClass;
    } halves[] = { { publicMap, CKO_PUBLIC_KEY }, { privateMap, CKO_PRIVATE_KEY } };
    for (const auto& half : halves) {
        CheckTemplate(half.objectClass, half.map);
        CK_ULONG value = 0;
        if (const Blob* given = Find(half.map, CKA_CLASS)) {
            std::memcpy(&value, given->data(), sizeof value);
            Require(value == half.objectClass, CKR_TEMPLATE_INCONSISTENT);
        }
        if (const Blob* given = Find(half.map, CKA_KEY_TYPE)) {
            std::memcpy(&value, given->data(), sizeof value);
            Require(value == CKK_RSA, CKR_TEMPLATE_INCONSISTENT);
        }
    }
    if (const Blob* exponent = Find(publicMap, CKA_PUBLIC_EXPONENT)) {
        CheckExponent(*exponent, bits);
    }
}

} // namespace velatoken
