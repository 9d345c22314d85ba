// What the settings dialog decides, without a display: the acceptance checks
// in order with the page and field they select, what the pages write, the
// minutes field, the label cut and the randomization boxes.
#include "manager/settings/SettingsDlgRules.h"

#include <gtest/gtest.h>
#include <wx/defs.h>

namespace {

PinPageState DefaultPin(const wxString& value)
{
    PinPageState pin;
    pin.type = 0;
    pin.value = value;
    return pin;
}

PinPageState ManualPin(long minLength, long maxLength)
{
    PinPageState pin;
    pin.type = 1;
    pin.minLength = minLength;
    pin.maxLength = maxLength;
    return pin;
}

PinPageState RandomPin(bool numbers, bool upper, bool lower, bool symbols)
{
    PinPageState pin;
    pin.type = 2;
    pin.useNumbers = numbers;
    pin.useUppercase = upper;
    pin.useLowercase = lower;
    pin.useSymbols = symbols;
    return pin;
}

TokenPageState Label(const wxString& label)
{
    return { false, label, false, 10 };
}

const TokenPageState kDefaultLabel { true, "", false, 10 };
const PinPageState kGoodPin = DefaultPin("73920518");

} // namespace

TEST(SettingsChecks, FirstFailureGivesItsTextPageAndField)
{
    struct Case {
        const char* name;
        TokenPageState token;
        PinPageState user;
        PinPageState so;
        bool accepted;
        SettingsPage page;
        SettingsField focus;
        wxString message;
    };
    const Case cases[] = {
        { "all good", Label("My Token"), kGoodPin, kGoodPin, true, SettingsPage::Application,
            SettingsField::None, "" },
        { "default label box skips the label", kDefaultLabel, kGoodPin, kGoodPin, true,
            SettingsPage::Application, SettingsField::None, "" },
        { "empty label", Label(""), kGoodPin, kGoodPin, false, SettingsPage::Token, SettingsField::TokenLabel,
            "Invalid token label." },
        { "control character", Label("a\tb"), kGoodPin, kGoodPin, false, SettingsPage::Token,
            SettingsField::TokenLabel, "Invalid token label." },
        { "only blanks", Label("   "), kGoodPin, kGoodPin, false, SettingsPage::Token,
            SettingsField::TokenLabel, "Invalid token label." },
        { "one trailing blank", Label("abc "), kGoodPin, kGoodPin, false, SettingsPage::Token,
            SettingsField::TokenLabel, "Token label should not end with a white-space." },
        { "two trailing blanks", Label("abc  "), kGoodPin, kGoodPin, false, SettingsPage::Token,
            SettingsField::TokenLabel, "Token label should not end with white-spaces." },
        { "label before User PIN", Label(""), DefaultPin("1"), kGoodPin, false, SettingsPage::Token,
            SettingsField::TokenLabel, "Invalid token label." },
        { "three-character User PIN", kDefaultLabel, DefaultPin("123"), kGoodPin, false,
            SettingsPage::UserPIN, SettingsField::PinValue,
            "Please check User PIN Value. It must be at least 4 characters long." },
        { "invalid User PIN characters", kDefaultLabel,
            DefaultPin("12\x01"
                       "45"),
            kGoodPin, false, SettingsPage::UserPIN, SettingsField::PinValue,
            "Please input a valid User PIN value." },
        { "User manual 6 > 5", kDefaultLabel, ManualPin(6, 5), kGoodPin, false, SettingsPage::UserPIN,
            SettingsField::None,
            "Please check User PIN Attributes. Minimum length must not be greater than the maximum length." },
        { "User manual equal lengths", kDefaultLabel, ManualPin(6, 6), kGoodPin, true,
            SettingsPage::Application, SettingsField::None, "" },
        { "User random without classes", kDefaultLabel, RandomPin(false, false, false, false), kGoodPin,
            false, SettingsPage::UserPIN, SettingsField::None,
            "Please check at least one option under Randomization Settings." },
        { "User before SO", kDefaultLabel, ManualPin(6, 5), DefaultPin("1"), false, SettingsPage::UserPIN,
            SettingsField::None,
            "Please check User PIN Attributes. Minimum length must not be greater than the maximum length." },
        { "SO three characters", kDefaultLabel, kGoodPin, DefaultPin("123"), false, SettingsPage::SOPIN,
            SettingsField::PinValue, "Please check SO PIN Value. It must be at least 4 characters long." },
        { "SO invalid characters", kDefaultLabel, kGoodPin,
            DefaultPin("\x7f\x1f"
                       "xx"),
            false, SettingsPage::SOPIN, SettingsField::PinValue, "Please input a valid SO PIN value." },
        { "SO manual 8 > 4", kDefaultLabel, kGoodPin, ManualPin(8, 4), false, SettingsPage::SOPIN,
            SettingsField::None,
            "Please check SO PIN Attributes. Minimum length must not be greater than the maximum length." },
        { "SO random symbols only", kDefaultLabel, kGoodPin, RandomPin(false, false, false, true), true,
            SettingsPage::Application, SettingsField::None, "" },
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const SettingsCheckResult result = CheckSettingsPages(c.token, c.user, c.so);
        EXPECT_EQ(result.accepted, c.accepted);
        EXPECT_EQ(result.message, c.message);
        if (!c.accepted) {
            EXPECT_EQ(result.page, c.page);
            EXPECT_EQ(result.focus, c.focus);
        }
    }
}

