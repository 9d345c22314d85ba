// A PIN's characters are overwritten in the buffer that held them, not only
// forgotten: the text's storage is read back after each way it can go.
#include "manager/core/SecretString.h"

#include <gtest/gtest.h>
#include <string>

namespace {

// The PIN is long enough to live in heap storage, which clearing keeps.
const wxString kPin = wxS("12345678901234567890");

bool AllZero(const wchar_t* data, std::size_t length)
{
    for (std::size_t i = 0; i < length; ++i) {
        if (data[i] != 0) {
            return false;
        }
    }
    return true;
}

TEST(SecretStringTest, WipeOverwritesTheCharactersInPlace)
{
    wxString text = kPin;
    const wchar_t* storage = text.wc_str();
    SecretString::Wipe(text);
    EXPECT_TRUE(text.empty());
    EXPECT_TRUE(AllZero(storage, kPin.length()));
}

TEST(SecretStringTest, ReplacingTheTextWipesTheOldOne)
{
    SecretString pin(kPin);
    const wchar_t* storage = pin.Text().wc_str();
    // A text short enough to be copied into the storage already held, so
    // what is left of the old one can be read there.
    pin = wxString(wxS("12"));
    ASSERT_EQ(pin.Text().wc_str(), storage);
    EXPECT_EQ(pin.Text(), wxS("12"));
    EXPECT_TRUE(AllZero(storage + 3, kPin.length() - 3));
}

TEST(SecretStringTest, MovingLeavesNothingBehindInTheSource)
{
    SecretString first(kPin);
    SecretString second(std::move(first));
    EXPECT_EQ(second.Text(), kPin);
    EXPECT_TRUE(first.empty());
    // A short text sits inside the object itself and is copied, not moved.
    SecretString shortPin(wxString(wxS("12")));
    const wchar_t* inside = shortPin.Text().wc_str();
    SecretString taken(std::move(shortPin));
    EXPECT_EQ(taken.Text(), wxS("12"));
    EXPECT_TRUE(AllZero(inside, 2));
}

} // namespace
