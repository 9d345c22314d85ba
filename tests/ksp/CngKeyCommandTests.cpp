// vela5-cng's create, import and property commands on the software token:
// what they print, that the keys they make work with OpenSSL, and their
// command-line mistakes.
#include "KeyCreationFixture.h"
#include "tests/support/RunProgram.h"

using namespace vela5::platform;

namespace {

const std::string kProvider = "'Nurvon KSP v1.0'";

// The CKA_ID a create or import line printed.
std::string PrintedId(const std::string& out)
{
    const std::string mark = "CKA_ID ";
    const size_t from = out.find(mark);
    if (from == std::string::npos) {
        return std::string();
    }
    const size_t begin = from + mark.size();
    const size_t end = out.find_first_not_of("0123456789ABCDEF", begin);
    if (end == std::string::npos || end == begin || out[end] != ',') {
        return std::string();
    }
    return out.substr(begin, end - begin);
}

KeyId IdBytes(const std::string& hex)
{
    KeyId id;
    for (std::size_t i = 0; i + 1 < hex.size(); i += 2) {
        id.push_back(static_cast<CK_BYTE>(std::stoul(hex.substr(i, 2), nullptr, 16)));
    }
    return id;
}

CK_OBJECT_HANDLE FindById(const UserSession& session, CK_OBJECT_CLASS objectClass, const KeyId& id)
{
    CK_ATTRIBUTE search[] = { { CKA_CLASS, &objectClass, sizeof objectClass },
        { CKA_ID, const_cast<CK_BYTE*>(id.data()), id.size() } };
    EXPECT_EQ(KeyTest::Module()->C_FindObjectsInit(session.Handle(), search, 2), CKR_OK);
    CK_OBJECT_HANDLE found = 0;
    CK_ULONG count = 0;
    EXPECT_EQ(KeyTest::Module()->C_FindObjects(session.Handle(), &found, 1, &count), CKR_OK);
    KeyTest::Module()->C_FindObjectsFinal(session.Handle());
    return count == 1 ? found : 0;
}

} // namespace

using CngKeyCommandTest = KeyCreationTest;

TEST_F(CngKeyCommandTest, CreatedKeyOpensByItsIdAndANameIsTakenOnlyWithOverwrite)
{
    const std::string pin = " --pin 1234 --silent";
    ProgramResult created
        = RunProgram("vela5-cng", "create " + kProvider + " Mine --length 1024 --spec sign" + pin);
    ASSERT_EQ(created.status, 0) << created.err;
    const std::string id = PrintedId(created.out);
    EXPECT_EQ(created.out, "Created key \"Mine\" (CKA_ID " + id + ", 1024 bits)\n");
    EXPECT_EQ(id.size(), 40U);
    const ProgramResult opened = RunProgram("vela5-cng", "key open " + kProvider + " " + id + pin);
    EXPECT_EQ(opened.status, 0) << opened.err;
    EXPECT_NE(opened.out.find("1024 bits): public key yes, private key yes"), std::string::npos)
        << opened.out;

    const ProgramResult again = RunProgram("vela5-cng", "create " + kProvider + " Mine" + pin);
    EXPECT_EQ(again.status, 1);
    EXPECT_EQ(again.err, "vela5-cng: a key named \"Mine\" exists; --overwrite replaces it\n");
    const ProgramResult replaced
        = RunProgram("vela5-cng", "create " + kProvider + " Mine --length 512 --overwrite" + pin);
    ASSERT_EQ(replaced.status, 0) << replaced.err;
    EXPECT_NE(PrintedId(replaced.out), id);
    EXPECT_EQ(CountObjects(kReader, CKO_PRIVATE_KEY, IdBytes(id)), 0);
    EXPECT_EQ(CountObjects(kReader, CKO_PRIVATE_KEY, IdBytes(PrintedId(replaced.out))), 1);
}

