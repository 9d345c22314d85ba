// The module client against fake modules: set-up failures, argument order,
// log lines byte for byte, refused text and the three steps of FindObjects.
#include "manager/core/NRVCMUCryptoki.h"
#include "manager/core/NRVCMULog.h"
#include "tests/support/FakeModuleControl.h"
#include "tests/support/ScopedTestRoot.h"

#include <clocale>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <sstream>
#include <string>

namespace {

namespace fs = std::filesystem;

std::string ReadFile(const fs::path& path)
{
    std::ifstream in(path, std::ios::binary);
    std::ostringstream content;
    content << in.rdbuf();
    return content.str();
}

class CryptokiTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        std::setlocale(LC_ALL, "C");
        fs::create_directories(m_root.Temp() / "nrvcme");
        NRVCMULog::Relocate();
    }

    std::string Log() const { return ReadFile(m_root.Temp() / "nrvcme" / "nrvcmutestlog.txt"); }
    void ClearLog() const { fs::remove(m_root.Temp() / "nrvcme" / "nrvcmutestlog.txt"); }

    ScopedTestRoot m_root;
};

// A client over the working fake, ready for wrapper calls.
class CryptokiFakeTest : public CryptokiTest {
protected:
    void SetUp() override
    {
        CryptokiTest::SetUp();
        ASSERT_TRUE(m_client.CheckCryptokiLibrary());
        ASSERT_EQ(m_client.CheckFunctionList(), CKR_OK);
        ASSERT_EQ(m_client.Initialize(), CKR_OK);
        m_fake.Reset();
        ClearLog();
    }

    NRVCMUCryptoki m_client { FakePath("fake_module.so") };
    FakeModuleControl m_fake { FakePath("fake_module.so") };
};

TEST_F(CryptokiTest, MissingModuleIsReportedByTheChecksOnly)
{
    NRVCMUCryptoki client(FakePath("no_such_module.so"));
    EXPECT_FALSE(client.IsLoaded());
    EXPECT_FALSE(client.CheckCryptokiLibrary());
    EXPECT_EQ(Log(),
        "NRVCMUCryptoki::CheckCryptokiLibrary() - ENTER\t \n"
        "\tERROR: PKCS module has not been loaded.\t \n"
        "NRVCMUCryptoki::CheckCryptokiLibrary() - EXIT\t \n");
    EXPECT_EQ(client.CheckFunctionList(), CKR_GENERAL_ERROR);
    // No list: wrappers answer without touching anything.
    CK_ULONG count = 0;
    EXPECT_EQ(client.GetSlotList(CK_TRUE, nullptr, &count), CKR_CRYPTOKI_NOT_INITIALIZED);
}

TEST_F(CryptokiTest, PlainNameIsFoundBesideTheProgram)
{
    // The dynamic loader would search the toolkit library's paths, not the
    // program's; the client looks beside the program first.
    NRVCMUCryptoki client(wxS("fake_module.so"));
    EXPECT_TRUE(client.CheckCryptokiLibrary());
    EXPECT_EQ(client.CheckFunctionList(), CKR_OK);
}

TEST_F(CryptokiTest, FunctionListFailuresGiveFiveAndSix)
{
    NRVCMUCryptoki noExport(FakePath("fake_no_function_list.so"));
    ASSERT_TRUE(noExport.CheckCryptokiLibrary());
    ClearLog();
    EXPECT_EQ(noExport.CheckFunctionList(), CKR_GENERAL_ERROR);
    EXPECT_EQ(Log(),
        "NRVCMUCryptoki::CheckFunctionList() - ENTER\t \n"
        "\tC_GetFunctionList ERROR: \tCKR_GENERAL_ERROR\n"
        "NRVCMUCryptoki::CheckFunctionList() - EXIT\t \n");

    NRVCMUCryptoki nullList(FakePath("fake_null_function_list.so"));
    ASSERT_TRUE(nullList.CheckCryptokiLibrary());
    // The fake claims success while leaving the list null.
    EXPECT_EQ(nullList.CheckFunctionList(), CKR_FUNCTION_FAILED);
    EXPECT_EQ(nullList.GetFunctionList(), nullptr);
    EXPECT_NE(Log().find("\tC_GetFunctionList ERROR: \tCKR_FUNCTION_FAILED\n"), std::string::npos);
    CK_SESSION_HANDLE session = 0;
    EXPECT_EQ(nullList.OpenSession(1, &session), CKR_CRYPTOKI_NOT_INITIALIZED);
}

