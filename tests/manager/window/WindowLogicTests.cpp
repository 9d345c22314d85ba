// The main window's decisions without a display: version and flag texts,
// token classification, the action table, slot records across a
// re-enumeration, the information rows and the middleware version text.
#include "manager/host/SlotText.h"
#include "manager/host/TokenStatus.h"
#include "manager/window/AboutDlg.h"
#include "manager/window/ActionStates.h"
#include "manager/window/AutoLogout.h"
#include "manager/window/SlotEnumeration.h"

#include <cstring>
#include <gtest/gtest.h>

namespace {

CK_VERSION Version(int major, int minor)
{
    return CK_VERSION { static_cast<CK_BYTE>(major), static_cast<CK_BYTE>(minor) };
}

DisplayedToken Token(const char* model, CK_ULONG minPin, CK_ULONG maxPin)
{
    DisplayedToken token;
    token.initialized = true;
    token.model = model;
    token.minPinLen = minPin;
    token.maxPinLen = maxPin;
    ClassifyToken(token);
    return token;
}

SlotRecord PresentRecord(bool loggedIn = false)
{
    SlotRecord record;
    record.slot = 0;
    record.cardPresent = true;
    record.tokenSupported = true;
    record.loggedIn = loggedIn;
    record.serialNumber = "A1";
    return record;
}

} // namespace

TEST(SlotTextTests, VersionTextAlwaysHasTwoDecimals)
{
    EXPECT_EQ(FormatVersionText(Version(2, 1)), "2.01");
    EXPECT_EQ(FormatVersionText(Version(1, 10)), "1.10");
    EXPECT_EQ(FormatVersionText(Version(3, 0)), "3.00");
    EXPECT_EQ(FormatVersionText(Version(0, 99)), "0.99");
    EXPECT_EQ(FormatVersionText(Version(12, 34)), "12.34");
}

TEST(SlotTextTests, SlotFlagsAreNamedInOrderAndUnknownBitsIgnored)
{
    EXPECT_EQ(GetSlotFlagsText(0), "");
    EXPECT_EQ(GetSlotFlagsText(CKF_HW_SLOT | CKF_TOKEN_PRESENT), "CKF_TOKEN_PRESENT, CKF_HW_SLOT");
    EXPECT_EQ(GetSlotFlagsText(CKF_REMOVABLE_DEVICE | 0x100), "CKF_REMOVABLE_DEVICE");
}

TEST(SlotTextTests, FixedFieldsLoseTrailingBlanksAndStopAtNul)
{
    CK_UTF8CHAR padded[16];
    std::memset(padded, ' ', sizeof padded);
    std::memcpy(padded, "VELA5-64", 8);
    EXPECT_EQ(TrimmedField(padded, sizeof padded), "VELA5-64");

    CK_UTF8CHAR terminated[16] = { 'A', ' ', 'B', 0, 'x', 'x' };
    EXPECT_EQ(TrimmedField(terminated, sizeof terminated), "A B");

    CK_UTF8CHAR blank[8];
    std::memset(blank, ' ', sizeof blank);
    EXPECT_EQ(TrimmedField(blank, sizeof blank), "");
}

TEST(ClassifyTokenTests, SixtyFourBitModelsTakeFourToEight)
{
    EXPECT_TRUE(Token("VELA5-64", 4, 8).ours);
    EXPECT_TRUE(Token("SGL64", 4, 8).ours);
    EXPECT_FALSE(Token("VELA5-64", 3, 8).ours);
    EXPECT_FALSE(Token("VELA5-64", 4, 9).ours);
    EXPECT_FALSE(Token("SGL64", 4, 16).ours);
}

TEST(ClassifyTokenTests, OtherModelsTakeUpToSixteenButNeverMinimumZero)
{
    EXPECT_TRUE(Token("XYZ", 4, 16).ours);
    EXPECT_TRUE(Token("VELA5-32", 1, 16).ours);
    EXPECT_FALSE(Token("XYZ", 0, 8).ours);
    EXPECT_FALSE(Token("VELA5-32", 4, 17).ours);
    EXPECT_FALSE(Token("XYZ", 10, 6).ours) << "minimum above maximum";
}

