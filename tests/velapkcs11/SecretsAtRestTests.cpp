// Secrets at rest: what only the PIN may open never stands in the state's
// files, every way of setting a PIN keeps the keys usable, other processes
// log in on their own, and a state from before sealed secrets is sealed
// when first opened.
#include "TokenModuleFixture.h"
#include "tests/support/TokenObjects.h"

#include <cstdio>
#include <fstream>
#include <functional>
#include <iterator>
#include <openssl/core_names.h>
#include <sqlite3.h>

namespace fs = std::filesystem;

namespace {

using Bytes = std::vector<unsigned char>;

const std::string kUserPin = "1234";
const std::string kSoPin = "87654321";

// Rows of one blob column.
std::vector<Bytes> Blobs(const fs::path& state, const std::string& sql)
{
    std::vector<Bytes> rows;
    sqlite3* db = nullptr;
    sqlite3_stmt* statement = nullptr;
    if (sqlite3_open_v2(state.c_str(), &db, SQLITE_OPEN_READONLY, nullptr) == SQLITE_OK
        && sqlite3_prepare_v2(db, sql.c_str(), -1, &statement, nullptr) == SQLITE_OK) {
        while (sqlite3_step(statement) == SQLITE_ROW) {
            const auto* data = static_cast<const unsigned char*>(sqlite3_column_blob(statement, 0));
            rows.emplace_back(data, data + sqlite3_column_bytes(statement, 0));
        }
    }
    sqlite3_finalize(statement);
    sqlite3_close(db);
    return rows;
}

bool Change(const fs::path& state, const std::string& sql)
{
    sqlite3* db = nullptr;
    const bool done = sqlite3_open(state.c_str(), &db) == SQLITE_OK
        && sqlite3_exec(db, sql.c_str(), nullptr, nullptr, nullptr) == SQLITE_OK;
    sqlite3_close(db);
    return done;
}

class SecretsAtRest : public TokenModule {
protected:
    fs::path State() const { return root.Root() / "tokens" / "state.db"; }

