// The PIN, label and message dialogs as real windows: titles and names,
// checks applied to the fields (text, focus, emptying), end codes, and the
// destructor's log line.
#include "DialogDriver.h"
#include "manager/core/NRVCMULog.h"
#include "manager/pin/ChangePINDlg.h"
#include "manager/pin/LogInDlg.h"
#include "manager/pin/MessageBoxDlg.h"
#include "manager/pin/RenameTokenDlg.h"
#include "manager/pin/UnlockPINDlg.h"
#include "tests/support/ScopedTestRoot.h"

#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <sstream>
#include <wx/stattext.h>

using namespace DialogDriver;

namespace {

wxString Label(wxWindow& dialog, int id)
{
    auto* text = Find<wxStaticText>(dialog, id);
    return text ? text->GetLabelText() : wxString("<missing>");
}

wxString Value(wxWindow& dialog, int id)
{
    auto* field = Find(dialog, id);
    return field ? field->GetValue() : wxString("<missing>");
}

class PinDialogsTest : public testing::Test {
protected:
    void SetUp() override { NRVCMULog::Relocate(); }
    void TearDown() override { NRVCMULog::Relocate(); }

    EnvironmentRestorer m_environment;
    ScopedTestRoot m_root;
};

} // namespace

TEST_F(PinDialogsTest, LogInTitlesByKindAndAcceptsAnyText)
{
    LogInDlg user(nullptr, PinKind::User, "Login", "Please enter User PIN for \"Token\"", 8);
    EXPECT_EQ(user.GetName(), "NRVCMU_DLG_LOGIN");
    EXPECT_EQ(user.GetTitle(), "Pavix Manager - Login");
    EXPECT_EQ(Label(user, LogInDlg::ID_LBE_NOTIFICATION), "Please enter User PIN for \"Token\"");
    EXPECT_EQ(Label(user, LogInDlg::ID_LBE_ERROR_MESSAGE), "Error");
    EXPECT_TRUE(Find(user, LogInDlg::ID_TXT_PIN)->HasFlag(wxTE_PASSWORD));

    LogInDlg password(nullptr, PinKind::Password, "Certificate", "Enter the password", 32, "of the file");
    EXPECT_EQ(password.GetTitle(), "Login") << "the password kind keeps its own title";
    EXPECT_EQ(Label(password, LogInDlg::ID_LBE_NOTIFICATION), "Enter the password\nof the file");
    EXPECT_GT(password.FindWindow(LogInDlg::ID_TXT_PIN)->GetPosition().y,
        user.FindWindow(LogInDlg::ID_TXT_PIN)->GetPosition().y)
        << "a second notification line moves the field down";

    user.SetErrorMessage("");
    const int code = RunModal(user, [&] {
        Press(user, LogInDlg::ID_BTN_OK);
        EXPECT_EQ(Label(user, LogInDlg::ID_LBE_ERROR_MESSAGE), "Please input the User PIN.");
        EXPECT_TRUE(user.IsModal()) << "an empty PIN keeps the dialog open";
        Type(user, LogInDlg::ID_TXT_PIN, "\t12");
        Press(user, LogInDlg::ID_BTN_OK);
    });
    EXPECT_EQ(code, wxID_OK);
    EXPECT_EQ(user.GetPIN(), "\t12");
}

TEST_F(PinDialogsTest, LogInSetErrorMessageEmptiesAndFocusesThePin)
{
    LogInDlg dialog(nullptr, PinKind::SO, "Login", "SO PIN", 8);
    ShowAndSettle(dialog);
    Type(dialog, LogInDlg::ID_TXT_PIN, "1234");
    dialog.FindWindow(LogInDlg::ID_BTN_CANCEL)->SetFocus();
    dialog.SetErrorMessage("Failed to login. Incorrect SO PIN.");
    EXPECT_EQ(Label(dialog, LogInDlg::ID_LBE_ERROR_MESSAGE), "Failed to login. Incorrect SO PIN.");
    EXPECT_EQ(Value(dialog, LogInDlg::ID_TXT_PIN), "");
    EXPECT_EQ(FocusedId(), LogInDlg::ID_TXT_PIN);
}

TEST_F(PinDialogsTest, CancelAndCloseEndWithNo)
{
    LogInDlg login(nullptr, PinKind::User, "Login", "PIN", 8);
    EXPECT_EQ(RunModal(login, [&] { Press(login, LogInDlg::ID_BTN_CANCEL); }), wxID_NO);
    RenameTokenDlg rename(nullptr, "Token");
    EXPECT_EQ(RunModal(rename, [&] { rename.Close(); }), wxID_NO);
    MessageBoxDlg box(nullptr, "Delete", "Delete it?", true);
    EXPECT_EQ(RunModal(box, [&] { box.Close(); }), wxID_NO);
    MessageBoxDlg box2(nullptr, "Delete", "Delete it?", true);
    EXPECT_EQ(RunModal(box2, [&] { Press(box2, MessageBoxDlg::ID_BTN_NO); }), wxID_NO);
}

