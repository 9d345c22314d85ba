// Fixed module text buffers: zero fill, embedded zeros, and characters
// against bytes in a multibyte locale. Limits per kind are tested through
// the client's wrappers.
#include "manager/core/ModuleTextBuffer.h"

#include <algorithm>
#include <clocale>
#include <gtest/gtest.h>

namespace {

bool ZeroFrom(const ModuleTextBuffer& buffer, std::size_t offset)
{
    return std::all_of(
        buffer.Data() + offset, buffer.Data() + buffer.Capacity(), [](CK_BYTE b) { return b == 0; });
}

class ModuleTextBufferTest : public ::testing::Test {
protected:
    void SetUp() override { std::setlocale(LC_ALL, "C"); }
    void TearDown() override { std::setlocale(LC_ALL, "C"); }
};

TEST_F(ModuleTextBufferTest, ShorterTextLeavesNothingOfTheLongerOne)
{
    ModuleTextBuffer buffer(ModuleTextKind::Pin);
    ASSERT_EQ(buffer.Assign(wxS("123456789012")), CKR_OK);
    ASSERT_EQ(buffer.Assign(wxS("99")), CKR_OK);
    EXPECT_EQ(buffer.Length(), 2U);
    EXPECT_EQ(buffer.Data()[0], '9');
    EXPECT_TRUE(ZeroFrom(buffer, 2));
    buffer.Clear();
    EXPECT_TRUE(ZeroFrom(buffer, 0));
    EXPECT_EQ(buffer.Assign(wxString()), CKR_OK);
    EXPECT_EQ(buffer.Length(), 0U);
}

TEST_F(ModuleTextBufferTest, EmbeddedZeroIsRefused)
{
    // It would cut the text short for the module while the length says otherwise.
    ModuleTextBuffer pin(ModuleTextKind::Pin);
    EXPECT_EQ(pin.Assign(wxString("12\0"
                                  "34",
                  5)),
        CKR_PIN_INVALID);
    ModuleTextBuffer label(ModuleTextKind::Label);
    EXPECT_EQ(label.Assign(wxString("a\0"
                                    "b",
                  3)),
        CKR_ARGUMENTS_BAD);
    EXPECT_TRUE(ZeroFrom(label, 0));
}

TEST_F(ModuleTextBufferTest, MultibyteLocaleCountsCharactersButLimitsBytes)
{
    if (std::setlocale(LC_ALL, "C.UTF-8") == nullptr) {
        GTEST_SKIP() << "no UTF-8 locale";
    }
    ModuleTextBuffer pin(ModuleTextKind::Pin);
    wxString fifteen;
    for (int i = 0; i < 15; ++i) {
        fifteen += wxUniChar(0xE9);
    }
    ASSERT_EQ(pin.Assign(fifteen), CKR_OK);
    EXPECT_EQ(pin.Length(), 15U);
    EXPECT_EQ(pin.ByteLength(), 30U);
    EXPECT_EQ(pin.Data()[0], 0xC3);
    // Sixteen characters need 32 bytes and leave no room for the zero.
    EXPECT_EQ(pin.Assign(fifteen + wxUniChar(0xE9)), CKR_PIN_LEN_RANGE);
}

} // namespace
