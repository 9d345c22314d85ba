// The agent as a process beside the token tool and the store on one machine
// root: what reaches the store and when, what leaves it, and how the agent
// answers the manager's commands, a second instance, signals and a crash.
#include "AgentHarness.h"
#include "certprop/Agent.h"
#include "platform/certstore/Store.h"
#include "platform/shared_word/SharedWord.h"
#include "tests/support/RunProgram.h"

#include <csignal>
#include <cstdio>
#include <fstream>
#include <gtest/gtest.h>
#include <iterator>
#include <sstream>
#include <thread>
#include <unistd.h>

using namespace vela5::platform;

using namespace std::chrono_literals;

namespace {

// What a timed step may take beyond its poll interval.
constexpr auto kMargin = 1500ms;
// How long a wait for something that must happen goes on, for loaded machines.
constexpr auto kPatience = 5s;
// Long enough for several polls: what has not happened by then will not.
constexpr auto kSeveralPolls = 5 * kTestPollInterval;

class Agent : public ::testing::Test {
protected:
    void SetUp() override { std::ofstream(LogFile()).flush(); }

    std::filesystem::path LogFile() const { return root.Temp() / "vcpslog.txt"; }
    std::string Log() const
    {
        std::ifstream in(LogFile());
        return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    }
    size_t LogCount(const std::string& text) const
    {
        const std::string log = Log();
        size_t count = 0;
        for (size_t at = log.find(text); at != std::string::npos; at = log.find(text, at + 1)) {
            ++count;
        }
        return count;
    }
    bool WaitForLog(const std::string& text, size_t times = 1) const
    {
        return WaitFor([&] { return LogCount(text) >= times; }, kSeveralPolls + kPatience);
    }

    // The manager's side of VCPSFLAG, once the agent has made it.
    SharedWord::Word OpenFlag() const
    {
        SharedWord::Word word;
        EXPECT_TRUE(WaitFor(
            [&] { return SharedWord::Word::Open("VCPSFLAG", SharedWord::Access::ReadWrite, word) == 0; },
            3s));
        return word;
    }
    static void Command(SharedWord::Word& word, uint16_t command)
    {
        ASSERT_EQ(word.WriteHalf(SharedWord::Half::High, command), 0);
    }
    static bool Acknowledged(const SharedWord::Word& word)
    {
        return WaitFor([&] { return (word.Read() & 0xFFFF) == 1; }, kSeveralPolls + kPatience);
    }

    static bool WaitInStore(const std::vector<uint8_t>& der)
    {
        return WaitFor([&] { return StoreHolds(der); }, kSeveralPolls + kPatience);
    }
    static bool WaitGone(const std::vector<uint8_t>& der)
    {
        return WaitFor([&] { return !StoreHolds(der); }, kSeveralPolls + kPatience);
    }
    static void Eject(const TestToken& token) { TokenTool("token eject '" + token.reader + "'"); }
    static void Insert(const TestToken& token)
    {
        TokenTool("token insert " + token.serial + " '" + token.reader + "'");
    }

