// The propagation flag word: the creator's value, each side's half, no lost
// update when both sides write at once from two processes, and no word of a
// dead creator read as live.
#include "platform/shared_word/SharedWord.h"
#include "tests/support/ScopedTestRoot.h"

#include <atomic>
#include <csignal>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/mman.h>
#include <sys/wait.h>
#include <unistd.h>

using namespace vela5::platform::SharedWord;

namespace {

constexpr uint32_t kCreation = 0x10000000; // continue, no acknowledgement

class SharedWordTest : public ::testing::Test {
protected:
    // Unique per test, on top of the per-root tag, so reruns never meet.
    std::string name = "VCPSFLAG-" + std::to_string(::getpid()) + "-"
        + ::testing::UnitTest::GetInstance()->current_test_info()->name();
    ScopedTestRoot root;
};

int Wait(pid_t pid)
{
    int status = 0;
    waitpid(pid, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

} // namespace

TEST_F(SharedWordTest, CreatorValueAndEachSideItsOwnHalf)
{
    Word agent;
    ASSERT_EQ(Word::Create(name, kCreation, agent), Success);
    EXPECT_EQ(agent.Read(), kCreation);

    Word manager;
    ASSERT_EQ(Word::Open(name, Access::ReadWrite, manager), Success);
    EXPECT_EQ(manager.Read(), kCreation);
    ASSERT_EQ(manager.WriteHalf(Half::High, 0x1001), Success);
    EXPECT_EQ(agent.Read(), 0x10010000u);
    ASSERT_EQ(agent.WriteHalf(Half::Low, 1), Success);
    EXPECT_EQ(manager.Read(), 0x10010001u);
    ASSERT_EQ(manager.WriteHalf(Half::High, 0x1100), Success);
    EXPECT_EQ(agent.Read(), 0x11000001u) << "the agent's acknowledgement survives the manager's command";

    Word reader;
    ASSERT_EQ(Word::Open(name, Access::Read, reader), Success);
    EXPECT_EQ(reader.Read(), 0x11000001u);
    EXPECT_EQ(reader.WriteHalf(Half::Low, 0), AccessDenied);
    EXPECT_EQ(Word().WriteHalf(Half::Low, 0), InvalidHandle);

    Word none;
    EXPECT_EQ(Word::Open(name + "-nobody", Access::Read, none), NotFound);
    EXPECT_FALSE(none.IsOpen());
    EXPECT_EQ(Word::Open("a/b", Access::Read, none), InvalidParameter);
    EXPECT_EQ(Word::Create("", kCreation, none), InvalidParameter);
}

TEST_F(SharedWordTest, NamesArePerUserAndPerMachineRoot)
{
    const std::string here = Word::SystemName(name);
    EXPECT_NE(here.find("-" + std::to_string(::geteuid()) + "-"), std::string::npos) << here;
    Word agent;
    ASSERT_EQ(Word::Create(name, kCreation, agent), Success);
    ScopedTestRoot otherMachine;
    EXPECT_NE(Word::SystemName(name), here);
    Word elsewhere;
    EXPECT_EQ(Word::Open(name, Access::Read, elsewhere), NotFound) << "a test on another root never sees it";
}

// The manager changes the high half and the agent the low half in a tight
// loop from two processes started together. Before each write a side checks
// that its half still holds what it wrote last: a write of the other side
// that put back an old copy of it shows there. 10,000 rounds pass in well
// under a millisecond, too short for the two to meet reliably; four million
// each caught two plain writes in 6 runs of 8 here, in about 0.1 s.
TEST_F(SharedWordTest, TwoProcessesWritingTheirHalvesLoseNoUpdate)
{
    constexpr int kRounds = 4000000;
    Word agent;
    ASSERT_EQ(Word::Create(name, kCreation, agent), Success);
    ASSERT_EQ(agent.WriteHalf(Half::Low, 0), Success);

    void* shared = mmap(nullptr, sizeof(int), PROT_READ | PROT_WRITE, MAP_SHARED | MAP_ANONYMOUS, -1, 0);
    ASSERT_NE(shared, MAP_FAILED);
    const auto run = [shared](Word& word, int side) {
        // Each side counts itself in, then waits for the other.
        std::atomic_ref<int> arrived(*static_cast<int*>(shared));
        arrived.fetch_add(1);
        while (arrived.load() < 2) { }
        const Half half = side == 0 ? Half::High : Half::Low;
        const int shift = side == 0 ? 16 : 0;
        const uint16_t base = side == 0 ? 0x1000 : 0;
        int lost = 0;
        for (int i = 1; i <= kRounds; ++i) {
            lost += static_cast<uint16_t>(word.Read() >> shift) != static_cast<uint16_t>(base + i - 1);
            word.WriteHalf(half, static_cast<uint16_t>(base + i));
        }
        return lost;
    };
    const pid_t manager = fork();
    if (manager == 0) {
        Word word;
        if (Word::Open(name, Access::ReadWrite, word) != Success) {
            _exit(2);
        }
        _exit(run(word, 0) == 0 ? 0 : 1);
    }
    const int lost = run(agent, 1);
    EXPECT_EQ(Wait(manager), 0) << "the manager's half was overwritten";
    EXPECT_EQ(lost, 0) << "the agent's half was overwritten";
    EXPECT_EQ(agent.Read(),
        (static_cast<uint32_t>(static_cast<uint16_t>(0x1000 + kRounds)) << 16)
            | static_cast<uint16_t>(kRounds));
    munmap(shared, sizeof(int));
}

TEST_F(SharedWordTest, CreatorLeavingRemovesTheName)
{
    const pid_t creator = fork();
    if (creator == 0) {
        Word agent;
        const bool ok = Word::Create(name, kCreation, agent) == Success;
        agent.Close();
        _exit(ok ? 0 : 1);
    }
    ASSERT_EQ(Wait(creator), 0);
    Word manager;
    EXPECT_EQ(Word::Open(name, Access::ReadWrite, manager), NotFound);
}

TEST_F(SharedWordTest, WordOfAKilledCreatorIsReplacedNotReused)
{
    int ready[2];
    ASSERT_EQ(pipe(ready), 0);
    const pid_t creator = fork();
    if (creator == 0) {
        Word agent;
        if (Word::Create(name, kCreation, agent) != Success) {
            _exit(1);
        }
        agent.WriteHalf(Half::High, 0x1100);
        agent.WriteHalf(Half::Low, 1);
        (void)!write(ready[1], "r", 1);
        pause();
        _exit(0);
    }
    char signal = 0;
    ASSERT_EQ(read(ready[0], &signal, 1), 1);
    kill(creator, SIGKILL);
    Wait(creator);
    Word stale;
    ASSERT_EQ(Word::Open(name, Access::ReadWrite, stale), Success) << "a killed creator cannot clean up";
    EXPECT_EQ(stale.Read(), 0x11000001u);

    Word agent;
    ASSERT_EQ(Word::Create(name, kCreation, agent), Success);
    EXPECT_EQ(agent.Read(), kCreation);
    Word manager;
    ASSERT_EQ(Word::Open(name, Access::ReadWrite, manager), Success);
    EXPECT_EQ(manager.Read(), kCreation);
    ASSERT_EQ(stale.WriteHalf(Half::High, 0x1100), Success);
    EXPECT_EQ(agent.Read(), kCreation) << "a writer holding the dead word never reaches the new agent";
}

TEST_F(SharedWordTest, ClosingAnOldCreatorLeavesTheNewOnesName)
{
    Word first;
    ASSERT_EQ(Word::Create(name, kCreation, first), Success);
    Word second;
    ASSERT_EQ(Word::Create(name, 0x10010000, second), Success);
    first.Close();
    Word manager;
    ASSERT_EQ(Word::Open(name, Access::Read, manager), Success);
    EXPECT_EQ(manager.Read(), 0x10010000u);
    second.Close();
    EXPECT_EQ(Word::Open(name, Access::Read, manager), NotFound);
}

TEST_F(SharedWordTest, AnUnsizedWordIsNeitherMappedNorKept)
{
    // Unsized: what a creator that has not finished, or a stray object, looks like.
    const std::string systemName = Word::SystemName(name);
    const int fd = shm_open(systemName.c_str(), O_CREAT | O_EXCL | O_RDWR, 0600);
    ASSERT_GE(fd, 0);
    close(fd);
    Word manager;
    EXPECT_EQ(Word::Open(name, Access::ReadWrite, manager), NotFound)
        << "mapping it would fault on first access";
    Word agent;
    EXPECT_EQ(Word::Create(name, kCreation, agent), Success);
    EXPECT_EQ(agent.Read(), kCreation);
}
