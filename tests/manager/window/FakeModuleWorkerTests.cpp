// The poll step's and the initialization worker's recovery rules, against the
// fake module, which can answer one particular call with any result.
#include "manager/core/NRVCMUCryptoki.h"
#include "manager/core/NRVCMULog.h"
#include "manager/window/MainInitializeTokenThread.h"
#include "manager/window/SlotPoller.h"
#include "tests/support/FakeModuleControl.h"
#include "tests/support/ScopedTestRoot.h"

#include <gtest/gtest.h>
#include <string>
#include <vector>

namespace {

class CountingTarget final : public PollingTarget {
public:
    void SetBusy(bool) override { }
    void PostReadersGone() override { events.push_back("gone"); }
    void PostBeginRebuild() override { events.push_back("begin"); }
    void PostRebuild(SlotEnumeration) override { events.push_back("rebuild"); }
    void PostStepError(const wxString&) override { events.push_back("error"); }
    void OnPollingThreadGone() override { }

    std::vector<std::string> events;
};

class FakeModuleWorkerTests : public testing::Test {
protected:
    void SetUp() override
    {
        NRVCMULog::Relocate();
        ASSERT_TRUE(m_cryptoki.CheckCryptokiLibrary());
        ASSERT_EQ(m_cryptoki.CheckFunctionList(), CKR_OK);
        ASSERT_EQ(m_cryptoki.Initialize(), CKR_OK);
        m_fake.Reset();
    }
    void TearDown() override { m_cryptoki.Finalize(); }

    std::size_t Calls(const std::string& function) const
    {
        const std::string journal = m_fake.Journal();
        std::size_t count = 0;
        for (std::size_t at = journal.find(function + '('); at != std::string::npos;
             at = journal.find(function + '(', at + 1)) {
            ++count;
        }
        return count;
    }

    ScopedTestRoot m_root;
    NRVCMUCryptoki m_cryptoki { FakePath("fake_module.so") };
    FakeModuleControl m_fake { FakePath("fake_module.so") };
};

} // namespace

TEST_F(FakeModuleWorkerTests, ASlotListThatGrewBetweenCountAndListIsReadAgainNextStep)
{
    CountingTarget target;
    SlotPoller poller(m_cryptoki, target);
    m_fake.SetResult("C_GetSlotList(0,list)", CKR_BUFFER_TOO_SMALL);
    poller.RunStep();
    EXPECT_EQ(target.events, (std::vector<std::string> { "begin", "error" }));

    // The counts are the same as before the failure, yet nothing was listed.
    m_fake.Reset();
    target.events.clear();
    poller.RunStep();
    EXPECT_EQ(target.events, (std::vector<std::string> { "begin", "rebuild" }));
}

TEST_F(FakeModuleWorkerTests, InitializationClosesSessionsAndRetriesUpToItsBound)
{
    MainInitializeTokenThread::Request request;
    request.slotID = 4;
    request.enumeratedSlotID = 4;
    request.userPIN = "1234";
    request.soPIN = "87654321";
    m_fake.SetResult("C_NRV_InitToken", CKR_SESSION_EXISTS);
    const InitTokenOutcome outcome = MainInitializeTokenThread::InitializeToken(m_cryptoki, request);
    EXPECT_EQ(outcome.rv, CKR_SESSION_EXISTS);
    const std::size_t attempts = MainInitializeTokenThread::kMaxSessionExistsRetries + 1;
    EXPECT_EQ(Calls("C_NRV_InitToken"), attempts) << "the first try and every retry";
    EXPECT_EQ(Calls("C_CloseAllSessions"), attempts);
}