    // The state file and its write-ahead log as they are on disk now.
    std::string Files() const
    {
        std::string bytes;
        for (const char* suffix : { "", "-wal" }) {
            std::ifstream in(State().string() + suffix, std::ios::binary);
            bytes.append(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
        }
        return bytes;
    }
    static bool Holds(const std::string& files, const Bytes& needle)
    {
        return files.find(std::string(needle.begin(), needle.end())) != std::string::npos;
    }

    void Restart()
    {
        ASSERT_EQ(p11->C_Finalize(nullptr), CKR_OK);
        ASSERT_EQ(p11->C_Initialize(nullptr), CKR_OK);
    }

    CK_RV StandardLogin(CK_SESSION_HANDLE session, CK_USER_TYPE user, std::string pin)
    {
        return p11->C_Login(
            session, user, reinterpret_cast<CK_UTF8CHAR*>(pin.data()), static_cast<CK_ULONG>(pin.size()));
    }

    // A token key pair, private key first.
    std::pair<CK_OBJECT_HANDLE, CK_OBJECT_HANDLE> Generate(CK_SESSION_HANDLE session)
    {
        CK_MECHANISM mechanism = { CKM_RSA_PKCS_KEY_PAIR_GEN, nullptr, 0 };
        CK_ULONG bits = 1024;
        CK_BBOOL yes = CK_TRUE;
        CK_ATTRIBUTE pub[] = { { CKA_MODULUS_BITS, &bits, sizeof bits }, { CKA_TOKEN, &yes, 1 } };
        CK_ATTRIBUTE priv[] = { { CKA_TOKEN, &yes, 1 } };
        CK_OBJECT_HANDLE publicKey = 0;
        CK_OBJECT_HANDLE privateKey = 0;
        EXPECT_EQ(
            p11->C_GenerateKeyPair(session, &mechanism, pub, 2, priv, 1, &publicKey, &privateKey), CKR_OK);
        return { privateKey, publicKey };
    }

    CK_OBJECT_HANDLE CreatePrivateKey(CK_SESSION_HANDLE session, const TestKey& key, CK_BBOOL isPrivate)
    {
        CK_OBJECT_CLASS keyClass = CKO_PRIVATE_KEY;
        CK_KEY_TYPE keyType = CKK_RSA;
        CK_BBOOL yes = CK_TRUE;
        Bytes values[] = { KeyNumber(key, OSSL_PKEY_PARAM_RSA_N), KeyNumber(key, OSSL_PKEY_PARAM_RSA_E),
            KeyNumber(key, OSSL_PKEY_PARAM_RSA_D), KeyNumber(key, OSSL_PKEY_PARAM_RSA_FACTOR1),
            KeyNumber(key, OSSL_PKEY_PARAM_RSA_FACTOR2) };
        std::vector<CK_ATTRIBUTE> attributes
            = { { CKA_CLASS, &keyClass, sizeof keyClass }, { CKA_KEY_TYPE, &keyType, sizeof keyType },
                  { CKA_TOKEN, &yes, 1 }, { CKA_PRIVATE, &isPrivate, 1 } };
        const CK_ATTRIBUTE_TYPE types[]
            = { CKA_MODULUS, CKA_PUBLIC_EXPONENT, CKA_PRIVATE_EXPONENT, CKA_PRIME_1, CKA_PRIME_2 };
        for (size_t i = 0; i < std::size(types); ++i) {
            attributes.push_back({ types[i], values[i].data(), static_cast<CK_ULONG>(values[i].size()) });
        }
        CK_OBJECT_HANDLE handle = 0;
        lastCreate = p11->C_CreateObject(
            session, attributes.data(), static_cast<CK_ULONG>(attributes.size()), &handle);
        return handle;
    }

    CK_RV Sign(CK_SESSION_HANDLE session, CK_OBJECT_HANDLE key, Bytes* signature = nullptr)
    {
        CK_MECHANISM mechanism = { CKM_SHA256_RSA_PKCS, nullptr, 0 };
        CK_RV rv = p11->C_SignInit(session, &mechanism, key);
        if (rv != CKR_OK) {
            return rv;
        }
        CK_BYTE data[] = "signed elsewhere";
        Bytes out(512);
        CK_ULONG length = static_cast<CK_ULONG>(out.size());
        rv = p11->C_Sign(session, data, sizeof data - 1, out.data(), &length);
        out.resize(length);
        if (signature != nullptr) {
            *signature = out;
        }
        return rv;
    }

    CK_RV Verify(CK_SESSION_HANDLE session, CK_OBJECT_HANDLE key, Bytes signature)
    {
        CK_MECHANISM mechanism = { CKM_SHA256_RSA_PKCS, nullptr, 0 };
        EXPECT_EQ(p11->C_VerifyInit(session, &mechanism, key), CKR_OK);
        CK_BYTE data[] = "signed elsewhere";
        return p11->C_Verify(
            session, data, sizeof data - 1, signature.data(), static_cast<CK_ULONG>(signature.size()));
    }

    // Signs with the key and checks the signature with its partner.
    void ExpectSignsAndVerifies(
        CK_SESSION_HANDLE session, CK_OBJECT_HANDLE privateKey, CK_OBJECT_HANDLE publicKey)
    {
        Bytes signature;
        ASSERT_EQ(Sign(session, privateKey, &signature), CKR_OK);
        EXPECT_EQ(Verify(session, publicKey, signature), CKR_OK);
    }

    std::vector<CK_OBJECT_HANDLE> Find(CK_SESSION_HANDLE session, CK_OBJECT_CLASS objectClass)
    {
        CK_ATTRIBUTE filter { CKA_CLASS, &objectClass, sizeof objectClass };
        EXPECT_EQ(p11->C_FindObjectsInit(session, &filter, 1), CKR_OK);
        std::vector<CK_OBJECT_HANDLE> found(16);
        CK_ULONG count = 0;
        EXPECT_EQ(p11->C_FindObjects(session, found.data(), found.size(), &count), CKR_OK);
        EXPECT_EQ(p11->C_FindObjectsFinal(session), CKR_OK);
        found.resize(count);
        return found;
    }

    Bytes Attribute(CK_SESSION_HANDLE session, CK_OBJECT_HANDLE object, CK_ATTRIBUTE_TYPE type)
    {
        Bytes value(4096);
        CK_ATTRIBUTE attribute { type, value.data(), static_cast<CK_ULONG>(value.size()) };
        EXPECT_EQ(p11->C_GetAttributeValue(session, object, &attribute, 1), CKR_OK);
        value.resize(attribute.ulValueLen == CK_UNAVAILABLE_INFORMATION ? 0 : attribute.ulValueLen);
        return value;
    }

    // The public key whose CKA_ID is the private key's.
    CK_OBJECT_HANDLE PartnerOf(CK_SESSION_HANDLE session, CK_OBJECT_HANDLE privateKey)
    {
        Bytes id = Attribute(session, privateKey, CKA_ID);
        CK_OBJECT_CLASS publicClass = CKO_PUBLIC_KEY;
        CK_ATTRIBUTE filter[] = { { CKA_CLASS, &publicClass, sizeof publicClass },
            { CKA_ID, id.data(), static_cast<CK_ULONG>(id.size()) } };
        EXPECT_EQ(p11->C_FindObjectsInit(session, filter, 2), CKR_OK);
        CK_OBJECT_HANDLE found = 0;
        CK_ULONG count = 0;
        EXPECT_EQ(p11->C_FindObjects(session, &found, 1, &count), CKR_OK);
        EXPECT_EQ(p11->C_FindObjectsFinal(session), CKR_OK);
        EXPECT_EQ(count, 1u);
        return found;
    }

    CK_RV lastCreate = CKR_OK;
};

TEST_F(SecretsAtRest, SecretValuesNeverStandInTheStateFiles)
{
    const std::string serial = InsertInitializedToken();
    const TestIdentity identity = MakeTestIdentity(root.Temp(), "imported", "/CN=Imported", "pw");
    TokenObjects::Import(serial, identity.pkcs12, "pw", kUserPin);
    ASSERT_EQ(p11->C_Initialize(nullptr), CKR_OK);
    const CK_SESSION_HANDLE session = Open();
    ASSERT_EQ(Login(session, CKU_USER, kUserPin), CKR_OK);

    const TestKey created = MakeRsaKey(1024);
    const CK_OBJECT_HANDLE createdKey = CreatePrivateKey(session, created, CK_TRUE);
    ASSERT_EQ(lastCreate, CKR_OK);
    Bytes secretValue(32);
    for (size_t i = 0; i < secretValue.size(); ++i) {
        secretValue[i] = static_cast<unsigned char>(0xA0 ^ (i * 7));
    }
    CK_OBJECT_CLASS secretClass = CKO_SECRET_KEY;
    CK_KEY_TYPE aes = CKK_AES;
    CK_BBOOL yes = CK_TRUE;
    CK_BBOOL no = CK_FALSE;
    // Public, but sensitive: its value is sealed all the same.
    CK_ATTRIBUTE secretKey[]
        = { { CKA_CLASS, &secretClass, sizeof secretClass }, { CKA_KEY_TYPE, &aes, sizeof aes },
              { CKA_TOKEN, &yes, 1 }, { CKA_PRIVATE, &no, 1 }, { CKA_SENSITIVE, &yes, 1 },
              { CKA_VALUE, secretValue.data(), static_cast<CK_ULONG>(secretValue.size()) } };
    CK_OBJECT_HANDLE handle = 0;
    ASSERT_EQ(p11->C_CreateObject(session, secretKey, 6, &handle), CKR_OK);
    const std::string dataText = "PRIVATE-DATA-KEPT-SEALED";
    Bytes dataValue(dataText.begin(), dataText.end());
    CK_OBJECT_CLASS dataClass = CKO_DATA;
    CK_ATTRIBUTE data[] = { { CKA_CLASS, &dataClass, sizeof dataClass }, { CKA_TOKEN, &yes, 1 },
        { CKA_PRIVATE, &yes, 1 }, { CKA_VALUE, dataValue.data(), static_cast<CK_ULONG>(dataValue.size()) } };
    ASSERT_EQ(p11->C_CreateObject(session, data, 4, &handle), CKR_OK);

    const struct {
        const char* what;
        Bytes bytes;
    } secrets[] = {
        { "prime of a key made from components", KeyNumber(created, OSSL_PKEY_PARAM_RSA_FACTOR1) },
        { "private exponent of a key made from components", KeyNumber(created, OSSL_PKEY_PARAM_RSA_D) },
        { "prime of a PKCS#12 key", KeyNumber(identity.key, OSSL_PKEY_PARAM_RSA_FACTOR2) },
        { "private exponent of a PKCS#12 key", KeyNumber(identity.key, OSSL_PKEY_PARAM_RSA_D) },
        { "value of a sensitive secret key", secretValue },
        { "value of a private data object", dataValue },
    };
    // The public modulus is stored in plain: the search does reach the data.
    const Bytes modulus = KeyNumber(created, OSSL_PKEY_PARAM_RSA_N);
    for (const bool open : { true, false }) {
        if (!open) {
            // The last connection moves the log into the state file itself.
            ASSERT_EQ(p11->C_Finalize(nullptr), CKR_OK);
        }
        const std::string files = Files();
        ASSERT_TRUE(Holds(files, modulus)) << (open ? "open" : "closed");
        for (const auto& secret : secrets) {
            EXPECT_FALSE(Holds(files, secret.bytes))
                << secret.what << (open ? ", state open" : ", state closed");
        }
    }

    ASSERT_EQ(p11->C_Initialize(nullptr), CKR_OK);
    const CK_SESSION_HANDLE again = Open();
    ASSERT_EQ(Login(again, CKU_USER, kUserPin), CKR_OK);
    EXPECT_EQ(Sign(again, createdKey), CKR_OK);
    const auto found = Find(again, CKO_DATA);
    ASSERT_EQ(found.size(), 1u);
    EXPECT_EQ(Attribute(again, found[0], CKA_VALUE), dataValue);
}

TEST_F(SecretsAtRest, AnotherProcessSignsAfterItsOwnLogin)
{
    InsertInitializedToken();
    ASSERT_EQ(p11->C_Initialize(nullptr), CKR_OK);
    const CK_SESSION_HANDLE session = Open();
    ASSERT_EQ(Login(session, CKU_USER, kUserPin), CKR_OK);
    const auto [privateKey, publicKey] = Generate(session);
    ASSERT_NE(privateKey, 0u);

    // This process stays logged in; the other one unwraps the key itself.
    for (const auto& [pin, expected] : { std::pair { kUserPin, std::string("0 ") },
             std::pair { std::string("9999"), std::string("login ") } }) {
        FILE* helper = popen((std::string(VELA5_TEST_HELPER) + " sign " + pin).c_str(), "r");
        ASSERT_NE(helper, nullptr);
        char line[2048] = {};
        const bool read = std::fgets(line, sizeof line, helper) != nullptr;
        pclose(helper);
        ASSERT_TRUE(read) << pin;
        const std::string answer = Trim(line);
        ASSERT_EQ(answer.substr(0, expected.size()), expected) << answer;
        if (pin == kUserPin) {
            Bytes signature;
            for (size_t i = 2; i + 1 < answer.size(); i += 2) {
                signature.push_back(static_cast<unsigned char>(std::stoi(answer.substr(i, 2), nullptr, 16)));
            }
            EXPECT_EQ(Verify(session, publicKey, signature), CKR_OK);
        }
    }
}

// Each way a PIN is set keeps the token key: a key made under the old PIN
// signs after a login with the new one, and the old PIN no longer opens.
// Each way a PIN changes is its own test, so one broken way hides no other.
enum class PinChange { UserLoggedIn, UserInPublicSession, SoUnblocks, SoSetsUserPin, SoChangesOwnThenSets };

class PinChangeKeepsKeys : public SecretsAtRest, public testing::WithParamInterface<PinChange> {
protected:
    static constexpr const char* kNewPin = "5678";

