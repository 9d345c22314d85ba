// The standard calls, checked the same way against the software token and
// against SoftHSMv2's module: a check that passes on both tests the standard,
// not our reading of it. Only standard function-list entries are used here.
#include "pkcs11/pkcs11.h"
#include "platform/openssl/OpenSslPtr.h"
#include "tests/support/ScopedTestRoot.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <dlfcn.h>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <map>
#include <memory>
#include <openssl/bn.h>
#include <openssl/core_names.h>
#include <openssl/evp.h>
#include <openssl/param_build.h>
#include <openssl/rsa.h>
#include <string>
#include <vector>

using namespace vela5::platform;

namespace {

const std::string kUserPin = "1234";
const std::string kSoPin = "87654321";
constexpr const char* kSoftHsmModule = "/usr/lib/softhsm/libsofthsm2.so";

// One module and how to give it a fresh token with the PINs above.
struct ModuleUnderTest {
    const char* name;
    std::string (*path)();
    // Empty on success, else why the module cannot be tested here.
    std::string (*prepare)(const ScopedTestRoot& root);
};

std::string Shell(const std::string& command)
{
    return std::system((command + " >/dev/null 2>&1").c_str()) == 0 ? std::string() : "failed: " + command;
}

std::string SoftwareTokenPath()
{
    const char* bin = std::getenv("VELA5_BIN_DIR");
    return std::string(bin != nullptr ? bin : ".") + "/velapkcs11.so";
}

std::string PrepareSoftwareToken(const ScopedTestRoot&)
{
    const char* bin = std::getenv("VELA5_BIN_DIR");
    const std::string tool = "'" + std::string(bin != nullptr ? bin : ".") + "/vela5-token' ";
    if (auto failed = Shell(tool + "reader add 'Conformance Reader'"); !failed.empty()) {
        return failed;
    }
    FILE* pipe = popen((tool
                           + "token create --test-pin-rounds 1000 --model VELA5-64 --label Conformance "
                             "--user-pin "
                           + kUserPin + " --so-pin " + kSoPin)
                           .c_str(),
        "r");
    char serial[64] = {};
    const bool read = pipe != nullptr && std::fgets(serial, sizeof serial, pipe) != nullptr;
    if (pipe == nullptr || pclose(pipe) != 0 || !read) {
        return "token create failed";
    }
    std::string text(serial);
    text.erase(text.find_last_not_of("\r\n ") + 1);
    return Shell(tool + "token insert " + text + " 'Conformance Reader'");
}

std::string SoftHsmPath()
{
    return kSoftHsmModule;
}

std::string PrepareSoftHsm(const ScopedTestRoot& root)
{
    if (!std::filesystem::exists(kSoftHsmModule) || std::system("command -v softhsm2-util >/dev/null") != 0) {
        return "SoftHSMv2 is not installed";
    }
    const auto tokens = root.Base() / "softhsm";
    std::filesystem::create_directories(tokens);
    const auto conf = root.Base() / "softhsm2.conf";
    std::ofstream(conf) << "directories.tokendir = " << tokens.string() << "\nobjectstore.backend = file\n";
    setenv("SOFTHSM2_CONF", conf.c_str(), 1);
    return Shell(
        "softhsm2-util --init-token --free --label Conformance --pin " + kUserPin + " --so-pin " + kSoPin);
}

const ModuleUnderTest kModules[] = {
    { "SoftwareToken", SoftwareTokenPath, PrepareSoftwareToken },
    { "SoftHSMv2", SoftHsmPath, PrepareSoftHsm },
};

// Modules stay loaded for the whole run: unloading and reloading a module
// between tests is not what consumers do and is not under test here.
CK_FUNCTION_LIST* LoadFunctionList(const std::string& path, std::string* error)
{
    static std::map<std::string, CK_FUNCTION_LIST*> loaded;
    if (auto found = loaded.find(path); found != loaded.end()) {
        return found->second;
    }
    void* module = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (module == nullptr) {
        *error = dlerror();
        return nullptr;
    }
    auto getList = reinterpret_cast<CK_C_GetFunctionList>(dlsym(module, "C_GetFunctionList"));
    CK_FUNCTION_LIST* list = nullptr;
    if (getList == nullptr || getList(&list) != CKR_OK || list == nullptr) {
        *error = "no function list";
        return nullptr;
    }
    return loaded[path] = list;
}

CK_ATTRIBUTE Attribute(CK_ATTRIBUTE_TYPE type, const void* value, CK_ULONG length)
{
    return { type, const_cast<void*>(value), length };
}

template <typename T> CK_ATTRIBUTE Attribute(CK_ATTRIBUTE_TYPE type, const T& value)
{
    return Attribute(type, &value, sizeof value);
}

CK_ATTRIBUTE Text(CK_ATTRIBUTE_TYPE type, const std::string& value)
{
    return Attribute(type, value.data(), static_cast<CK_ULONG>(value.size()));
}

// A literal points at its static storage: a std::string made from it would
// be gone before the template is used.
CK_ATTRIBUTE Text(CK_ATTRIBUTE_TYPE type, const char* literal)
{
    return Attribute(type, literal, static_cast<CK_ULONG>(std::strlen(literal)));
}

const CK_BBOOL kTrue = CK_TRUE;
const CK_BBOOL kFalse = CK_FALSE;

class StandardModule : public ::testing::TestWithParam<ModuleUnderTest> {
protected:
    void SetUp() override
    {
        if (const auto reason = GetParam().prepare(root); !reason.empty()) {
            GTEST_SKIP() << reason;
        }
        std::string error;
        p11 = LoadFunctionList(GetParam().path(), &error);
        ASSERT_NE(p11, nullptr) << error;
        ASSERT_EQ(p11->C_Initialize(nullptr), CKR_OK);
        initialized = true;
        slot = InitializedSlot();
    }
    void TearDown() override
    {
        if (initialized) {
            EXPECT_EQ(p11->C_Finalize(nullptr), CKR_OK);
        }
    }

