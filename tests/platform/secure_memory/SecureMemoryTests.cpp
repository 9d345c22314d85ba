#include "platform/secure_memory/ProtectedText.h"
#include "platform/secure_memory/SecretBytes.h"
#include "platform/secure_memory/SecureMemory.h"

#include <array>
#include <cstring>
#include <gtest/gtest.h>
#include <string>

using namespace vela5::platform;

namespace {

TEST(SecureMemory, ProtectRoundTripsWholeBlocksAndRefusesOthers)
{
    std::array<unsigned char, 32> data {};
    std::memcpy(data.data(), "12345678 and a second block....", 32);
    const auto plain = data;

    ASSERT_TRUE(SecureMemory::Protect(data.data(), data.size()));
    EXPECT_NE(data, plain) << "the bytes must not stay readable";
    EXPECT_EQ(std::search(data.begin(), data.end(), plain.begin(), plain.begin() + 8), data.end());
    ASSERT_TRUE(SecureMemory::Unprotect(data.data(), data.size()));
    EXPECT_EQ(data, plain);

    // Partial blocks and empty input are refused and left as they were.
    EXPECT_FALSE(SecureMemory::Protect(data.data(), 15));
    EXPECT_FALSE(SecureMemory::Protect(data.data(), 0));
    EXPECT_FALSE(SecureMemory::Protect(nullptr, 16));
    EXPECT_EQ(data, plain);
}

TEST(SecureMemory, LockedBufferStartsZeroedAndMovesOwnership)
{
    LockedBuffer buffer(24);
    ASSERT_NE(buffer.Data(), nullptr);
    for (std::size_t i = 0; i < buffer.Size(); ++i) {
        EXPECT_EQ(buffer.Data()[i], 0);
    }
    unsigned char* const data = buffer.Data();
    LockedBuffer moved(std::move(buffer));
    EXPECT_EQ(moved.Data(), data);
    EXPECT_EQ(buffer.Data(), nullptr);
    EXPECT_EQ(buffer.Size(), 0U);
}

TEST(ProtectedText, RevealsWhatWasAssignedAtEveryLength)
{
    // Lengths around the block size catch a wrong rounding of the buffer.
    for (const std::wstring text :
        { L"1", L"1234567", L"12345678", L"\u00e91234\u00fc5678x", L"0123456789abcdef" }) {
        const ProtectedText secret(text);
        EXPECT_FALSE(secret.Empty());
        EXPECT_EQ(secret.Length(), text.size());
        EXPECT_EQ(secret.Reveal(), text);
    }
    EXPECT_TRUE(ProtectedText(L"").Empty());
    EXPECT_EQ(ProtectedText().Reveal(), L"");
}

TEST(ProtectedText, CopiesAreIndependentAndMovesLeaveNothingBehind)
{
    ProtectedText original(L"24681357");
    ProtectedText copy(original);
    original.Assign(L"11112222");
    EXPECT_EQ(copy.Reveal(), L"24681357");
    EXPECT_EQ(original.Reveal(), L"11112222");

    ProtectedText moved(std::move(copy));
    EXPECT_EQ(moved.Reveal(), L"24681357");
    EXPECT_TRUE(copy.Empty());
    EXPECT_EQ(copy.Reveal(), L"");

    moved.Clear();
    EXPECT_TRUE(moved.Empty());
    EXPECT_EQ(moved.Reveal(), L"");
}

} // namespace

TEST(SecretBytes, CopiesAreIndependentAndMovesLeaveNothingBehind)
{
    const std::uint8_t key[] = { 1, 2, 3, 4, 5 };
    SecretBytes original(key, sizeof key);
    SecretBytes copy(original);
    original.Assign(key, 2);
    EXPECT_EQ(copy.Bytes(), std::vector<std::uint8_t>(key, key + 5));

    SecretBytes moved(std::move(copy));
    EXPECT_TRUE(copy.Empty());
    EXPECT_EQ(moved.Size(), 5u);
    original = std::move(moved);
    EXPECT_TRUE(moved.Empty());
    EXPECT_EQ(original.Bytes(), std::vector<std::uint8_t>(key, key + 5));
    original.Clear();
    EXPECT_TRUE(original.Empty());
}
