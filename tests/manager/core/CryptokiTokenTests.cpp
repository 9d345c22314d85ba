// The module client over the real software token, loaded the way the manager
// loads it: a session's life from login to finalize, and the vendor reading
// of the token's own retry counts.
#include "manager/core/NRVCMUCryptoki.h"
#include "manager/core/NRVCMULog.h"
#include "tests/support/ScopedTestRoot.h"

#include <array>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <sstream>
#include <string>

namespace {

namespace fs = std::filesystem;

std::string BinDir()
{
    const char* bin = std::getenv("VELA5_BIN_DIR");
    return bin == nullptr ? std::string() : bin;
}

// Runs the token tool and returns what it printed, trimmed.
std::string Tool(const std::string& arguments)
{
    const std::string command = "'" + BinDir() + "/vela5-token' " + arguments;
    std::FILE* pipe = popen(command.c_str(), "r");
    std::string output;
    if (pipe == nullptr) {
        ADD_FAILURE() << command;
        return output;
    }
    std::array<char, 256> chunk {};
    while (std::fgets(chunk.data(), chunk.size(), pipe) != nullptr) {
        output += chunk.data();
    }
    EXPECT_EQ(pclose(pipe), 0) << command;
    while (!output.empty() && (output.back() == '\n' || output.back() == ' ')) {
        output.pop_back();
    }
    return output;
}

std::string Padded(const CK_UTF8CHAR* text, std::size_t size)
{
    std::string value(reinterpret_cast<const char*>(text), size);
    value.erase(value.find_last_not_of(' ') + 1);
    return value;
}

class CryptokiTokenTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_FALSE(BinDir().empty());
        ASSERT_TRUE(fs::exists(BinDir() + "/velapkcs11.so")) << "the software token is part of the build";
        fs::create_directories(m_root.Temp() / "nrvcme");
        NRVCMULog::Relocate();
        Tool("reader add 'Reader 1'");
        m_serial = Tool("token create --test-pin-rounds 1000 --model VELA5-32 --label 'Core Test' --user-pin "
                        "1234 --so-pin 87654321");
        Tool("token insert " + m_serial + " 'Reader 1'");

        m_client = std::make_unique<NRVCMUCryptoki>(wxString(BinDir() + "/velapkcs11.so"));
        ASSERT_TRUE(m_client->CheckCryptokiLibrary());
        ASSERT_EQ(m_client->CheckFunctionList(), CKR_OK);
        ASSERT_EQ(m_client->Initialize(), CKR_OK);
        CK_ULONG count = 1;
        ASSERT_EQ(m_client->GetSlotList(CK_TRUE, &m_slot, &count), CKR_OK);
        ASSERT_EQ(count, 1U);
        ASSERT_EQ(m_client->OpenSession(m_slot, &m_session), CKR_OK);
    }

    void TearDown() override
    {
        if (m_client) {
            m_client->CloseAllSessions(m_slot);
            m_client->Finalize();
        }
    }

    std::string Log() const
    {
        std::ifstream in(m_root.Temp() / "nrvcme" / "nrvcmutestlog.txt", std::ios::binary);
        std::ostringstream content;
        content << in.rdbuf();
        return content.str();
    }

    ScopedTestRoot m_root;
    std::string m_serial;
    std::unique_ptr<NRVCMUCryptoki> m_client;
    CK_SLOT_ID m_slot = 0;
    CK_SESSION_HANDLE m_session = 0;
};

TEST_F(CryptokiTokenTest, SessionFromLoginToLogout)
{
    CK_BYTE serial[NRV_SERIAL_BUFFER_SIZE] = {};
    ASSERT_EQ(m_client->GetTokenSerial(0, serial), CKR_OK);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(serial)), m_serial);

    EXPECT_EQ(m_client->LogIn(CKU_USER, m_session, wxS("1234")), CKR_OK);
    EXPECT_EQ(m_client->ChangeTokenName(m_session, wxS("Renamed")), CKR_OK);
    CK_TOKEN_INFO info {};
    ASSERT_EQ(m_client->GetTokenInfo(m_slot, &info), CKR_OK);
    EXPECT_EQ(Padded(info.label, sizeof info.label), "Renamed");

    EXPECT_EQ(m_client->SetPIN(m_session, wxS("1234"), wxS("5678")), CKR_OK);
    EXPECT_EQ(m_client->LogOut(m_session), CKR_OK);
    EXPECT_EQ(m_client->LogIn(CKU_USER, m_session, wxS("5678")), CKR_OK);

    CK_OBJECT_HANDLE handles[16] = {};
    CK_ULONG found = 99;
    EXPECT_EQ(m_client->FindObjects(m_session, nullptr, 0, handles, 16, &found), CKR_OK);
    EXPECT_EQ(found, 0U);
    EXPECT_EQ(m_client->LogOut(m_session), CKR_OK);
    EXPECT_EQ(m_client->CloseSession(m_session), CKR_OK);
    // Nothing failed, so nothing but ENTER and EXIT lines was written.
    EXPECT_EQ(Log().find("ERROR"), std::string::npos) << Log();
}

TEST_F(CryptokiTokenTest, WrongPINsCountDownUnderTheirVendorNames)
{
    const CK_RV first = m_client->LogIn(CKU_USER, m_session, wxS("9999"));
    ASSERT_GE(first, NRV_CKR_PIN_RETRIES_MIN);
    ASSERT_LE(first, NRV_CKR_PIN_RETRIES_MAX);
    char expected[64];
    std::snprintf(expected, sizeof expected, "\tC_NRV_Login ERROR: \tNRV_CKR_PIN_RETRIES_%02u\n",
        static_cast<unsigned int>(first));
    EXPECT_NE(Log().find(expected), std::string::npos) << Log();
    EXPECT_EQ(m_client->LogIn(CKU_USER, m_session, wxS("9999")), first - 1);

    // A wrong SO PIN at unblocking counts the SO PIN down the same way.
    const CK_RV unblock = m_client->UnblockUserPIN(m_session, wxS("00000000"), wxS("4321"));
    ASSERT_GE(unblock, NRV_CKR_PIN_RETRIES_MIN);
    ASSERT_LE(unblock, NRV_CKR_PIN_RETRIES_MAX);
    std::snprintf(expected, sizeof expected, "\tC_NRV_UnblockUserPIN ERROR: \tNRV_CKR_PIN_RETRIES_%02u\n",
        static_cast<unsigned int>(unblock));
    EXPECT_NE(Log().find(expected), std::string::npos) << Log();

    EXPECT_EQ(m_client->UnblockUserPIN(m_session, wxS("87654321"), wxS("4321")), CKR_OK);
    EXPECT_EQ(m_client->LogIn(CKU_USER, m_session, wxS("4321")), CKR_OK);
}

} // namespace
