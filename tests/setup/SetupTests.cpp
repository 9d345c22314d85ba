// setup's package table, its two installer command lines, and the runs
// themselves against a recording msiexec first on PATH.
#include "setup/SetupLogic.h"
#include "tests/support/ScopedTestRoot.h"
#include "tests/support/ScriptFolder.h"

#include <fstream>
#include <gtest/gtest.h>
#include <sstream>

using namespace vela5::platform;

namespace fs = std::filesystem;
using namespace std::chrono_literals;

namespace {

std::vector<std::string> Lines(const fs::path& file)
{
    std::ifstream in(file);
    std::vector<std::string> lines;
    for (std::string line; std::getline(in, line);) {
        lines.push_back(line);
    }
    return lines;
}

TEST(SetupTest, EachPlatformHasItsPackages)
{
    const Setup::Packages x64 = Setup::PackagesFor("/media/kit/", true);
    EXPECT_EQ("/media/kit/x64/NRV_Unified_PCSC_Driver-4.0.0.6.msi", x64.driver);
    EXPECT_EQ("/media/kit/x64/SGL_user_x64_40.msi", x64.userKit);
    const Setup::Packages x86 = Setup::PackagesFor("/media/kit/", false);
    EXPECT_EQ("/media/kit/x86/NRV_Unified_PCSC_Driver-4.0.0.6.msi", x86.driver);
    EXPECT_EQ("/media/kit/x86/SGL_user_x86_40.msi", x86.userKit);
}

TEST(SetupTest, CommandLinesAreTheInstallersOwnAndKeepOddPathsWhole)
{
    EXPECT_EQ("msiexec /i \"/media/kit/x64/a.msi\" /q", Setup::QuietInstallCommand("/media/kit/x64/a.msi"));
    EXPECT_EQ("msiexec /i \"/media/kit/x64/a.msi\"", Setup::InstallCommand("/media/kit/x64/a.msi"));
    const std::string odd = "/media/my \"kit\"\\/x64/a.msi";
    EXPECT_EQ((std::vector<std::string> { "msiexec", "/i", odd, "/q" }),
        Process::SplitCommandLine(Setup::QuietInstallCommand(odd)));
}

class SetupRunTest : public testing::Test {
protected:
    ScopedTestRoot m_root;
    fs::path Log() const { return m_root.Base() / "msiexec.log"; }
};

TEST_F(SetupRunTest, TheDriverIsWaitedForQuietlyThenTheKitStartsWithoutWaiting)
{
    const ScriptFolder scripts(m_root.Base() / "bin");
    // Each run notes its words; the quiet one takes a while, the kit's
    // interactive one runs on long after setup has gone.
    scripts.Add("msiexec",
        "log='" + Log().string()
            + "'\nprintf '%s|' \"$@\" >> \"$log\"; echo >> \"$log\"\n"
              "if [ \"$3\" = /q ]; then sleep 0.35; echo driver-done >> \"$log\"; else sleep 3; fi");
    const Setup::Packages packages = Setup::PackagesFor(m_root.Base().string() + "/", true);
    int ticks = 0;
    const auto started = std::chrono::steady_clock::now();
    Setup::RunInstallation(packages, [&ticks] { ++ticks; });
    const auto took = std::chrono::steady_clock::now() - started;

    EXPECT_GE(ticks, 2);
    EXPECT_LT(took, 1500ms);
    for (int i = 0; i < 300 && Lines(Log()).size() < 3; ++i) {
        std::this_thread::sleep_for(10ms);
    }
    EXPECT_EQ((std::vector<std::string> {
                  "/i|" + packages.driver + "|/q|",
                  "driver-done",
                  "/i|" + packages.userKit + "|",
              }),
        Lines(Log()));
}

TEST_F(SetupRunTest, AMissingInstallerIsSkippedSilently)
{
    const ScriptFolder scripts(m_root.Base() / "empty");
    setenv("PATH", scripts.Folder().c_str(), 1);
    const auto started = std::chrono::steady_clock::now();
    Setup::RunInstallation(Setup::PackagesFor("/media/kit/", true), nullptr);
    EXPECT_LT(std::chrono::steady_clock::now() - started, 1s);
}

} // namespace
