// Decisions of the token commands that need no window.
#include "manager/host/TokenCommandRules.h"

#include <gtest/gtest.h>

using namespace TokenCommandRules;

namespace {

TEST(TokenActionsRulesTests, LoginResultsSteerTheNextStep)
{
    EXPECT_EQ(ClassifyLogin(CKR_OK), LoginStep::Done);
    EXPECT_EQ(ClassifyLogin(CKR_SESSION_HANDLE_INVALID), LoginStep::ReopenSession);
    EXPECT_EQ(ClassifyLogin(CKR_USER_ALREADY_LOGGED_IN), LoginStep::LogOutFirst);
    EXPECT_EQ(ClassifyLogin(CKR_USER_ANOTHER_ALREADY_LOGGED_IN), LoginStep::LogOutFirst);
    // Retry counts run from 1 to 14; 15 is an ordinary (standard) code.
    EXPECT_EQ(ClassifyLogin(1), LoginStep::AskAgain);
    EXPECT_EQ(ClassifyLogin(14), LoginStep::AskAgain);
    EXPECT_EQ(ClassifyLogin(15), LoginStep::Fail);
    EXPECT_EQ(ClassifyLogin(CKR_PIN_INCORRECT), LoginStep::AskAgain);
    EXPECT_EQ(ClassifyLogin(CKR_PIN_LEN_RANGE), LoginStep::AskAgain);
    EXPECT_EQ(ClassifyLogin(CKR_PIN_LOCKED), LoginStep::Locked);
    EXPECT_EQ(ClassifyLogin(CKR_DEVICE_ERROR), LoginStep::Fail);
    EXPECT_EQ(ClassifyLogin(NRV_CKR_CLEAR_CARD_DISABLED), LoginStep::Fail);
}

TEST(TokenActionsRulesTests, DialogLengthLimits)
{
    EXPECT_EQ(GetLoginMaxPinLength(0), 8);
    EXPECT_EQ(GetLoginMaxPinLength(8), 8);
    EXPECT_EQ(GetLoginMaxPinLength(9), 16);
    EXPECT_EQ(GetLoginMaxPinLength(32), 16);
    EXPECT_EQ(GetUnlockSOPINMaxLength(wxS("VELA5-64")), 8);
    EXPECT_EQ(GetUnlockSOPINMaxLength(wxS("SGL64")), 8);
    EXPECT_EQ(GetUnlockSOPINMaxLength(wxS("VELA5-32")), 16);
    EXPECT_EQ(GetUnlockSOPINMaxLength(wxS("SGL32")), 16);
    EXPECT_EQ(GetUnlockSOPINMaxLength(wxString()), 16);
}

TEST(TokenActionsRulesTests, FailureTextsPickThePinSentenceOnlyForPinResults)
{
    EXPECT_EQ(GetPinFailureText(3, false, wxS("Failed to login.")),
        wxS("Failed to login. Incorrect user PIN. 3 attempts left."));
    EXPECT_EQ(GetPinFailureText(CKR_PIN_LOCKED, true, wxS("Failed to change SO PIN.")),
        wxS("Failed to change SO PIN. SO PIN is locked and cannot be used."));
    EXPECT_EQ(GetPinFailureText(CKR_DEVICE_ERROR, false, wxS("Failed to login.")),
        wxS("Failed to login. Some problem has occurred with the token and/or slot."));
    EXPECT_EQ(GetInitFailureText(NRV_CKR_CLEAR_CARD_DISABLED, wxS("Failed to re-initialize token.")),
        wxS("Failed to re-initialize token. The zeroize user data function for the token has been "
            "permanently "
            "disabled."));
    EXPECT_EQ(GetInitFailureText(2, wxS("Failed to re-initialize token.")),
        wxS("Failed to re-initialize token. Incorrect SO PIN. 2 attempts left."));
}

TEST(TokenActionsRulesTests, InitLabelAppendsSerialAndFitsTheBuffer)
{
    EXPECT_EQ(BuildInitLabel(wxS("NRV Card OS 5"), false, wxS("0011223344556677")), wxS("NRV Card OS 5"));
    EXPECT_EQ(BuildInitLabel(wxS("NRV Card OS 5"), true, wxS("0011223344556677")),
        wxS("NRV Card OS 5_0011223344556677"));

    const wxString longLabel = BuildInitLabel(wxString(wxS('x'), 120), true, wxS("0011223344556677"));
    ASSERT_EQ(longLabel.length(), 137U);
    const wxString fitted = FitToBytes(longLabel, 127);
    EXPECT_EQ(fitted.length(), 127U);
    EXPECT_TRUE(longLabel.StartsWith(fitted));
    EXPECT_EQ(FitToBytes(wxS("short"), 127), wxS("short"));
}

} // namespace