TEST(DecideActionsTests, UnsupportedOrAbsentTokenOffersNoTokenAction)
{
    SlotRecord unsupported = PresentRecord();
    unsupported.tokenSupported = false;
    for (const SlotRecord& record : { unsupported, SlotRecord() }) {
        const ActionStates states = DecideActions(true, record, DisplayedToken(), true);
        EXPECT_TRUE(states.slotTree);
        EXPECT_TRUE(states.commonGroup);
        EXPECT_TRUE(states.saveDetails);
        EXPECT_FALSE(states.initialize || states.login || states.changeUserPIN || states.renameToken
            || states.changeSOPIN || states.unlockUserPIN || states.certificateManager);
    }
    EXPECT_FALSE(DecideActions(true, SlotRecord(), DisplayedToken(), false).saveDetails);
}

TEST(DecideActionsTests, NotInitializedAndForeignTokensOfferOnlyInitialize)
{
    DisplayedToken blank;
    const DisplayedToken foreign = Token("VELA5-64", 4, 12);
    ASSERT_FALSE(foreign.ours);
    for (const DisplayedToken& token : { blank, foreign }) {
        const ActionStates states = DecideActions(true, PresentRecord(), token, true);
        EXPECT_TRUE(states.initialize);
        EXPECT_FALSE(states.reinitializeLabel);
        EXPECT_FALSE(states.login || states.changeUserPIN || states.renameToken || states.changeSOPIN
            || states.unlockUserPIN || states.certificateManager);
    }
}

TEST(DecideActionsTests, OurTokenFollowsTheLoginState)
{
    const DisplayedToken ours = Token("VELA5-64", 4, 8);

    const ActionStates out = DecideActions(true, PresentRecord(false), ours, true);
    EXPECT_TRUE(out.initialize && out.reinitializeLabel);
    EXPECT_TRUE(out.login);
    EXPECT_FALSE(out.logoutLabel);
    EXPECT_FALSE(out.changeUserPIN || out.renameToken || out.certificateManager);
    EXPECT_TRUE(out.changeSOPIN && out.unlockUserPIN);

    const ActionStates in = DecideActions(true, PresentRecord(true), ours, true);
    EXPECT_TRUE(in.initialize && in.reinitializeLabel);
    EXPECT_TRUE(in.login && in.logoutLabel);
    EXPECT_TRUE(in.changeUserPIN && in.renameToken && in.changeSOPIN && in.certificateManager);
    EXPECT_FALSE(in.unlockUserPIN);
}

TEST(BuildSlotRecordsTests, RecordsKeepTheSlotIdsTheModuleListed)
{
    // A standard module's slot IDs are not positions.
    const SlotTable table = BuildSlotRecords(SlotTable {}, { 1835288112, 7 }, { "S-1", "" });
    EXPECT_EQ(table[0].slot, 1835288112U);
    EXPECT_EQ(table[1].slot, 7U);
    EXPECT_FALSE(table[0].IsFree());
    EXPECT_TRUE(table[2].IsFree());
}

TEST(BuildSlotRecordsTests, LoginFollowsTheSerialNumberToAnyPosition)
{
    SlotTable old;
    old[0].slot = 0;
    old[0].cardPresent = true;
    old[0].serialNumber = "S-1";
    old[0].loggedIn = true;
    old[0].cachedPIN.Keep("4321");
    old[0].tokenSupported = true;
    old[0].slotDescription = "Reader 0";
    old[2].serialNumber = "S-2"; // a free record whose serial is stale
    old[2].loggedIn = true;

    const SlotTable table = BuildSlotRecords(old, { 0, 1, 2 }, { "", "S-1", "S-2" });
    EXPECT_EQ(table[0].slot, 0U);
    EXPECT_FALSE(table[0].cardPresent);
    EXPECT_FALSE(table[0].loggedIn);
    EXPECT_TRUE(table[0].cachedPIN.empty());

    EXPECT_EQ(table[1].slot, 1U);
    EXPECT_TRUE(table[1].cardPresent);
    EXPECT_TRUE(table[1].loggedIn);
    EXPECT_EQ(table[1].cachedPIN.Reveal(), "4321");
    // Only the login travels; the rest is learnt again.
    EXPECT_FALSE(table[1].tokenSupported);
    EXPECT_TRUE(table[1].slotDescription.empty());

    EXPECT_TRUE(table[2].cardPresent);
    EXPECT_FALSE(table[2].loggedIn);

    for (std::size_t p = 3; p < table.size(); ++p) {
        EXPECT_TRUE(table[p].IsFree()) << p;
    }
}

