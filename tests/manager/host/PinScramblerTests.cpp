// The cached PIN's scrambling: reversible, never the plain PIN, and defined
// on UTF-16 units with the key repeating every five units.
#include "manager/host/PinScrambler.h"

#include <gtest/gtest.h>

namespace {
const char16_t kKey[PinScrambler::kKeyLength] = { 0x101, 0x102, 0x104, 0x108, 0x110 };

TEST(PinScramblerTests, RunTimeKeyRoundTripsAndHidesEveryCharacter)
{
    const wxString pin = wxString::FromUTF8("73920518\xC3\xA9 ~Zz");
    const wxString scrambled = PinScrambler::Scramble(pin);
    ASSERT_EQ(scrambled.length(), pin.length());
    for (std::size_t i = 0; i < pin.length(); ++i) {
        EXPECT_NE(scrambled[i], pin[i]) << "unit " << i << " left readable";
        EXPECT_NE(scrambled[i].GetValue(), 0U);
    }
    EXPECT_EQ(PinScrambler::Unscramble(scrambled), pin);
    // The key is built once per process: scrambling is repeatable.
    EXPECT_EQ(PinScrambler::Scramble(pin), scrambled);
}

TEST(PinScramblerTests, KeyPositionIsIndexModuloFive)
{
    const wxString scrambled = PinScrambler::Apply(wxS("AAAAAAA"), kKey);
    const wxUint32 expected[] = { 0x41 ^ 0x101, 0x41 ^ 0x102, 0x41 ^ 0x104, 0x41 ^ 0x108, 0x41 ^ 0x110,
        0x41 ^ 0x101, 0x41 ^ 0x102 };
    ASSERT_EQ(scrambled.length(), 7U);
    for (std::size_t i = 0; i < 7; ++i) {
        EXPECT_EQ(scrambled[i].GetValue(), expected[i]) << "unit " << i;
    }
}

TEST(PinScramblerTests, CharacterOutsideTheBasicPlaneTakesTwoKeyPositions)
{
    // U+1F600 is the pair D83D DE00: it uses key positions 1 and 2, so the
    // "b" after it is XORed with position 3, not 2.
    const wxString text = wxString(wxS("a")) + wxUniChar(0x1F600) + wxS("b");
    const wxString scrambled = PinScrambler::Apply(text, kKey);
    ASSERT_EQ(scrambled.length(), 3U);
    EXPECT_EQ(scrambled[0].GetValue(), 0x61U ^ 0x101U);
    const wxUint32 high = 0xD83D ^ 0x102;
    const wxUint32 low = 0xDE00 ^ 0x104;
    EXPECT_EQ(scrambled[1].GetValue(), 0x10000 + ((high - 0xD800) << 10) + (low - 0xDC00));
    EXPECT_EQ(scrambled[2].GetValue(), 0x62U ^ 0x108U);
    EXPECT_EQ(PinScrambler::Apply(scrambled, kKey), text);
}

} // namespace
