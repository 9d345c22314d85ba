// A fresh machine root with one reader, and the module loaded by name.
#pragma once

#include "ModuleLoader.h"
#include "tests/support/ScopedTestRoot.h"

#include <gtest/gtest.h>
#include <string>
#include <vector>

inline const std::string kReader = "\"VELA5 Virtual Reader 0\"";

inline std::string Trim(std::string text)
{
    while (!text.empty() && (text.back() == '\n' || text.back() == ' ')) {
        text.pop_back();
    }
    return text;
}

class TokenModule : public ::testing::Test {
protected:
    void SetUp() override
    {
        p11 = LoadModule();
        ASSERT_EQ(RunTool("reader add " + kReader), 0);
    }
    void TearDown() override { p11->C_Finalize(nullptr); }

    std::string CreateToken(const std::string& options)
    {
        std::string serial;
        EXPECT_EQ(RunTool("token create --test-pin-rounds 1000 " + options, &serial), 0);
        return Trim(serial);
    }
    void InsertToken(const std::string& serial)
    {
        ASSERT_EQ(RunTool("token insert " + serial + " " + kReader), 0);
    }
    // A token made by "another application": initialized, no manager involved.
    std::string InsertInitializedToken(const std::string& extra = "")
    {
        const std::string serial
            = CreateToken("--model VELA5-64 --label Work --user-pin 1234 --so-pin 87654321 " + extra);
        InsertToken(serial);
        return serial;
    }
    CK_SESSION_HANDLE Open(CK_SLOT_ID slot = 0)
    {
        CK_SESSION_HANDLE session = 0;
        EXPECT_EQ(p11->C_OpenSession(slot, CKF_SERIAL_SESSION | CKF_RW_SESSION, nullptr, nullptr, &session),
            CKR_OK);
        return session;
    }
    CK_RV Login(CK_SESSION_HANDLE session, CK_USER_TYPE user, std::string pin)
    {
        return p11->C_NRV_Login(
            session, user, reinterpret_cast<CK_BYTE*>(pin.data()), static_cast<CK_ULONG>(pin.size()));
    }
    CK_ULONG Count(CK_SESSION_HANDLE session, std::vector<CK_ATTRIBUTE> filter)
    {
        EXPECT_EQ(
            p11->C_FindObjectsInit(session, filter.data(), static_cast<CK_ULONG>(filter.size())), CKR_OK);
        CK_ULONG count = 0;
        EXPECT_EQ(p11->C_FindObjects(session, nullptr, 1000, &count), CKR_OK);
        EXPECT_EQ(p11->C_FindObjectsFinal(session), CKR_OK);
        return count;
    }

    ScopedTestRoot root;
    CK_FUNCTION_LIST* p11 = nullptr;
};
