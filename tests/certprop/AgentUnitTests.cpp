// The agent's pieces in one process: the result table, the choices made at
// start-up, the log writer's formats and its refusals, and a slot context
// over the software token.
#include "AgentHarness.h"
#include "certprop/Agent.h"
#include "certprop/AgentLog.h"
#include "certprop/ResultMapping.h"
#include "certprop/SlotContext.h"

#include <cstdio>
#include <cstring>
#include <dlfcn.h>
#include <fstream>
#include <gtest/gtest.h>
#include <iterator>
#include <sstream>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

using namespace CertProp;

namespace {

std::string Slurp(const std::filesystem::path& file)
{
    std::ifstream in(file);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

TEST(AgentResultMapping, EveryModuleResultBecomesItsWindowsCode)
{
    const std::vector<std::pair<std::vector<CK_RV>, long>> table = {
        { { 0x00 }, 0 },
        { { 0x01 }, 1223 },
        { { 0x02, 0x31 }, static_cast<long>(0x8009000E) },
        { { 0x03, 0x12, 0x13, 0x20, 0x21, 0x70, 0x71, 0xA1, 0xA2, 0xD0, 0xD1 },
            static_cast<long>(0x80090027) },
        { { 0x06 }, 1627 },
        { { 0x07 }, 160 },
        { { 0x10, 0x11, 0x101 }, static_cast<long>(0x80090010) },
        { { 0x30 }, static_cast<long>(0x8009002D) },
        { { 0x54 }, static_cast<long>(0x80090029) },
        { { 0x60, 0x82, 0xB3 }, static_cast<long>(0x80090026) },
        { { 0xA0 }, 1326 },
        { { 0xA4 }, 1331 },
        { { 0x05, 0x32, 0xE0, 0x150, 0xFFFFFFFF, 0x80000000 }, static_cast<long>(0x80090020) },
    };
    for (const auto& [results, code] : table) {
        for (const CK_RV rv : results) {
            EXPECT_EQ(MapCkResult(rv), code) << std::hex << "CK_RV 0x" << rv;
        }
    }
}

TEST(AgentStartUp, PriorityAndIntervalFollowTheProcessorCount)
{
    struct Case {
        long processors;
        int nice;
        long milliseconds;
    };
    for (const Case& c : { Case { 1, 10, 1300 }, Case { 2, 10, 1300 }, Case { 3, 5, 1150 },
             Case { 4, 0, 1000 }, Case { 64, 0, 1000 } }) {
        const PollSettings settings = PollSettingsFor(c.processors);
        EXPECT_EQ(settings.nice, c.nice) << c.processors;
        EXPECT_EQ(settings.interval.count(), c.milliseconds) << c.processors;
    }
}

TEST(AgentSlotNames, DescriptionIsTrimmedAndContainerNameSpellsTheIdInHex)
{
    CK_SLOT_INFO info {};
    std::memset(info.slotDescription, ' ', sizeof info.slotDescription);
    std::memcpy(info.slotDescription, "Reader A  x", 11);
    EXPECT_EQ(CSlotContext::DescriptionOf(info), "Reader A  x");
    info.slotDescription[8] = 0;
    EXPECT_EQ(CSlotContext::DescriptionOf(info), "Reader A");
    EXPECT_EQ(
        CSlotContext::ContainerName("Reader A", { 0x0A, 0xB1, 0x00, 0xFF }), "\\\\.\\Reader A\\0AB100FF");
}

class AgentLogFile : public ::testing::Test {
protected:
    std::filesystem::path File() const { return root.Temp() / "vcpslog.txt"; }
    ScopedTestRoot root;
};

TEST_F(AgentLogFile, NothingIsWrittenWhenTheFileIsNotThere)
{
    AgentLog log;
    EXPECT_FALSE(log.IsOpen());
    log.Write("text");
    log.Close();
    EXPECT_FALSE(std::filesystem::exists(File()));
}

TEST_F(AgentLogFile, LinesFollowTheirFormats)
{
    std::ofstream(File()) << "earlier";
    {
        AgentLog log;
        ASSERT_TRUE(log.IsOpen());
        log.Write("CSlotContext :: Initialize - Enter");
        log.Write("Initialize Param :: ulSlotID", 0x2AUL);
        log.Close();
        log.Write("after close");
    }
    const std::string text = Slurp(File());
    // Each line's process number is a hex prefix or field; all must be the
    // same. Parsed by hand: GCC 12's <regex> does not build warning-free with
    // the sanitizers.
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) {
        lines.push_back(line);
    }
    ASSERT_EQ(lines.size(), 6u) << text;
    ASSERT_EQ(text.back(), '\n');
    EXPECT_EQ(lines[0], "earlier");
    unsigned long start = 0;
    int year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0, used = 0;
    ASSERT_EQ(std::sscanf(lines[1].c_str(), "*** LOG START %4d-%2d-%2d %2d:%2d:%2d %lx ***%n", &year, &month,
                  &day, &hour, &minute, &second, &start, &used),
        7)
        << lines[1];
    EXPECT_EQ(static_cast<size_t>(used), lines[1].size()) << lines[1];
    EXPECT_EQ(lines[2], "");
    const auto prefixed = [](const std::string& line, const std::string& rest) {
        const size_t colon = line.find(':');
        const std::string number = line.substr(0, colon);
        const bool hex = colon != std::string::npos && number.size() >= 4
            && number.find_first_not_of("0123456789ABCDEF") == std::string::npos;
        EXPECT_TRUE(hex && line.substr(colon) == rest) << line;
        return hex ? std::stoul(number, nullptr, 16) : 0UL;
    };
    EXPECT_EQ(prefixed(lines[3], ":00000000: CSlotContext :: Initialize - Enter"), start);
    EXPECT_EQ(prefixed(lines[4], ":00000001: Initialize Param :: ulSlotID: 2A"), start);
    unsigned long closing = 0;
    used = 0;
    ASSERT_EQ(std::sscanf(lines[5].c_str(), "*** DEBUG CLOSE %lx***%n", &closing, &used), 1) << lines[5];
    EXPECT_EQ(static_cast<size_t>(used), lines[5].size()) << lines[5];
    EXPECT_EQ(closing, start);
}

TEST_F(AgentLogFile, StopsAtTheLineLimit)
{
    std::ofstream(File()).flush();
    {
        AgentLog log(File(), 2);
        log.Write("one");
        log.Write("two");
        log.Write("three");
    }
    const std::string text = Slurp(File());
    EXPECT_NE(text.find(":00000001: two\n"), std::string::npos) << text;
    EXPECT_NE(text.find(":00000002: *** LOG STOPPED SIZE EXCEEDS LIMIT ***"), std::string::npos) << text;
    EXPECT_EQ(text.find("three"), std::string::npos) << text;
    EXPECT_EQ(text.find("DEBUG CLOSE"), std::string::npos) << text;
}

TEST_F(AgentLogFile, NeverWritesThroughALinkOrIntoAFileThatIsNotPlainOrNotOurs)
{
    const std::filesystem::path victim = root.Base() / "victim";
    std::ofstream(victim) << "theirs";
    std::filesystem::create_symlink(victim, File());
    {
        AgentLog log;
        EXPECT_FALSE(log.IsOpen());
        log.Write("text");
    }
    EXPECT_EQ(Slurp(victim), "theirs");

    std::filesystem::remove(File());
    ASSERT_EQ(::mkfifo(File().c_str(), 0600), 0);
    EXPECT_FALSE(AgentLog().IsOpen()) << "a FIFO was taken for the log";

    std::filesystem::remove(File());
    std::ofstream(File()).flush();
    if (::geteuid() != 0) {
        GTEST_SKIP() << "giving a file to another user needs root";
    }
    ASSERT_EQ(::chown(File().c_str(), 65534, 65534), 0);
    {
        AgentLog log;
        EXPECT_FALSE(log.IsOpen());
        log.Write("text");
    }
    EXPECT_EQ(std::filesystem::file_size(File()), 0U);
}

// A slot context over the software token, loaded in this process.
class AgentSlotContext : public ::testing::Test {
protected:
    void SetUp() override
    {
        std::ofstream(LogFile()).flush();
        token = MakeToken(root, "Reader A", { "01", "02", "03" });
        const char* bin = std::getenv("VELA5_BIN_DIR");
        m_library = ::dlopen((std::string(bin != nullptr ? bin : ".") + "/velapkcs11.so").c_str(), RTLD_NOW);
        ASSERT_NE(m_library, nullptr) << ::dlerror();
        auto* const getList = reinterpret_cast<CK_C_GetFunctionList>(::dlsym(m_library, "C_GetFunctionList"));
        ASSERT_EQ(getList(&p11), CKR_OK);
        ASSERT_EQ(p11->C_Initialize(nullptr), CKR_OK);
    }
    void TearDown() override
    {
        if (p11 != nullptr) {
            p11->C_Finalize(nullptr);
        }
    }
    std::filesystem::path LogFile() const { return root.Temp() / "vcpslog.txt"; }