TEST_F(CryptokiFakeTest, OneWrapperCallWritesExactlyEnterAndExit)
{
    CK_SLOT_ID slots[4] = {};
    CK_ULONG count = 4;
    EXPECT_EQ(m_client.GetSlotList(CK_TRUE, slots, &count), CKR_OK);
    EXPECT_EQ(count, 2U);
    EXPECT_EQ(slots[1], 4U);
    EXPECT_EQ(m_fake.Journal(), "C_GetSlotList(1,list)\n");
    EXPECT_EQ(Log(),
        "NRVCMUCryptoki::GetSlotList() - ENTER\t \n"
        "NRVCMUCryptoki::GetSlotList() - EXIT\t \n");
}

TEST_F(CryptokiFakeTest, FailedCallLogsTheStandardNameAndReturnsTheCodeUnchanged)
{
    m_fake.SetResult("C_GetSlotInfo", CKR_SLOT_ID_INVALID);
    CK_SLOT_INFO info {};
    EXPECT_EQ(m_client.GetSlotInfo(9, &info), CKR_SLOT_ID_INVALID);
    EXPECT_EQ(Log(),
        "NRVCMUCryptoki::GetSlotInfo() - ENTER\t \n"
        "\tC_GetSlotInfo ERROR: \tCKR_SLOT_ID_INVALID\n"
        "NRVCMUCryptoki::GetSlotInfo() - EXIT\t \n");
}

TEST_F(CryptokiFakeTest, LogInPassesUserTypeSecondAndLogsItByName)
{
    EXPECT_EQ(m_client.LogIn(CKU_SO, 7, wxS("87654321")), CKR_OK);
    EXPECT_EQ(m_client.LogIn(CKU_USER, 7, wxS("1234")), CKR_OK);
    EXPECT_EQ(m_client.LogIn(2, 7, wxS("1234")), CKR_OK);
    EXPECT_EQ(m_fake.Journal(),
        "C_NRV_Login(7,0,87654321,8)\n"
        "C_NRV_Login(7,1,1234,4)\n"
        "C_NRV_Login(7,2,1234,4)\n");
    const std::string enter = "NRVCMUCryptoki::LogIn() - ENTER\t \n";
    const std::string exit = "NRVCMUCryptoki::LogIn() - EXIT\t \n";
    EXPECT_EQ(Log(),
        enter + "\tUser Type = \tCKU_SO\n" + exit + enter + "\tUser Type = \tCKU_USER\n" + exit + enter
            + "\tUser Type = \t00000002\n" + exit);
}

TEST_F(CryptokiTest, VendorEntriesAreReadOnlyFromTheMakersModule)
{
    NRVCMUCryptoki makers(FakePath("fake_module.so"));
    ASSERT_EQ(makers.CheckFunctionList(), CKR_OK);
    ASSERT_EQ(makers.Initialize(), CKR_OK);
    EXPECT_TRUE(makers.HasVendorEntries());
    FakeModuleControl makersFake(FakePath("fake_module.so"));
    makersFake.Reset();
    EXPECT_EQ(makers.RefreshBeforeListing(3), CKR_OK);
    EXPECT_EQ(makersFake.Journal(), "C_NRV_RefreshTokenFlag(3)\n");

    // The other module's list is poisoned past entry 67: a vendor call
    // reaching it would crash this test.
    NRVCMUCryptoki other(FakePath("fake_standard_module.so"));
    FakeModuleControl fake(FakePath("fake_standard_module.so"));
    ASSERT_EQ(other.CheckFunctionList(), CKR_OK);
    ASSERT_EQ(other.Initialize(), CKR_OK);
    EXPECT_FALSE(other.HasVendorEntries());
    fake.Reset();
    CK_BYTE serial[NRV_SERIAL_BUFFER_SIZE] = {};
    NRV_PIN_MIN_MAX range {};
    CK_BYTE partner = 0;
    const CK_RV results[] = {
        other.GetTokenSerial(0, serial),
        other.GetSOPINLengthRange(1, &range),
        other.InitializeToken(0, 1, NRV_INIT_TOKEN_RECORD {}),
        other.ChangeTokenName(7, wxS("Label")),
        other.UnblockUserPIN(7, wxS("87654321"), wxS("1234")),
        other.RefreshTokenFlag(1),
        other.IsTokenReady(1),
        other.GetKeyPairIndex(7, NRV_FROM_PRIVATE_KEY_INDEX, 1, &partner),
        other.LoadCertificate(7, wxS("/tmp/none.p12"), wxS("password")),
    };
    for (const CK_RV rv : results) {
        EXPECT_EQ(rv, CKR_FUNCTION_NOT_SUPPORTED);
    }
    // Before a listing there is nothing to refresh on it.
    EXPECT_EQ(other.RefreshBeforeListing(1), CKR_OK);
    // Logging in still works, through the standard call.
    EXPECT_EQ(other.LogIn(CKU_USER, 7, wxS("1234")), CKR_OK);
    EXPECT_EQ(fake.Journal(), "C_Login(7,1,1234,4)\n");
}

