// The launcher's decisions: the manager's path, the refusal of a path that
// fills the buffer, and one message per start result.
#include "launcher/LauncherLogic.h"

#include <gtest/gtest.h>

using namespace vela5::platform;

namespace {

TEST(LauncherTest, EveryStartResultHasItsMessage)
{
    const std::string target = "/opt/kit/PavixManager";
    const struct {
        Process::ErrorCode result;
        std::string message;
    } cases[] = {
        { Process::kErrorNoSystemResources, "The operating system is out of memory or resources." },
        { 2, "The specified path was not found. [/opt/kit/PavixManager]" },
        { 3, "The specified path was not found." },
        { 5, "The operating system denied access to the specified file." },
        { 8, "There was not enough memory to complete the operation." },
        { 11, "The .exe file is invalid (non-Win32 .exe or error in .exe image)." },
        { 26, "A sharing violation occurred." },
        { 27, "The file name association is incomplete or invalid." },
        { 28, "The DDE transaction could not be completed because the request timed out." },
        { 29, "The DDE transaction failed." },
        { 30,
            "The DDE transaction could not be completed because other DDE transactions were being "
            "processed." },
        { 31,
            "There is no application associated with the given file name extension. This error will also be "
            "returned if you attempt to print a file that is not printable." },
        { 32, "The specified DLL was not found." },
        { 1, "Unknown Error." },
        { Process::kApplicationErrorBit | 18, "Unknown Error." },
    };
    for (const auto& c : cases) {
        EXPECT_EQ(c.message, Launcher::MessageFor(c.result, target)) << c.result;
    }
}

TEST(LauncherTest, TheMissingManagerMessageKeepsALongPathWhole)
{
    const std::string target = "/" + std::string(250, 'd') + "/PavixManager";
    EXPECT_EQ("The specified path was not found. [" + target + "]", Launcher::MessageFor(2, target));
}

TEST(LauncherTest, StartsTheManagerBesideItselfOnceAndQuietlyOnSuccess)
{
    std::vector<std::string> started;
    const auto result
        = Launcher::Launch("/opt/kit.d/bin/PavixManagerLauncher", [&](const std::string& program) {
              started.push_back(program);
              return Process::kSuccess;
          });
    EXPECT_FALSE(result.has_value());
    EXPECT_EQ(std::vector<std::string> { "/opt/kit.d/bin/PavixManager" }, started);
}

TEST(LauncherTest, APathThatFillsTheBufferIsRefusedWithoutStarting)
{
    const std::string name = "/PavixManagerLauncher";
    for (const size_t length : { size_t(259), size_t(260), size_t(300) }) {
        const std::string path = "/" + std::string(length - name.size() - 1, 'p') + name;
        ASSERT_EQ(length, path.size());
        bool started = false;
        const auto result = Launcher::Launch(path, [&](const std::string&) {
            started = true;
            return Process::kSuccess;
        });
        EXPECT_EQ(length < 260, started) << length;
        EXPECT_EQ(length < 260 ? std::nullopt : std::optional<std::string>(Launcher::kBufferTooSmall), result)
            << length;
    }
}

TEST(LauncherTest, AFailedStartNamesTheManagerItLookedFor)
{
    const auto result = Launcher::Launch(
        "/opt/kit/PavixManagerLauncher", [](const std::string&) { return Process::ErrorCode(2); });
    EXPECT_EQ("The specified path was not found. [/opt/kit/PavixManager]", result);
    EXPECT_EQ("The specified path was not found.",
        Launcher::Launch("", [](const std::string&) { return Process::kSuccess; }));
}

} // namespace
