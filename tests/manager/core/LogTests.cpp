// The manager log: exact bytes of each write form, silence without a folder,
// and whole lines under concurrent writers.
#include "manager/core/NRVCMULog.h"
#include "tests/support/ScopedTestRoot.h"

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

namespace fs = std::filesystem;

std::string ReadFile(const fs::path& path)
{
    std::ifstream in(path, std::ios::binary);
    std::ostringstream content;
    content << in.rdbuf();
    return content.str();
}

class LogTest : public ::testing::Test {
protected:
    fs::path Folder() const { return m_root.Temp() / "nrvcme"; }
    fs::path File() const { return Folder() / "nrvcmutestlog.txt"; }

    ScopedTestRoot m_root;
};

TEST_F(LogTest, EachFormWritesItsExactBytes)
{
    fs::create_directories(Folder());
    NRVCMULog log;
    log.WriteLine("NRVCMUFrm::OnLogin() - ENTER");
    log.Write("a", "b", false);
    log.Write("c", "d", true);
    log.WriteText("\tC_NRV_Login ERROR: ", wxS("NRV_CKR_PIN_RETRIES_03"), true);
    log.WriteValue("\tUser Type = ", "%08X", std::uint32_t { 0x2a }, true);
    log.WriteValue("\tNSH1 Flag = ", "%d", std::uint8_t { 7 }, true);
    log.WriteValue("n", "%d", -5, false);
    EXPECT_EQ(ReadFile(File()),
        "NRVCMUFrm::OnLogin() - ENTER\t \n"
        "a\tbc\td\n"
        "\tC_NRV_Login ERROR: \tNRV_CKR_PIN_RETRIES_03\n"
        "\tUser Type = \t0000002A\n"
        "\tNSH1 Flag = \t7\n"
        "n\t-5");
}

TEST_F(LogTest, TextThatDoesNotConvertIsStillWritten)
{
    fs::create_directories(Folder());
    NRVCMULog log;
    // In the C locale the euro sign has no single-byte form; the line keeps it as UTF-8.
    log.WriteText("label", wxString::FromUTF8("\xe2\x82\xac"), true);
    EXPECT_EQ(ReadFile(File()), "label\t\xe2\x82\xac\n");
}

TEST_F(LogTest, ALinkInPlaceOfTheLogIsNotFollowed)
{
    fs::create_directories(Folder());
    const fs::path victim = m_root.Base() / "victim.txt";
    std::ofstream(victim) << "keep me\n";
    fs::create_symlink(victim, File());
    NRVCMULog log;
    log.WriteLine("planted");
    EXPECT_EQ("keep me\n", ReadFile(victim));

    // A new log is the user's alone.
    fs::remove(File());
    log.WriteLine("line");
    EXPECT_EQ(fs::perms::owner_read | fs::perms::owner_write, fs::status(File()).permissions());
}

TEST_F(LogTest, TheFolderIsTheUsersOwnTemporaryFolder)
{
    const char* runtime = std::getenv("XDG_RUNTIME_DIR");
    const std::string previousRuntime = runtime != nullptr ? runtime : "";
    const std::string own = "/tmp/nrvcme-" + std::to_string(::geteuid());
    const struct {
        const char* tmpdir;
        const char* runtime;
        std::string expected;
    } cases[] = {
        { "/home/u/tmp", "/run/user/7", "/home/u/tmp/nrvcme" },
        { nullptr, "/run/user/7", "/run/user/7/nrvcme" },
        { "", "", own },
        { nullptr, nullptr, own },
    };
    for (const auto& [tmpdir, runtimeDir, expected] : cases) {
        tmpdir != nullptr ? ::setenv("TMPDIR", tmpdir, 1) : ::unsetenv("TMPDIR");
        runtimeDir != nullptr ? ::setenv("XDG_RUNTIME_DIR", runtimeDir, 1) : ::unsetenv("XDG_RUNTIME_DIR");
        EXPECT_EQ(expected, NRVCMULog::Folder().utf8_string());
    }
    runtime != nullptr ? ::setenv("XDG_RUNTIME_DIR", previousRuntime.c_str(), 1)
                       : ::unsetenv("XDG_RUNTIME_DIR");
}

