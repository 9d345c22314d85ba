// vela5-store's command line: what it shows of a propagated certificate,
// export and delete, damaged entries, and one clear line for every failure.
#include "platform/certstore/Store.h"
#include "tests/support/RunProgram.h"
#include "tests/support/ScopedTestRoot.h"
#include "tests/support/TestCertificates.h"

#include <gtest/gtest.h>

using namespace vela5::platform::CertStore;

namespace {

class StoreTool : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_EQ(Store::OpenSystem("MY", store), Success);
        TestCertificateFields fields;
        fields.subject = "/C=BG/O=Nurvon/CN=Token User";
        fields.serial = 0x1234;
        const std::vector<uint8_t> der = MakeCertificate(fields, MakeRsaKey());
        ASSERT_EQ(Certificate::Create(der.data(), der.size(), propagated), Success);
        propagated.SetKeyProvInfo(KeyProvInfo {
            "\\\\.\\VELA5 Reader 0\\0A0B", "Nurvon CSP v4.0", kProvRsaFull, 0, kAtKeyExchange });
        propagated.SetKeySpec(kAtKeyExchange);
        ASSERT_EQ(store.Add(propagated, AddReplaceExisting), Success);
    }

    static ProgramResult Tool(const std::string& arguments) { return RunProgram("vela5-store", arguments); }

    ScopedTestRoot root;
    Store store;
    Certificate propagated;
};

} // namespace

TEST_F(StoreTool, ListShowsWhatPropagationLeft)
{
    const ProgramResult list = Tool("list");
    ASSERT_EQ(list.status, 0) << list.err;
    EXPECT_EQ(list.err, "");
    EXPECT_EQ(list.out,
        propagated.Thumbprint()
            + "\n"
              "  subject:  CN=Token User, O=Nurvon, C=BG\n"
              "  issuer:   CN=Token User, O=Nurvon, C=BG\n"
              "  serial:   1234\n"
              "  valid:    "
            + propagated.NotBeforeText() + " to " + propagated.NotAfterText()
            + "\n"
              "  key:      provider \"Nurvon CSP v4.0\", container \"\\\\.\\VELA5 Reader 0\\0A0B\"\n");

    const ProgramResult show = Tool("show " + propagated.Thumbprint());
    ASSERT_EQ(show.status, 0) << show.err;
    EXPECT_NE(show.out.find("  name:     Token User\n"), std::string::npos) << show.out;
    EXPECT_NE(show.out.find("type 1, flags 0, key spec 1\n"), std::string::npos) << show.out;
    EXPECT_NE(show.out.find("  key spec: 1\n"), std::string::npos) << show.out;
}

TEST_F(StoreTool, ExportWritesTheDerAndDeleteRemovesIt)
{
    std::string lower = propagated.Thumbprint();
    std::transform(lower.begin(), lower.end(), lower.begin(), ::tolower);
    const std::filesystem::path file = root.Temp() / "exported.cer";
    const ProgramResult exported = Tool("export " + lower + " '" + file.string() + "'");
    ASSERT_EQ(exported.status, 0) << exported.err;
    EXPECT_EQ(ReadBytes(file), propagated.Encoded());

    ASSERT_EQ(Tool("delete " + propagated.Thumbprint()).status, 0);
    const ProgramResult list = Tool("list");
    EXPECT_EQ(list.status, 0);
    EXPECT_EQ(list.out, "no certificates\n");
}

TEST_F(StoreTool, DamagedEntryWarnedAboutAndTheRestListed)
{
    WriteBytes(store.Folder() / std::string(40, 'B'), { 'V', '5', 'C' });
    const ProgramResult list = Tool("list");
    ASSERT_EQ(list.status, 0);
    EXPECT_EQ(
        list.err, "vela5-store: warning: skipped damaged entry " + std::string(40, 'B') + ": truncated\n");
    EXPECT_EQ(list.out.rfind(propagated.Thumbprint() + "\n", 0), 0u) << list.out;

    const ProgramResult show = Tool("show " + std::string(40, 'B'));
    EXPECT_EQ(show.status, 1);
    EXPECT_EQ(show.err, "vela5-store: the entry " + std::string(40, 'B') + " is damaged: truncated\n");
    EXPECT_EQ(Tool("delete " + std::string(40, 'B')).status, 0) << "a damaged entry can be removed";
    EXPECT_EQ(Tool("list").err, "");
}

TEST_F(StoreTool, EveryFailureIsOneLineAndStatusOne)
{
    const std::string missing(40, '0');
    const struct {
        std::string arguments;
        std::string error;
    } cases[] = {
        { "", "no command (see --help)" },
        { "frobnicate", "unknown command \"frobnicate\" (see --help)" },
        { "list extra", "list takes only 0 arguments (see --help)" },
        { "show", "show needs 1 argument (see --help)" },
        { "export " + missing, "export needs 2 arguments (see --help)" },
        { "show 12AB", "\"12AB\" is not a SHA-1 thumbprint (40 hex digits)" },
        { "show " + missing, "no certificate with thumbprint " + missing + " in the store" },
        { "delete " + missing, "no certificate with thumbprint " + missing + " in the store" },
        { "export " + missing + " /tmp/x.cer",
            "no certificate with thumbprint " + missing + " in the store" },
    };
    for (const auto& c : cases) {
        const ProgramResult result = Tool(c.arguments);
        EXPECT_EQ(result.status, 1) << c.arguments;
        EXPECT_EQ(result.err, "vela5-store: " + c.error + "\n") << c.arguments;
        EXPECT_EQ(result.out, "") << c.arguments;
    }
    const ProgramResult unwritable
        = Tool("export " + propagated.Thumbprint() + " '" + (root.Temp() / "no" / "such.cer").string() + "'");
    EXPECT_EQ(unwritable.status, 1);
    EXPECT_EQ(unwritable.err.rfind("vela5-store: cannot write ", 0), 0u) << unwritable.err;
    const ProgramResult help = Tool("--help");
    EXPECT_EQ(help.status, 0);
    EXPECT_NE(help.out.find("export THUMBPRINT FILE"), std::string::npos);
}