TEST(SettingsChecks, TrailingBlanksAreTrimmedInTheFieldAndBadCharactersSelected)
{
    const SettingsCheckResult one = CheckTokenPage(Label("abc "));
    EXPECT_TRUE(one.replaceText);
    EXPECT_EQ(one.replacement, "abc");
    const SettingsCheckResult many = CheckTokenPage(Label("a b   "));
    EXPECT_EQ(many.replacement, "a b");
    const SettingsCheckResult bad = CheckTokenPage(Label("a\x02"));
    EXPECT_TRUE(bad.selectAll);
    EXPECT_FALSE(bad.replaceText);
    EXPECT_TRUE(CheckPinPage(PinKind::User,
        DefaultPin("ab\x03"
                   "d"))
                    .selectAll);
    EXPECT_FALSE(CheckPinPage(PinKind::User, DefaultPin("abc")).selectAll);
}

TEST(SettingsWrites, PinPageWritesOnlyWhatItsTypeShows)
{
    PinPageState shown;
    shown.value = "5555";
    shown.errorLimit = 3;
    shown.minLength = 6;
    shown.maxLength = 7;
    shown.randomLength = 5;
    shown.useNumbers = false;
    shown.useUppercase = true;
    shown.useLowercase = false;
    shown.useSymbols = false;
    struct Case {
        long type;
        wxString value;
        long minLength, maxLength, randomLength;
        bool numbers, upper, lower, symbols;
    };
    const Case cases[] = {
        { 0, "5555", 4, 8, 8, true, true, true, true },
        { 1, "73920518", 6, 7, 8, true, true, true, true },
        { 2, "73920518", 4, 8, 5, false, true, false, false },
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.type);
        shown.type = c.type;
        const PinPageValues written = PinPageWrite(shown);
        EXPECT_EQ(written.type, c.type);
        EXPECT_EQ(written.defaultValue, c.value);
        EXPECT_EQ(written.errorLimit, 3);
        EXPECT_EQ(written.minLength, c.minLength);
        EXPECT_EQ(written.maxLength, c.maxLength);
        EXPECT_EQ(written.randomLength, c.randomLength);
        EXPECT_EQ(written.useNumbers, c.numbers);
        EXPECT_EQ(written.useUppercase, c.upper);
        EXPECT_EQ(written.useLowercase, c.lower);
        EXPECT_EQ(written.useSymbols, c.symbols);
    }
}

TEST(SettingsWrites, LogPageKeepsPathsOnlyWhileOnAndHidden64BitGivesDefaults)
{
    const LogPageState page { true, "/a/x86.log", true, "/a/x64.log" };
    const LogPageValues on = LogPageWrite(page, "/d/86", "/d/64");
    EXPECT_EQ(on.x86Location, "/a/x86.log");
    EXPECT_EQ(on.x64Location, "/a/x64.log");
    const LogPageValues off = LogPageWrite({ false, "/a/x86.log", false, "/a/x64.log" }, "/d/86", "/d/64");
    EXPECT_FALSE(off.x86Enabled);
    EXPECT_EQ(off.x86Location, "/d/86");
    EXPECT_EQ(off.x64Location, "/d/64");
    const LogPageValues hidden = LogPageWrite(page, "/d/86", "/d/64", false);
    EXPECT_FALSE(hidden.x64Enabled);
    EXPECT_EQ(hidden.x64Location, "/d/64");
    EXPECT_EQ(hidden.x86Location, "/a/x86.log");
    EXPECT_EQ(TokenLabelWrite(kDefaultLabel), "NRV Card OS 5");
    EXPECT_EQ(TokenLabelWrite(Label("Mine")), "Mine");
}

TEST(MinutesField, EditsFollowTheFieldRules)
{
    struct Case {
        wxString typed;
        wxString previous;
        wxString shown;
        long value;
    };
    const Case cases[] = {
        { "151", "15", "100", 100 }, // a third digit after 15
        { "", "15", "15", 15 }, // emptied: the previous text comes back
        { "05", "5", "5", 5 }, // a leading zero
        { "0", "1", "1", 1 }, { "7", "1", "7", 7 }, { "99", "9", "99", 99 },
        { "1000", "100", "100", 100 }, // past 100 after 100
        { "100", "10", "100", 100 }, { "", "", "", 1 }, // nothing to go back to: the smallest value
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.typed + " after " + c.previous);
        const MinutesEdit edit = ApplyMinutesEdit(c.typed, c.previous);
        EXPECT_EQ(edit.shown, c.shown);
        EXPECT_EQ(edit.value, c.value);
    }
}