    ScopedTestRoot root;
    TestToken token;
    CK_FUNCTION_LIST* p11 = nullptr;

private:
    void* m_library = nullptr;
};

TEST_F(AgentSlotContext, PropagationStatesMoveThroughTheCertificates)
{
    CSlotContext context(true, true, LogFile());
    ASSERT_EQ(context.Initialize(p11, 0), 0);
    EXPECT_EQ(context.Description(), "Reader A");
    ASSERT_EQ(context.RetrieveCerts(), 0);
    ASSERT_EQ(context.CertificateCount(), 3U);

    struct Step {
        unsigned long state;
        long result;
    };
    const long more = static_cast<long>(0x8009002A);
    const long invalid = static_cast<long>(0x80090027);
    for (const Step& step : { Step { PropLast, more }, Step { PropNext, invalid }, Step { PropPrevious, 0 },
             Step { PropNext, more }, Step { PropFirst, 0 }, Step { PropPrevious, invalid },
             Step { 4, invalid } }) {
        EXPECT_EQ(context.PropagateCert(step.state), step.result) << "state " << step.state;
    }
    // Last, previous and first each put one certificate into the store.
    EXPECT_EQ(StoreCertificates().size(), 3U);
}

TEST_F(AgentSlotContext, FailuresAnswerTheirCodesAndLogTheirLines)
{
    {
        CSlotContext context(true, true, LogFile());
        EXPECT_EQ(context.RetrieveCerts(), 5023);
        EXPECT_EQ(context.Initialize(nullptr, 0), static_cast<long>(0x80090027));
        EXPECT_EQ(context.Initialize(p11, 77), static_cast<long>(0x80090027));
        EXPECT_EQ(context.PropagateCert(PropFirst), static_cast<long>(0x8009002A));
    }
    TokenTool("token fail " + token.serial + " C_OpenSession 0x101");
    {
        CSlotContext context(true, true, LogFile());
        EXPECT_EQ(context.Initialize(p11, 0), static_cast<long>(0x80090010));
        EXPECT_EQ(context.RetrieveCerts(), 5023);
    }
    const std::string log = Slurp(LogFile());
    for (const char* line : { "RetrieveCerts - ERROR_INVALID_STATE - p11 is NULL",
             "CSlotContext :: Initialize - Error : NTE_INVALID_PARAMETER",
             "CSlotContext :: Initialize - C_GetSlotInfo Error: 3",
             "CSlotContext :: PropagateCert - No certificates to propagate",
             "CSlotContext :: Initialize - C_OpenSession Error: 101",
             "RetrieveCerts - ERROR_INVALID_STATE - m_hSession is NULL" }) {
        EXPECT_NE(log.find(line), std::string::npos) << line << "\n" << log;
    }
}

} // namespace
