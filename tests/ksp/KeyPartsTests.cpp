// The provider's plain key and PIN parts: names from CKA_ID bytes and the
// lookup rule, the protected PIN block and the cache, the masking field's
// cells.
#include "ksp/KeyNames.h"
#include "ksp/PinManager.h"
#include "ksp/SecureCells.h"
#include "platform/cng/WideText.h"
#include "platform/registry/Registry.h"
#include "tests/support/ScopedTestRoot.h"

#include <cstring>
#include <gtest/gtest.h>
#include <vector>

using namespace vela5::platform;

TEST(KeyNamesTest, EveryIdMapsToANameAndBack)
{
    std::vector<BYTE> everyByte;
    for (int b = 0; b < 256; ++b) {
        everyByte.push_back(static_cast<BYTE>(b));
    }
    const std::vector<std::vector<BYTE>> ids = { { 0x41, 0x42, 0x43 }, { 0x00 }, { 0x00, 0x41, 0x00 },
        { 0x20, 0x7E, 0x7F, 0x1F, 0x80, 0xFF }, everyByte };
    for (const auto& id : ids) {
        const std::u16string name = KeyNames::FromId(id.data(), id.size());
        EXPECT_EQ(name.size(), id.size());
        EXPECT_EQ(name.find(u'\0'), std::u16string::npos) << "a name never holds a terminator";
        const auto back = KeyNames::ToId(name);
        ASSERT_TRUE(back.has_value());
        EXPECT_EQ(*back, id);
        EXPECT_EQ(KeyNames::FromHexText(Cng::Widen(KeyNames::Hex(id.data(), id.size()))), name);
    }
    const BYTE abc[] = { 0x41, 0x42, 0x43 };
    EXPECT_EQ(KeyNames::FromId(abc, 3), u"ABC");
    const BYTE other[] = { 0x01, 0xF0 };
    EXPECT_EQ(KeyNames::FromId(other, 2), std::u16string({ char16_t(0xF701), char16_t(0xF7F0) }));
    // A character no byte maps to has no ID.
    EXPECT_FALSE(KeyNames::ToId(u"\u00E9").has_value());
    EXPECT_FALSE(KeyNames::ToId(std::u16string(1, char16_t(0xF741))).has_value());
}

TEST(KeyNamesTest, LookupMatchesWholeNamesOnly)
{
    using Outcome = KeyNames::Lookup::Outcome;
    const struct {
        std::vector<std::u16string_view> names;
        std::u16string_view wanted;
        Outcome outcome;
        std::size_t index;
    } cases[] = {
        { { u"ABC" }, u"ABC", Outcome::Found, 0 },
        { { u"ABC" }, u"abc", Outcome::Found, 0 },
        { { u"ABC" }, u"414243", Outcome::Found, 0 },
        { { u"ABC" }, u"414243", Outcome::Found, 0 },
        { { u"ABC" }, u"ABCD", Outcome::NotFound, 0 },
        { { u"ABC" }, u"AB", Outcome::NotFound, 0 },
        { { u"ABC" }, u"41424", Outcome::NotFound, 0 },
        { { u"ABC" }, u"4142G3", Outcome::NotFound, 0 },
        { { u"ABC" }, u"", Outcome::NotFound, 0 },
        { { u"AB", u"ABC" }, u"ABC", Outcome::Found, 1 },
        { { u"AB", u"ABC" }, u"AB", Outcome::Found, 0 },
        { { u"ABC", u"AB" }, u"ABC", Outcome::Found, 0 },
        // An exact match beats one that ignores case; two equally good are refused.
        { { u"abc", u"ABC" }, u"abc", Outcome::Found, 0 },
        { { u"abc", u"ABC" }, u"ABC", Outcome::Found, 1 },
        { { u"abc", u"ABC" }, u"Abc", Outcome::Ambiguous, 0 },
        // A name that is itself hexadecimal text opens by name first.
        { { u"ABC", u"414243" }, u"414243", Outcome::Found, 1 },
        { { u"", u"ABC" }, u"ABC", Outcome::Found, 1 },
    };
    for (const auto& c : cases) {
        const KeyNames::Lookup lookup = KeyNames::Find(c.names, c.wanted);
        const std::string wanted = Cng::Narrow(c.wanted);
        EXPECT_EQ(lookup.outcome, c.outcome) << wanted;
        if (c.outcome == Outcome::Found) {
            EXPECT_EQ(lookup.index, c.index) << wanted;
        }
    }
}

TEST(PinBlockTest, SizeLeavesRoomForMarkerAndLength)
{
    const std::vector<std::pair<std::size_t, std::size_t>> sizes
        = { { 1, 16 }, { 13, 16 }, { 14, 32 }, { 29, 32 }, { 30, 48 }, { 255, 272 } };
    for (const auto& [pin, block] : sizes) {
        EXPECT_EQ(PinBlock::SizeFor(pin), block) << pin;
        PinCacheEntry entry(TokenSerial {});
        const std::string text(pin, '7');
        ASSERT_EQ(entry.SetPin(reinterpret_cast<const BYTE*>(text.data()), text.size()), ERROR_SUCCESS);
        EXPECT_EQ(entry.BlockSize(), block) << pin;
    }
}