// A PEM private key becomes a private blob: the token's key then signs
// what OpenSSL verifies with the file's key.
TEST_F(CngKeyCommandTest, ImportedPemAndBlobKeysWorkWithOpenSsl)
{
    const auto folder = ProviderEnvironment::Root().Temp();
    const TestKey openssl = MakeRsaKey(1024);
    WritePrivateKeyPem(folder / "import.pem", openssl);
    const ProgramResult imported = RunProgram("vela5-cng",
        "import " + kProvider + " --pem '" + (folder / "import.pem").string() + "' --key FromPem --pin 1234");
    ASSERT_EQ(imported.status, 0) << imported.err;
    const std::string id = PrintedId(imported.out);
    EXPECT_EQ(imported.out,
        "Imported private key \"FromPem\" (CKA_ID " + id + ", 1024 bits): public key yes, private key yes\n");
    {
        UserSession session(kReader, kPin);
        const CK_OBJECT_HANDLE privateKey = FindById(session, CKO_PRIVATE_KEY, IdBytes(id));
        ASSERT_NE(privateKey, 0U);
        EXPECT_TRUE(ByOpenSsl::VerifySha256(openssl, "signed", session.SignSha256(privateKey, "signed")));
    }

    const TestKey other = MakeRsaKey(1024);
    WriteBytes(folder / "public.blob", Blobs::Public(other));
    const ProgramResult blob = RunProgram("vela5-cng",
        "import " + kProvider + " --blob '" + (folder / "public.blob").string()
            + "' --key FromBlob --pin 1234");
    ASSERT_EQ(blob.status, 0) << blob.err;
    EXPECT_NE(blob.out.find("Imported public key \"FromBlob\""), std::string::npos) << blob.out;
    EXPECT_NE(blob.out.find("public key yes, private key no"), std::string::npos) << blob.out;
    {
        UserSession session(kReader, kPin);
        const CK_OBJECT_HANDLE publicKey = FindById(session, CKO_PUBLIC_KEY, IdBytes(PrintedId(blob.out)));
        ASSERT_NE(publicKey, 0U);
        EXPECT_EQ(session.VerifySha256(publicKey, "signed", ByOpenSsl::SignSha256(other, "signed")), CKR_OK);
    }
    // A blob whose header promises more than the file holds.
    WriteBytes(folder / "short.blob", Blobs::Raw(Blobs::kPublicMagic, 2048, 3, 256, 0, 0, Bytes(40, 1)));
    const ProgramResult refused = RunProgram(
        "vela5-cng", "import " + kProvider + " --blob '" + (folder / "short.blob").string() + "' --pin 1234");
    EXPECT_EQ(refused.status, 1);
    EXPECT_EQ(refused.err, "vela5-cng: importing the key failed: 0x8009002D\n");
}

TEST_F(CngKeyCommandTest, PropertiesAreReadAndWritten)
{
    const std::string pin = " --pin 1234 --silent";
    const ProgramResult created
        = RunProgram("vela5-cng", "create " + kProvider + " Props --length 512" + pin);
    ASSERT_EQ(created.status, 0) << created.err;
    const std::string key = " --key " + PrintedId(created.out);
    const auto folder = ProviderEnvironment::Root().Temp();
    WriteBytes(folder / "card.cer", MakeCertificate(TestCertificateFields {}, MakeRsaKey(1024)));
    const std::string certificate = " --file '" + (folder / "card.cer").string() + "'";
    const struct {
        std::string arguments;
        int status;
        std::string out;
        std::string err;
    } cases[] = {
        { "property get " + kProvider + " 'Max Name Length'", 0, "64 (0x00000040)\n", "" },
        { "property get " + kProvider + " Name", 0, "Nurvon KSP v1.0\n", "" },
        { "property set " + kProvider + " Version --dword 1", 1, "",
            "vela5-cng: setting \"Version\" failed: 0x80090029\n" },
        { "property get " + kProvider + " Length" + key, 0, "512 (0x00000200)\n", "" },
        { "property get " + kProvider + " Lengths" + key, 0,
            "512 (0x00000200) 4096 (0x00001000) 512 (0x00000200) 2048 (0x00000800)\n", "" },
        { "property get " + kProvider + " 'Algorithm Group'" + key, 0, "RSA\n", "" },
        { "property set " + kProvider + " Length --dword 1024" + key, 1, "",
            "vela5-cng: setting \"Length\" failed: 0x8009000B\n" },
        { "property set " + kProvider + " SmartCardKeyCertificate" + certificate + key, 0,
            "Set \"SmartCardKeyCertificate\"\n", "" },
        { "property set " + kProvider + " SmartCardKeyCertificate" + certificate + key, 1, "",
            "vela5-cng: setting \"SmartCardKeyCertificate\" failed: 0x8009000F\n" },
    };
    for (const auto& c : cases) {
        const ProgramResult result = RunProgram("vela5-cng", c.arguments + pin);
        EXPECT_EQ(result.status, c.status) << c.arguments << ": " << result.err;
        EXPECT_EQ(result.out, c.out) << c.arguments;
        EXPECT_EQ(result.err, c.err) << c.arguments;
    }
    EXPECT_EQ(CountObjects(kReader, CKO_CERTIFICATE, IdBytes(PrintedId(created.out))), 1);
}

TEST_F(CngKeyCommandTest, CommandLineMistakes)
{
    for (const std::string& arguments : { "create " + kProvider, "create " + kProvider + " K --spec both",
             "create " + kProvider + " K --length many", "import " + kProvider,
             "import " + kProvider + " --blob a --pem b", "import " + kProvider + " --overwrite",
             "property " + kProvider, "property get " + kProvider, "property set " + kProvider + " Name",
             "property set " + kProvider + " Name --text a --dword 1" }) {
        EXPECT_EQ(RunProgram("vela5-cng", arguments).status, 2) << arguments;
    }
    const ProgramResult help = RunProgram("vela5-cng", "--help");
    for (const char* usage : { "vela5-cng create NAME KEY", "vela5-cng import NAME", "vela5-cng property get",
             "vela5-cng property set" }) {
        EXPECT_NE(help.out.find(usage), std::string::npos) << usage;
    }
}
