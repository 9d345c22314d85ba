// vela5-cng over the router, and what a host sees when the token module
// cannot be used: the open fails with its text and NTE_INTERNAL_ERROR, and
// the host lives on.
#include "ProviderFixture.h"
#include "TokenKeys.h"
#include "tests/support/RunProgram.h"

#include <algorithm>
#include <cstdlib>
#include <filesystem>

namespace {

std::string TestsDir()
{
    return std::filesystem::read_symlink("/proc/self/exe").parent_path().string();
}

// vela5-cng with another token module.
ProgramResult RunWithModule(const std::string& module, const std::string& arguments)
{
    setenv("VELA5_PKCS11_MODULE", module.c_str(), 1);
    ProgramResult result = RunProgram("vela5-cng", arguments);
    unsetenv("VELA5_PKCS11_MODULE");
    return result;
}

} // namespace

using CngToolTest = ProviderTest;

TEST_F(CngToolTest, OpenPrintsTheBoundReader)
{
    AddReader("VELA5 Reader A");
    const ProgramResult result = RunProgram("vela5-cng", "open 'Nurvon KSP v1.0'");
    EXPECT_EQ(result.status, 0) << result.err;
    EXPECT_EQ(result.out, "Opened \"Nurvon KSP v1.0\" on reader \"VELA5 Reader A\" (slot 0)\n");
    EXPECT_EQ(result.err, "");
    EXPECT_TRUE(Contains(NewLog(), "VELA5KSPFreeProvider - Exit: 0x00000000"));
}

TEST_F(CngToolTest, SilentOpenWithoutTokenFailsWithOneLine)
{
    AddReader("VELA5 Empty Reader", false);
    const ProgramResult result = RunProgram("vela5-cng", "open 'Nurvon KSP v1.0' --silent");
    EXPECT_EQ(result.status, 1);
    EXPECT_EQ(result.err, "vela5-cng: opening \"Nurvon KSP v1.0\" failed: 0x80090020\n");
}

TEST_F(CngToolTest, ProvidersListsTheRegistration)
{
    const ProgramResult result = RunProgram("vela5-cng", "providers");
    EXPECT_EQ(result.status, 0) << result.err;
    EXPECT_EQ(result.out,
        "Nurvon KSP v1.0\n  Image: " + BinDir()
            + "/velaksp.so\n  Aliases: Nurvon KSP v1.0\n"
              "  Default Key Length: 2048\n");
}

TEST_F(CngToolTest, CommandLineMistakesAndUnknownProviders)
{
    EXPECT_EQ(RunProgram("vela5-cng", "--help").status, 0);
    EXPECT_EQ(RunProgram("vela5-cng", "").status, 2);
    EXPECT_EQ(RunProgram("vela5-cng", "open 'Nurvon KSP v1.0' --loud").status, 2);
    const ProgramResult unknown = RunProgram("vela5-cng", "open 'No Such KSP'");
    EXPECT_EQ(unknown.status, 1);
    EXPECT_EQ(
        unknown.err, "vela5-cng: no key storage provider is registered as \"No Such KSP\" (0x80090013)\n");
}

TEST_F(CngToolTest, UnusableModuleFailsEveryOpenWithItsText)
{
    AddReader("VELA5 Reader A");
    const struct {
        std::string module;
        const char* line;
    } cases[] = {
        { TestsDir() + "/no_such_module.so", "NTE_INTERNAL_ERROR: Failed to load PKCS#11 Library." },
        { TestsDir() + "/fake_no_function_list.so",
            "NTE_INTERNAL_ERROR: Failed to retrieve middleware function list." },
        { TestsDir() + "/fake_null_function_list.so",
            "NTE_INTERNAL_ERROR: Failed to retrieve middleware function list." },
        { TestsDir() + "/fake_initialize_fails.so",
            "NTE_INTERNAL_ERROR: Failed to intialize PKCS middleware." },
    };
    for (const auto& c : cases) {
        const ProgramResult result = RunWithModule(c.module, "open 'Nurvon KSP v1.0' --silent");
        EXPECT_EQ(result.status, 1) << c.module;
        EXPECT_EQ(result.err, "vela5-cng: opening \"Nurvon KSP v1.0\" failed: 0x8009002D\n") << c.module;
        EXPECT_TRUE(Contains(NewLog(), c.line)) << c.module;
    }
}