TEST_F(PinDialogsTest, ChangePINAppliesChecksToTheFields)
{
    ChangePINDlg dialog(nullptr, "Token", PinKind::User, 6, 8, false);
    EXPECT_EQ(dialog.GetName(), "NRVCMU_DLG_CHANGE_PIN");
    EXPECT_EQ(dialog.GetTitle(), "Pavix Manager - Change User PIN for \"Token\"");
    EXPECT_FALSE(dialog.FindWindow(ChangePINDlg::ID_LBE_HEADER_0)->IsShown());
    EXPECT_TRUE(dialog.FindWindow(ChangePINDlg::ID_TXT_CURRENT_PIN)->IsShown());
    dialog.SetErrorMessage("");
    const int code = RunModal(dialog, [&] {
        Type(dialog, ChangePINDlg::ID_TXT_CURRENT_PIN, "111111");
        Type(dialog, ChangePINDlg::ID_TXT_NEW_PIN, "abcde");
        Press(dialog, ChangePINDlg::ID_BTN_OK);
        EXPECT_EQ(Label(dialog, ChangePINDlg::ID_LBE_ERROR_MESSAGE),
            "User PIN must be at least 6 characters long.");
        EXPECT_EQ(FocusedId(), ChangePINDlg::ID_TXT_NEW_PIN);

        Type(dialog, ChangePINDlg::ID_TXT_NEW_PIN, "abcdef");
        Type(dialog, ChangePINDlg::ID_TXT_VERIFY_NEW_PIN, "ABCDEF");
        Press(dialog, ChangePINDlg::ID_BTN_OK);
        EXPECT_EQ(Label(dialog, ChangePINDlg::ID_LBE_ERROR_MESSAGE), "Failed to verify new User PIN.");
        EXPECT_EQ(Value(dialog, ChangePINDlg::ID_TXT_VERIFY_NEW_PIN), "") << "a wrong verify text is emptied";
        EXPECT_EQ(FocusedId(), ChangePINDlg::ID_TXT_VERIFY_NEW_PIN);

        Type(dialog, ChangePINDlg::ID_TXT_VERIFY_NEW_PIN, "abcdef");
        Press(dialog, ChangePINDlg::ID_BTN_OK);
    });
    EXPECT_EQ(code, wxID_OK);
    EXPECT_EQ(dialog.GetCurrentPIN(), "111111");
    EXPECT_EQ(dialog.GetNewPIN(), "abcdef");
}

TEST_F(PinDialogsTest, ChangePINDefaultModeAsksOnlyForTheNewPin)
{
    ChangePINDlg dialog(nullptr, "Token", PinKind::SO, 4, 16, true);
    EXPECT_EQ(dialog.GetTitle(), "Pavix Manager - Change SO PIN for \"Token\"");
    EXPECT_EQ(Label(dialog, ChangePINDlg::ID_LBE_HEADER_1),
        "To make your token more secure, please change your SO PIN now.");
    EXPECT_TRUE(dialog.FindWindow(ChangePINDlg::ID_LBE_HEADER_0)->IsShown());
    EXPECT_TRUE(dialog.FindWindow(ChangePINDlg::ID_LINE_DIVISION)->IsShown());
    EXPECT_FALSE(dialog.FindWindow(ChangePINDlg::ID_TXT_CURRENT_PIN)->IsShown());
    EXPECT_EQ(Find(dialog, ChangePINDlg::ID_TXT_VERIFY_NEW_PIN)->GetClientSize().x,
        Find(dialog, ChangePINDlg::ID_TXT_NEW_PIN)->GetClientSize().x);

    ShowAndSettle(dialog);
    dialog.SetErrorMessage("Failed to change SO PIN.");
    EXPECT_EQ(FocusedId(), ChangePINDlg::ID_TXT_NEW_PIN) << "no current-PIN field to focus";
    dialog.Hide();

    const int code = RunModal(dialog, [&] {
        Type(dialog, ChangePINDlg::ID_TXT_NEW_PIN, "5678");
        Type(dialog, ChangePINDlg::ID_TXT_VERIFY_NEW_PIN, "5678");
        Press(dialog, ChangePINDlg::ID_BTN_OK);
    });
    EXPECT_EQ(code, wxID_OK);
    EXPECT_EQ(dialog.GetNewPIN(), "5678");
    EXPECT_EQ(dialog.GetCurrentPIN(), "");
}