TEST(MinutesField, OnlyDigitsAndCaretKeysReachIt)
{
    EXPECT_TRUE(IsMinutesKeyAccepted('5', false));
    EXPECT_FALSE(IsMinutesKeyAccepted('5', true)) << "Shift+5 types a symbol";
    EXPECT_TRUE(IsMinutesKeyAccepted(WXK_NUMPAD7, false));
    for (const int key : { WXK_HOME, WXK_END, WXK_LEFT }) {
        EXPECT_TRUE(IsMinutesKeyAccepted(key, false)) << key;
    }
    for (const int key : { int('A'), int('z'), int('-'), int(' '), int('.'), int(WXK_UP) }) {
        EXPECT_FALSE(IsMinutesKeyAccepted(key, false)) << key;
    }
}

TEST(SpinFields, TextIsClampedToTheRangeAndLabelCutForTheSerial)
{
    EXPECT_EQ(ClampSpinText("12", 1, 10), 10);
    EXPECT_EQ(ClampSpinText("0", 1, 10), 1);
    EXPECT_EQ(ClampSpinText("", 4, 8), 4);
    EXPECT_EQ(ClampSpinText("6", 4, 8), 6);
    EXPECT_EQ(ClampSpinText("6a", 4, 8), 4);
    EXPECT_EQ(DigitsOnly("a1-2 3"), "123");
    const wxString label25 = "ABCDEFGHIJKLMNOPQRSTUVWXY";
    EXPECT_EQ(CutLabelForSerial(label25), "ABCDEFGHIJKLMNOPQRS");
    EXPECT_EQ(CutLabelForSerial("short"), "short");
}

TEST(RandomizationBoxes, ClicksFollowTheRulesAndTheMessageComesWhenTheLastGroupWouldGo)
{
    using B = RandomizationBox;
    const RandomizationBoxes all;
    const RandomizationBoxes numbersOnly { true, false, false, false, false };
    const RandomizationBoxes symbolsOnly { false, false, false, false, true };
    const RandomizationBoxes upperOnly { false, true, true, false, false };
    struct Case {
        const char* name;
        RandomizationBoxes before;
        B box;
        bool ticked;
        RandomizationBoxes after;
        bool message;
    };
    const Case cases[] = {
        { "numbers off with others", all, B::Numbers, false, { false, true, true, true, true }, false },
        { "last numbers", numbersOnly, B::Numbers, false, numbersOnly, true },
        { "last symbols", symbolsOnly, B::Symbols, false, symbolsOnly, true },
        { "letters off takes both cases", all, B::Letters, false, { true, false, false, false, true },
            false },
        { "letters on gives both cases", numbersOnly, B::Letters, true, { true, true, true, true, false },
            false },
        { "last letters come back whole", upperOnly, B::Letters, false, { false, true, true, true, false },
            true },
        { "one case off keeps letters", all, B::Uppercase, false, { true, true, false, true, true }, false },
        { "second case off drops letters", { true, true, false, true, false }, B::Lowercase, false,
            { true, false, false, false, false }, false },
        { "last case with no group", upperOnly, B::Uppercase, false, upperOnly, true },
        { "a case on ticks letters", numbersOnly, B::Lowercase, true, { true, true, false, true, false },
            false },
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const RandomizationReaction reaction = ToggleRandomization(c.before, c.box, c.ticked);
        EXPECT_TRUE(reaction.boxes == c.after);
        EXPECT_EQ(reaction.showMessage, c.message);
    }
}

TEST(RandomizationBoxes, NoSequenceOfClicksClearsEveryClass)
{
    // Every reachable state (letters ticked exactly when a case is), every click.
    for (int bits = 0; bits < 16; ++bits) {
        RandomizationBoxes state { (bits & 1) != 0, false, (bits & 2) != 0, (bits & 4) != 0,
            (bits & 8) != 0 };
        state.letters = state.uppercase || state.lowercase;
        if (!state.numbers && !state.letters && !state.symbols) {
            continue;
        }
        for (const RandomizationBox box : { RandomizationBox::Numbers, RandomizationBox::Letters,
                 RandomizationBox::Uppercase, RandomizationBox::Lowercase, RandomizationBox::Symbols }) {
            for (const bool ticked : { false, true }) {
                const RandomizationBoxes after = ToggleRandomization(state, box, ticked).boxes;
                EXPECT_TRUE(after.numbers || after.uppercase || after.lowercase || after.symbols)
                    << bits << " " << static_cast<int>(box) << " " << ticked;
                EXPECT_EQ(after.letters, after.uppercase || after.lowercase)
                    << bits << " " << static_cast<int>(box);
            }
        }
    }
}
