// vela5-reg run as a program: what it stores (read back through the layer),
// what it prints, and that a refused command says why and changes nothing.
#include "platform/registry/Registry.h"
#include "tests/support/ScopedTestRoot.h"

#include <cstdlib>
#include <fstream>
#include <gtest/gtest.h>
#include <sstream>
#include <sys/stat.h>
#include <sys/wait.h>

using namespace vela5::platform;

namespace {

struct ToolRun {
    int exitCode = -1;
    std::string out;
    std::string err;
};

std::string ReadAll(const std::filesystem::path& file)
{
    std::ifstream in(file);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

std::string Quote(const std::string& arg)
{
    std::string quoted = "'";
    for (const char c : arg) {
        quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
    }
    return quoted + "'";
}

class RegToolTest : public testing::Test {
protected:
    ToolRun Reg(const std::vector<std::string>& args)
    {
        const char* bin = std::getenv("VELA5_BIN_DIR");
        std::string command = Quote(std::string(bin != nullptr ? bin : ".") + "/vela5-reg");
        for (const std::string& arg : args) {
            command += " " + Quote(arg);
        }
        const std::filesystem::path out = m_root.Base() / "out.txt";
        const std::filesystem::path err = m_root.Base() / "err.txt";
        command += " >" + Quote(out.string()) + " 2>" + Quote(err.string());
        const int status = std::system(command.c_str());
        ToolRun run;
        run.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
        run.out = ReadAll(out);
        run.err = ReadAll(err);
        return run;
    }

    ScopedTestRoot m_root;
};

constexpr const char* kSdk = "Software\\Nurvon Ltd.\\VELA5 SDK";

TEST_F(RegToolTest, AddStoresEachTypeInTheChosenView)
{
    const std::string key = std::string("HKLM\\") + kSdk;
    ASSERT_EQ(
        0, Reg({ "add", key, "/v", "KSPDIR", "/t", "REG_SZ", "/d", "C:\\L\\KSP.LOG", "/reg:32" }).exitCode);
    ASSERT_EQ(0,
        Reg({ "add", key, "/v", "dwUseProviderCache", "/t", "REG_DWORD", "/d", "0x10", "/reg:64" }).exitCode);
    ASSERT_EQ(0, Reg({ "add", key, "/v", "Count", "/t", "REG_DWORD", "/d", "4294967295" }).exitCode);
    const ToolRun added = Reg({ "add", key, "/v", "List", "/t", "REG_MULTI_SZ", "/d", "a\\0b c" });
    EXPECT_EQ(0, added.exitCode);
    EXPECT_EQ("The operation completed successfully.\n", added.out);

    Registry::Key view32;
    ASSERT_EQ(Registry::Success,
        Registry::Key::Open(
            Registry::Hive::LocalMachine, kSdk, Registry::Access::Read, Registry::View::Wow32, view32));
    uint32_t size = 0;
    ASSERT_EQ(Registry::Success, view32.QueryValue("KSPDIR", nullptr, nullptr, &size));
    EXPECT_EQ(2u * 13u, size) << "REG_SZ from the command line keeps its NUL, as reg.exe stores it";
    EXPECT_EQ(Registry::NotFound, view32.QueryValue("dwUseProviderCache", nullptr, nullptr, &size));

    Registry::Key view64;
    ASSERT_EQ(Registry::Success,
        Registry::Key::Open(
            Registry::Hive::LocalMachine, kSdk, Registry::Access::Read, Registry::View::Wow64, view64));
    uint32_t number = 0;
    EXPECT_EQ(Registry::Success, view64.GetDWord("dwUseProviderCache", number));
    EXPECT_EQ(16u, number);
    EXPECT_EQ(Registry::Success, view64.GetDWord("Count", number));
    EXPECT_EQ(0xFFFFFFFFu, number);
    std::vector<std::string> list;
    EXPECT_EQ(Registry::Success, view64.GetMultiString("List", list));
    EXPECT_EQ((std::vector<std::string> { "a", "b c" }), list);
    EXPECT_EQ(Registry::NotFound, view64.QueryValue("KSPDIR", nullptr, nullptr, &size));
}

TEST_F(RegToolTest, QueryPrintsLikeRegExe)
{
    Registry::Key key;
    ASSERT_EQ(Registry::Success,
        Registry::Key::Create(Registry::Hive::LocalMachine, kSdk, Registry::View::Native, key));
    ASSERT_EQ(Registry::Success, key.SetString("PINCACHE", "00000001", false));
    ASSERT_EQ(Registry::Success, key.SetDWord("dwUseProviderCache", 1));
    Registry::Key sub;
    ASSERT_EQ(Registry::Success,
        Registry::Key::Create(
            Registry::Hive::LocalMachine, std::string(kSdk) + "\\Sub", Registry::View::Native, sub));

    const ToolRun all = Reg({ "query", std::string("HKLM\\") + kSdk });
    EXPECT_EQ(0, all.exitCode);
    EXPECT_EQ("\nHKEY_LOCAL_MACHINE\\Software\\Nurvon Ltd.\\VELA5 SDK\n"
              "    PINCACHE    REG_SZ    00000001\n"
              "    dwUseProviderCache    REG_DWORD    0x1\n"
              "\n"
              "HKEY_LOCAL_MACHINE\\Software\\Nurvon Ltd.\\VELA5 SDK\\Sub\n",
        all.out);

    const ToolRun one = Reg({ "query", std::string("HKEY_LOCAL_MACHINE\\") + kSdk, "/v", "pincache" });
    EXPECT_EQ(0, one.exitCode);
    EXPECT_EQ(
        "\nHKEY_LOCAL_MACHINE\\Software\\Nurvon Ltd.\\VELA5 SDK\n    PINCACHE    REG_SZ    00000001\n\n",
        one.out);
}

TEST_F(RegToolTest, RefusedCommandsExitNonZeroWithOneLineAndChangeNothing)
{
    const struct {
        std::vector<std::string> args;
        std::string message;
    } cases[] = {
        { { "query", "HKLM\\Software\\Missing" },
            "ERROR: The system was unable to find the specified registry key or value.\n" },
        { { "add", "HKLM\\Software\\New", "/v", "N", "/t", "REG_DWORD", "/d", "-1" },
            "ERROR: Invalid syntax. REG_DWORD data must be a number from 0 to 0xFFFFFFFF.\n" },
        { { "add", "HKLM\\Software\\New", "/v", "N", "/t", "REG_DWORD", "/d", "0x100000000" },
            "ERROR: Invalid syntax. REG_DWORD data must be a number from 0 to 0xFFFFFFFF.\n" },
        { { "add", "HKLM\\Software\\New", "/v", "N", "/t", "REG_QWORD", "/d", "1" },
            "ERROR: Invalid syntax. Type must be REG_SZ, REG_DWORD or REG_MULTI_SZ.\n" },
        { { "add", "HKXX\\Software\\New" }, "ERROR: Invalid key name.\n" },
        { { "add", "HKLM\\Software\\New", "/v" }, "ERROR: Invalid syntax. /v needs a value.\n" },
        { { "delete", "HKLM\\Software\\New", "/v", "N" },
            "ERROR: The system was unable to find the specified registry key or value.\n" },
    };
    for (const auto& command : cases) {
        const ToolRun run = Reg(command.args);
        EXPECT_EQ(1, run.exitCode) << command.args[0] << " " << command.args[1];
        EXPECT_EQ(command.message, run.err);
        EXPECT_EQ("", run.out);
    }
    Registry::Key key;
    EXPECT_EQ(Registry::NotFound,
        Registry::Key::Open(Registry::Hive::LocalMachine, "Software\\New", Registry::Access::Read,
            Registry::View::Native, key));

    ASSERT_EQ(0, Reg({ "add", "HKCU\\Software\\T", "/v", "A", "/d", "x" }).exitCode);
    ASSERT_EQ(0, ::chmod((Registry::StoreFolder() / "HKCU.reg").c_str(), 0444));
    const ToolRun denied = Reg({ "add", "HKCU\\Software\\T", "/v", "A", "/d", "y" });
    EXPECT_EQ(1, denied.exitCode);
    EXPECT_EQ("ERROR: Access is denied.\n", denied.err);
}

TEST_F(RegToolTest, DeleteRemovesAValueOrTheWholeKey)
{
    ASSERT_EQ(0, Reg({ "add", "HKCU\\Software\\T\\Sub", "/v", "A", "/d", "x" }).exitCode);
    ASSERT_EQ(0, Reg({ "add", "HKCU\\Software\\T", "/v", "B", "/d", "y" }).exitCode);
    EXPECT_EQ(0, Reg({ "delete", "HKCU\\Software\\T", "/v", "B", "/f" }).exitCode);
    Registry::Key key;
    ASSERT_EQ(Registry::Success,
        Registry::Key::Open(
            Registry::Hive::CurrentUser, "Software\\T", Registry::Access::Read, Registry::View::Native, key));
    uint32_t size = 0;
    EXPECT_EQ(Registry::NotFound, key.QueryValue("B", nullptr, nullptr, &size));
    EXPECT_EQ(0, Reg({ "delete", "HKCU\\Software\\T", "/f" }).exitCode);
    EXPECT_EQ(Registry::NotFound,
        Registry::Key::Open(Registry::Hive::CurrentUser, "Software\\T\\Sub", Registry::Access::Read,
            Registry::View::Native, key));
}

} // namespace
