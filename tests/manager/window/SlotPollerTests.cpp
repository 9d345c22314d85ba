// The poll step against the software token, with a recording stand-in for
// the window: what it notices, what it gathers and how it reports failures.
#include "WindowTestSupport.h"
#include "manager/host/TokenStatus.h"
#include "manager/window/SlotPoller.h"

#include <vector>

namespace {

class RecordingTarget final : public PollingTarget {
public:
    void SetBusy(bool busy) override { this->busy = busy; }
    void PostReadersGone() override { events.push_back("gone"); }
    void PostBeginRebuild() override { events.push_back("begin"); }
    void PostRebuild(SlotEnumeration enumeration) override
    {
        events.push_back("rebuild");
        last = std::move(enumeration);
    }
    void PostStepError(const wxString& text) override { events.push_back("error: " + text.ToStdString()); }
    void OnPollingThreadGone() override { }

    std::vector<std::string> events;
    SlotEnumeration last;
    bool busy = false;
};

class SlotPollerTests : public SoftTokenFixture {
protected:
    std::vector<std::string> Step()
    {
        m_target.events.clear();
        m_poller->RunStep();
        return m_target.events;
    }

    void SetUp() override
    {
        SoftTokenFixture::SetUp();
        m_poller = std::make_unique<SlotPoller>(*m_cryptoki, m_target);
    }

    RecordingTarget m_target;
    std::unique_ptr<SlotPoller> m_poller;
};

using Events = std::vector<std::string>;

} // namespace

TEST_F(SlotPollerTests, NoReaderAtStartIsReportedOnceAndThenQuiet)
{
    EXPECT_EQ(Step(), Events { "gone" });
    EXPECT_EQ(m_poller->GetSlotCount(), 0);
    EXPECT_EQ(Step(), Events {});
}

TEST_F(SlotPollerTests, ModuleErrorsEndTheStepWithTheirContext)
{
    Tool("reader add 'Reader A'");
    InsertToken("Reader A", "--model VELA5-64 --blank");
    Tool("reader fail 'Reader A' C_GetSlotList 0x30");
    const Events events = Step();
    ASSERT_EQ(events.size(), 1U);
    EXPECT_EQ(events[0],
        "error: Failed to get total number of slots. Some problem has occurred with the token and/or slot.");
    EXPECT_EQ(m_poller->GetSlotCount(), -1);

    // The next step after the module recovers enumerates as usual.
    Tool("reader fail 'Reader A' C_GetSlotList off");
    EXPECT_EQ(Step(), (Events { "begin", "rebuild" }));
}

TEST_F(SlotPollerTests, ASerialNumberFailureOtherThanDeviceErrorStopsTheRebuild)
{
    Tool("reader add 'Reader A'");
    const std::string serial = InsertToken("Reader A", "--model VELA5-64 --blank");
    Tool("token fail " + serial + " C_NRV_GetSerialNumber 0x05");
    const Events events = Step();
    ASSERT_EQ(events.size(), 2U);
    EXPECT_EQ(events[0], "begin");
    EXPECT_EQ(events[1], "error: Failed to get token serial number. An unrecoverable error has occurred.");
    EXPECT_FALSE(m_target.busy);
}

TEST_F(SlotPollerTests, ASerialNumberDeviceErrorMeansNoCard)
{
    Tool("reader add 'Reader A'");
    const std::string serial = InsertToken("Reader A", "--model VELA5-64 --blank");
    Tool("token fail " + serial + " C_NRV_GetSerialNumber 0x30");
    EXPECT_EQ(Step(), (Events { "begin", "rebuild" }));
    ASSERT_EQ(m_target.last.SlotCount(), 1U);
    EXPECT_TRUE(m_target.last.serials[0].empty());
}

// The status step's module side on each kind of token.
class TokenStatusTests : public SoftTokenFixture {
protected:
    TokenStatus Read(bool cardPresent = true) { return ReadTokenStatus(*m_cryptoki, 0, cardPresent); }
};

TEST_F(TokenStatusTests, AFailedTokenReadShowsNoTokenRows)
{
    Tool("reader add 'Reader A'");
    const std::string serial = InsertToken("Reader A", "--model VELA5-64 --blank");
    Tool("token fail " + serial + " C_GetTokenInfo 0x30");
    const TokenStatus status = Read();
    EXPECT_EQ(status.rows, TokenRows::None);
    EXPECT_FALSE(status.noCard);
    EXPECT_EQ(status.statusText,
        "Failed to get token information. Some problem has occurred with the token and/or slot.");
}

TEST_F(TokenStatusTests, ATokenThatNeverGetsReadyCostsAtMostTheBoundedWait)
{
    Tool("reader add 'Reader A'");
    const std::string serial = InsertToken("Reader A", "--model VELA5-64 --blank");
    Tool("token fail " + serial + " C_NRV_IsTokenReady 0x30");
    const auto start = std::chrono::steady_clock::now();
    const TokenStatus status = ReadTokenStatus(*m_cryptoki, 0, true, std::chrono::milliseconds(200));
    const auto elapsed = std::chrono::steady_clock::now() - start;
    EXPECT_LT(elapsed, std::chrono::seconds(2));
    EXPECT_GE(elapsed, std::chrono::milliseconds(200));
    EXPECT_EQ(status.rows, TokenRows::NotInitialized);
}