    void Change(CK_SESSION_HANDLE s)
    {
        std::string user = kUserPin;
        std::string so = kSoPin;
        std::string pin = kNewPin;
        switch (GetParam()) {
        case PinChange::UserLoggedIn:
            ASSERT_EQ(Login(s, CKU_USER, kUserPin), CKR_OK);
            [[fallthrough]];
        case PinChange::UserInPublicSession:
            ASSERT_EQ(p11->C_SetPIN(s, reinterpret_cast<CK_UTF8CHAR*>(user.data()), 4,
                          reinterpret_cast<CK_UTF8CHAR*>(pin.data()), 4),
                CKR_OK);
            return;
        case PinChange::SoUnblocks:
            ASSERT_EQ(p11->C_NRV_UnblockUserPIN(s, reinterpret_cast<CK_BYTE*>(so.data()), 8,
                          reinterpret_cast<CK_BYTE*>(pin.data()), 4),
                CKR_OK);
            return;
        case PinChange::SoSetsUserPin:
            ASSERT_EQ(StandardLogin(s, CKU_SO, kSoPin), CKR_OK);
            break;
        case PinChange::SoChangesOwnThenSets: {
            ASSERT_EQ(StandardLogin(s, CKU_SO, kSoPin), CKR_OK);
            std::string newSo = "11223344";
            ASSERT_EQ(p11->C_SetPIN(s, reinterpret_cast<CK_UTF8CHAR*>(so.data()), 8,
                          reinterpret_cast<CK_UTF8CHAR*>(newSo.data()), 8),
                CKR_OK);
            ASSERT_EQ(p11->C_Logout(s), CKR_OK);
            ASSERT_EQ(StandardLogin(s, CKU_SO, newSo), CKR_OK);
            break;
        }
        }
        ASSERT_EQ(p11->C_InitPIN(s, reinterpret_cast<CK_UTF8CHAR*>(pin.data()), 4), CKR_OK);
    }
};

TEST_P(PinChangeKeepsKeys, TheKeysStayUsableUnderTheNewPin)
{
    InsertInitializedToken();
    ASSERT_EQ(p11->C_Initialize(nullptr), CKR_OK);
    CK_SESSION_HANDLE session = Open();
    ASSERT_EQ(Login(session, CKU_USER, kUserPin), CKR_OK);
    const auto [privateKey, publicKey] = Generate(session);
    ASSERT_EQ(p11->C_Logout(session), CKR_OK);
    Change(session);
    if (HasFatalFailure()) {
        return;
    }
    // A fresh process state: nothing of the old login is left.
    Restart();
    session = Open();
    EXPECT_EQ(StandardLogin(session, CKU_USER, kUserPin), CKR_PIN_INCORRECT);
    ASSERT_EQ(StandardLogin(session, CKU_USER, kNewPin), CKR_OK);
    ExpectSignsAndVerifies(session, privateKey, publicKey);
}

std::string PinChangeName(const testing::TestParamInfo<PinChange>& info)
{
    const char* names[]
        = { "UserLoggedIn", "UserInPublicSession", "SoUnblocks", "SoSetsUserPin", "SoChangesOwnThenSets" };
    return names[static_cast<int>(info.param)];
}

INSTANTIATE_TEST_SUITE_P(EveryWay, PinChangeKeepsKeys,
    testing::Values(PinChange::UserLoggedIn, PinChange::UserInPublicSession, PinChange::SoUnblocks,
        PinChange::SoSetsUserPin, PinChange::SoChangesOwnThenSets),
    PinChangeName);

TEST_F(SecretsAtRest, StandardlyInitializedTokenGetsItsUserPinFromTheSo)
{
    const std::string serial = CreateToken("--model VELA5-64 --blank");
    InsertToken(serial);
    ASSERT_EQ(p11->C_Initialize(nullptr), CKR_OK);
    std::string so = kSoPin;
    CK_UTF8CHAR label[32];
    std::fill(std::begin(label), std::end(label), ' ');
    ASSERT_EQ(p11->C_InitToken(0, reinterpret_cast<CK_UTF8CHAR*>(so.data()), 8, label), CKR_OK);
    CK_SESSION_HANDLE session = Open();
    ASSERT_EQ(StandardLogin(session, CKU_SO, kSoPin), CKR_OK);
    std::string pin = kUserPin;
    ASSERT_EQ(p11->C_InitPIN(session, reinterpret_cast<CK_UTF8CHAR*>(pin.data()), 4), CKR_OK);
    ASSERT_EQ(p11->C_Logout(session), CKR_OK);
    ASSERT_EQ(StandardLogin(session, CKU_USER, kUserPin), CKR_OK);
    const auto [privateKey, publicKey] = Generate(session);
    Restart();
    session = Open();
    ASSERT_EQ(StandardLogin(session, CKU_USER, kUserPin), CKR_OK);
    ExpectSignsAndVerifies(session, privateKey, publicKey);
}

// A private key marked public still keeps its secret sealed: its public
// values and label stay reachable without a login, signing does not.
TEST_F(SecretsAtRest, PublicPrivateKeysNeedTheLoginToSign)
{
    InsertInitializedToken();
    ASSERT_EQ(p11->C_Initialize(nullptr), CKR_OK);
    const CK_SESSION_HANDLE session = Open();
    const TestKey key = MakeRsaKey(1024);
    CreatePrivateKey(session, key, CK_FALSE);
    EXPECT_EQ(lastCreate, CKR_USER_NOT_LOGGED_IN) << "nothing to seal it with";
    ASSERT_EQ(Login(session, CKU_USER, kUserPin), CKR_OK);
    const CK_OBJECT_HANDLE handle = CreatePrivateKey(session, key, CK_FALSE);
    ASSERT_EQ(lastCreate, CKR_OK);
    ASSERT_EQ(Sign(session, handle), CKR_OK);
    ASSERT_EQ(p11->C_Logout(session), CKR_OK);

    EXPECT_EQ(Sign(session, handle), CKR_USER_NOT_LOGGED_IN);
    EXPECT_EQ(Attribute(session, handle, CKA_MODULUS), KeyNumber(key, OSSL_PKEY_PARAM_RSA_N));
    std::string label = "renamed without login";
    CK_ATTRIBUTE rename { CKA_LABEL, label.data(), static_cast<CK_ULONG>(label.size()) };
    ASSERT_EQ(p11->C_SetAttributeValue(session, handle, &rename, 1), CKR_OK);
    ASSERT_EQ(Login(session, CKU_USER, kUserPin), CKR_OK);
    EXPECT_EQ(Sign(session, handle), CKR_OK) << "the sealed secret survived the change";
}

// A value changed later is sealed as a new one would be.
TEST_F(SecretsAtRest, ChangedValuesAreSealedToo)
{
    InsertInitializedToken();
    ASSERT_EQ(p11->C_Initialize(nullptr), CKR_OK);
    CK_SESSION_HANDLE session = Open();
    CK_BBOOL yes = CK_TRUE;
    CK_BBOOL no = CK_FALSE;
    Bytes keyValue(16, 0x5C);
    CK_OBJECT_CLASS secretClass = CKO_SECRET_KEY;
    CK_KEY_TYPE aes = CKK_AES;
    // Public and extractable: nothing to seal, so no login needed.
    CK_ATTRIBUTE secretKey[] = { { CKA_CLASS, &secretClass, sizeof secretClass },
        { CKA_KEY_TYPE, &aes, sizeof aes }, { CKA_TOKEN, &yes, 1 }, { CKA_PRIVATE, &no, 1 },
        { CKA_VALUE, keyValue.data(), static_cast<CK_ULONG>(keyValue.size()) } };
    CK_OBJECT_HANDLE key = 0;
    ASSERT_EQ(p11->C_CreateObject(session, secretKey, 5, &key), CKR_OK);
    CK_ATTRIBUTE sensitive { CKA_SENSITIVE, &yes, 1 };
    EXPECT_EQ(p11->C_SetAttributeValue(session, key, &sensitive, 1), CKR_USER_NOT_LOGGED_IN);
    ASSERT_EQ(Login(session, CKU_USER, kUserPin), CKR_OK);
    ASSERT_EQ(p11->C_SetAttributeValue(session, key, &sensitive, 1), CKR_OK);

    const std::string first = "FIRST-PRIVATE-VALUE";
    const std::string second = "SECOND-PRIVATE-VALUE";
    CK_OBJECT_CLASS dataClass = CKO_DATA;
    CK_ATTRIBUTE data[]
        = { { CKA_CLASS, &dataClass, sizeof dataClass }, { CKA_TOKEN, &yes, 1 }, { CKA_PRIVATE, &yes, 1 },
              { CKA_VALUE, const_cast<char*>(first.data()), static_cast<CK_ULONG>(first.size()) } };
    CK_OBJECT_HANDLE object = 0;
    ASSERT_EQ(p11->C_CreateObject(session, data, 4, &object), CKR_OK);
    CK_ATTRIBUTE change { CKA_VALUE, const_cast<char*>(second.data()), static_cast<CK_ULONG>(second.size()) };
    ASSERT_EQ(p11->C_SetAttributeValue(session, object, &change, 1), CKR_OK);
    std::string label = "relabelled";
    CK_ATTRIBUTE relabel { CKA_LABEL, label.data(), static_cast<CK_ULONG>(label.size()) };
    ASSERT_EQ(p11->C_SetAttributeValue(session, object, &relabel, 1), CKR_OK);

    ASSERT_EQ(p11->C_Finalize(nullptr), CKR_OK);
    const std::string files = Files();
    EXPECT_FALSE(Holds(files, keyValue));
    EXPECT_FALSE(Holds(files, Bytes(first.begin(), first.end())));
    EXPECT_FALSE(Holds(files, Bytes(second.begin(), second.end())));
    ASSERT_TRUE(Holds(files, Bytes(label.begin(), label.end())));
    ASSERT_EQ(p11->C_Initialize(nullptr), CKR_OK);
    session = Open();
    ASSERT_EQ(Login(session, CKU_USER, kUserPin), CKR_OK);
    EXPECT_EQ(Attribute(session, object, CKA_VALUE), Bytes(second.begin(), second.end()));
}

// Sealed values and wrapped keys are bound to their place: moved elsewhere,
// they are a damaged state, never another key's secret.
TEST_F(SecretsAtRest, MovedSealedValuesDoNotOpen)
{
    const struct {
        const char* name;
        const char* sql;
        CK_RV login;
        CK_RV sign;
        // A damaged seal never stops the object from going.
        CK_RV destroy = CKR_OK;
    } cases[] = {
        { "private keys' secrets swapped",
            "UPDATE objects SET secret = (SELECT secret FROM objects o WHERE o.class = 3 AND o.id <> "
            "objects.id) "
            "WHERE class = 3",
            CKR_OK, CKR_DEVICE_ERROR },
        { "User and SO wrappings swapped", "UPDATE tokens SET user_key = so_key, so_key = user_key",
            CKR_DEVICE_ERROR, CKR_USER_NOT_LOGGED_IN, CKR_OBJECT_HANDLE_INVALID },
        { "last byte of a sealed secret changed",
            "UPDATE objects SET secret = substr(secret, 1, length(secret) - 1) || "
            "CASE WHEN substr(secret, -1) = X'00' THEN X'01' ELSE X'00' END WHERE class = 3",
            CKR_OK, CKR_DEVICE_ERROR },
    };
    bool first = true;
    for (const auto& testCase : cases) {
        SCOPED_TRACE(testCase.name);
        if (!first) {
            ASSERT_EQ(RunTool("token eject " + kReader), 0);
        }
        first = false;
        InsertInitializedToken();
        ASSERT_EQ(p11->C_Initialize(nullptr), CKR_OK);
        CK_SESSION_HANDLE session = Open();
        ASSERT_EQ(Login(session, CKU_USER, kUserPin), CKR_OK);
        const CK_OBJECT_HANDLE key = Generate(session).first;
        Generate(session);
        ASSERT_EQ(p11->C_Finalize(nullptr), CKR_OK);
        const std::string sealed
            = "SELECT secret FROM objects WHERE class = 3 UNION ALL SELECT user_key FROM tokens";
        const auto before = Blobs(State(), sealed);
        ASSERT_TRUE(Change(State(), testCase.sql));
        ASSERT_NE(Blobs(State(), sealed), before) << "the change reached the state";
        ASSERT_EQ(p11->C_Initialize(nullptr), CKR_OK);
        session = Open();
        EXPECT_EQ(StandardLogin(session, CKU_USER, kUserPin), testCase.login);
        EXPECT_EQ(Sign(session, key), testCase.sign);
        EXPECT_EQ(p11->C_DestroyObject(session, key), testCase.destroy);
        ASSERT_EQ(p11->C_Finalize(nullptr), CKR_OK);
    }
    ASSERT_EQ(p11->C_Initialize(nullptr), CKR_OK);
}

// A state made by the build before sealed secrets: opened here, its plain
// secrets are sealed at once, without any PIN, and every PIN still opens them.
class FormatThreeState : public SecretsAtRest {
protected:
    void SetUp() override
    {
        SecretsAtRest::SetUp();
        fs::copy_file(fs::path(VELA5_TEST_DATA_DIR) / "format3-state.db", State(),
            fs::copy_options::overwrite_existing);
        // What only the PINs should open, read from the old state itself.
        plainSecrets = Blobs(State(), "SELECT secret FROM objects WHERE secret IS NOT NULL");
        for (Bytes& value : Blobs(State(),
                 "SELECT value FROM attributes a JOIN objects o ON o.id = a.object_id "
                 "WHERE a.type = 17 AND o.class IN (0, 4)")) {
            plainSecrets.push_back(value);
        }
        dataValue = Blobs(State(),
            "SELECT value FROM attributes a JOIN objects o ON o.id = a.object_id WHERE a.type = 17 AND "
            "o.class = 0")
                        .at(0);
        ASSERT_EQ(p11->C_Initialize(nullptr), CKR_OK);
    }