TEST_F(LogTest, MissingFolderWritesNothingAndThrowsNothing)
{
    NRVCMULog log;
    EXPECT_NO_THROW(log.WriteLine("NRVCMUCryptoki::GetSlotList() - ENTER"));
    EXPECT_NO_THROW(log.WriteValue("x", "%d", 1, true));
    EXPECT_FALSE(fs::exists(Folder()));

    // The same for a temporary folder that is gone altogether.
    NRVCMULog gone(wxString((m_root.Base() / "gone" / "nrvcme" / "nrvcmutestlog.txt").string()));
    EXPECT_NO_THROW(gone.WriteLine("line"));
    EXPECT_FALSE(fs::exists(m_root.Base() / "gone"));
}

TEST_F(LogTest, ConcurrentWritersNeverSplitALine)
{
    fs::create_directories(Folder());
    NRVCMULog log;
    constexpr int Threads = 4;
    constexpr int Lines = 300;
    std::vector<std::thread> writers;
    for (int t = 0; t < Threads; ++t) {
        writers.emplace_back([&log, t] {
            const std::string text = "writer " + std::to_string(t) + " " + std::string(200, char('a' + t));
            for (int i = 0; i < Lines; ++i) {
                log.WriteLine(text);
            }
        });
    }
    for (std::thread& writer : writers) {
        writer.join();
    }
    std::istringstream content(ReadFile(File()));
    std::string line;
    int count = 0;
    std::set<std::string> distinct;
    while (std::getline(content, line)) {
        ++count;
        distinct.insert(line);
    }
    EXPECT_EQ(count, Threads * Lines);
    EXPECT_EQ(distinct.size(), static_cast<std::size_t>(Threads));
}

TEST_F(LogTest, AFullFileMovesAsideOnceAndANewOneStarts)
{
    fs::create_directories(Folder());
    const fs::path rotated = Folder() / "nrvcmutestlog.txt.1";
    {
        std::ofstream(rotated) << "older rotation\n";
    }
    // Just below the limit: the next line passes it.
    {
        std::ofstream(File(), std::ios::binary) << "first\n";
    }
    fs::resize_file(File(), NRVCMULog::kMaxFileSize - 2);
    NRVCMULog log;
    log.WriteLine("x"); // four bytes: "x", TAB, blank, newline
    EXPECT_FALSE(fs::exists(File())) << "the full file was moved aside";
    ASSERT_TRUE(fs::exists(rotated));
    EXPECT_EQ(fs::file_size(rotated), NRVCMULog::kMaxFileSize + 2) << "it replaced the older rotation";
    EXPECT_EQ(ReadFile(rotated).substr(0, 6), "first\n");

    log.WriteLine("NRVCMUFrm::OnLogin() - ENTER");
    EXPECT_EQ(ReadFile(File()), "NRVCMUFrm::OnLogin() - ENTER\t \n");
    EXPECT_EQ(fs::file_size(rotated), NRVCMULog::kMaxFileSize + 2);
}

TEST_F(LogTest, ConcurrentWritersPassingTheLimitLoseNoLine)
{
    fs::create_directories(Folder());
    {
        std::ofstream(File(), std::ios::binary) << "";
    }
    fs::resize_file(File(), NRVCMULog::kMaxFileSize - 100);
    NRVCMULog log;
    constexpr int Threads = 4;
    constexpr int Lines = 200;
    std::vector<std::thread> writers;
    for (int t = 0; t < Threads; ++t) {
        writers.emplace_back([&log] {
            for (int i = 0; i < Lines; ++i) {
                log.WriteLine("line");
            }
        });
    }
    for (std::thread& writer : writers) {
        writer.join();
    }
    // The old content went aside exactly once: every line is in one of the two files.
    const std::string all = ReadFile(Folder() / "nrvcmutestlog.txt.1") + ReadFile(File());
    std::size_t count = 0;
    for (std::size_t at = all.find("line\t \n"); at != std::string::npos;
         at = all.find("line\t \n", at + 1)) {
        ++count;
    }
    EXPECT_EQ(count, static_cast<std::size_t>(Threads * Lines));
    EXPECT_GE(fs::file_size(Folder() / "nrvcmutestlog.txt.1"), NRVCMULog::kMaxFileSize - 100);
}

} // namespace
