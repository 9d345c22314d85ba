// vela5-cng over the router, and what a host sees when the token module
// cannot be used: the open fails with its text and NTE_INTERNAL_ERROR, and
// the host lives on.
#include "ProviderFixture.h"
#include "RunProgram.h"

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