    CK_SLOT_ID InitializedSlot()
    {
        CK_ULONG count = 0;
        EXPECT_EQ(p11->C_GetSlotList(CK_TRUE, nullptr, &count), CKR_OK);
        std::vector<CK_SLOT_ID> slots(count);
        EXPECT_EQ(p11->C_GetSlotList(CK_TRUE, slots.data(), &count), CKR_OK);
        for (CK_ULONG i = 0; i < count; ++i) {
            CK_TOKEN_INFO info {};
            if (p11->C_GetTokenInfo(slots[i], &info) == CKR_OK && (info.flags & CKF_TOKEN_INITIALIZED) != 0) {
                return slots[i];
            }
        }
        ADD_FAILURE() << "no initialized token";
        return 0;
    }
    CK_SESSION_HANDLE Open(CK_FLAGS flags = CKF_SERIAL_SESSION | CKF_RW_SESSION)
    {
        CK_SESSION_HANDLE session = CK_INVALID_HANDLE;
        EXPECT_EQ(p11->C_OpenSession(slot, flags, nullptr, nullptr, &session), CKR_OK);
        return session;
    }
    CK_RV Login(CK_SESSION_HANDLE session, CK_USER_TYPE user, std::string pin)
    {
        return p11->C_Login(session, user, reinterpret_cast<CK_UTF8CHAR*>(pin.data()), pin.size());
    }
    CK_SESSION_HANDLE UserSession()
    {
        const auto session = Open();
        EXPECT_EQ(Login(session, CKU_USER, kUserPin), CKR_OK);
        return session;
    }
    std::vector<CK_OBJECT_HANDLE> Find(CK_SESSION_HANDLE session, std::vector<CK_ATTRIBUTE> filter)
    {
        EXPECT_EQ(p11->C_FindObjectsInit(session, filter.data(), filter.size()), CKR_OK);
        std::vector<CK_OBJECT_HANDLE> found(64);
        CK_ULONG count = 0;
        EXPECT_EQ(p11->C_FindObjects(session, found.data(), found.size(), &count), CKR_OK);
        EXPECT_EQ(p11->C_FindObjectsFinal(session), CKR_OK);
        found.resize(count);
        return found;
    }
    CK_OBJECT_HANDLE CreateData(CK_SESSION_HANDLE session, const std::string& label, CK_BBOOL isPrivate)
    {
        const CK_OBJECT_CLASS dataClass = CKO_DATA;
        const std::string value = "conformance value";
        std::vector<CK_ATTRIBUTE> attributes { Attribute(CKA_CLASS, dataClass), Attribute(CKA_TOKEN, kTrue),
            Attribute(CKA_PRIVATE, isPrivate), Text(CKA_LABEL, label), Text(CKA_VALUE, value) };
        CK_OBJECT_HANDLE object = CK_INVALID_HANDLE;
        EXPECT_EQ(p11->C_CreateObject(session, attributes.data(), attributes.size(), &object), CKR_OK);
        return object;
    }
    struct KeyPair {
        CK_OBJECT_HANDLE publicKey = CK_INVALID_HANDLE;
        CK_OBJECT_HANDLE privateKey = CK_INVALID_HANDLE;
    };
    KeyPair GenerateRsa(CK_SESSION_HANDLE session)
    {
        CK_MECHANISM mechanism { CKM_RSA_PKCS_KEY_PAIR_GEN, nullptr, 0 };
        const CK_ULONG bits = 2048;
        const CK_BYTE exponent[] = { 0x01, 0x00, 0x01 };
        const std::string id = "\x42\x43";
        std::vector<CK_ATTRIBUTE> publicTemplate { Attribute(CKA_TOKEN, kTrue),
            Attribute(CKA_MODULUS_BITS, bits), Attribute(CKA_PUBLIC_EXPONENT, exponent, sizeof exponent),
            Attribute(CKA_VERIFY, kTrue), Attribute(CKA_ENCRYPT, kTrue), Text(CKA_ID, id) };
        std::vector<CK_ATTRIBUTE> privateTemplate { Attribute(CKA_TOKEN, kTrue),
            Attribute(CKA_PRIVATE, kTrue), Attribute(CKA_SENSITIVE, kTrue), Attribute(CKA_SIGN, kTrue),
            Attribute(CKA_DECRYPT, kTrue), Text(CKA_ID, id) };
        KeyPair pair;
        EXPECT_EQ(p11->C_GenerateKeyPair(session, &mechanism, publicTemplate.data(), publicTemplate.size(),
                      privateTemplate.data(), privateTemplate.size(), &pair.publicKey, &pair.privateKey),
            CKR_OK);
        return pair;
    }
    std::vector<CK_BYTE> Read(CK_SESSION_HANDLE session, CK_OBJECT_HANDLE object, CK_ATTRIBUTE_TYPE type)
    {
        CK_ATTRIBUTE query { type, nullptr, 0 };
        EXPECT_EQ(p11->C_GetAttributeValue(session, object, &query, 1), CKR_OK);
        std::vector<CK_BYTE> value(query.ulValueLen);
        query.pValue = value.data();
        EXPECT_EQ(p11->C_GetAttributeValue(session, object, &query, 1), CKR_OK);
        value.resize(query.ulValueLen);
        return value;
    }
    // The public key as OpenSSL sees it, from the token's modulus and exponent.
    PkeyPtr PublicKey(CK_SESSION_HANDLE session, CK_OBJECT_HANDLE key)
    {
        const auto modulus = Read(session, key, CKA_MODULUS);
        const auto exponent = Read(session, key, CKA_PUBLIC_EXPONENT);
        BnPtr n(BN_bin2bn(modulus.data(), static_cast<int>(modulus.size()), nullptr));
        BnPtr e(BN_bin2bn(exponent.data(), static_cast<int>(exponent.size()), nullptr));
        ParamBuildPtr builder(OSSL_PARAM_BLD_new());
        OSSL_PARAM_BLD_push_BN(builder.get(), OSSL_PKEY_PARAM_RSA_N, n.get());
        OSSL_PARAM_BLD_push_BN(builder.get(), OSSL_PKEY_PARAM_RSA_E, e.get());
        ParamsPtr params(OSSL_PARAM_BLD_to_param(builder.get()));
        PkeyCtxPtr context(EVP_PKEY_CTX_new_from_name(nullptr, "RSA", nullptr));
        EVP_PKEY* made = nullptr;
        EXPECT_EQ(EVP_PKEY_fromdata_init(context.get()), 1);
        EXPECT_EQ(EVP_PKEY_fromdata(context.get(), &made, EVP_PKEY_PUBLIC_KEY, params.get()), 1);
        return PkeyPtr(made);
    }

