// The built launcher as a user starts it: from a folder beside a manager that
// is there, missing, not executable or not a program, and from a path too
// long for its buffer. It always exits with 0 and never waits for the manager.
#include "launcher/LauncherLogic.h"
#include "tests/support/ProgramCopy.h"
#include "tests/support/ScopedTestRoot.h"

#include <csignal>
#include <fstream>
#include <gtest/gtest.h>
#include <thread>

using namespace vela5::platform;

namespace fs = std::filesystem;
using namespace std::chrono_literals;

namespace {

class LauncherProgramTest : public testing::Test {
protected:
    void SetUp() override
    {
        m_display = ProgramCopy::HoldDisplay();
        if (!m_display) {
            GTEST_SKIP() << "no X display";
        }
    }

    // A manager that notes its pid and then runs for a while.
    void PlaceFakeManager(const fs::path& folder)
    {
        const fs::path manager = folder / "PavixManager";
        std::ofstream(manager) << "#!/bin/sh\necho $$ > '" << PidFile().string() << ".part'\nmv '"
                               << PidFile().string() << ".part' '" << PidFile().string()
                               << "'\nexec sleep 30\n";
        fs::permissions(manager, fs::perms::owner_all);
    }
    fs::path PidFile() const { return m_root.Base() / "manager.pid"; }
    pid_t WaitForManager()
    {
        for (int i = 0; i < 500 && !fs::exists(PidFile()); ++i) {
            std::this_thread::sleep_for(10ms);
        }
        const std::string text = ProgramCopy::ReadFile(PidFile());
        return text.empty() ? 0 : static_cast<pid_t>(std::stol(text));
    }

    // Runs the launcher at folder, which must show its message box; closes
    // the box and returns the message it also wrote to standard error.
    std::string MessageOfLauncherIn(const fs::path& folder, const std::vector<std::string>& arguments = {})
    {
        const fs::path launcher = ProgramCopy::Place("PavixManagerLauncher", folder);
        const fs::path errors = m_root.Base() / "errors";
        Process::Child child;
        EXPECT_EQ(Process::kSuccess, ProgramCopy::Run(launcher, errors, child, arguments));
        const Desktop::WindowHandle box = ProgramCopy::WaitForWindow(Launcher::kCaption, 10s);
        EXPECT_NE(0u, box) << "no message box";
        if (box != 0) {
            EXPECT_FALSE(child.WaitFor(100ms)) << "the launcher did not wait for its message to be read";
            ProgramCopy::AskToClose(box);
        }
        if (!child.WaitFor(10s)) {
            ::kill(child.Pid(), SIGKILL);
            child.WaitFor(5s);
            ADD_FAILURE() << "the message box did not close";
        }
        EXPECT_EQ(0, child.ExitCode());
        const std::string text = ProgramCopy::ReadFile(errors);
        const std::string prefix = std::string(Launcher::kCaption) + ": ";
        EXPECT_EQ(0u, text.find(prefix)) << text;
        return text.size() > prefix.size() ? text.substr(prefix.size(), text.size() - prefix.size() - 1)
                                           : text;
    }

    // A folder whose launcher path is exactly length characters long.
    fs::path FolderForLauncherPathOf(size_t length)
    {
        fs::path folder = m_root.Base() / "deep";
        const size_t tail = std::string("/PavixManagerLauncher").size();
        while (folder.string().size() + tail < length) {
            const size_t room = length - tail - folder.string().size() - 1;
            folder /= std::string(std::min<size_t>(room, 200), 'd');
        }
        EXPECT_EQ(length, folder.string().size() + tail);
        return folder;
    }

    ScopedTestRoot m_root;
    std::shared_ptr<void> m_display;
};

TEST_F(LauncherProgramTest, AMissingManagerIsNamedWithItsFullPath)
{
    const fs::path folder = m_root.Base() / "kit";
    // Options it does not know change nothing: it has none.
    EXPECT_EQ("The specified path was not found. [" + (folder / "PavixManager").string() + "]",
        MessageOfLauncherIn(folder, { "--no-such-option", "x" }));
}

TEST_F(LauncherProgramTest, AManagerThatCannotRunIsExplainedNotSilentlySkipped)
{
    const fs::path folder = m_root.Base() / "kit";
    fs::create_directories(folder);
    const fs::path manager = folder / "PavixManager";
    std::ofstream(manager) << "#!/bin/sh\nexit 0\n";
    fs::permissions(manager, fs::perms::owner_read | fs::perms::owner_write);
    EXPECT_EQ("The operating system denied access to the specified file.", MessageOfLauncherIn(folder));

    std::ofstream(manager, std::ios::trunc) << "not a program at all";
    fs::permissions(manager, fs::perms::owner_all);
    EXPECT_EQ(
        "The .exe file is invalid (non-Win32 .exe or error in .exe image).", MessageOfLauncherIn(folder));
}

TEST_F(LauncherProgramTest, APathOf260CharactersStartsNothing)
{
    const fs::path folder = FolderForLauncherPathOf(260);
    fs::create_directories(folder);
    PlaceFakeManager(folder);
    EXPECT_EQ(Launcher::kBufferTooSmall, MessageOfLauncherIn(folder));
    std::this_thread::sleep_for(200ms);
    EXPECT_FALSE(fs::exists(PidFile())) << "the manager was started";
}

TEST_F(LauncherProgramTest, ExitsAtOnceWhileTheManagerRunsOn)
{
    // 259 characters still fit the buffer.
    const fs::path folder = FolderForLauncherPathOf(259);
    fs::create_directories(folder);
    PlaceFakeManager(folder);
    const fs::path launcher = ProgramCopy::Place("PavixManagerLauncher", folder);
    Process::Child child;
    ASSERT_EQ(Process::kSuccess, ProgramCopy::Run(launcher, m_root.Base() / "errors", child));
    ASSERT_TRUE(child.WaitFor(10s));
    EXPECT_EQ(0, child.ExitCode());
    const pid_t manager = WaitForManager();
    ASSERT_NE(0, manager) << "the manager was not started";
    EXPECT_EQ(0, ::kill(manager, 0)) << "the launcher's exit should not wait for, nor end, the manager";
    ::kill(manager, SIGKILL);
    EXPECT_EQ("", ProgramCopy::ReadFile(m_root.Base() / "errors"));
}

} // namespace
