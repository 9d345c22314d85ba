// Random PINs: exact lengths, only enabled classes, never the confusable
// letters, every member of a class reachable, and independent randomizers.
#include "DialogDriver.h"
#include "manager/core/NRVCMUSettings.h"
#include "manager/pin/PINRandomizer.h"
#include "tests/support/ScopedTestRoot.h"

#include <gtest/gtest.h>
#include <set>

namespace {

const wxString kDigits = "0123456789";
const wxString kUpper = "ABCDEFGHJKMNPQRSTUXYZ";
const wxString kLower = "abcdefghjkmnpqrstuxyz";
const wxString kSymbols = "~!@#$%^&*()+=\\/{}[]><";

PINRandomizer::ClassFlags Only(bool numbers, bool upper, bool lower, bool symbols)
{
    PINRandomizer::ClassFlags flags;
    flags.useNumbers = numbers;
    flags.useUppercaseLetters = upper;
    flags.useLowercaseLetters = lower;
    flags.useSymbols = symbols;
    return flags;
}

} // namespace

TEST(PINRandomizer, LengthIsExact)
{
    PINRandomizer randomizer(Only(true, true, true, true), PinKind::User);
    EXPECT_TRUE(randomizer.Generate(0).empty());
    EXPECT_TRUE(randomizer.Generate(-3).empty());
    for (const int length : { 1, 4, 8, 16, 64 }) {
        EXPECT_EQ(randomizer.Generate(length).length(), static_cast<size_t>(length));
    }
}

TEST(PINRandomizer, DrawsOnlyFromEnabledClasses)
{
    struct Case {
        PINRandomizer::ClassFlags flags;
        wxString allowed;
    };
    const Case cases[] = {
        { Only(true, false, false, false), kDigits },
        { Only(false, true, false, false), kUpper },
        { Only(false, false, true, false), kLower },
        { Only(false, false, false, true), kSymbols },
        { Only(true, false, false, true), kDigits + kSymbols },
        { Only(true, true, true, true), kDigits + kUpper + kLower + kSymbols },
    };
    for (const Case& c : cases) {
        PINRandomizer randomizer(c.flags, PinKind::SO);
        std::set<wxUniChar::value_type> seen;
        for (int n = 0; n < 40; ++n) {
            for (const wxUniChar ch : randomizer.Generate(50)) {
                ASSERT_NE(c.allowed.Find(ch), wxNOT_FOUND)
                    << "'" << wxString(ch) << "' not allowed in " << c.allowed;
                seen.insert(ch.GetValue());
            }
        }
        // 2000 draws reach every member of at most 73 characters.
        EXPECT_EQ(seen.size(), c.allowed.length()) << c.allowed;
    }
}

TEST(PINRandomizer, NeverUsesConfusableLetters)
{
    PINRandomizer randomizer(Only(false, true, true, false), PinKind::User);
    const wxString pins = randomizer.Generate(4000);
    for (const char c : std::string("ILOVWilovw")) {
        EXPECT_EQ(pins.Find(c), wxNOT_FOUND) << c;
    }
}

TEST(PINRandomizer, NoClassEnabledGivesEmptyText)
{
    PINRandomizer randomizer(Only(false, false, false, false), PinKind::User);
    EXPECT_TRUE(randomizer.Generate(8).empty());
}

TEST(PINRandomizer, RandomizersMadeTogetherDiffer)
{
    // A time-seeded generator would give both the same PIN within a second.
    PINRandomizer first(Only(true, true, true, true), PinKind::User);
    PINRandomizer second(Only(true, true, true, true), PinKind::User);
    EXPECT_NE(first.Generate(32), second.Generate(32));
}

TEST(PINRandomizer, ClassesAreChosenWithEqualChance)
{
    // Digits and symbols: each character is a digit with chance 1/2, not
    // 10/31 as a pick from the pooled characters would give.
    PINRandomizer randomizer(Only(true, false, false, true), PinKind::User);
    const wxString pins = randomizer.Generate(4000);
    int digits = 0;
    for (const wxUniChar ch : pins) {
        digits += kDigits.Find(ch) != wxNOT_FOUND ? 1 : 0;
    }
    // 2000 expected, standard deviation about 32; pooling would give 1290.
    EXPECT_NEAR(digits, 2000, 250);
}

TEST(PINRandomizer, ReadsTheFlagsOfItsKindFromTheSettings)
{
    DialogDriver::EnvironmentRestorer environment;
    ScopedTestRoot root;
    NRVCMUSettings settings(root.Base().string());
    settings.SetIsRandomSOPINUseNumbers(true);
    settings.SetIsRandomSOPINUseUppercaseLetters(false);
    settings.SetIsRandomSOPINUseLowercaseLetters(false);
    settings.SetIsRandomSOPINUseSymbols(false);
    settings.SetIsRandomUserPINUseNumbers(false);
    settings.SetIsRandomUserPINUseUppercaseLetters(false);
    settings.SetIsRandomUserPINUseLowercaseLetters(false);
    settings.SetIsRandomUserPINUseSymbols(true);

    PINRandomizer so(settings, PinKind::SO);
    PINRandomizer user(settings, PinKind::User);
    for (const wxUniChar ch : so.Generate(200)) {
        ASSERT_NE(kDigits.Find(ch), wxNOT_FOUND) << wxString(ch);
    }
    for (const wxUniChar ch : user.Generate(200)) {
        ASSERT_NE(kSymbols.Find(ch), wxNOT_FOUND) << wxString(ch);
    }
}
