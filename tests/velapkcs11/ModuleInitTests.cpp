// The standard token and PIN initialization and login codes, as PKCS#11
// tools use them, beside the vendor initialization that shares their path.
#include "TokenModuleFixture.h"

#include <cstring>

namespace {

class StandardInit : public TokenModule {
protected:
    CK_RV InitToken(std::string soPin, const std::string& label)
    {
        CK_UTF8CHAR padded[32];
        std::memset(padded, ' ', sizeof padded);
        std::memcpy(padded, label.data(), label.size());
        return p11->C_InitToken(0, reinterpret_cast<CK_UTF8CHAR*>(soPin.data()), soPin.size(), padded);
    }
    CK_RV InitPin(CK_SESSION_HANDLE session, std::string pin)
    {
        return p11->C_InitPIN(session, reinterpret_cast<CK_UTF8CHAR*>(pin.data()), pin.size());
    }
    CK_RV StandardLogin(CK_SESSION_HANDLE session, CK_USER_TYPE user, std::string pin)
    {
        return p11->C_Login(session, user, reinterpret_cast<CK_UTF8CHAR*>(pin.data()), pin.size());
    }
    CK_TOKEN_INFO Info()
    {
        CK_TOKEN_INFO info = {};
        EXPECT_EQ(p11->C_GetTokenInfo(0, &info), CKR_OK);
        return info;
    }
    CK_OBJECT_HANDLE CreateTokenData(CK_SESSION_HANDLE session)
    {
        static CK_OBJECT_CLASS dataClass = CKO_DATA;
        static CK_BBOOL yes = CK_TRUE;
        static char application[] = "init-test";
        CK_ATTRIBUTE data[] = { { CKA_CLASS, &dataClass, sizeof dataClass }, { CKA_TOKEN, &yes, 1 },
            { CKA_APPLICATION, application, 9 } };
        CK_OBJECT_HANDLE handle = 0;
        EXPECT_EQ(p11->C_CreateObject(session, data, 3, &handle), CKR_OK);
        return handle;
    }
};

TEST_F(StandardInit, BlankTokenGetsItsSoPinThenTheUserPinFromTheSo)
{
    InsertToken(CreateToken("--model VELA5-64 --blank"));
    ASSERT_EQ(p11->C_Initialize(nullptr), CKR_OK);
    EXPECT_EQ(p11->C_InitToken(0, nullptr, 0, nullptr), CKR_ARGUMENTS_BAD);
    ASSERT_EQ(InitToken("87654321", "Fresh"), CKR_OK);
    CK_TOKEN_INFO info = Info();
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(info.label), 32), "Fresh" + std::string(27, ' '));
    EXPECT_NE(info.flags & CKF_TOKEN_INITIALIZED, 0u);
    EXPECT_EQ(info.flags & CKF_USER_PIN_INITIALIZED, 0u);

    const CK_SESSION_HANDLE session = Open();
    EXPECT_EQ(StandardLogin(session, CKU_USER, "1234"), CKR_USER_PIN_NOT_INITIALIZED);
    EXPECT_EQ(InitPin(session, "1234"), CKR_USER_NOT_LOGGED_IN) << "not the SO";
    ASSERT_EQ(StandardLogin(session, CKU_SO, "87654321"), CKR_OK);
    ASSERT_EQ(InitPin(session, "1234"), CKR_OK);
    EXPECT_NE(Info().flags & CKF_USER_PIN_INITIALIZED, 0u);
    ASSERT_EQ(p11->C_Logout(session), CKR_OK);
    EXPECT_EQ(StandardLogin(session, CKU_USER, "1234"), CKR_OK);
}

TEST_F(StandardInit, ReinitializationNeedsTheSoPinAndClearsTheToken)
{
    InsertInitializedToken("--max-pin 12 --so-error-limit 5");
    ASSERT_EQ(p11->C_Initialize(nullptr), CKR_OK);
    CK_SESSION_HANDLE session = Open();
    ASSERT_EQ(StandardLogin(session, CKU_USER, "1234"), CKR_OK);
    CreateTokenData(session);
    char application[] = "init-test";
    ASSERT_EQ(Count(session, { { CKA_APPLICATION, application, 9 } }), 1u);
    EXPECT_EQ(InitToken("87654321", "Again"), CKR_SESSION_EXISTS);
    ASSERT_EQ(p11->C_CloseSession(session), CKR_OK);

    EXPECT_EQ(InitToken("000", "Again"), CKR_PIN_INCORRECT);
    EXPECT_EQ(Info().flags & CKF_SO_PIN_COUNT_LOW, 0u) << "an SO PIN that cannot match costs no attempt";
    EXPECT_EQ(InitToken("00000000", "Again"), CKR_PIN_INCORRECT);
    EXPECT_NE(Info().flags & CKF_SO_PIN_COUNT_LOW, 0u) << "the wrong SO PIN counted";
    ASSERT_EQ(InitToken("87654321", "Again"), CKR_OK);
    const CK_TOKEN_INFO info = Info();
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(info.label), 6), "Again ");
    EXPECT_EQ(info.flags & CKF_USER_PIN_INITIALIZED, 0u);
    EXPECT_EQ(info.flags & CKF_SO_PIN_COUNT_LOW, 0u) << "a new SO PIN has its full counter";
    EXPECT_EQ(info.ulMaxPinLen, 12u) << "the token's own limits stay";

    session = Open();
    EXPECT_EQ(Count(session, { { CKA_APPLICATION, application, 9 } }), 0u) << "objects destroyed";
    EXPECT_EQ(StandardLogin(session, CKU_USER, "1234"), CKR_USER_PIN_NOT_INITIALIZED);
    EXPECT_EQ(StandardLogin(session, CKU_SO, "87654321"), CKR_OK);
}