TEST_F(CryptokiFakeTest, VendorCallsNameRetryCodesAsRetries)
{
    m_fake.SetResult("C_NRV_Login", 3);
    EXPECT_EQ(m_client.LogIn(CKU_USER, 7, wxS("0000")), 3U);
    EXPECT_NE(Log().find("\tC_NRV_Login ERROR: \tNRV_CKR_PIN_RETRIES_03\n"), std::string::npos);
    EXPECT_EQ(Log().find("CKR_SLOT_ID_INVALID"), std::string::npos);

    m_fake.SetResult("C_NRV_UnblockUserPIN", 14);
    EXPECT_EQ(m_client.UnblockUserPIN(7, wxS("87654321"), wxS("1111")), 14U);
    EXPECT_NE(Log().find("\tC_NRV_UnblockUserPIN ERROR: \tNRV_CKR_PIN_RETRIES_14\n"), std::string::npos);

    m_fake.SetResult("C_NRV_InitToken", NRV_CKR_CLEAR_CARD_DISABLED);
    CK_BYTE label[NRV_LABEL_BUFFER_SIZE] = "Token";
    CK_BYTE userPin[NRV_PIN_BUFFER_SIZE] = "1234";
    CK_BYTE soPin[NRV_PIN_BUFFER_SIZE] = "87654321";
    NRV_INIT_TOKEN_RECORD record { label, userPin, 4, 10, 16, 4, soPin, 8, 10, 16, 8, 6, 1 };
    ClearLog();
    EXPECT_EQ(m_client.InitializeToken(0, 4, record), NRV_CKR_CLEAR_CARD_DISABLED);
    EXPECT_EQ(Log(),
        "NRVCMUCryptoki::InitializeToken() - ENTER\t \n"
        "\tNSH1 Flag = \t0\n"
        "\tC_NRV_InitToken ERROR: \tNRV_CKR_CLEAR_CARD_DISABLED\n"
        "NRVCMUCryptoki::InitializeToken() - EXIT\t \n");
    EXPECT_NE(m_fake.Journal().find("C_NRV_InitToken(0,4,Token,1234,4,87654321,8,6,1)\n"), std::string::npos);

    // The same code from a standard call keeps its standard name.
    m_fake.SetResult("C_SetPIN", 3);
    EXPECT_EQ(m_client.SetPIN(7, wxS("1234"), wxS("5678")), 3U);
    EXPECT_NE(Log().find("\tC_SetPIN ERROR: \tCKR_SLOT_ID_INVALID\n"), std::string::npos);
}

TEST_F(CryptokiFakeTest, FixedArgumentsReachTheModule)
{
    CK_SESSION_HANDLE session = 0;
    EXPECT_EQ(m_client.OpenSession(4, &session), CKR_OK);
    EXPECT_EQ(session, 7U);
    NRV_PIN_MIN_MAX range {};
    EXPECT_EQ(m_client.GetSOPINLengthRange(4, &range), CKR_OK);
    EXPECT_EQ(range.ulMaxLen, 16U);
    EXPECT_EQ(m_client.IsTokenReady(4), CKR_OK);
    CK_BYTE partner = 0;
    EXPECT_EQ(m_client.GetKeyPairIndex(7, NRV_FROM_PUBLIC_KEY_INDEX, 2, &partner), CKR_OK);
    EXPECT_EQ(partner, 3);
    EXPECT_EQ(m_client.ChangeTokenName(7, wxS("My token")), CKR_OK);
    EXPECT_EQ(m_client.LoadCertificate(7, wxS("/certs/a.pfx"), wxS("secret")), CKR_OK);
    EXPECT_EQ(m_fake.Journal(),
        "C_OpenSession(4,6,null,null)\n"
        "C_NRV_GetPinMinMax(1,4)\n"
        "C_NRV_IsTokenReady(4,0)\n"
        "C_NRV_FindPriPubKey(7,1,2)\n"
        "C_NRV_SetTokenLabel(7,My token,8)\n"
        "C_NRV_LoadCert(7,/certs/a.pfx,secret,6)\n");
}