TEST(PinBlockTest, BlockIsEncryptedAndReadsBack)
{
    PinCacheEntry entry(TokenSerial {});
    const std::string pin = "12345678901234";
    ASSERT_EQ(entry.SetPin(reinterpret_cast<const BYTE*>(pin.data()), pin.size()), ERROR_SUCCESS);
    const std::string held(reinterpret_cast<const char*>(entry.Block().Data()), entry.Block().Size());
    EXPECT_EQ(held.find(pin), std::string::npos) << "the PIN is never held in plain";
    EXPECT_NE(static_cast<BYTE>(held[0]), PinBlock::kMarker);
    // The plain layout: marker, length, PIN, zeros.
    LockedBuffer copy(entry.Block().Size());
    std::memcpy(copy.Data(), entry.Block().Data(), copy.Size());
    ASSERT_TRUE(SecureMemory::Unprotect(copy.Data(), copy.Size()));
    EXPECT_EQ(copy.Data()[0], 0x81);
    EXPECT_EQ(copy.Data()[1], pin.size());
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(copy.Data() + 2), pin.size()), pin);
    for (std::size_t i = pin.size() + 2; i < copy.Size(); ++i) {
        EXPECT_EQ(copy.Data()[i], 0) << i;
    }
    DWORD length = 0;
    EXPECT_EQ(entry.GetPin(nullptr, &length), ERROR_SUCCESS);
    EXPECT_EQ(length, pin.size());
    BYTE small[4] = {};
    length = sizeof small;
    EXPECT_EQ(entry.GetPin(small, &length), NTE_BUFFER_TOO_SMALL);
    EXPECT_EQ(length, pin.size());
    BYTE out[32] = {};
    length = sizeof out;
    ASSERT_EQ(entry.GetPin(out, &length), ERROR_SUCCESS);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(out), length), pin);
    EXPECT_EQ(entry.SetPin(nullptr, 4), NTE_INVALID_PARAMETER);
    EXPECT_EQ(entry.SetPin(out, 0), NTE_INVALID_PARAMETER);
    const std::string tooLong(256, '1');
    EXPECT_EQ(
        entry.SetPin(reinterpret_cast<const BYTE*>(tooLong.data()), tooLong.size()), NTE_INVALID_PARAMETER);
}

class PinManagerTest : public testing::Test {
protected:
    static std::string Read(const PinManager& pins, const TokenSerial& serial, SECURITY_STATUS& status)
    {
        BYTE buffer[64] = {};
        DWORD length = sizeof buffer;
        status = pins.Lookup(serial, buffer, &length);
        return status == ERROR_SUCCESS ? std::string(reinterpret_cast<const char*>(buffer), length) : "";
    }
    static SECURITY_STATUS Store(PinManager& pins, const TokenSerial& serial, const std::string& pin)
    {
        return pins.Store(serial, reinterpret_cast<const BYTE*>(pin.data()), pin.size());
    }
    void SetPinCache(const char* value)
    {
        Registry::Key key;
        ASSERT_EQ(Registry::Key::Create(Registry::Hive::LocalMachine, "Software\\Nurvon Ltd.\\VELA5 SDK",
                      Registry::View::Native, key),
            Registry::Success);
        ASSERT_EQ(key.SetString("PINCACHE", value), Registry::Success);
    }

    ScopedTestRoot m_root;
    TokenSerial m_first { { '0', '0', '0', '1' } };
    TokenSerial m_second { { '0', '0', '0', '2' } };
};

// A new PIN for a cached token replaces the old one instead of hiding
// behind it; a dropped PIN is gone; other tokens keep theirs.
TEST_F(PinManagerTest, NewPinReplacesAndDropForgets)
{
    PinManager pins;
    SECURITY_STATUS status = ERROR_SUCCESS;
    EXPECT_EQ(Read(pins, m_first, status), "");
    EXPECT_EQ(status, NTE_NOT_FOUND);
    ASSERT_EQ(Store(pins, m_first, "1234"), ERROR_SUCCESS);
    ASSERT_EQ(Store(pins, m_second, "999999"), ERROR_SUCCESS);
    ASSERT_EQ(Store(pins, m_first, "5678"), ERROR_SUCCESS);
    EXPECT_EQ(pins.EntryCount(), 2U);
    EXPECT_EQ(Read(pins, m_first, status), "5678");
    DWORD length = 0;
    EXPECT_EQ(pins.Lookup(m_second, nullptr, &length), ERROR_SUCCESS);
    EXPECT_EQ(length, 6U);
    EXPECT_EQ(pins.Lookup(m_second, nullptr, nullptr), NTE_INVALID_PARAMETER);
    pins.Drop(m_first);
    EXPECT_EQ(Read(pins, m_first, status), "");
    EXPECT_EQ(status, NTE_NOT_FOUND);
    EXPECT_EQ(Read(pins, m_second, status), "999999");
}

