// Starting programs: failures as Windows numbers, arguments passed untouched,
// hidden children cut off from our terminal and handles, every child reaped.
#include "platform/process/Process.h"
#include "tests/support/ScopedTestRoot.h"
#include "tests/support/ScriptFolder.h"

#include <cerrno>
#include <fcntl.h>
#include <fstream>
#include <gtest/gtest.h>
#include <sstream>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

using namespace vela5::platform;

namespace fs = std::filesystem;
using namespace std::chrono_literals;

namespace {

std::string ReadAll(const fs::path& file)
{
    std::ifstream in(file);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

// The state letter of /proc/<pid>/stat, or 0 when the process is gone.
char ProcessState(pid_t pid)
{
    std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
    std::string line;
    if (!std::getline(stat, line)) {
        return 0;
    }
    const size_t close = line.rfind(')');
    return close != std::string::npos && close + 2 < line.size() ? line[close + 2] : 0;
}

bool EndsUnreaped(pid_t pid)
{
    for (int i = 0; i < 200; ++i) {
        const char state = ProcessState(pid);
        if (state == 0) {
            return false;
        }
        if (state == 'Z' && i > 100) {
            return true;
        }
        std::this_thread::sleep_for(10ms);
    }
    return ProcessState(pid) != 0;
}

class ProcessTest : public testing::Test {
protected:
    ScopedTestRoot m_root;
    fs::path Folder() const { return m_root.Base(); }
};

TEST_F(ProcessTest, StartFailuresComeBackAsTheWindowsNumbers)
{
    const fs::path plain = Folder() / "plain";
    std::ofstream(plain) << "#!/bin/sh\nexit 0\n";
    fs::permissions(plain, fs::perms::owner_read | fs::perms::owner_write);
    const fs::path notProgram = Folder() / "not-a-program";
    std::ofstream(notProgram) << "\x7f"
                                 "ELF but not really";
    fs::permissions(notProgram, fs::perms::owner_all);

    const struct {
        std::string program;
        Process::ErrorCode expected;
    } cases[] = {
        { (Folder() / "missing").string(), Process::kErrorFileNotFound },
        { "vela5-no-such-program-anywhere", Process::kErrorFileNotFound },
        { plain.string(), Process::kErrorAccessDenied },
        { Folder().string(), Process::kErrorAccessDenied },
        { notProgram.string(), Process::kErrorBadFormat },
        { (plain / "below-a-file").string(), Process::kErrorPathNotFound },
        { "", Process::kErrorFileNotFound },
    };
    for (const auto& c : cases) {
        Process::Child child;
        EXPECT_EQ(c.expected, Process::Start(c.program, {}, {}, child)) << c.program;
        EXPECT_FALSE(child.IsStarted()) << c.program;
    }
}

TEST_F(ProcessTest, ErrnoValuesWithoutAWindowsTwinKeepTheirOwnNumberMarked)
{
    EXPECT_EQ(Process::kErrorNotEnoughMemory, Process::FromErrno(ENOMEM));
    EXPECT_EQ(Process::kErrorAccessDenied, Process::FromErrno(EPERM));
    EXPECT_EQ(Process::kErrorSharingViolation, Process::FromErrno(ETXTBSY));
    EXPECT_EQ(Process::kApplicationErrorBit | EXDEV, Process::FromErrno(EXDEV));
}

TEST_F(ProcessTest, ArgumentsArriveUntouchedAndTheExitCodeIsKept)
{
    const fs::path out = Folder() / "args";
    Process::Child child;
    ASSERT_EQ(Process::kSuccess,
        Process::Start("/bin/sh",
            { "-c", "printf '%s\\n' \"$@\" > \"$0\"; exit 7", out.string(), "a b", "\"q\"", "$HOME", "" }, {},
            child));
    ASSERT_TRUE(child.WaitFor(5s));
    EXPECT_EQ(7, child.ExitCode());
    EXPECT_EQ("a b\n\"q\"\n$HOME\n\n", ReadAll(out));
}

TEST_F(ProcessTest, AKilledChildReportsItsSignal)
{
    Process::Child child;
    ASSERT_EQ(Process::kSuccess, Process::Start("sleep", { "30" }, {}, child));
    EXPECT_FALSE(child.WaitFor(50ms));
    ::kill(child.Pid(), SIGKILL);
    ASSERT_TRUE(child.WaitFor(5s));
    EXPECT_EQ(128 + SIGKILL, child.ExitCode());
}

TEST_F(ProcessTest, AHiddenChildHasNoTerminalSessionNorOurHandles)
{
    // A handle of ours without close-on-exec must not reach the child.
    const int leaked = ::open("/dev/null", O_RDONLY);
    ASSERT_GE(leaked, 3);
    const fs::path out = Folder() / "streams";
    Process::Child child;
    const std::string script
        = "s=$(readlink /proc/$$/fd/0 /proc/$$/fd/1); echo \"$s\" > \"$0\"; [ -e /proc/$$/fd/"
        + std::to_string(leaked) + " ] && echo leaked >> \"$0\"; sleep 0.3";
    ASSERT_EQ(Process::kSuccess,
        Process::Start("/bin/sh", { "-c", script, out.string() }, { .hidden = true }, child));
    std::this_thread::sleep_for(100ms);
    EXPECT_EQ(child.Pid(), ::getsid(child.Pid()));
    ASSERT_TRUE(child.WaitFor(5s));
    ::close(leaked);
    EXPECT_EQ("/dev/null\n/dev/null\n", ReadAll(out));
}

TEST_F(ProcessTest, WaitingTicksEveryIntervalAndReturnsWhenTheChildEnds)
{
    Process::Child child;
    ASSERT_EQ(Process::kSuccess, Process::Start("sleep", { "0.35" }, {}, child));
    int ticks = 0;
    const auto started = std::chrono::steady_clock::now();
    child.WaitWhile([&ticks] { ++ticks; }, 100ms);
    const auto took = std::chrono::steady_clock::now() - started;
    EXPECT_GE(ticks, 2);
    EXPECT_LE(ticks, 4);
    EXPECT_LT(took, 600ms);
    EXPECT_EQ(0, child.ExitCode());
}

TEST_F(ProcessTest, ChildrenLetGoOrDroppedAreReapedNotLeftAsZombies)
{
    Process::Child detached;
    ASSERT_EQ(Process::kSuccess, Process::Start("sleep", { "0.1" }, {}, detached));
    const pid_t first = detached.Pid();
    detached.Detach();
    EXPECT_FALSE(detached.IsStarted());

    pid_t second = 0;
    {
        Process::Child dropped;
        ASSERT_EQ(Process::kSuccess, Process::Start("true", {}, {}, dropped));
        second = dropped.Pid();
    }
    EXPECT_FALSE(EndsUnreaped(first));
    EXPECT_FALSE(EndsUnreaped(second));
}

TEST_F(ProcessTest, CommandLinesSplitTheWindowsWay)
{
    const struct {
        std::string line;
        std::vector<std::string> words;
    } cases[] = {
        { "msiexec /i \"/media/kit/x64/SGL user.msi\" /q",
            { "msiexec", "/i", "/media/kit/x64/SGL user.msi", "/q" } },
        { "  a\t b  ", { "a", "b" } },
        { "a\"b c\"d", { "ab cd" } },
        { "\"\"", { "" } },
        { "a\\\\b", { "a\\\\b" } },
        { "a\\\\\"b c\"", { "a\\b c" } },
        { "a\\\"b", { "a\"b" } },
        { "\"open", { "open" } },
        { "", {} },
    };
    for (const auto& c : cases) {
        EXPECT_EQ(c.words, Process::SplitCommandLine(c.line)) << c.line;
    }
}

TEST_F(ProcessTest, AQuotedWordSplitsBackUnchanged)
{
    for (const std::string word :
        { "", "plain", "a b", "say \"hi\"", "dir\\", "dir\\ x\\\\", "\\\"", "tab\there" }) {
        EXPECT_EQ(std::vector<std::string> { word }, Process::SplitCommandLine(Process::QuoteArgument(word)))
            << word;
    }
}

TEST_F(ProcessTest, ACommandLineStartsItsFirstWordFromPath)
{
    const ScriptFolder scripts(Folder() / "bin");
    const fs::path out = Folder() / "recorded";
    scripts.Add("recorder", "printf '%s|' \"$@\" > '" + out.string() + "'");
    Process::Child child;
    ASSERT_EQ(Process::kSuccess, Process::StartCommandLine("recorder /i \"a b/c.msi\" /q", {}, child));
    ASSERT_TRUE(child.WaitFor(5s));
    EXPECT_EQ("/i|a b/c.msi|/q|", ReadAll(out));
    EXPECT_EQ(Process::kErrorFileNotFound, Process::StartCommandLine("   ", {}, child));
}

TEST_F(ProcessTest, DocumentsGoToTheDesktopOpener)
{
    const fs::path document = Folder() / "guide.html";
    std::ofstream(document) << "<p>help</p>";
    EXPECT_EQ(Process::kErrorFileNotFound, Process::OpenDocument(Folder() / "missing.html"));
    {
        // Only our folder on PATH: no opener at all.
        const ScriptFolder scripts(Folder() / "empty");
        setenv("PATH", scripts.Folder().c_str(), 1);
        EXPECT_EQ(Process::kErrorNoAssociation, Process::OpenDocument(document));
    }
    const ScriptFolder scripts(Folder() / "opener");
    const fs::path out = Folder() / "opened";
    scripts.Add("xdg-open",
        "printf '%s' \"$1\" > '" + out.string() + ".part'; mv '" + out.string() + ".part' '" + out.string()
            + "'");
    ASSERT_EQ(Process::kSuccess, Process::OpenDocument(document));
    for (int i = 0; i < 500 && !fs::exists(out); ++i) {
        std::this_thread::sleep_for(10ms);
    }
    EXPECT_EQ(document.string(), ReadAll(out));
}

} // namespace

namespace {

TEST(ProcessStartTime, NamesOneProcessWhateverItsProgramNameHolds)
{
    const uint64_t own = Process::StartTime(getpid());
    ASSERT_NE(own, 0u);
    EXPECT_EQ(own, Process::StartTime(getpid())) << "the same process, the same time";
    EXPECT_LE(Process::StartTime(getppid()), own) << "a parent starts before its child";
    // Program names may hold blanks and parentheses that look like fields.
    const char* const names[] = { "plain", "a) b c", "x (y) 1 2 3", ") ) )" };
    for (const char* name : names) {
        int answer[2];
        ASSERT_EQ(pipe(answer), 0);
        const pid_t child = fork();
        if (child == 0) {
            uint64_t seen[2] = { Process::StartTime(getpid()), 0 };
            prctl(PR_SET_NAME, name);
            seen[1] = Process::StartTime(getpid());
            (void)!write(answer[1], seen, sizeof seen); // one write: read whole
            _exit(0);
        }
        uint64_t times[2] = {};
        EXPECT_EQ(read(answer[0], times, sizeof times), static_cast<ssize_t>(sizeof times));
        waitpid(child, nullptr, 0);
        close(answer[0]);
        close(answer[1]);
        EXPECT_NE(times[0], 0u) << name;
        EXPECT_EQ(times[0], times[1]) << name;
        EXPECT_EQ(Process::StartTime(child), 0u) << "a process no longer running has no start";
    }
    EXPECT_EQ(Process::StartTime(0), 0u);
    EXPECT_EQ(Process::StartTime(-1), 0u);
}

} // namespace
