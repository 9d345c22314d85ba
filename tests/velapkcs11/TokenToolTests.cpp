// vela5-token's command line: results, exit codes and one-line errors, and
// objects put on a token with it.
#include "ModuleLoader.h"
#include "TokenModuleFixture.h"
#include "platform/openssl/OpenSslPtr.h"
#include "tests/support/RunProgram.h"
#include "tests/support/ScopedTestRoot.h"
#include "tests/support/TokenObjects.h"

#include <algorithm>
#include <gtest/gtest.h>
#include <openssl/bn.h>
#include <openssl/core_names.h>
#include <openssl/evp.h>
#include <openssl/rsa.h>

TEST(TokenTool, ErrorsExitNonZeroWithOneLine)
{
    ScopedTestRoot root;
    std::string output;
    EXPECT_EQ(RunTool("reader add R1"), 0);
    EXPECT_EQ(RunTool("reader add R1 2>&1", &output), 1);
    EXPECT_EQ(output, "vela5-token: reader \"R1\" already exists\n");
    EXPECT_EQ(RunTool("token create --test-pin-rounds 1000 --model NOPE 2>&1", &output), 1);
    EXPECT_EQ(RunTool("token create 2>&1", &output), 2);
    EXPECT_EQ(RunTool("token create --test-pin-rounds 1000 --model VELA5-32 --label L --user-pin 12 --so-pin "
                      "87654321 2>&1",
                  &output),
        1)
        << "user PIN shorter than the default minimum";
    EXPECT_EQ(RunTool("token insert NOSUCH R1 2>&1", &output), 1);
    EXPECT_EQ(RunTool("frobnicate 2>&1", &output), 2);
    EXPECT_EQ(RunTool("--help", &output), 0);
    EXPECT_NE(output.find("token create --model MODEL"), std::string::npos);
}

TEST(TokenTool, FailureCodesMustParseWhole)
{
    ScopedTestRoot root;
    ASSERT_EQ(RunTool("reader add R1"), 0);
    for (const char* code : { "of", "12abc", "0", "-5", "0x100000000", "\"\"" }) {
        EXPECT_EQ(RunTool(std::string("reader fail R1 C_Sign ") + code + " 2>/dev/null"), 2) << code;
    }
    for (const char* code : { "0x30", "48", "0xFFFF0007", "off" }) {
        EXPECT_EQ(RunTool(std::string("reader fail R1 C_Sign ") + code), 0) << code;
    }
}

TEST(TokenTool, SwitchesNameOnlyCallsTheModuleChecks)
{
    ScopedTestRoot root;
    ASSERT_EQ(RunTool("reader add R1"), 0);
    std::string output;
    // Misspelt, of another case, a call the module never checks, and the
    // undo of a switch that could never have been set.
    for (const char* name : { "C_Sing", "c_sign", "C_GetFunctionList", "C_Sing off" }) {
        EXPECT_EQ(RunTool(std::string("reader fail R1 ") + name + " 2>&1", &output), 2) << name;
        EXPECT_NE(output.find("FUNCTION is one of C_GetSlotList"), std::string::npos) << output;
    }
    for (const char* name : { "C_GetSlotList", "C_NRV_IsTokenReady", "C_DigestFinal" }) {
        EXPECT_EQ(RunTool(std::string("reader fail R1 ") + name + " 0x30"), 0) << name;
    }
}

