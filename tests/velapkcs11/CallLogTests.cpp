// The module's call log as a user switches it from the settings dialog: the
// 64-bit view's PKCLOG/PKCDIR, one line per call naming the function, its
// slot or session and the result, and never a PIN.
#include "TokenModuleFixture.h"
#include "platform/registry/Registry.h"

#include <chrono>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <sstream>
#include <string>
#include <thread>

using namespace vela5::platform;

namespace {

class CallLogTest : public TokenModule {
protected:
    void SetUp() override
    {
        TokenModule::SetUp();
        m_log = root.Base() / "logs" / "PKCS_x64.LOG";
        std::filesystem::create_directories(m_log.parent_path());
    }

    // What the manager's settings worker writes for one view.
    static void Switch(Registry::View view, const char* flag, const std::string& path)
    {
        Registry::Key key;
        ASSERT_EQ(Registry::Key::Create(
                      Registry::Hive::LocalMachine, "Software\\Nurvon Ltd.\\VELA5 SDK", view, key),
            Registry::Success);
        ASSERT_EQ(key.SetString("PKCLOG", flag, false), Registry::Success);
        ASSERT_EQ(key.SetString("PKCDIR", path, false), Registry::Success);
    }

    // A new C_Initialize reads the switch again.
    void Restart()
    {
        p11->C_Finalize(nullptr);
        ASSERT_EQ(p11->C_Initialize(nullptr), CKR_OK);
    }

    std::string LogText() const
    {
        std::ifstream in(m_log);
        std::ostringstream text;
        text << in.rdbuf();
        return text.str();
    }

    std::filesystem::path m_log;
};

} // namespace

TEST_F(CallLogTest, OnWritesALinePerCallWithHandleAndResultButNoPin)
{
    InsertInitializedToken();
    Switch(Registry::View::Wow64, "00000001", m_log.string());
    Restart();
    const CK_SESSION_HANDLE session = Open(0);
    EXPECT_EQ(Login(session, CKU_USER, "1234"), CKR_OK);
    EXPECT_NE(Login(session, CKU_USER, "98989898"), CKR_OK);
    CK_TOKEN_INFO info {};
    EXPECT_EQ(p11->C_GetTokenInfo(7, &info), CKR_SLOT_ID_INVALID);
    EXPECT_EQ(p11->C_CloseSession(session), CKR_OK);

    const std::string text = LogText();
    EXPECT_NE(text.find("C_Initialize -> 0x00000000\n"), std::string::npos) << text;
    EXPECT_NE(text.find("C_OpenSession slot 0 -> 0x00000000\n"), std::string::npos) << text;
    EXPECT_NE(
        text.find("C_NRV_Login session " + std::to_string(session) + " -> 0x00000000\n"), std::string::npos)
        << text;
    EXPECT_NE(text.find("C_GetTokenInfo slot 7 -> 0x00000003\n"), std::string::npos) << text;
    EXPECT_NE(text.find("C_CloseSession session " + std::to_string(session) + " -> 0x00000000\n"),
        std::string::npos)
        << text;
    EXPECT_EQ(text.find("1234"), std::string::npos) << "a PIN reached the log";
    EXPECT_EQ(text.find("98989898"), std::string::npos) << "a PIN reached the log";
    EXPECT_EQ(std::filesystem::status(m_log).permissions() & std::filesystem::perms::others_read,
        std::filesystem::perms::none);
}

TEST_F(CallLogTest, OffOrOnlyThe32BitViewWritesNothing)
{
    struct Case {
        Registry::View view;
        const char* flag;
    };
    for (const Case& c :
        { Case { Registry::View::Wow64, "00000000" }, Case { Registry::View::Wow32, "00000001" } }) {
        Switch(Registry::View::Wow64, "00000000", m_log.string());
        Switch(c.view, c.flag, m_log.string());
        Restart();
        CK_ULONG count = 0;
        EXPECT_EQ(p11->C_GetSlotList(CK_FALSE, nullptr, &count), CKR_OK);
        EXPECT_FALSE(std::filesystem::exists(m_log)) << LogText();
    }
}

TEST_F(CallLogTest, SwitchingOffStopsTheLinesOfARunningProcess)
{
    Switch(Registry::View::Wow64, "00000001", m_log.string());
    Restart();
    CK_ULONG count = 0;
    EXPECT_EQ(p11->C_GetSlotList(CK_FALSE, nullptr, &count), CKR_OK);
    const std::string before = LogText();
    ASSERT_NE(before.find("C_GetSlotList -> 0x00000000"), std::string::npos) << before;

    // Without a new C_Initialize: the switch is read again within a second.
    Switch(Registry::View::Wow64, "00000000", m_log.string());
    std::this_thread::sleep_for(std::chrono::milliseconds(1100));
    EXPECT_EQ(p11->C_GetSlotList(CK_FALSE, nullptr, &count), CKR_OK);
    EXPECT_EQ(LogText(), before);
}