    ScopedTestRoot root;
    CK_FUNCTION_LIST* p11 = nullptr;
    bool initialized = false;
    CK_SLOT_ID slot = 0;
};

TEST_P(StandardModule, LibraryLifecycleAnswersTheStandardCodes)
{
    EXPECT_EQ(p11->C_Initialize(nullptr), CKR_CRYPTOKI_ALREADY_INITIALIZED);
    int reserved = 0;
    EXPECT_EQ(p11->C_Finalize(&reserved), CKR_ARGUMENTS_BAD);
    CK_INFO info {};
    EXPECT_EQ(p11->C_GetInfo(&info), CKR_OK);
    EXPECT_EQ(info.cryptokiVersion.major, 2);

    ASSERT_EQ(p11->C_Finalize(nullptr), CKR_OK);
    initialized = false;
    CK_ULONG count = 0;
    EXPECT_EQ(p11->C_GetInfo(&info), CKR_CRYPTOKI_NOT_INITIALIZED);
    EXPECT_EQ(p11->C_GetSlotList(CK_TRUE, nullptr, &count), CKR_CRYPTOKI_NOT_INITIALIZED);
    EXPECT_EQ(p11->C_Finalize(nullptr), CKR_CRYPTOKI_NOT_INITIALIZED);
}

TEST_P(StandardModule, SlotListReportsTheLengthItNeeds)
{
    CK_ULONG count = 0;
    ASSERT_EQ(p11->C_GetSlotList(CK_TRUE, nullptr, &count), CKR_OK);
    ASSERT_GE(count, 1u);
    if (count > 1) {
        CK_ULONG small = 1;
        CK_SLOT_ID one = 0;
        EXPECT_EQ(p11->C_GetSlotList(CK_TRUE, &one, &small), CKR_BUFFER_TOO_SMALL);
        EXPECT_EQ(small, count);
    }
    EXPECT_EQ(p11->C_GetSlotList(CK_TRUE, nullptr, nullptr), CKR_ARGUMENTS_BAD);
}

TEST_P(StandardModule, TokenInformationIsPaddedAndFlagged)
{
    CK_TOKEN_INFO info {};
    ASSERT_EQ(p11->C_GetTokenInfo(slot, &info), CKR_OK);
    const std::string label(reinterpret_cast<const char*>(info.label), sizeof info.label);
    EXPECT_EQ(label, "Conformance" + std::string(sizeof info.label - 11, ' '));
    EXPECT_NE(info.flags & CKF_USER_PIN_INITIALIZED, 0u);
    EXPECT_NE(info.flags & CKF_LOGIN_REQUIRED, 0u);
    EXPECT_LE(info.ulMinPinLen, kUserPin.size());
    EXPECT_GE(info.ulMaxPinLen, kSoPin.size());
    CK_SLOT_ID missing = 0x7FFF;
    EXPECT_EQ(p11->C_GetTokenInfo(missing, &info), CKR_SLOT_ID_INVALID);
}

TEST_P(StandardModule, SessionsFollowTheStateRules)
{
    CK_SESSION_HANDLE session = CK_INVALID_HANDLE;
    EXPECT_EQ(p11->C_OpenSession(slot, CKF_RW_SESSION, nullptr, nullptr, &session),
        CKR_SESSION_PARALLEL_NOT_SUPPORTED);
    const auto readOnly = Open(CKF_SERIAL_SESSION);
    CK_SESSION_INFO info {};
    ASSERT_EQ(p11->C_GetSessionInfo(readOnly, &info), CKR_OK);
    EXPECT_EQ(info.state, CKS_RO_PUBLIC_SESSION);
    EXPECT_EQ(info.slotID, slot);

    // The Security Officer cannot log in while a read-only session is open.
    const auto readWrite = Open();
    EXPECT_EQ(Login(readWrite, CKU_SO, kSoPin), CKR_SESSION_READ_ONLY_EXISTS);
    EXPECT_EQ(Login(readWrite, CKU_USER, "0000"), CKR_PIN_INCORRECT);
    ASSERT_EQ(Login(readWrite, CKU_USER, kUserPin), CKR_OK);
    EXPECT_EQ(Login(readOnly, CKU_USER, kUserPin), CKR_USER_ALREADY_LOGGED_IN);
    // A login belongs to the application: every session shows it.
    ASSERT_EQ(p11->C_GetSessionInfo(readOnly, &info), CKR_OK);
    EXPECT_EQ(info.state, CKS_RO_USER_FUNCTIONS);
    ASSERT_EQ(p11->C_GetSessionInfo(readWrite, &info), CKR_OK);
    EXPECT_EQ(info.state, CKS_RW_USER_FUNCTIONS);

    // A second logout is left out: SoftHSMv2 answers it with CKR_OK.
    EXPECT_EQ(p11->C_Logout(readOnly), CKR_OK);
    ASSERT_EQ(p11->C_GetSessionInfo(readWrite, &info), CKR_OK);
    EXPECT_EQ(info.state, CKS_RW_PUBLIC_SESSION);
    ASSERT_EQ(p11->C_CloseSession(readOnly), CKR_OK);
    EXPECT_EQ(p11->C_GetSessionInfo(readOnly, &info), CKR_SESSION_HANDLE_INVALID);
    EXPECT_EQ(p11->C_CloseAllSessions(slot), CKR_OK);
    EXPECT_EQ(p11->C_GetSessionInfo(readWrite, &info), CKR_SESSION_HANDLE_INVALID);
}

TEST_P(StandardModule, PrivateObjectsNeedTheUser)
{
    const auto session = Open();
    const CK_OBJECT_CLASS dataClass = CKO_DATA;
    std::vector<CK_ATTRIBUTE> privateData { Attribute(CKA_CLASS, dataClass), Attribute(CKA_TOKEN, kTrue),
        Attribute(CKA_PRIVATE, kTrue), Text(CKA_LABEL, "hidden") };
    CK_OBJECT_HANDLE object = CK_INVALID_HANDLE;
    EXPECT_EQ(p11->C_CreateObject(session, privateData.data(), privateData.size(), &object),
        CKR_USER_NOT_LOGGED_IN);

    ASSERT_EQ(Login(session, CKU_USER, kUserPin), CKR_OK);
    CreateData(session, "hidden", kTrue);
    CreateData(session, "shown", kFalse);
    EXPECT_EQ(Find(session, { Attribute(CKA_CLASS, dataClass) }).size(), 2u);
    ASSERT_EQ(p11->C_Logout(session), CKR_OK);
    const auto visible = Find(session, { Attribute(CKA_CLASS, dataClass) });
    ASSERT_EQ(visible.size(), 1u);
    EXPECT_EQ(Read(session, visible[0], CKA_LABEL), std::vector<CK_BYTE>({ 's', 'h', 'o', 'w', 'n' }));
}

TEST_P(StandardModule, AttributeReadsReportLengthsAndRefusals)
{
    const auto session = UserSession();
    const auto object = CreateData(session, "sized", kFalse);

    CK_ATTRIBUTE query { CKA_VALUE, nullptr, 0 };
    ASSERT_EQ(p11->C_GetAttributeValue(session, object, &query, 1), CKR_OK);
    EXPECT_EQ(query.ulValueLen, 17u);

    std::vector<CK_BYTE> small(4);
    CK_ATTRIBUTE tooSmall { CKA_VALUE, small.data(), small.size() };
    EXPECT_EQ(p11->C_GetAttributeValue(session, object, &tooSmall, 1), CKR_BUFFER_TOO_SMALL);
    EXPECT_EQ(tooSmall.ulValueLen, CK_UNAVAILABLE_INFORMATION);

    // One bad entry spoils the answer but the others are still filled.
    CK_BYTE label[16] = {};
    CK_ATTRIBUTE mixed[] = { { CKA_LABEL, label, sizeof label }, { CKA_MODULUS, nullptr, 0 } };
    EXPECT_EQ(p11->C_GetAttributeValue(session, object, mixed, 2), CKR_ATTRIBUTE_TYPE_INVALID);
    EXPECT_EQ(mixed[0].ulValueLen, 5u);
    EXPECT_EQ(mixed[1].ulValueLen, CK_UNAVAILABLE_INFORMATION);

    const auto pair = GenerateRsa(session);
    CK_ATTRIBUTE secret { CKA_PRIVATE_EXPONENT, nullptr, 0 };
    EXPECT_EQ(p11->C_GetAttributeValue(session, pair.privateKey, &secret, 1), CKR_ATTRIBUTE_SENSITIVE);
    EXPECT_EQ(secret.ulValueLen, CK_UNAVAILABLE_INFORMATION);
    CK_ATTRIBUTE unsensitive[] = { Attribute(CKA_SENSITIVE, kFalse) };
    EXPECT_EQ(p11->C_SetAttributeValue(session, pair.privateKey, unsensitive, 1), CKR_ATTRIBUTE_READ_ONLY);
}

TEST_P(StandardModule, DestroyedObjectsAreGone)
{
    const auto session = UserSession();
    const auto object = CreateData(session, "short-lived", kFalse);
    ASSERT_EQ(p11->C_DestroyObject(session, object), CKR_OK);
    EXPECT_TRUE(Find(session, { Text(CKA_LABEL, "short-lived") }).empty());
    CK_ATTRIBUTE query { CKA_LABEL, nullptr, 0 };
    EXPECT_EQ(p11->C_GetAttributeValue(session, object, &query, 1), CKR_OBJECT_HANDLE_INVALID);
    EXPECT_EQ(p11->C_DestroyObject(session, object), CKR_OBJECT_HANDLE_INVALID);
}

TEST_P(StandardModule, SignatureLengthQueryKeepsTheOperationForTheRealCall)
{
    const auto session = UserSession();
    const auto pair = GenerateRsa(session);
    CK_MECHANISM mechanism { CKM_SHA256_RSA_PKCS, nullptr, 0 };
    std::string message = "signed by the token";
    auto* data = reinterpret_cast<CK_BYTE*>(message.data());

    ASSERT_EQ(p11->C_SignInit(session, &mechanism, pair.privateKey), CKR_OK);
    EXPECT_EQ(p11->C_SignInit(session, &mechanism, pair.privateKey), CKR_OPERATION_ACTIVE);
    CK_ULONG length = 0;
    ASSERT_EQ(p11->C_Sign(session, data, message.size(), nullptr, &length), CKR_OK);
    EXPECT_EQ(length, 256u);
    std::vector<CK_BYTE> signature(length);
    CK_ULONG small = 16;
    EXPECT_EQ(p11->C_Sign(session, data, message.size(), signature.data(), &small), CKR_BUFFER_TOO_SMALL);
    ASSERT_EQ(p11->C_Sign(session, data, message.size(), signature.data(), &length), CKR_OK);
    EXPECT_EQ(
        p11->C_Sign(session, data, message.size(), signature.data(), &length), CKR_OPERATION_NOT_INITIALIZED);

    // OpenSSL agrees with the signature over the public key the token reports.
    auto key = PublicKey(session, pair.publicKey);
    MdCtxPtr verify(EVP_MD_CTX_new());
    ASSERT_EQ(EVP_DigestVerifyInit(verify.get(), nullptr, EVP_sha256(), nullptr, key.get()), 1);
    EXPECT_EQ(EVP_DigestVerify(verify.get(), signature.data(), signature.size(), data, message.size()), 1);

    ASSERT_EQ(p11->C_VerifyInit(session, &mechanism, pair.publicKey), CKR_OK);
    EXPECT_EQ(p11->C_Verify(session, data, message.size(), signature.data(), signature.size()), CKR_OK);
    signature[10] ^= 0x01;
    ASSERT_EQ(p11->C_VerifyInit(session, &mechanism, pair.publicKey), CKR_OK);
    EXPECT_EQ(p11->C_Verify(session, data, message.size(), signature.data(), signature.size()),
        CKR_SIGNATURE_INVALID);
}

TEST_P(StandardModule, EncryptionRoundTripsThroughTheKeyPair)
{
    const auto session = UserSession();
    const auto pair = GenerateRsa(session);
    const std::string secret = "sealed for the token";

    // Encrypted by OpenSSL to the token's public key, decrypted on the token.
    auto key = PublicKey(session, pair.publicKey);
    PkeyCtxPtr context(EVP_PKEY_CTX_new(key.get(), nullptr));
    ASSERT_EQ(EVP_PKEY_encrypt_init(context.get()), 1);
    ASSERT_EQ(EVP_PKEY_CTX_set_rsa_padding(context.get(), RSA_PKCS1_PADDING), 1);
    std::vector<CK_BYTE> sealed(256);
    size_t sealedLength = sealed.size();
    ASSERT_EQ(EVP_PKEY_encrypt(context.get(), sealed.data(), &sealedLength,
                  reinterpret_cast<const unsigned char*>(secret.data()), secret.size()),
        1);

    CK_MECHANISM mechanism { CKM_RSA_PKCS, nullptr, 0 };
    ASSERT_EQ(p11->C_DecryptInit(session, &mechanism, pair.privateKey), CKR_OK);
    std::vector<CK_BYTE> opened(256);
    CK_ULONG openedLength = opened.size();
    ASSERT_EQ(p11->C_Decrypt(session, sealed.data(), sealedLength, opened.data(), &openedLength), CKR_OK);
    EXPECT_EQ(std::string(opened.begin(), opened.begin() + openedLength), secret);

    // And the module's own encryption opens again on the token.
    ASSERT_EQ(p11->C_EncryptInit(session, &mechanism, pair.publicKey), CKR_OK);
    CK_ULONG length = sealed.size();
    auto* plain = reinterpret_cast<CK_BYTE*>(const_cast<char*>(secret.data()));
    ASSERT_EQ(p11->C_Encrypt(session, plain, secret.size(), sealed.data(), &length), CKR_OK);
    ASSERT_EQ(p11->C_DecryptInit(session, &mechanism, pair.privateKey), CKR_OK);
    openedLength = opened.size();
    ASSERT_EQ(p11->C_Decrypt(session, sealed.data(), length, opened.data(), &openedLength), CKR_OK);
    EXPECT_EQ(std::string(opened.begin(), opened.begin() + openedLength), secret);
}

TEST_P(StandardModule, DigestMatchesOpenSsl)
{
    const auto session = Open();
    CK_MECHANISM mechanism { CKM_SHA256, nullptr, 0 };
    std::string message = "digest me";
    ASSERT_EQ(p11->C_DigestInit(session, &mechanism), CKR_OK);
    CK_ULONG length = 0;
    ASSERT_EQ(
        p11->C_Digest(session, reinterpret_cast<CK_BYTE*>(message.data()), message.size(), nullptr, &length),
        CKR_OK);
    ASSERT_EQ(length, 32u);
    std::vector<CK_BYTE> digest(length);
    ASSERT_EQ(p11->C_Digest(session, reinterpret_cast<CK_BYTE*>(message.data()), message.size(),
                  digest.data(), &length),
        CKR_OK);
    unsigned char expected[32];
    unsigned int expectedLength = 0;
    ASSERT_EQ(
        EVP_Digest(message.data(), message.size(), expected, &expectedLength, EVP_sha256(), nullptr), 1);
    EXPECT_EQ(digest, std::vector<CK_BYTE>(expected, expected + expectedLength));
}

TEST_P(StandardModule, RandomBytesAreNotRepeated)
{
    const auto session = Open();
    std::vector<CK_BYTE> first(32), second(32);
    ASSERT_EQ(p11->C_GenerateRandom(session, first.data(), first.size()), CKR_OK);
    ASSERT_EQ(p11->C_GenerateRandom(session, second.data(), second.size()), CKR_OK);
    EXPECT_NE(first, second);
    EXPECT_NE(first, std::vector<CK_BYTE>(32, 0));
}

TEST_P(StandardModule, MechanismListReportsItsLength)
{
    CK_ULONG count = 0;
    ASSERT_EQ(p11->C_GetMechanismList(slot, nullptr, &count), CKR_OK);
    std::vector<CK_MECHANISM_TYPE> mechanisms(count);
    ASSERT_EQ(p11->C_GetMechanismList(slot, mechanisms.data(), &count), CKR_OK);
    const auto has = [&](CK_MECHANISM_TYPE type) {
        return std::find(mechanisms.begin(), mechanisms.end(), type) != mechanisms.end();
    };
    EXPECT_TRUE(has(CKM_RSA_PKCS_KEY_PAIR_GEN));
    EXPECT_TRUE(has(CKM_SHA256_RSA_PKCS));
    CK_MECHANISM_INFO info {};
    ASSERT_EQ(p11->C_GetMechanismInfo(slot, CKM_RSA_PKCS, &info), CKR_OK);
    EXPECT_NE(info.flags & CKF_SIGN, 0u);
    EXPECT_LE(info.ulMinKeySize, 2048u);
    EXPECT_EQ(p11->C_GetMechanismInfo(slot, 0x7FFFFF00, &info), CKR_MECHANISM_INVALID);
}

INSTANTIATE_TEST_SUITE_P(Modules, StandardModule, ::testing::ValuesIn(kModules),
    [](const ::testing::TestParamInfo<ModuleUnderTest>& info) { return std::string(info.param.name); });

} // namespace
