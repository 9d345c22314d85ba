// The single-instance lock: one holder at a time, in or across processes,
// released when the holder is killed, never handed to a child program, and
// never kept in a folder other users could reach.
#include "platform/named_mutex/NamedMutex.h"
#include "tests/support/ScopedTestRoot.h"

#include <csignal>
#include <cstdlib>
#include <gtest/gtest.h>
#include <optional>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

using namespace vela5::platform::NamedMutex;

namespace {

constexpr const char* kAgentMutex = "{D1FC8220-3DC3-4546-8002-76946ED4DC35}";

class NamedMutexTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        // The fallback folder under this test's own temporary folder.
        const char* runtime = std::getenv("XDG_RUNTIME_DIR");
        m_runtime = runtime != nullptr ? std::optional<std::string>(runtime) : std::nullopt;
        unsetenv("XDG_RUNTIME_DIR");
    }
    void TearDown() override
    {
        if (m_runtime) {
            setenv("XDG_RUNTIME_DIR", m_runtime->c_str(), 1);
        }
    }

    // Runs holder in a child that takes the mutex, reports, then waits to die.
    pid_t HolderProcess()
    {
        int ready[2];
        EXPECT_EQ(pipe(ready), 0);
        const pid_t pid = fork();
        if (pid == 0) {
            Mutex held;
            const char result = Mutex::Create(kAgentMutex, held) == Success ? 'y' : 'n';
            (void)!write(ready[1], &result, 1);
            pause();
            _exit(0);
        }
        char result = 0;
        EXPECT_EQ(read(ready[0], &result, 1), 1);
        EXPECT_EQ(result, 'y');
        close(ready[0]);
        close(ready[1]);
        return pid;
    }

    ScopedTestRoot root;
    std::optional<std::string> m_runtime;
};

} // namespace

TEST_F(NamedMutexTest, SecondHolderRefusedUntilTheFirstReleases)
{
    Mutex first;
    ASSERT_EQ(Mutex::Create(kAgentMutex, first), Success);
    EXPECT_TRUE(first.IsHeld());
    Mutex second;
    EXPECT_EQ(Mutex::Create(kAgentMutex, second), AlreadyExists);
    EXPECT_FALSE(second.IsHeld());
    Mutex other;
    EXPECT_EQ(Mutex::Create("another program", other), Success) << "names are independent";
    first.Release();
    EXPECT_EQ(Mutex::Create(kAgentMutex, second), Success);
    EXPECT_EQ(Mutex::Create("", other), InvalidParameter);
}

TEST_F(NamedMutexTest, HeldByAnotherProcessUntilItIsKilled)
{
    const pid_t holder = HolderProcess();
    Mutex mine;
    EXPECT_EQ(Mutex::Create(kAgentMutex, mine), AlreadyExists);
    kill(holder, SIGKILL);
    int status = 0;
    waitpid(holder, &status, 0);
    ASSERT_TRUE(WIFSIGNALED(status));
    EXPECT_EQ(Mutex::Create(kAgentMutex, mine), Success) << "a crashed holder must not block the next one";
}

TEST_F(NamedMutexTest, AProgramTheHolderStartsDoesNotKeepIt)
{
    Mutex held;
    ASSERT_EQ(Mutex::Create(kAgentMutex, held), Success);
    const pid_t child = fork();
    if (child == 0) {
        execlp("sleep", "sleep", "30", static_cast<char*>(nullptr));
        _exit(127);
    }
    held.Release();
    Mutex next;
    EXPECT_EQ(Mutex::Create(kAgentMutex, next), Success);
    kill(child, SIGKILL);
    waitpid(child, nullptr, 0);
}

TEST_F(NamedMutexTest, LockFilesLiveInAFolderOnlyThisUserEnters)
{
    const std::filesystem::path own = root.Temp() / ("vela5-" + std::to_string(geteuid()));
    EXPECT_EQ(Mutex::Folder(), own);
    struct stat info { };
    ASSERT_EQ(stat(own.c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0700u);

    // A runtime folder others can enter is passed over for our own.
    const std::filesystem::path open = root.Temp() / "open-runtime";
    std::filesystem::create_directories(open);
    chmod(open.c_str(), 0777);
    setenv("XDG_RUNTIME_DIR", open.c_str(), 1);
    EXPECT_EQ(Mutex::Folder(), own);
    const std::filesystem::path runtime = root.Temp() / "runtime";
    std::filesystem::create_directories(runtime);
    chmod(runtime.c_str(), 0700);
    setenv("XDG_RUNTIME_DIR", runtime.c_str(), 1);
    EXPECT_EQ(Mutex::Folder(), runtime);
    unsetenv("XDG_RUNTIME_DIR");

    // Our folder made open by someone: refused rather than used.
    chmod(own.c_str(), 0777);
    EXPECT_TRUE(Mutex::Folder().empty());
    Mutex mutex;
    EXPECT_EQ(Mutex::Create(kAgentMutex, mutex), AccessDenied);
    chmod(own.c_str(), 0700);
    EXPECT_EQ(Mutex::Create(kAgentMutex, mutex), Success);
}
