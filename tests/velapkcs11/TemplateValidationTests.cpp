// Templates PKCS#11 refuses are refused with its codes and store nothing:
// unknown and foreign attributes, values of the wrong form, damaged
// certificates and RSA components, key-pair templates against their
// mechanism. The kit's own templates keep working.
#include "TokenModuleFixture.h"
#include "tests/support/TestCertificates.h"

#include <cstring>
#include <functional>
#include <openssl/bn.h>
#include <openssl/core_names.h>

namespace {

using Bytes = std::vector<CK_BYTE>;

Bytes Ulong(CK_ULONG value)
{
    Bytes bytes(sizeof value);
    std::memcpy(bytes.data(), &value, sizeof value);
    return bytes;
}

// A template as type and value pairs, changed per case.
using Template = std::vector<std::pair<CK_ATTRIBUTE_TYPE, Bytes>>;

Template With(Template base, CK_ATTRIBUTE_TYPE type, Bytes value)
{
    for (auto& [existing, bytes] : base) {
        if (existing == type) {
            bytes = std::move(value);
            return base;
        }
    }
    base.emplace_back(type, std::move(value));
    return base;
}

std::vector<CK_ATTRIBUTE> Attributes(Template& entries)
{
    std::vector<CK_ATTRIBUTE> attributes;
    for (auto& [type, value] : entries) {
        attributes.push_back({ type, value.data(), static_cast<CK_ULONG>(value.size()) });
    }
    return attributes;
}

class TemplateValidation : public TokenModule {
protected:
    void SetUp() override
    {
        TokenModule::SetUp();
        InsertInitializedToken();
        ASSERT_EQ(p11->C_Initialize(nullptr), CKR_OK);
        session = Open();
        ASSERT_EQ(Login(session, CKU_USER, "1234"), CKR_OK);
        const TestKey key = MakeRsaKey(1024);
        n = KeyNumber(key, OSSL_PKEY_PARAM_RSA_N);
        e = KeyNumber(key, OSSL_PKEY_PARAM_RSA_E);
        const Bytes yes { CK_TRUE };
        data = { { CKA_CLASS, Ulong(CKO_DATA) }, { CKA_TOKEN, yes }, { CKA_VALUE, Bytes { 'v' } } };
        certificate = { { CKA_CLASS, Ulong(CKO_CERTIFICATE) }, { CKA_TOKEN, yes },
            { CKA_VALUE, MakeCertificate({}, key) } };
        publicKey = { { CKA_CLASS, Ulong(CKO_PUBLIC_KEY) }, { CKA_KEY_TYPE, Ulong(CKK_RSA) },
            { CKA_MODULUS, n }, { CKA_PUBLIC_EXPONENT, e } };
        privateKey
            = { { CKA_CLASS, Ulong(CKO_PRIVATE_KEY) }, { CKA_KEY_TYPE, Ulong(CKK_RSA) }, { CKA_MODULUS, n },
                  { CKA_PUBLIC_EXPONENT, e }, { CKA_PRIVATE_EXPONENT, KeyNumber(key, OSSL_PKEY_PARAM_RSA_D) },
                  { CKA_PRIME_1, KeyNumber(key, OSSL_PKEY_PARAM_RSA_FACTOR1) },
                  { CKA_PRIME_2, KeyNumber(key, OSSL_PKEY_PARAM_RSA_FACTOR2) },
                  { CKA_EXPONENT_1, KeyNumber(key, OSSL_PKEY_PARAM_RSA_EXPONENT1) },
                  { CKA_EXPONENT_2, KeyNumber(key, OSSL_PKEY_PARAM_RSA_EXPONENT2) },
                  { CKA_COEFFICIENT, KeyNumber(key, OSSL_PKEY_PARAM_RSA_COEFFICIENT1) } };
        // The token manager's secret-key template: key type under 0xFFFFFFFF.
        Bytes label(32, 0);
        std::memcpy(label.data(), "Door key", 8);
        managerSecretKey = { { CKA_LABEL, label }, { CKA_ID, Bytes { 0x0A } }, { CKA_DERIVE, Bytes { 0 } },
            { CKA_ENCRYPT, yes }, { CKA_DECRYPT, yes }, { CKA_SIGN, Bytes { 0 } },
            { CKA_VERIFY, Bytes { 0 } }, { CKA_WRAP, Bytes { 0 } }, { CKA_UNWRAP, Bytes { 0 } },
            { CKA_MODIFIABLE, yes }, { 0xFFFFFFFF, Ulong(CKK_AES) }, { CKA_VALUE, Bytes(16, 0x42) },
            { CKA_TOKEN, yes }, { CKA_CLASS, Ulong(CKO_SECRET_KEY) } };
    }