TEST_F(PinDialogsTest, UnlockKeepsVerifyTextAndReactsToSOPinErrors)
{
    UnlockPINDlg dialog(nullptr, "Token", 4, 8, 8);
    EXPECT_EQ(dialog.GetName(), "NRVCMU_DLG_UNLOCK_PIN");
    EXPECT_EQ(dialog.GetTitle(), "Pavix Manager - Unlock User PIN for \"Token\"");
    ShowAndSettle(dialog);

    Type(dialog, UnlockPINDlg::ID_TXT_NEW_USER_PIN, "abcd");
    Type(dialog, UnlockPINDlg::ID_TXT_VERIFY_NEW_USER_PIN, "ABCD");
    Press(dialog, UnlockPINDlg::ID_BTN_OK);
    EXPECT_EQ(Label(dialog, UnlockPINDlg::ID_LBE_ERROR_MESSAGE), "Failed to verify new User PIN.");
    EXPECT_EQ(Value(dialog, UnlockPINDlg::ID_TXT_VERIFY_NEW_USER_PIN), "ABCD");
    EXPECT_EQ(FocusedId(), UnlockPINDlg::ID_TXT_VERIFY_NEW_USER_PIN);

    Type(dialog, UnlockPINDlg::ID_TXT_CURRENT_SO_PIN, "8888");
    dialog.SetErrorMessage("Failed to unlock User PIN. Device error.");
    EXPECT_EQ(FocusedId(), UnlockPINDlg::ID_TXT_VERIFY_NEW_USER_PIN) << "an unrelated error moves nothing";
    dialog.SetErrorMessage("Failed to unlock User PIN. Locked SO PIN.");
    EXPECT_EQ(FocusedId(), UnlockPINDlg::ID_TXT_CURRENT_SO_PIN);
    EXPECT_EQ(Value(dialog, UnlockPINDlg::ID_TXT_CURRENT_SO_PIN), "8888");
    dialog.FindWindow(UnlockPINDlg::ID_TXT_NEW_USER_PIN)->SetFocus();
    dialog.SetErrorMessage("Failed to unlock User PIN. Incorrect SO PIN.");
    EXPECT_EQ(
        Label(dialog, UnlockPINDlg::ID_LBE_ERROR_MESSAGE), "Failed to unlock User PIN. Incorrect SO PIN.");
    EXPECT_EQ(Value(dialog, UnlockPINDlg::ID_TXT_CURRENT_SO_PIN), "");
    EXPECT_EQ(FocusedId(), UnlockPINDlg::ID_TXT_CURRENT_SO_PIN);
    dialog.Hide();

    const int code = RunModal(dialog, [&] {
        Type(dialog, UnlockPINDlg::ID_TXT_VERIFY_NEW_USER_PIN, "abcd");
        Type(dialog, UnlockPINDlg::ID_TXT_CURRENT_SO_PIN, "87654321");
        Press(dialog, UnlockPINDlg::ID_BTN_OK);
    });
    EXPECT_EQ(code, wxID_OK);
    EXPECT_EQ(dialog.GetNewUserPIN(), "abcd");
    EXPECT_EQ(dialog.GetSOPIN(), "87654321");
}

TEST_F(PinDialogsTest, RenameTrimsTrailingSpaceAndAcceptsLeading)
{
    RenameTokenDlg dialog(nullptr, "Token");
    EXPECT_EQ(dialog.GetName(), "NRVCMU_DLG_RENAME_TOKEN");
    EXPECT_EQ(dialog.GetTitle(), "Pavix Manager - Rename Token");
    EXPECT_EQ(Label(dialog, RenameTokenDlg::ID_LBL_ERROR), "");
    EXPECT_EQ(Value(dialog, RenameTokenDlg::ID_TXT_CURRENT_TOKEN_NAME), "Token");
    EXPECT_FALSE(dialog.FindWindow(RenameTokenDlg::ID_TXT_CURRENT_TOKEN_NAME)->IsEnabled());
    const wxWindow* wider = dialog.FindWindow(RenameTokenDlg::ID_LBE_CURRENT_TOKEN_LABEL);
    EXPECT_GE(dialog.FindWindow(RenameTokenDlg::ID_TXT_NEW_TOKEN_NAME)->GetPosition().x,
        wider->GetRect().GetRight() + 10);

    const int code = RunModal(dialog, [&] {
        Type(dialog, RenameTokenDlg::ID_TXT_NEW_TOKEN_NAME, "abc  ");
        Press(dialog, RenameTokenDlg::ID_BTN_CHANGE);
        EXPECT_EQ(
            Label(dialog, RenameTokenDlg::ID_LBL_ERROR), "Token label should not end with white-spaces.");
        EXPECT_EQ(Value(dialog, RenameTokenDlg::ID_TXT_NEW_TOKEN_NAME), "abc");
        EXPECT_EQ(FocusedId(), RenameTokenDlg::ID_TXT_NEW_TOKEN_NAME);
        Type(dialog, RenameTokenDlg::ID_TXT_NEW_TOKEN_NAME, "   ");
        Press(dialog, RenameTokenDlg::ID_BTN_CHANGE);
        EXPECT_EQ(Label(dialog, RenameTokenDlg::ID_LBL_ERROR), "Invalid token label.");
        EXPECT_EQ(Value(dialog, RenameTokenDlg::ID_TXT_NEW_TOKEN_NAME), "");
        Type(dialog, RenameTokenDlg::ID_TXT_NEW_TOKEN_NAME, " abc");
        Press(dialog, RenameTokenDlg::ID_BTN_CHANGE);
    });
    EXPECT_EQ(code, wxID_OK);
    EXPECT_EQ(dialog.GetNewLabel(), " abc");
}