TEST(BuildInfoRowsTests, FifteenRowsInOrderForAnInitializedToken)
{
    SlotRecord record = PresentRecord();
    record.slotDescription = "Reader 0";
    record.slotManufacturer = "Maker";
    record.slotFlags = "CKF_TOKEN_PRESENT";
    TokenStatus status;
    status.rows = TokenRows::Initialized;
    status.token = Token("VELA5-64", 4, 8);
    status.token.label = "Mine";
    status.token.maxPinLength = "8";
    status.token.hardwareVersion = "1.00";

    const std::vector<InfoRow> rows = BuildInfoRows(record, status);
    const char* expected[] = { "Slot Description", "Slot Manufacturer", "Slot Flags", "Token Label",
        "Token Manufacturer", "Token Model", "Token Serial Number", "Token Flags", "Maximum PIN Length",
        "Minimum PIN Length", "Total Public Space", "Free Public Space", "Total Private Space",
        "Free Private Space", "Token Hardware Version" };
    ASSERT_EQ(rows.size(), std::size(expected));
    for (std::size_t i = 0; i < rows.size(); ++i) {
        EXPECT_EQ(rows[i].first, expected[i]) << i;
    }
    EXPECT_EQ(rows[0].second, "Reader 0");
    EXPECT_EQ(rows[3].second, "Mine");
    EXPECT_EQ(rows[5].second, "VELA5-64");
    EXPECT_EQ(rows[8].second, "8");
    EXPECT_EQ(rows[14].second, "1.00");
}

TEST(BuildInfoRowsTests, TokenRowsCarryTheReasonOrAreAbsent)
{
    const SlotRecord record = PresentRecord();
    TokenStatus status;
    status.rows = TokenRows::NotSupported;
    std::vector<InfoRow> rows = BuildInfoRows(record, status);
    ASSERT_EQ(rows.size(), 15U);
    for (std::size_t i = 3; i < rows.size(); ++i) {
        EXPECT_EQ(rows[i].second, "<Token is not supported.>") << i;
    }

    status.rows = TokenRows::NotInitialized;
    status.token.model = "VELA5-64";
    rows = BuildInfoRows(record, status);
    ASSERT_EQ(rows.size(), 15U);
    for (std::size_t i = 3; i < rows.size(); ++i) {
        EXPECT_EQ(rows[i].second, "<Token has not been initialized.>") << i;
    }

    status.rows = TokenRows::None;
    EXPECT_EQ(BuildInfoRows(record, status).size(), 3U);
}

TEST(AboutVersionTests, MiddlewareVersionIsCutToNineCharacters)
{
    EXPECT_EQ(AboutDlg::FormatMiddlewareVersion("1.2.3"), " v1.2.3");
    EXPECT_EQ(AboutDlg::FormatMiddlewareVersion("1.20.345.6789"), " v1.20.34");
    EXPECT_EQ(AboutDlg::FormatMiddlewareVersion(std::string("4.5\0junk", 8)), " v4.5");
}

TEST(AutoLogoutTests, DueOnlyWhenOnAndTheWholeIdleTimeHasPassed)
{
    using namespace std::chrono;
    const AutoLogout::Clock::time_point input {};
    struct Case {
        bool enabled;
        long minutes;
        seconds idle;
        bool due;
    };
    const Case cases[] = {
        { true, 1, seconds(59), false },
        { true, 1, seconds(60), true },
        { true, 5, seconds(299), false },
        { true, 5, seconds(300), true },
        { false, 1, hours(5), false },
        { true, 0, hours(5), false }, // a damaged value never logs out at once
        { true, 100, minutes(100), true },
    };
    for (const Case& c : cases) {
        EXPECT_EQ(AutoLogout::IsDue(c.enabled, c.minutes, minutes(1), input, input + c.idle), c.due)
            << c.enabled << " " << c.minutes << " " << c.idle.count();
    }
}