TEST(TokenTool, CreateInsertListShow)
{
    ScopedTestRoot root;
    ASSERT_EQ(RunTool("reader add \"Reader A\""), 0);
    std::string serial;
    ASSERT_EQ(RunTool("token create --test-pin-rounds 1000 --model SGL32 --serial ABC123 --label Mine "
                      "--user-pin 123456 --so-pin 654321 "
                      "--min-pin 6 --max-pin 12",
                  &serial),
        0);
    EXPECT_EQ(serial, "ABC123\n");
    EXPECT_EQ(RunTool("token create --test-pin-rounds 1000 --model SGL32 --serial ABC123 2>/dev/null"), 1)
        << "serials are unique";
    ASSERT_EQ(RunTool("token insert ABC123 \"Reader A\""), 0);
    std::string output;
    ASSERT_EQ(RunTool("list", &output), 0);
    EXPECT_EQ(output, "slot 0: \"Reader A\": SGL32 ABC123 \"Mine\"\n");
    ASSERT_EQ(RunTool("show ABC123", &output), 0);
    EXPECT_NE(output.find("user PIN: length 6-12, 8 of 8 attempts left"), std::string::npos) << output;
    ASSERT_EQ(RunTool("token eject \"Reader A\""), 0);
    EXPECT_EQ(RunTool("token eject \"Reader A\" 2>/dev/null"), 1);
}

namespace {

class TokenToolObjects : public TokenModule {
protected:
    static CK_OBJECT_HANDLE FindOne(CK_FUNCTION_LIST* p11, CK_SESSION_HANDLE session,
        CK_OBJECT_CLASS objectClass, std::vector<uint8_t> id)
    {
        CK_ATTRIBUTE filter[] = {
            { CKA_CLASS, &objectClass, sizeof objectClass },
            { CKA_ID, id.data(), static_cast<CK_ULONG>(id.size()) },
        };
        CK_OBJECT_HANDLE handle = 0;
        CK_ULONG count = 0;
        EXPECT_EQ(p11->C_FindObjectsInit(session, filter, 2), CKR_OK);
        EXPECT_EQ(p11->C_FindObjects(session, &handle, 1, &count), CKR_OK);
        EXPECT_EQ(p11->C_FindObjectsFinal(session), CKR_OK);
        EXPECT_EQ(count, 1u);
        return handle;
    }
    static std::vector<uint8_t> Attribute(
        CK_FUNCTION_LIST* p11, CK_SESSION_HANDLE session, CK_OBJECT_HANDLE object, CK_ATTRIBUTE_TYPE type)
    {
        CK_ATTRIBUTE attribute = { type, nullptr, 0 };
        EXPECT_EQ(p11->C_GetAttributeValue(session, object, &attribute, 1), CKR_OK);
        std::vector<uint8_t> value(attribute.ulValueLen);
        attribute.pValue = value.data();
        EXPECT_EQ(p11->C_GetAttributeValue(session, object, &attribute, 1), CKR_OK);
        return value;
    }
    static std::vector<uint8_t> Hex(const std::string& text)
    {
        std::vector<uint8_t> bytes;
        for (size_t i = 0; i + 1 < text.size(); i += 2) {
            bytes.push_back(static_cast<uint8_t>(std::stoul(text.substr(i, 2), nullptr, 16)));
        }
        return bytes;
    }
};

} // namespace