TEST_F(PinManagerTest, PinCacheSettingDecidesWhetherToStore)
{
    const struct {
        const char* value; // null: not set
        bool stored;
    } cases[] = { { nullptr, true }, { "00000001", true }, { "00000000", false }, { "000000000", true },
        { "", true } };
    for (const auto& c : cases) {
        if (c.value != nullptr) {
            SetPinCache(c.value);
        }
        EXPECT_EQ(PinCachingAllowed(), c.stored) << (c.value ? c.value : "not set");
        PinManager pins;
        EXPECT_EQ(Store(pins, m_first, "1234"), c.stored ? ERROR_SUCCESS : NTE_NOT_SUPPORTED);
        EXPECT_EQ(pins.EntryCount(), c.stored ? 1U : 0U);
    }
}

namespace {
std::u16string Decode(const SecureCells& cells)
{
    return cells.Decode();
}
} // namespace

TEST(SecureCellsTest, CellsFollowTypingCaretAndDeleting)
{
    SecureCells cells;
    // Typing 1, 2, 3, 4: each change grows the text by one at the caret.
    const char16_t* typed[] = { u"1", u"*2", u"**3", u"***4" };
    for (std::size_t i = 0; i < 4; ++i) {
        cells.ApplyChange(typed[i], i + 1);
    }
    EXPECT_EQ(Decode(cells), u"1234");
    // Caret to 2, Delete: the text shrinks by one with the caret still at 2.
    cells.ApplyChange(u"***", 2);
    EXPECT_EQ(Decode(cells), u"124");
    for (std::size_t i = 0; i < cells.Size(); ++i) {
        EXPECT_EQ(cells.Cell(i) ^ cells.Pad(i), u"124"[i]) << i;
    }
    // Backspace at the end: the caret moves back onto the removed cell.
    cells.ApplyChange(u"**", 2);
    EXPECT_EQ(Decode(cells), u"12");
    // Pasting two characters at the start.
    cells.ApplyChange(u"ab**", 2);
    EXPECT_EQ(Decode(cells), u"ab12");
    cells.Clear();
    EXPECT_EQ(cells.Size(), 0U);
    EXPECT_EQ(Decode(cells), u"");
}

// The caret a change reports may be where the new characters went (before
// the control moved it) or behind them; typed "*" cannot be told from the
// row of "*" and is placed by the caret.
TEST(SecureCellsTest, NewCharactersAreFoundWhicheverCaretIsReported)
{
    const struct {
        const char16_t* before; // decoded cells before
        std::u16string_view text; // the field's text after the change
        std::size_t caret;
        const char16_t* after;
        std::size_t caretAfter;
    } cases[] = {
        { u"12", u"*x*", 1, u"1x2", 2 }, // caret before the new character
        { u"12", u"*x*", 2, u"1x2", 2 }, // caret behind it
        { u"12", u"*x*", 0, u"1x2", 2 }, // a wrong caret cannot misplace it
        { u"12", u"xy**", 0, u"xy12", 2 },
        { u"12", u"xy**", 2, u"xy12", 2 },
        { u"12", u"***", 1, u"1*2", 2 }, // a typed "*" goes at the caret
        { u"12", u"***", 0, u"*12", 1 },
        { u"", u"*", 0, u"*", 1 },
        { u"1234", u"**", 1, u"14", 1 },
    };
    for (const auto& c : cases) {
        SecureCells cells;
        cells.Insert(0, c.before);
        EXPECT_EQ(cells.ApplyChange(c.text, c.caret), c.caretAfter) << Cng::Narrow(c.text) << " " << c.caret;
        EXPECT_EQ(cells.Decode(), c.after) << Cng::Narrow(c.text) << " " << c.caret;
    }
}

TEST(SecureCellsTest, PadIsAppliedByPositionAcrossInsertions)
{
    SecureCells cells;
    const std::u16string text(40, u'x');
    cells.Insert(0, text);
    cells.Insert(3, u"Y");
    const std::u16string expected = text.substr(0, 3) + u"Y" + text.substr(3);
    EXPECT_EQ(Decode(cells), expected);
    bool anyDiffers = false;
    for (std::size_t i = 0; i < cells.Size(); ++i) {
        EXPECT_EQ(cells.Cell(i), static_cast<uint16_t>(expected[i] ^ cells.Pad(i))) << i;
        anyDiffers = anyDiffers || cells.Cell(i) != expected[i];
    }
    EXPECT_TRUE(anyDiffers) << "the pad hides the characters";
    EXPECT_EQ(cells.Pad(33), cells.Pad(1));
    cells.Erase(0, 100);
    EXPECT_EQ(cells.Size(), 0U);
    // Past the capacity, characters are dropped.
    cells.Insert(0, std::u16string(SecureCells::kCapacity + 5, u'1'));
    EXPECT_EQ(cells.Size(), SecureCells::kCapacity);
}