    CK_RV Create(Template entries, CK_OBJECT_HANDLE* handle = nullptr)
    {
        std::vector<CK_ATTRIBUTE> attributes = Attributes(entries);
        CK_OBJECT_HANDLE created = 0;
        const CK_RV rv = p11->C_CreateObject(
            session, attributes.data(), static_cast<CK_ULONG>(attributes.size()), &created);
        if (handle != nullptr) {
            *handle = created;
        }
        return rv;
    }
    CK_ULONG Objects() { return Count(session, {}); }

    CK_SESSION_HANDLE session = 0;
    Bytes n, e;
    Template data, certificate, publicKey, privateKey, managerSecretKey;
};

TEST_F(TemplateValidation, CreateObjectRefusesWhatPkcs11Refuses)
{
    Bytes trailing = certificate[2].second;
    trailing.push_back(0);
    Bytes evenExponent = e;
    evenExponent.back() &= 0xFE;
    const Bytes shortModulus(32, 0xFF); // 256 bits
    const Bytes longModulus(4104 / 8 + 1, 0xFF);
    const struct {
        const char* fault;
        Template entries;
        CK_RV expected;
    } cases[] = {
        { "a type no class has", With(data, 0x7777, { 1 }), CKR_ATTRIBUTE_TYPE_INVALID },
        { "a vendor type the token does not define", With(data, 0x80000001, { 1 }),
            CKR_ATTRIBUTE_TYPE_INVALID },
        { "a key's usage flag on data", With(data, CKA_SIGN, { 1 }), CKR_TEMPLATE_INCONSISTENT },
        { "a modulus on data", With(data, CKA_MODULUS, n), CKR_TEMPLATE_INCONSISTENT },
        { "sensitivity on a certificate", With(certificate, CKA_SENSITIVE, { 1 }),
            CKR_TEMPLATE_INCONSISTENT },
        { "a modulus on a secret key", With(managerSecretKey, CKA_MODULUS, n), CKR_TEMPLATE_INCONSISTENT },
        { "the logon-default mark on data", With(data, CKA_NRV_LOGON_DEFAULT, { 1 }),
            CKR_TEMPLATE_INCONSISTENT },
        { "the manager's key type on data", With(data, 0xFFFFFFFF, Ulong(CKK_AES)),
            CKR_TEMPLATE_INCONSISTENT },
        { "a CK_BBOOL of 4 bytes", With(data, CKA_TOKEN, { 1, 0, 0, 0 }), CKR_ATTRIBUTE_VALUE_INVALID },
        { "a CK_BBOOL of no bytes", With(data, CKA_PRIVATE, {}), CKR_ATTRIBUTE_VALUE_INVALID },
        { "a CK_DATE of 7 bytes", With(publicKey, CKA_START_DATE, Bytes(7, '1')),
            CKR_ATTRIBUTE_VALUE_INVALID },
        { "a CK_DATE of 9 bytes", With(certificate, CKA_END_DATE, Bytes(9, '1')),
            CKR_ATTRIBUTE_VALUE_INVALID },
        { "a logon-default mark of 2 bytes", With(certificate, CKA_NRV_LOGON_DEFAULT, { 1, 0 }),
            CKR_ATTRIBUTE_VALUE_INVALID },
        { "a certificate with bytes after it", With(certificate, CKA_VALUE, trailing),
            CKR_ATTRIBUTE_VALUE_INVALID },
        { "an empty modulus", With(publicKey, CKA_MODULUS, {}), CKR_ATTRIBUTE_VALUE_INVALID },
        { "an even exponent", With(publicKey, CKA_PUBLIC_EXPONENT, evenExponent),
            CKR_ATTRIBUTE_VALUE_INVALID },
        { "a zero exponent", With(publicKey, CKA_PUBLIC_EXPONENT, { 0 }), CKR_ATTRIBUTE_VALUE_INVALID },
        { "a 256-bit modulus", With(publicKey, CKA_MODULUS, shortModulus), CKR_ATTRIBUTE_VALUE_INVALID },
        { "a modulus over 4096 bits", With(publicKey, CKA_MODULUS, longModulus),
            CKR_ATTRIBUTE_VALUE_INVALID },
        { "a private key's empty modulus", With(privateKey, CKA_MODULUS, {}), CKR_ATTRIBUTE_VALUE_INVALID },
        { "an empty private exponent", With(privateKey, CKA_PRIVATE_EXPONENT, {}),
            CKR_ATTRIBUTE_VALUE_INVALID },
        { "an empty prime", With(privateKey, CKA_PRIME_1, {}), CKR_ATTRIBUTE_VALUE_INVALID },
        { "an empty CRT coefficient", With(privateKey, CKA_COEFFICIENT, {}), CKR_ATTRIBUTE_VALUE_INVALID },
    };
    const CK_ULONG before = Objects();
    for (const auto& entry : cases) {
        EXPECT_EQ(Create(entry.entries), entry.expected) << entry.fault;
    }
    EXPECT_EQ(Objects(), before) << "a refused template stored an object";
}

TEST_F(TemplateValidation, StandardAndTheKitsOwnTemplatesAreAccepted)
{
    const Template accepted[] = { data, certificate, publicKey, privateKey, managerSecretKey,
        With(With(certificate, CKA_START_DATE, {}), CKA_END_DATE,
            Bytes { '2', '0', '3', '0', '0', '1', '0', '1' }),
        With(certificate, CKA_NRV_LOGON_DEFAULT, { 1 }) };
    for (const Template& entries : accepted) {
        CK_OBJECT_HANDLE handle = 0;
        EXPECT_EQ(Create(entries, &handle), CKR_OK) << "template " << (&entries - accepted);
    }
    CK_OBJECT_HANDLE key = 0;
    ASSERT_EQ(Create(managerSecretKey, &key), CKR_OK);
    CK_KEY_TYPE keyType = 0;
    CK_ATTRIBUTE query = { CKA_KEY_TYPE, &keyType, sizeof keyType };
    ASSERT_EQ(p11->C_GetAttributeValue(session, key, &query, 1), CKR_OK);
    EXPECT_EQ(keyType, static_cast<CK_KEY_TYPE>(CKK_AES)) << "the manager's key type is the key's type";
    // The manager's edit of a secret key: label, ID and usage flags.
    Template edit(managerSecretKey.begin(), managerSecretKey.begin() + 9);
    edit[0].second[0] = 'W';
    std::vector<CK_ATTRIBUTE> attributes = Attributes(edit);
    EXPECT_EQ(
        p11->C_SetAttributeValue(session, key, attributes.data(), static_cast<CK_ULONG>(attributes.size())),
        CKR_OK);
}

TEST_F(TemplateValidation, SetAttributeValueRefusesWhatPkcs11Refuses)
{
    CK_OBJECT_HANDLE certificateObject = 0, dataObject = 0;
    ASSERT_EQ(Create(certificate, &certificateObject), CKR_OK);
    ASSERT_EQ(Create(data, &dataObject), CKR_OK);
    const struct {
        const char* fault;
        CK_OBJECT_HANDLE* object;
        CK_ATTRIBUTE_TYPE type;
        Bytes value;
        CK_RV expected;
    } cases[] = {
        { "a type no class has", &dataObject, 0x7777, { 1 }, CKR_ATTRIBUTE_TYPE_INVALID },
        { "a key's usage flag on a certificate", &certificateObject, CKA_ENCRYPT, { 1 },
            CKR_TEMPLATE_INCONSISTENT },
        { "sensitivity on data", &dataObject, CKA_SENSITIVE, { 1 }, CKR_TEMPLATE_INCONSISTENT },
        { "a CK_BBOOL of 2 bytes", &certificateObject, CKA_TRUSTED, { 1, 0 }, CKR_ATTRIBUTE_VALUE_INVALID },
        { "a CK_DATE of 3 bytes", &certificateObject, CKA_START_DATE, { '2', '0', '3' },
            CKR_ATTRIBUTE_VALUE_INVALID },
        { "a logon-default mark of no bytes", &certificateObject, CKA_NRV_LOGON_DEFAULT, {},
            CKR_ATTRIBUTE_VALUE_INVALID },
        { "the logon-default mark, one byte", &certificateObject, CKA_NRV_LOGON_DEFAULT, { 1 }, CKR_OK },
    };
    for (const auto& entry : cases) {
        Bytes value = entry.value;
        CK_ATTRIBUTE attribute = { entry.type, value.data(), static_cast<CK_ULONG>(value.size()) };
        EXPECT_EQ(p11->C_SetAttributeValue(session, *entry.object, &attribute, 1), entry.expected)
            << entry.fault;
    }
}

TEST_F(TemplateValidation, GenerateKeyPairRefusesTemplatesAgainstItsMechanism)
{
    CK_MECHANISM mechanism = { CKM_RSA_PKCS_KEY_PAIR_GEN, nullptr, 0 };
    const Template publicBase = { { CKA_MODULUS_BITS, Ulong(1024) }, { CKA_PUBLIC_EXPONENT, { 1, 0, 1 } } };
    const Template privateBase = { { CKA_SIGN, { 1 } } };
    Bytes hugeExponent(1100 / 8, 0xFF); // more bits than the modulus
    const struct {
        const char* fault;
        Template publicTemplate;
        Template privateTemplate;
        CK_RV expected;
    } cases[] = {
        { "a secret key type", With(publicBase, CKA_KEY_TYPE, Ulong(CKK_AES)), privateBase,
            CKR_TEMPLATE_INCONSISTENT },
        { "a data class for the public half", With(publicBase, CKA_CLASS, Ulong(CKO_DATA)), privateBase,
            CKR_TEMPLATE_INCONSISTENT },
        { "a secret-key class for the private half", publicBase,
            With(privateBase, CKA_CLASS, Ulong(CKO_SECRET_KEY)), CKR_TEMPLATE_INCONSISTENT },
        { "a private half's type on the public half", With(publicBase, CKA_SIGN, { 1 }), privateBase,
            CKR_TEMPLATE_INCONSISTENT },
        { "an unknown type", publicBase, With(privateBase, 0x7777, { 1 }), CKR_ATTRIBUTE_TYPE_INVALID },
        { "an exponent longer than the modulus", With(publicBase, CKA_PUBLIC_EXPONENT, hugeExponent),
            privateBase, CKR_ATTRIBUTE_VALUE_INVALID },
        { "an even exponent", With(publicBase, CKA_PUBLIC_EXPONENT, { 1, 0, 0 }), privateBase,
            CKR_ATTRIBUTE_VALUE_INVALID },
        { "the mechanism's own class and type",
            With(With(publicBase, CKA_CLASS, Ulong(CKO_PUBLIC_KEY)), CKA_KEY_TYPE, Ulong(CKK_RSA)),
            With(privateBase, CKA_CLASS, Ulong(CKO_PRIVATE_KEY)), CKR_OK },
    };
    for (const auto& entry : cases) {
        Template publicEntries = entry.publicTemplate, privateEntries = entry.privateTemplate;
        std::vector<CK_ATTRIBUTE> pub = Attributes(publicEntries), priv = Attributes(privateEntries);
        CK_OBJECT_HANDLE publicKeyHandle = 0, privateKeyHandle = 0;
        EXPECT_EQ(p11->C_GenerateKeyPair(session, &mechanism, pub.data(), static_cast<CK_ULONG>(pub.size()),
                      priv.data(), static_cast<CK_ULONG>(priv.size()), &publicKeyHandle, &privateKeyHandle),
            entry.expected)
            << entry.fault;
    }
}

} // namespace