// A PKCS#12 file and a .cer made by OpenSSL go onto the token and come back
// through the module unchanged, and the imported key signs for its
// certificate.
TEST_F(TokenToolObjects, ImportAndAddCertificateRoundTrip)
{
    const std::string serial = InsertInitializedToken();
    const TestIdentity alice = MakeTestIdentity(root.Temp(), "alice", "/O=Acme/CN=Alice", "p12 pass");
    const TestIdentity bob = MakeTestIdentity(root.Temp(), "bob", "/O=Acme/CN=Bob Cert", "unused");
    TokenObjects::Import(serial, alice.pkcs12, "p12 pass", "1234");
    const unsigned long bobHandle = TokenObjects::AddCertificate(serial, bob.cer, "0a0B", "1234");

    const std::vector<TokenObjectRow> rows = TokenObjects::List(serial);
    ASSERT_EQ(rows.size(), 4u);
    const std::string aliceId = rows[0].id;
    EXPECT_EQ(aliceId.size(), 40u) << "SHA-1 of the modulus or the file's local key ID";
    const char* const classes[] = { "certificate", "public-key", "private-key" };
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(rows[i].objectClass, classes[i]);
        EXPECT_EQ(rows[i].id, aliceId);
        EXPECT_EQ(rows[i].label, "alice") << "the file's friendly name";
        EXPECT_EQ(rows[i].keyPairIndex, i == 0 ? 0 : 1);
    }
    EXPECT_EQ(rows[3].handle, bobHandle);
    EXPECT_EQ(rows[3].objectClass, "certificate");
    EXPECT_EQ(rows[3].id, "0A0B");
    EXPECT_EQ(rows[3].label, "Bob Cert") << "the certificate's simple display name";
    EXPECT_EQ(rows[3].keyPairIndex, 0);

    ASSERT_EQ(p11->C_Initialize(nullptr), CKR_OK);
    const CK_SESSION_HANDLE session = Open();
    ASSERT_EQ(Login(session, CKU_USER, "1234"), CKR_OK);
    EXPECT_EQ(Attribute(p11, session, FindOne(p11, session, CKO_CERTIFICATE, Hex(aliceId)), CKA_VALUE),
        alice.certificate);
    EXPECT_EQ(Attribute(p11, session, FindOne(p11, session, CKO_CERTIFICATE, { 0x0A, 0x0B }), CKA_VALUE),
        bob.certificate);

    const CK_OBJECT_HANDLE key = FindOne(p11, session, CKO_PRIVATE_KEY, Hex(aliceId));
    CK_MECHANISM mechanism = { CKM_RSA_PKCS, nullptr, 0 };
    ASSERT_EQ(p11->C_SignInit(session, &mechanism, key), CKR_OK);
    unsigned char data[] = "to be signed";
    std::vector<unsigned char> signature(512);
    CK_ULONG length = static_cast<CK_ULONG>(signature.size());
    ASSERT_EQ(p11->C_Sign(session, data, sizeof data, signature.data(), &length), CKR_OK);
    const vela5::platform::PkeyCtxPtr verify(EVP_PKEY_CTX_new(alice.key.get(), nullptr));
    ASSERT_EQ(EVP_PKEY_verify_init(verify.get()), 1);
    ASSERT_EQ(EVP_PKEY_CTX_set_rsa_padding(verify.get(), RSA_PKCS1_PADDING), 1);
    EXPECT_EQ(EVP_PKEY_verify(verify.get(), signature.data(), length, data, sizeof data), 1)
        << "the token's key is the file's key";
}

TEST_F(TokenToolObjects, FailuresNameTheCallAndChangeNothing)
{
    const std::string serial = InsertInitializedToken();
    const std::string loose = CreateToken("--model VELA5-32 --label Loose --user-pin 1234 --so-pin 87654321");
    const TestIdentity alice = MakeTestIdentity(root.Temp(), "alice", "/CN=Alice", "right");
    const std::string p12 = "'" + alice.pkcs12.string() + "'";
    const std::string cer = "'" + alice.cer.string() + "'";
    WriteBytes(root.Temp() / "junk.cer", { 0x30, 0x03, 0x02, 0x01, 0x01 });
    const std::string junk = "'" + (root.Temp() / "junk.cer").string() + "'";
    const struct {
        std::string arguments;
        int status;
        std::string error;
    } cases[] = {
        { "object import " + serial + " " + p12 + " --password wrong --pin 1234", 1,
            "C_NRV_LoadCert failed: 0x00000020 (wrong password)" },
        { "object import " + serial + " " + p12 + " --password right --pin 9999", 1,
            "C_Login failed: 0x000000A0 (wrong PIN)" },
        { "object import " + serial + " " + cer + " --password right --pin 1234", 1,
            "C_NRV_LoadCert failed: 0xFFFF0007 (not a PKCS#12 file)" },
        { "object import " + loose + " " + p12 + " --password right --pin 1234", 1,
            "no token with serial " + loose + " is in a reader (see vela5-token list)" },
        { "object import " + serial + " " + p12 + " --pin 1234", 2, "object import needs --password" },
        { "object add-cert " + serial + " " + cer + " --id 0G --pin 1234", 2,
            "--id needs hex digits, not \"0G\"" },
        { "object add-cert " + serial + " " + cer + " --id 0A0 --pin 1234", 2,
            "--id needs 1 to 255 bytes as hex digits, not \"0A0\"" },
        { "object add-cert " + serial + " " + cer + " --id 01 --pin 1234 --colour red", 2,
            "unknown option \"--colour\"" },
        { "object add-cert " + serial + " " + junk + " --id 01 --pin 1234", 1,
            "is not a DER or PEM certificate" },
        { "object list NOSUCH", 1, "no token with serial NOSUCH" },
        { "object frobnicate", 2, "unknown command \"object frobnicate\" (see --help)" },
    };
    for (const auto& c : cases) {
        const ProgramResult result = RunProgram("vela5-token", c.arguments);
        EXPECT_EQ(result.status, c.status) << c.arguments;
        EXPECT_EQ(result.err.rfind("vela5-token: ", 0), 0u) << result.err;
        EXPECT_NE(result.err.find(c.error), std::string::npos) << result.err;
        EXPECT_EQ(std::count(result.err.begin(), result.err.end(), '\n'), 1) << result.err;
    }
    EXPECT_TRUE(TokenObjects::List(serial).empty()) << "no failed command left an object behind";
}

