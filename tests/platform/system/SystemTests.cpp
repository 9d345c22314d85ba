// Version tests compare field by field, the first differing field deciding,
// as VerifyVersionInfo does; a plain per-field test would call 10.0 older
// than 6.0 SP1.
#include "platform/system/System.h"

#include <gtest/gtest.h>

using namespace vela5::platform;

TEST(SystemVersion, HigherFieldDecidesBeforeServicePack)
{
    const System::Version vistaSp1 { 6, 0, 1, 0 };
    EXPECT_TRUE(System::IsAtLeast({ 10, 0, 0, 0 }, vistaSp1));
    EXPECT_TRUE(System::IsAtLeast({ 6, 1, 0, 0 }, vistaSp1));
    EXPECT_TRUE(System::IsAtLeast({ 6, 0, 1, 0 }, vistaSp1));
    EXPECT_FALSE(System::IsAtLeast({ 6, 0, 0, 9 }, vistaSp1));
    EXPECT_FALSE(System::IsAtLeast({ 5, 2, 3, 0 }, vistaSp1));
    EXPECT_TRUE(System::IsVistaSP1OrLater());
    EXPECT_TRUE(System::Is64BitSystem());
}