    void ExpectEveryKeySigns(CK_SESSION_HANDLE session)
    {
        const auto keys = Find(session, CKO_PRIVATE_KEY);
        ASSERT_EQ(keys.size(), 2u);
        for (const CK_OBJECT_HANDLE key : keys) {
            ExpectSignsAndVerifies(session, key, PartnerOf(session, key));
        }
    }

    std::vector<Bytes> plainSecrets;
    Bytes dataValue;
};

TEST_F(FormatThreeState, PlainSecretsAreSealedOnFirstOpen)
{
    ASSERT_EQ(plainSecrets.size(), 4u) << "two private keys, a secret key and a private data value";
    const std::string files = Files();
    std::ifstream in(State().string() + ".format3", std::ios::binary);
    const std::string backup((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    for (const Bytes& secret : plainSecrets) {
        // A key's DER ends with its CRT coefficient, private to the key.
        const Bytes tail(secret.size() > 64 ? secret.end() - 32 : secret.begin(), secret.end());
        EXPECT_FALSE(Holds(files, tail));
        EXPECT_TRUE(Holds(backup, tail)) << "the old state stays as it was, beside the new one";
    }
    const CK_SESSION_HANDLE session = Open();
    ASSERT_EQ(StandardLogin(session, CKU_USER, kUserPin), CKR_OK);
    ExpectEveryKeySigns(session);
    const auto data = Find(session, CKO_DATA);
    ASSERT_EQ(data.size(), 1u);
    EXPECT_EQ(Attribute(session, data[0], CKA_VALUE), dataValue);
    // Opening again changes nothing more.
    Restart();
    const CK_SESSION_HANDLE again = Open();
    ASSERT_EQ(StandardLogin(again, CKU_USER, kUserPin), CKR_OK);
    ExpectEveryKeySigns(again);
}

TEST_F(FormatThreeState, SoPinOfTheOldStateOpensTheTokenKeyToo)
{
    const CK_SESSION_HANDLE session = Open();
    std::string so = kSoPin;
    std::string pin = "5678";
    ASSERT_EQ(p11->C_NRV_UnblockUserPIN(session, reinterpret_cast<CK_BYTE*>(so.data()), 8,
                  reinterpret_cast<CK_BYTE*>(pin.data()), 4),
        CKR_OK);
    ASSERT_EQ(StandardLogin(session, CKU_USER, pin), CKR_OK);
    ExpectEveryKeySigns(session);
}

} // namespace
