// The manager log: exact bytes of each write form, silence without a folder,
// and whole lines under concurrent writers.
#include "ScopedTestRoot.h"
#include "manager/core/NRVCMULog.h"

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <set>
#include <sstream>
#include <string>
#include <thread>
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

} // namespace