TEST_F(CryptokiFakeTest, TextThatDoesNotFitIsRefusedBeforeTheModule)
{
    EXPECT_EQ(m_client.LogIn(CKU_USER, 7, wxString('1', 32)), CKR_PIN_LEN_RANGE);
    EXPECT_EQ(m_client.SetPIN(7, wxS("1234"), wxString('2', 32)), CKR_PIN_LEN_RANGE);
    EXPECT_EQ(m_client.UnblockUserPIN(7, wxString('3', 40), wxS("1234")), CKR_PIN_LEN_RANGE);
    EXPECT_EQ(m_client.ChangeTokenName(7, wxString('L', 128)), CKR_DATA_LEN_RANGE);
    EXPECT_EQ(m_client.LoadCertificate(7, wxString('p', 1000), wxS("secret")), CKR_DATA_LEN_RANGE);
    EXPECT_EQ(m_client.LoadCertificate(7, wxS("/a.pfx"), wxString('w', 100)), CKR_DATA_LEN_RANGE);
    // In the C locale nothing beyond ASCII converts to single bytes.
    EXPECT_EQ(m_client.LogIn(CKU_USER, 7, wxString::FromUTF8("12\xc3\xa9")), CKR_PIN_INVALID);
    EXPECT_EQ(m_client.ChangeTokenName(7, wxString::FromUTF8("\xe2\x82\xac")), CKR_ARGUMENTS_BAD);
    EXPECT_EQ(m_fake.Journal(), "");
    EXPECT_NE(Log().find("\tC_NRV_Login REFUSED: \tCKR_PIN_LEN_RANGE\n"), std::string::npos);

    // The longest texts that fit still go through.
    EXPECT_EQ(m_client.LogIn(CKU_USER, 7, wxString('1', 31)), CKR_OK);
    EXPECT_EQ(m_client.LoadCertificate(7, wxString('p', 999), wxString('w', 99)), CKR_OK);
    EXPECT_EQ(m_fake.Journal(),
        "C_NRV_Login(7,1," + std::string(31, '1') + ",31)\n" + "C_NRV_LoadCert(7," + std::string(999, 'p')
            + "," + std::string(99, 'w') + ",99)\n");
}

TEST_F(CryptokiFakeTest, FindObjectsRunsInitFindFinal)
{
    CK_OBJECT_HANDLE handles[8] = {};
    CK_ULONG found = 0;
    EXPECT_EQ(m_client.FindObjects(7, nullptr, 0, handles, 8, &found), CKR_OK);
    EXPECT_EQ(found, 3U);
    EXPECT_EQ(
        m_fake.Journal(), "C_FindObjectsInit(7,0)\nC_FindObjects(7,handles,8)\nC_FindObjectsFinal(7)\n");

    m_fake.Reset();
    m_fake.SetResult("C_FindObjectsInit", CKR_OPERATION_ACTIVE);
    EXPECT_EQ(m_client.FindObjects(7, nullptr, 0, handles, 8, &found), CKR_OPERATION_ACTIVE);
    EXPECT_EQ(m_fake.Journal(), "C_FindObjectsInit(7,0)\n");

    m_fake.Reset();
    m_fake.SetResult("C_FindObjectsFinal", CKR_SESSION_HANDLE_INVALID);
    ClearLog();
    EXPECT_EQ(m_client.FindObjects(7, nullptr, 0, handles, 8, &found), CKR_SESSION_HANDLE_INVALID);
    EXPECT_EQ(Log(),
        "NRVCMUCryptoki::FindObjects() - ENTER\t \n"
        "\tC_FindObjectsFinal ERROR: \tCKR_SESSION_HANDLE_INVALID\n"
        "NRVCMUCryptoki::FindObjects() - EXIT\t \n");
}

TEST_F(CryptokiTest, FailedFindIsNotFinalized)
{
    const std::string path = FakePath("fake_find_objects_fails.so");
    NRVCMUCryptoki client(path);
    FakeModuleControl fake(path);
    ASSERT_EQ(client.CheckFunctionList(), CKR_OK);
    fake.Reset();
    ClearLog();
    CK_OBJECT_HANDLE handles[8] = {};
    CK_ULONG found = 0;
    EXPECT_EQ(client.FindObjects(7, nullptr, 0, handles, 8, &found), CKR_DEVICE_ERROR);
    EXPECT_EQ(fake.Journal(), "C_FindObjectsInit(7,0)\nC_FindObjects(7,handles,8)\n");
    EXPECT_EQ(Log(),
        "NRVCMUCryptoki::FindObjects() - ENTER\t \n"
        "\tC_FindObjects ERROR: \tCKR_DEVICE_ERROR\n"
        "NRVCMUCryptoki::FindObjects() - EXIT\t \n");
}

} // namespace