using CngKeyToolTest = KeyTest;

namespace {
std::vector<std::string> Lines(const std::string& text)
{
    std::vector<std::string> lines;
    std::size_t at = 0;
    while (at < text.size()) {
        const std::size_t end = text.find('\n', at);
        lines.push_back(text.substr(at, end - at));
        at = end == std::string::npos ? text.size() : end + 1;
    }
    std::sort(lines.begin(), lines.end());
    return lines;
}
} // namespace

TEST_F(CngKeyToolTest, ListsOpensAndDeletesKeysWithAGivenPin)
{
    AddPinToken("VELA5 Tool Reader");
    PutKey("VELA5 Tool Reader", KeyId { 'A', 'B', 'C' });
    PutKey("VELA5 Tool Reader", KeyId { 0x01, 0xFF }, Halves::PrivateOnly);
    const ProgramResult keys = RunProgram("vela5-cng", "keys 'Nurvon KSP v1.0' --pin 1234");
    EXPECT_EQ(keys.status, 0) << keys.err;
    EXPECT_EQ(
        Lines(keys.out), (std::vector<std::string> { "ABC\t414243", "\xEF\x9C\x81\xEF\x9F\xBF\t01FF" }));

    const struct {
        const char* arguments;
        int status;
        const char* out;
        const char* err;
    } cases[] = {
        { "key open 'Nurvon KSP v1.0' abc --pin 1234", 0,
            "Opened key \"ABC\" (CKA_ID 414243, 512 bits): public key yes, private key yes\n", "" },
        { "key open 'Nurvon KSP v1.0' 01FF --spec 2 --pin 1234", 0,
            "Opened key \"\xEF\x9C\x81\xEF\x9F\xBF\" (CKA_ID 01FF, 512 bits): public key no, private key "
            "yes\n",
            "" },
        { "key open 'Nurvon KSP v1.0' 01FF --spec 1 --pin 1234", 1, "",
            "vela5-cng: opening key \"01FF\" failed: 0x80090016\n" },
        { "key open 'Nurvon KSP v1.0' ABCD --pin 1234", 1, "",
            "vela5-cng: opening key \"ABCD\" failed: 0x80090016\n" },
        { "keys 'Nurvon KSP v1.0' --pin 9999", 1, "", "vela5-cng: listing the keys failed: 0x8010006B\n" },
        { "key delete 'Nurvon KSP v1.0' 'VELA5 Tool Reader\\414243' --pin 1234", 0, "Deleted key \"ABC\"\n",
            "" },
        { "keys 'Nurvon KSP v1.0' --pin 1234", 0, "\xEF\x9C\x81\xEF\x9F\xBF\t01FF\n", "" },
    };
    for (const auto& c : cases) {
        const ProgramResult result = RunProgram("vela5-cng", c.arguments);
        EXPECT_EQ(result.status, c.status) << c.arguments << ": " << result.err;
        EXPECT_EQ(result.out, c.out) << c.arguments;
        EXPECT_EQ(result.err, c.err) << c.arguments;
    }
    EXPECT_EQ(CountObjects("VELA5 Tool Reader", CKO_PRIVATE_KEY, KeyId { 'A', 'B', 'C' }), 0);
}

TEST_F(CngKeyToolTest, KeyCommandLineMistakes)
{
    for (const char* arguments : { "keys", "keys 'Nurvon KSP v1.0' --pin", "keys 'Nurvon KSP v1.0' --spec 1",
             "key open 'Nurvon KSP v1.0'", "key open 'Nurvon KSP v1.0' ABC --spec x",
             "key delete 'Nurvon KSP v1.0' ABC --spec 1", "key rename 'Nurvon KSP v1.0' ABC" }) {
        EXPECT_EQ(RunProgram("vela5-cng", arguments).status, 2) << arguments;
    }
    const ProgramResult help = RunProgram("vela5-cng", "--help");
    for (const char* usage : { "vela5-cng keys NAME", "vela5-cng key open NAME KEY",
             "vela5-cng key delete NAME KEY", "--pin PIN" }) {
        EXPECT_NE(help.out.find(usage), std::string::npos) << usage;
    }
}