// Keys stored with C_CreateObject carry a key-pair index like generated and
// loaded ones: a half joins the other half of its ID when that pair is still
// open, anything else takes the lowest free index, and a full token refuses.
TEST_F(TokenToolObjects, CreatedKeysGetAKeyPairIndex)
{
    const std::string serial = InsertInitializedToken("--max-keypairs 3");
    const TestKey first = MakeRsaKey(512);
    const TestKey second = MakeRsaKey(512);
    WritePrivateKeyPem(root.Temp() / "first.pem", first);
    WritePrivateKeyPem(root.Temp() / "second.pem", second);
    const struct {
        const char* file;
        bool privateHalf;
        const char* id;
        int index;
        const char* why;
    } steps[] = {
        { "first.pem", true, "01", 1, "the lowest free index" },
        { "first.pem", false, "01", 1, "joins its private half" },
        { "second.pem", true, "01", 2, "index 1 already has a private key" },
        { "second.pem", false, "-", 3, "an empty ID pairs with nothing" },
    };
    for (const auto& step : steps) {
        TokenObjects::AddKey(serial, root.Temp() / step.file, step.privateHalf, step.id, "1234");
    }
    const std::vector<TokenObjectRow> rows = TokenObjects::List(serial);
    ASSERT_EQ(rows.size(), std::size(steps));
    for (size_t i = 0; i < rows.size(); ++i) {
        EXPECT_EQ(rows[i].keyPairIndex, steps[i].index) << steps[i].why;
    }
    const ProgramResult full = RunProgram("vela5-token",
        "object add-key " + serial + " '" + (root.Temp() / "second.pem").string()
            + "' --class public --id 02 --pin 1234");
    EXPECT_EQ(full.status, 1);
    EXPECT_NE(full.err.find("C_CreateObject failed: 0x00000031"), std::string::npos) << full.err;

    // The module answers the vendor attribute and the pair search for them.
    ASSERT_EQ(p11->C_Initialize(nullptr), CKR_OK);
    const CK_SESSION_HANDLE session = Open();
    ASSERT_EQ(Login(session, CKU_USER, "1234"), CKR_OK);
    EXPECT_EQ(Attribute(p11, session, rows[1].handle, CKA_NRV_KEY_PAIR_INDEX), std::vector<uint8_t> { 1 });
    CK_BYTE partner = 0xFF;
    ASSERT_EQ(p11->C_NRV_FindPriPubKey(session, NRV_FROM_PRIVATE_KEY_INDEX, 2, &partner), CKR_OK);
    EXPECT_EQ(partner, 0) << "the second private key has no public half";
    // The modulus reads back big-endian, as the key file has it.
    EXPECT_EQ(Attribute(p11, session, rows[1].handle, CKA_MODULUS), KeyNumber(first, "n"));
}
