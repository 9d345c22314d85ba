// vela5-token's command line: results, exit codes and one-line errors.
#include "ModuleLoader.h"
#include "ScopedTestRoot.h"

#include <gtest/gtest.h>

TEST(TokenTool, ErrorsExitNonZeroWithOneLine)
{
    ScopedTestRoot root;
    std::string output;
    EXPECT_EQ(RunTool("reader add R1"), 0);
    EXPECT_EQ(RunTool("reader add R1 2>&1", &output), 1);
    EXPECT_EQ(output, "vela5-token: reader \"R1\" already exists\n");
    EXPECT_EQ(RunTool("token create --model NOPE 2>&1", &output), 1);
    EXPECT_EQ(RunTool("token create 2>&1", &output), 2);
    EXPECT_EQ(
        RunTool("token create --model VELA5-32 --label L --user-pin 12 --so-pin 87654321 2>&1", &output), 1)
        << "user PIN shorter than the default minimum";
    EXPECT_EQ(RunTool("token insert NOSUCH R1 2>&1", &output), 1);
    EXPECT_EQ(RunTool("frobnicate 2>&1", &output), 2);
    EXPECT_EQ(RunTool("--help", &output), 0);
    EXPECT_NE(output.find("token create --model MODEL"), std::string::npos);
}

TEST(TokenTool, CreateInsertListShow)
{
    ScopedTestRoot root;
    ASSERT_EQ(RunTool("reader add \"Reader A\""), 0);
    std::string serial;
    ASSERT_EQ(
        RunTool("token create --model SGL32 --serial ABC123 --label Mine --user-pin 123456 --so-pin 654321 "
                "--min-pin 6 --max-pin 12",
            &serial),
        0);
    EXPECT_EQ(serial, "ABC123\n");
    EXPECT_EQ(RunTool("token create --model SGL32 --serial ABC123 2>/dev/null"), 1) << "serials are unique";
    ASSERT_EQ(RunTool("token insert ABC123 \"Reader A\""), 0);
    std::string output;
    ASSERT_EQ(RunTool("list", &output), 0);
    EXPECT_EQ(output, "slot 0: \"Reader A\": SGL32 ABC123 \"Mine\"\n");
    ASSERT_EQ(RunTool("show ABC123", &output), 0);
    EXPECT_NE(output.find("user PIN: length 6-12, 8 of 8 attempts left"), std::string::npos) << output;
    ASSERT_EQ(RunTool("token eject \"Reader A\""), 0);
    EXPECT_EQ(RunTool("token eject \"Reader A\" 2>/dev/null"), 1);
}
