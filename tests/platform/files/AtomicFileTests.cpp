// Whole-file replacement and the writers' folder lock: writers killed at any
// moment leave no temporaries behind, live writers' temporaries are kept,
// and the lock never goes through a planted link.
#include "platform/files/AtomicFile.h"
#include "tests/support/ScopedTestRoot.h"

#include <algorithm>
#include <chrono>
#include <csignal>
#include <fcntl.h>
#include <fstream>
#include <gtest/gtest.h>
#include <random>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

using namespace vela5::platform;

namespace {

std::vector<std::string> Names(const std::filesystem::path& folder)
{
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(folder)) {
        names.push_back(entry.path().filename().string());
    }
    std::sort(names.begin(), names.end());
    return names;
}

std::string ReadAll(const std::filesystem::path& file)
{
    std::ifstream in(file, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

pid_t DeadPid()
{
    const pid_t child = fork();
    if (child == 0) {
        _exit(0);
    }
    int status = 0;
    waitpid(child, &status, 0);
    return child;
}

void Touch(const std::filesystem::path& file)
{
    std::ofstream(file) << "x";
}

class AtomicFileTest : public testing::Test {
protected:
    void SetUp() override
    {
        m_folder = m_root.Base() / "store";
        std::filesystem::create_directories(m_folder);
    }
    ScopedTestRoot m_root;
    std::filesystem::path m_folder;
};

TEST_F(AtomicFileTest, WritersKilledMidWriteLeaveNoTemporaryAfterTheNextWrite)
{
    const std::filesystem::path file = m_folder / "hive";
    const std::string first(1 << 20, 'a');
    const std::string second(1 << 20, 'b');
    ASSERT_TRUE(Files::WriteAtomically(file, first.data(), first.size(), 0644));
    std::mt19937 random(12345);
    std::uniform_int_distribution<int> delay(0, 15000);
    for (int round = 0; round < 60; ++round) {
        const pid_t writer = fork();
        ASSERT_GE(writer, 0);
        if (writer == 0) {
            for (;;) {
                Files::WriteAtomically(file, second.data(), second.size(), 0644);
            }
        }
        usleep(static_cast<useconds_t>(delay(random)));
        kill(writer, SIGKILL);
        int status = 0;
        waitpid(writer, &status, 0);
    }
    const std::string text = ReadAll(file);
    EXPECT_TRUE(text == first || text == second) << "a reader saw half a file";
    ASSERT_TRUE(Files::WriteAtomically(file, first.data(), first.size(), 0644));
    EXPECT_EQ(std::vector<std::string> { "hive" }, Names(m_folder));
    EXPECT_EQ(first, ReadAll(file));
}

TEST_F(AtomicFileTest, OnlyTemporariesOfWritersNoLongerRunningAreRemoved)
{
    const std::string dead = std::to_string(DeadPid());
    const std::string live = std::to_string(getppid());
    struct Case {
        std::string name;
        bool kept;
    };
    const Case cases[] = {
        { ".hive." + dead + ".Ab12Cd", false },
        { ".0123456789abcdef." + dead + ".XXXXXX", false },
        { ".hive." + live + ".Ab12Cd", true }, // being written now
        { ".hive." + std::to_string(getpid()) + ".Ab12Cd", true }, // this process's own
        { ".lock", true },
        { ".hive.12x.Ab12Cd", true }, // not a process id
        { ".hive." + dead + ".Ab12", true }, // not the suffix's length
        { ".hive." + dead + ".Ab-2Cd", true },
        { "hive." + dead + ".Ab12Cd", true }, // not hidden
        { "other", true },
    };
    for (const Case& entry : cases) {
        Touch(m_folder / entry.name);
    }
    const std::string bytes = "new";
    ASSERT_TRUE(Files::WriteAtomically(m_folder / "hive", bytes.data(), bytes.size(), 0600));
    for (const Case& entry : cases) {
        EXPECT_EQ(entry.kept, std::filesystem::exists(m_folder / entry.name)) << entry.name;
    }
    EXPECT_EQ(bytes, ReadAll(m_folder / "hive"));
    EXPECT_EQ(std::filesystem::perms(0600), std::filesystem::status(m_folder / "hive").permissions())
        << "the mode is the one asked for, whatever the umask";
}

TEST_F(AtomicFileTest, FolderLockRefusesAPlantedLinkAndExcludesOtherProcesses)
{
    const std::filesystem::path victim = m_root.Base() / "victim";
    std::filesystem::create_symlink(victim, m_folder / ".lock");
    {
        const Files::FolderLock lock(m_folder, 0600);
        EXPECT_FALSE(lock.IsHeld());
    }
    EXPECT_FALSE(std::filesystem::exists(victim)) << "the lock must not create a file through a link";
    std::filesystem::remove(m_folder / ".lock");

    auto lock = std::make_unique<Files::FolderLock>(m_folder, 0600);
    ASSERT_TRUE(lock->IsHeld());
    int pipeFds[2];
    ASSERT_EQ(0, pipe(pipeFds));
    const pid_t other = fork();
    if (other == 0) {
        const Files::FolderLock second(m_folder, 0600);
        const char done = second.IsHeld() ? 'y' : 'n';
        (void)!write(pipeFds[1], &done, 1);
        _exit(0);
    }
    usleep(200000);
    char answer = 0;
    fcntl(pipeFds[0], F_SETFL, O_NONBLOCK);
    EXPECT_EQ(-1, read(pipeFds[0], &answer, 1)) << "the second writer went on while the lock was held";
    lock.reset();
    fcntl(pipeFds[0], F_SETFL, 0);
    ASSERT_EQ(1, read(pipeFds[0], &answer, 1));
    EXPECT_EQ('y', answer);
    int status = 0;
    waitpid(other, &status, 0);
    close(pipeFds[0]);
    close(pipeFds[1]);
}

} // namespace
