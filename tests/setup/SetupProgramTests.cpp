// The built setup as a user runs it from the medium: its dialog shows while
// the driver installs, the two msiexec runs come in order with the x64 rows
// of this machine, and a missing picture changes nothing but the picture.
#include "setup/SetupLogic.h"
#include "tests/support/ProgramCopy.h"
#include "tests/support/ScopedTestRoot.h"
#include "tests/support/ScriptFolder.h"

#include <csignal>
#include <fstream>
#include <gtest/gtest.h>
#include <thread>

using namespace vela5::platform;

namespace fs = std::filesystem;
using namespace std::chrono_literals;

namespace {

class SetupProgramTest : public testing::Test {
protected:
    void SetUp() override
    {
        m_display = ProgramCopy::HoldDisplay();
        if (!m_display) {
            GTEST_SKIP() << "no X display";
        }
    }

    std::vector<std::string> Log() const
    {
        std::ifstream in(m_root.Base() / "msiexec.log");
        std::vector<std::string> lines;
        for (std::string line; std::getline(in, line);) {
            lines.push_back(line);
        }
        return lines;
    }

    // Runs setup from medium; true when its dialog was seen meanwhile. With
    // installerWindow, the quiet run leaves an unmapped window behind titled
    // like the kit installer's.
    bool RunSetup(const fs::path& medium, bool installerWindow = false)
    {
        const ScriptFolder scripts(m_root.Base() / "bin");
        std::string window;
        if (installerWindow) {
            const fs::path ready = m_root.Base() / "window.id";
            window = "'" VELA5_TITLED_WINDOW "' '" + std::string(Setup::kInstallerCaption) + "' '"
                + ready.string() + "' & echo $! > '" + (m_root.Base() / "window.pid").string()
                + "'; while [ ! -e '" + ready.string() + "' ]; do sleep 0.05; done; ";
        }
        scripts.Add("msiexec",
            "log='" + (m_root.Base() / "msiexec.log").string()
                + "'\nprintf '%s|' \"$@\" >> \"$log\"; echo >> \"$log\"\n"
                  "if [ \"$3\" = /q ]; then "
                + window + "sleep 1; echo driver-done >> \"$log\"; fi");
        const fs::path setup = ProgramCopy::Place("setup", medium);
        Process::Child child;
        EXPECT_EQ(Process::kSuccess, ProgramCopy::Run(setup, m_root.Base() / "errors", child));
        const bool dialogSeen = ProgramCopy::WaitForWindow("Setup", 10s) != 0;
        if (!child.WaitFor(20s)) {
            ::kill(child.Pid(), SIGKILL);
            child.WaitFor(5s);
            ADD_FAILURE() << "setup did not end";
        }
        EXPECT_EQ(0, child.ExitCode());
        for (int i = 0; i < 300 && Log().size() < 3; ++i) {
            std::this_thread::sleep_for(10ms);
        }
        return dialogSeen;
    }

    std::vector<std::string> Expected(const fs::path& medium) const
    {
        return {
            "/i|" + (medium / "x64/NRV_Unified_PCSC_Driver-4.0.0.6.msi").string() + "|/q|",
            "driver-done",
            "/i|" + (medium / "x64/SGL_user_x64_40.msi").string() + "|",
        };
    }

    ScopedTestRoot m_root;
    std::shared_ptr<void> m_display;
};

TEST_F(SetupProgramTest, InstallsTheX64DriverQuietlyThenStartsTheKitWithItsDialogUp)
{
    const fs::path medium = m_root.Base() / "medium dir";
    fs::create_directories(medium);
    const char* bin = std::getenv("VELA5_BIN_DIR");
    fs::copy_file(fs::path(bin != nullptr ? bin : "bin") / Setup::kPictureName, medium / Setup::kPictureName);
    EXPECT_TRUE(RunSetup(medium));
    EXPECT_EQ(Expected(medium), Log());
}

TEST_F(SetupProgramTest, AMissingPictureStillInstalls)
{
    const fs::path medium = m_root.Base() / "medium";
    fs::create_directories(medium);
    EXPECT_TRUE(RunSetup(medium));
    EXPECT_EQ(Expected(medium), Log());
}

TEST_F(SetupProgramTest, TheKitInstallersWindowIsBroughtForwardAfterwards)
{
    const fs::path medium = m_root.Base() / "medium";
    fs::create_directories(medium);
    EXPECT_TRUE(RunSetup(medium, true));
    const std::string id = ProgramCopy::ReadFile(m_root.Base() / "window.id");
    ASSERT_FALSE(id.empty()) << "the installer's window was not made";
    const Desktop::WindowHandle window = std::stoul(id);
    EXPECT_EQ(window, Desktop::FindTopLevelWindow(Setup::kInstallerCaption));
    EXPECT_TRUE(ProgramCopy::IsMapped(window)) << "setup left the installer's window hidden";
    ::kill(std::stoi(ProgramCopy::ReadFile(m_root.Base() / "window.pid")), SIGTERM);
}

} // namespace