    ScopedTestRoot root;
};

TEST_F(Agent, InsertedTokenCertificatesReachTheStoreBoundToTheMakersProviderWithinOnePoll)
{
    const TestToken token = MakeToken(root, "Reader A", { "0A0B", "C1" });
    Eject(token);
    AgentProcess agent;
    OpenFlag();
    std::this_thread::sleep_for(kTestPollInterval);

    const auto inserted = std::chrono::steady_clock::now();
    Insert(token);
    ASSERT_TRUE(WaitFor([&] { return StoreCertificates().size() == 2; }, kSeveralPolls + kPatience));
    EXPECT_LE(std::chrono::steady_clock::now() - inserted, kTestPollInterval + kMargin);

    for (size_t i = 0; i < 2; ++i) {
        CertStore::Certificate stored;
        CertStore::Store store;
        ASSERT_EQ(CertStore::Store::OpenSystem("MY", store), 0);
        CertStore::Certificate wanted;
        CertStore::Certificate::Create(token.certificates[i].data(), token.certificates[i].size(), wanted);
        ASSERT_EQ(store.FindByThumbprint(wanted.Thumbprint(), stored), 0);
        CertStore::KeyProvInfo info;
        ASSERT_TRUE(stored.GetKeyProvInfo(info));
        EXPECT_EQ(info,
            (CertStore::KeyProvInfo { "\\\\.\\Reader A\\" + token.ids[i], "Nurvon CSP v4.0", 1, 0, 1 }));
        uint32_t keySpec = 0;
        EXPECT_TRUE(stored.GetKeySpec(keySpec));
        EXPECT_EQ(keySpec, 1U);
    }
    const ProgramResult list = RunProgram("vela5-store", "list");
    EXPECT_NE(
        list.out.find(R"(provider "Nurvon CSP v4.0", container "\\.\Reader A\0A0B")"), std::string::npos)
        << list.out;
    EXPECT_NE(list.out.find(R"(provider "Nurvon CSP v4.0", container "\\.\Reader A\C1")"), std::string::npos)
        << list.out;
}

TEST_F(Agent, EjectedTokenTakesItsCertificatesOutOfTheStore)
{
    const TestToken token = MakeToken(root, "Reader A", { "01", "02" });
    AgentProcess agent;
    ASSERT_TRUE(WaitInStore(token.certificates[1]));
    Eject(token);
    EXPECT_TRUE(WaitFor([] { return StoreCertificates().empty(); }, kSeveralPolls + kPatience));
}

TEST_F(Agent, RemovalFollowsTheCaseSensitiveArgument)
{
    struct Case {
        const char* argument;
        bool removes;
    };
    for (const Case& c : { Case { "NREMOVE", false }, Case { "nremove", true }, Case { "NREMOVEX", true },
             Case { "", true } }) {
        SCOPED_TRACE(c.argument);
        ScopedTestRoot caseRoot;
        std::ofstream(caseRoot.Temp() / "vcpslog.txt").flush();
        const TestToken token = MakeToken(caseRoot, "Reader A", { "01" });
        AgentProcess agent(c.argument);
        ASSERT_TRUE(WaitInStore(token.certificates[0]));
        Eject(token);
        // The context is gone once its log is closed; what it removes is gone by then.
        ASSERT_TRUE(WaitFor(
            [&] {
                std::ifstream in(caseRoot.Temp() / "vcpslog.txt");
                const std::string log((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
                return log.find("*** DEBUG CLOSE") != std::string::npos;
            },
            kSeveralPolls + kPatience));
        EXPECT_EQ(StoreHolds(token.certificates[0]), !c.removes);
    }
}

TEST_F(Agent, EjectingOneOfTwoTokensDestroysOnlyItsContext)
{
    const TestToken first = MakeToken(root, "Reader A", { "0A" });
    const TestToken second = MakeToken(root, "Reader B", { "0B" });
    AgentProcess agent;
    ASSERT_TRUE(WaitInStore(first.certificates[0]));
    ASSERT_TRUE(WaitInStore(second.certificates[0]));
    Eject(first);
    ASSERT_TRUE(WaitGone(first.certificates[0]));
    std::this_thread::sleep_for(2 * kTestPollInterval);
    EXPECT_TRUE(StoreHolds(second.certificates[0]));
    EXPECT_EQ(LogCount("*** DEBUG CLOSE"), 1U) << Log();
}

TEST_F(Agent, TwelveCertificatesPropagateOnlyTheFirstTen)
{
    std::vector<std::string> ids;
    for (int i = 1; i <= 12; ++i) {
        char hex[3];
        std::snprintf(hex, sizeof hex, "%02X", i);
        ids.push_back(hex);
    }
    const TestToken token = MakeToken(root, "Reader A", ids);
    AgentProcess agent;
    ASSERT_TRUE(WaitForLog("CSlotContext :: PropagateCert - Exit", 10));
    std::this_thread::sleep_for(2 * kTestPollInterval);
    EXPECT_EQ(StoreCertificates().size(), 10U);
    for (size_t i = 0; i < 12; ++i) {
        EXPECT_EQ(StoreHolds(token.certificates[i]), i < 10) << "certificate " << i + 1;
    }
}

TEST_F(Agent, EmptyIdSkipsItsCertificateAndEndsThatRun)
{
    const TestToken token = MakeToken(root, "Reader A", { "01" });
    TestCertificateFields fields;
    fields.subject = "/CN=No ID";
    const std::vector<uint8_t> withoutId = MakeCertificate(fields, MakeRsaKey());
    AddCertificateWithEmptyId(token, withoutId);
    fields.subject = "/CN=After";
    const std::vector<uint8_t> after = MakeCertificate(fields, MakeRsaKey());
    WriteBytes(root.Temp() / "after.cer", after);
    TokenTool("object add-cert " + token.serial + " '" + (root.Temp() / "after.cer").string()
        + "' --id 03 --pin " + kUserPin);

    AgentProcess agent;
    // The empty entry fails its property with ERROR_INVALID_PARAMETER, ending the run.
    ASSERT_TRUE(WaitForLog("CSlotContext :: PropagateCert - CertSetCertificateContextProperty: 57")) << Log();
    EXPECT_NE(
        Log().find("CSlotContext :: RetrieveCerts - Certificate CKA_ID length is 0"), std::string::npos);
    EXPECT_TRUE(StoreHolds(token.certificates[0]));
    EXPECT_FALSE(StoreHolds(withoutId));
    EXPECT_FALSE(StoreHolds(after));
}

TEST_F(Agent, NothingPropagatesWhilePausedAndTheFirstPollAfterContinueDoes)
{
    const TestToken token = MakeToken(root, "Reader A", { "01" });
    Eject(token);
    AgentProcess agent;
    SharedWord::Word flag = OpenFlag();
    EXPECT_EQ(flag.Read(), 0x10000000U);
    Command(flag, 0x1001);
    ASSERT_TRUE(Acknowledged(flag));
    Insert(token);
    std::this_thread::sleep_for(kSeveralPolls);
    EXPECT_TRUE(StoreCertificates().empty());
    EXPECT_EQ(Log().find("Initialize - Enter"), std::string::npos) << "the token was touched while paused";

    Command(flag, 0x1000);
    EXPECT_TRUE(WaitFor([&] { return StoreHolds(token.certificates[0]); }, kTestPollInterval + kMargin));
}

TEST_F(Agent, StopCommandIsAcknowledgedAndEndsTheAgentWithItsRemovals)
{
    const TestToken token = MakeToken(root, "Reader A", { "01" });
    AgentProcess agent;
    SharedWord::Word flag = OpenFlag();
    ASSERT_TRUE(WaitInStore(token.certificates[0]));
    Command(flag, 0x1100);
    int status = -1;
    ASSERT_TRUE(agent.WaitExit(kSeveralPolls + kPatience, status));
    EXPECT_EQ(status, 0);
    EXPECT_EQ(flag.Read(), 0x11000001U);
    EXPECT_FALSE(StoreHolds(token.certificates[0]));
    SharedWord::Word gone;
    EXPECT_EQ(SharedWord::Word::Open("VCPSFLAG", SharedWord::Access::Read, gone), SharedWord::NotFound);
}

TEST_F(Agent, SecondInstanceLeavesAtOnceWithoutTouchingTheFlag)
{
    AgentProcess first;
    SharedWord::Word flag = OpenFlag();
    Command(flag, 0x1001);
    ASSERT_TRUE(Acknowledged(flag));

    AgentProcess second;
    int status = -1;
    ASSERT_TRUE(second.WaitExit(10s, status));
    EXPECT_EQ(status, 0);
    SharedWord::Word reopened;
    ASSERT_EQ(SharedWord::Word::Open("VCPSFLAG", SharedWord::Access::Read, reopened), 0);
    EXPECT_EQ(reopened.Read(), 0x10010001U);
    EXPECT_FALSE(first.WaitExit(0ms, status)) << "the first instance ended";
}

TEST_F(Agent, RunsAtTheNiceValueOfItsProcessorCount)
{
    AgentProcess agent;
    OpenFlag();
    std::ifstream stat("/proc/" + std::to_string(agent.Pid()) + "/stat");
    const std::string line((std::istreambuf_iterator<char>(stat)), std::istreambuf_iterator<char>());
    // Field 19 of the line, the 17th after the parenthesized command name.
    std::istringstream fields(line.substr(line.rfind(')') + 2));
    std::string field;
    for (int i = 0; i < 17; ++i) {
        fields >> field;
    }
    EXPECT_EQ(std::stoi(field), CertProp::PollSettingsFor(::sysconf(_SC_NPROCESSORS_ONLN)).nice) << line;
}

TEST_F(Agent, SameKeyCertificateOfAnotherProviderSurvivesRemoval)
{
    const TestToken token = MakeToken(root, "Reader A", { "01" });
    CertStore::Store store;
    ASSERT_EQ(CertStore::Store::OpenSystem("MY", store), 0);
    CertStore::Certificate propagated;
    CertStore::Certificate::Create(token.certificates[0].data(), token.certificates[0].size(), propagated);
    // The user's certificates come first in the store, so a removal by public
    // key alone would meet them before the propagated one.
    std::vector<std::vector<uint8_t>> users;
    for (const char* provider : { "Other CSP", "" }) {
        TestCertificateFields fields;
        fields.subject = std::string("/CN=Kept for ") + provider;
        CertStore::Certificate certificate;
        std::vector<uint8_t> der;
        do {
            ++fields.serial;
            der = MakeCertificate(fields, token.keys[0]);
            ASSERT_EQ(CertStore::Certificate::Create(der.data(), der.size(), certificate), 0);
        } while (certificate.Thumbprint() > propagated.Thumbprint());
        users.push_back(der);
        if (*provider != '\0') {
            certificate.SetKeyProvInfo({ "\\\\.\\Reader A\\01", provider, 1, 0, 1 });
        }
        ASSERT_EQ(store.Add(certificate, CertStore::AddNew), 0);
    }

    AgentProcess agent;
    ASSERT_TRUE(WaitInStore(token.certificates[0]));
    Eject(token);
    ASSERT_TRUE(WaitGone(token.certificates[0]));
    EXPECT_TRUE(StoreHolds(users[0]));
    EXPECT_TRUE(StoreHolds(users[1]));
}

TEST_F(Agent, KilledAgentStartedAgainRecoversLockAndFlag)
{
    const TestToken first = MakeToken(root, "Reader A", { "01" });
    TestToken second;
    {
        AgentProcess killed;
        SharedWord::Word flag = OpenFlag();
        ASSERT_TRUE(WaitInStore(first.certificates[0]));
        Command(flag, 0x1001);
        ASSERT_TRUE(Acknowledged(flag));
        // Made while the agent looks away: it must meet the token whole.
        second = MakeToken(root, "Reader B", { "02" });
        Eject(second);
        killed.Signal(SIGKILL);
        int status = 0;
        ASSERT_TRUE(killed.WaitExit(2s, status));
        EXPECT_EQ(status, -SIGKILL);
    }
    AgentProcess restarted;
    EXPECT_TRUE(WaitFor(
        [] {
            SharedWord::Word word;
            return SharedWord::Word::Open("VCPSFLAG", SharedWord::Access::Read, word) == 0
                && word.Read() == 0x10000000U;
        },
        3s))
        << "the dead agent's paused flag is still there";
    Insert(second);
    EXPECT_TRUE(WaitInStore(second.certificates[0]));
}

TEST_F(Agent, ConsoleSignalsEndTheAgentWithItsRemovals)
{
    for (const int signal : { SIGINT, SIGTERM, SIGHUP }) {
        SCOPED_TRACE(signal);
        ScopedTestRoot caseRoot;
        const TestToken token = MakeToken(caseRoot, "Reader A", { "01" });
        AgentProcess agent;
        ASSERT_TRUE(WaitInStore(token.certificates[0]));
        agent.Signal(signal);
        int status = -1;
        ASSERT_TRUE(agent.WaitExit(kSeveralPolls + kPatience, status));
        EXPECT_EQ(status, 0);
        EXPECT_FALSE(StoreHolds(token.certificates[0]));
    }
}

TEST_F(Agent, FailedModuleStartEndsQuietlyWithoutTheFlag)
{
    struct Case {
        const char* name;
        std::string module;
        bool damageState;
    };
    const std::string fakes = VELA5_TEST_FAKES_DIR;
    for (const Case& c : { Case { "missing module", (root.Base() / "absent.so").string(), false },
             Case { "no C_GetFunctionList", fakes + "/fake_no_function_list.so", false },
             Case { "C_Initialize fails", "", true } }) {
        SCOPED_TRACE(c.name);
        ScopedTestRoot caseRoot;
        if (c.damageState) {
            std::filesystem::create_directories(caseRoot.Root() / "tokens");
            std::ofstream(caseRoot.Root() / "tokens" / "state.db") << "not a token state";
        }
        std::map<std::string, std::string> environment;
        if (!c.module.empty()) {
            environment["VELA5_PKCS11_MODULE"] = c.module;
        }
        AgentProcess agent("", environment);
        int status = -1;
        ASSERT_TRUE(agent.WaitExit(2s, status));
        EXPECT_EQ(status, 0);
        SharedWord::Word word;
        EXPECT_EQ(SharedWord::Word::Open("VCPSFLAG", SharedWord::Access::Read, word), SharedWord::NotFound);
    }
}

TEST_F(Agent, AnotherModuleIsUsedWithStandardCallsOnly)
{
    // Its list ends after the standard entries: a vendor call would crash.
    AgentProcess agent(
        "", { { "VELA5_PKCS11_MODULE", std::string(VELA5_TEST_FAKES_DIR) + "/fake_standard_module.so" } });
    SharedWord::Word flag = OpenFlag();
    ASSERT_TRUE(WaitForLog("CSlotContext :: RetrieveCerts - Trying to find certificate objects", 2)) << Log();
    Command(flag, 0x1100);
    int status = -1;
    ASSERT_TRUE(agent.WaitExit(kSeveralPolls + kPatience, status));
    EXPECT_EQ(status, 0);
    EXPECT_EQ(Log().find("Refreshing token objects"), std::string::npos);
}

} // namespace