TEST_F(StandardInit, InitPinNeedsTheSoAndResetsTheUserCounter)
{
    InsertInitializedToken();
    ASSERT_EQ(p11->C_Initialize(nullptr), CKR_OK);
    const CK_SESSION_HANDLE session = Open();
    EXPECT_EQ(StandardLogin(session, CKU_USER, "9999"), CKR_PIN_INCORRECT);
    EXPECT_NE(Info().flags & CKF_USER_PIN_COUNT_LOW, 0u);
    EXPECT_EQ(InitPin(session, "4321"), CKR_USER_NOT_LOGGED_IN) << "public session";
    ASSERT_EQ(StandardLogin(session, CKU_USER, "1234"), CKR_OK);
    EXPECT_EQ(InitPin(session, "4321"), CKR_USER_NOT_LOGGED_IN) << "the User may not";
    ASSERT_EQ(StandardLogin(session, CKU_USER, "9999"), CKR_USER_ALREADY_LOGGED_IN);
    ASSERT_EQ(p11->C_Logout(session), CKR_OK);
    ASSERT_EQ(StandardLogin(session, CKU_USER, "9999"), CKR_PIN_INCORRECT);

    ASSERT_EQ(StandardLogin(session, CKU_SO, "87654321"), CKR_OK);
    EXPECT_EQ(InitPin(session, "12"), CKR_PIN_LEN_RANGE);
    ASSERT_EQ(InitPin(session, "4321"), CKR_OK);
    EXPECT_EQ(Info().flags & CKF_USER_PIN_COUNT_LOW, 0u) << "counter refilled";
    ASSERT_EQ(p11->C_Logout(session), CKR_OK);
    EXPECT_EQ(StandardLogin(session, CKU_USER, "1234"), CKR_PIN_INCORRECT) << "the old PIN is gone";
    EXPECT_EQ(StandardLogin(session, CKU_USER, "4321"), CKR_OK);
}

TEST_F(StandardInit, StandardLoginAnswersOnlyStandardCodes)
{
    InsertInitializedToken("--error-limit 3");
    ASSERT_EQ(p11->C_Initialize(nullptr), CKR_OK);
    const CK_SESSION_HANDLE session = Open();
    EXPECT_EQ(StandardLogin(session, CKU_USER, "12"), CKR_PIN_INCORRECT) << "too short";
    EXPECT_EQ(StandardLogin(session, CKU_USER, "123456789"), CKR_PIN_INCORRECT) << "too long";
    EXPECT_EQ(Info().flags & CKF_USER_PIN_COUNT_LOW, 0u) << "a PIN that cannot match costs no attempt";
    EXPECT_EQ(StandardLogin(session, CKU_USER, "9999"), CKR_PIN_INCORRECT);
    EXPECT_EQ(StandardLogin(session, CKU_USER, "9999"), CKR_PIN_INCORRECT);
    EXPECT_EQ(StandardLogin(session, CKU_USER, "9999"), CKR_PIN_LOCKED);
    EXPECT_EQ(StandardLogin(session, CKU_USER, "1234"), CKR_PIN_LOCKED);
    EXPECT_EQ(StandardLogin(session, 7, "1234"), CKR_USER_TYPE_INVALID);
    EXPECT_EQ(StandardLogin(session, CKU_CONTEXT_SPECIFIC, "1234"), CKR_OPERATION_NOT_INITIALIZED);
    EXPECT_EQ(p11->C_Logout(session), CKR_USER_NOT_LOGGED_IN);
    ASSERT_EQ(StandardLogin(session, CKU_SO, "87654321"), CKR_OK);
    EXPECT_EQ(StandardLogin(session, CKU_USER, "1234"), CKR_USER_ANOTHER_ALREADY_LOGGED_IN);
    EXPECT_EQ(StandardLogin(session, CKU_SO, "87654321"), CKR_USER_ALREADY_LOGGED_IN);
}

TEST_F(StandardInit, StandardAndVendorInitializationShareTheirRules)
{
    InsertInitializedToken("--no-clear-card");
    ASSERT_EQ(p11->C_Initialize(nullptr), CKR_OK);
    EXPECT_EQ(InitToken("87654321", "Never"), NRV_CKR_CLEAR_CARD_DISABLED)
        << "a token made without the clear-card option is never initialized again";
}

} // namespace