TEST_F(PinDialogsTest, MessageBoxShortQuestionAndSingleOK)
{
    MessageBoxDlg question(nullptr, "Delete", "Delete the certificate?", true);
    EXPECT_EQ(question.GetName(), "NRVCMU_DLG_MESSAGE_BOX");
    EXPECT_EQ(question.GetTitle(), "Pavix Manager - Delete");
    EXPECT_EQ(question.GetClientSize().x, 520) << "a short message keeps the usual width";
    EXPECT_GE(question.GetClientSize().y, 96);
    EXPECT_EQ(Label(question, MessageBoxDlg::ID_LBE_CAPTION), "Delete the certificate?");
    EXPECT_TRUE(question.FindWindow(MessageBoxDlg::ID_BTN_NO)->IsShown());
    EXPECT_EQ(RunModal(question, [&] { Press(question, MessageBoxDlg::ID_BTN_YES); }), wxID_OK);

    MessageBoxDlg notice(nullptr, "Import", "Done.", false);
    auto* ok = Find<wxButton>(notice, MessageBoxDlg::ID_BTN_YES);
    EXPECT_EQ(ok->GetLabel(), "OK");
    EXPECT_NEAR(ok->GetRect().x + ok->GetRect().width / 2, 260, 1) << "the single button is centred";
    EXPECT_FALSE(notice.FindWindow(MessageBoxDlg::ID_BTN_NO)->IsShown());
    const wxRect caption = notice.FindWindow(MessageBoxDlg::ID_LBE_CAPTION)->GetRect();
    EXPECT_NEAR(caption.x + caption.width / 2, 260, 1) << "the message is centred";
    EXPECT_GT(ok->GetPosition().y, caption.GetBottom());
    EXPECT_EQ(RunModal(notice, [&] { Press(notice, MessageBoxDlg::ID_BTN_YES); }), wxID_OK);
}

TEST_F(PinDialogsTest, MessageBoxBreaksALongPathAndGrows)
{
    const wxString path = "C:\\Users\\someone\\Documents\\Certificate\\Department of Record\\2026\\December"
                          "\\signing\\token-export-final.p12";
    MessageBoxDlg box(nullptr, "Import", "Failed to open " + path + "!", false);
    const wxString shown = Label(box, MessageBoxDlg::ID_LBE_CAPTION);
    EXPECT_TRUE(shown.StartsWith("\nFailed to open C:\\")) << shown;
    EXPECT_GE(shown.Freq('\n'), 2);
    const wxRect caption = box.FindWindow(MessageBoxDlg::ID_LBE_CAPTION)->GetRect();
    EXPECT_LE(caption.GetRight(), box.GetClientSize().x) << "no line is cut off";
    ASSERT_GE(caption.height, 49) << "three lines are taller than the one-line box";
    const wxRect yes = box.FindWindow(MessageBoxDlg::ID_BTN_YES)->GetRect();
    EXPECT_GT(yes.y, caption.GetBottom()) << "the button moved below the lines";
    EXPECT_LE(yes.GetBottom(), box.GetClientSize().y) << "and the box grew to hold it";
}

TEST_F(PinDialogsTest, DestructorWritesItsLogLine)
{
    std::filesystem::create_directories(m_root.Temp() / "nrvcme");
    NRVCMULog::Relocate();
    {
        RenameTokenDlg dialog(nullptr, "Token");
    }
    {
        LogInDlg dialog(nullptr, PinKind::User, "Login", "PIN", 8);
    }
    std::ifstream in(m_root.Temp() / "nrvcme" / "nrvcmutestlog.txt");
    std::stringstream content;
    content << in.rdbuf();
    EXPECT_EQ(content.str(),
        "RenameTokenDlg::~RenameTokenDlg()\t>> Destroy()\n"
        "LogInDlg::~LogInDlg()\t>> Destroy()\n");
}
