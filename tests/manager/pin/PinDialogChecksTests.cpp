// The decisions of the PIN and label dialogs, without a display: which check
// fails first, its text, the field it focuses and what happens to that field.
#include "manager/pin/PinDialogChecks.h"

#include <gtest/gtest.h>
#include <wx/arrstr.h>

namespace {

void ExpectFailure(const PinCheckResult& result, const wxString& message, PinField focus)
{
    EXPECT_FALSE(result.accepted);
    EXPECT_EQ(result.message, message);
    EXPECT_EQ(result.focus, focus);
}

} // namespace

TEST(PinDialogChecks, ValidPinCharactersAreLatin1WithoutControls)
{
    EXPECT_TRUE(IsValidPinCharacters(""));
    EXPECT_TRUE(IsValidPinCharacters("a b~"));
    EXPECT_TRUE(IsValidPinCharacters(wxString(wchar_t(233)) + wchar_t(255)));
    EXPECT_FALSE(IsValidPinCharacters("ab\tc"));
    EXPECT_FALSE(IsValidPinCharacters(wxString("ab") + wchar_t(31)));
    EXPECT_FALSE(IsValidPinCharacters(wxString("ab") + wchar_t(0x0416))); // Cyrillic
    EXPECT_FALSE(IsValidPinCharacters(wxString(wchar_t(256))));
}

TEST(PinDialogChecks, LogInNamesTheSecretByKind)
{
    ExpectFailure(CheckLogIn(PinKind::SO, ""), "Please input the SO PIN.", PinField::Pin);
    ExpectFailure(CheckLogIn(PinKind::User, ""), "Please input the User PIN.", PinField::Pin);
    ExpectFailure(CheckLogIn(PinKind::Password, ""), "Please input the password.", PinField::Pin);
    // No length or character check at login.
    EXPECT_TRUE(CheckLogIn(PinKind::User, "\t").accepted);
}

TEST(PinDialogChecks, ChangePINChecksInOrder)
{
    const auto user = [](const wxString& current, const wxString& newPin, const wxString& verify) {
        return CheckChangePIN(PinKind::User, true, current, newPin, verify, 6);
    };
    ExpectFailure(user("", "", ""), "Please input current User PIN.", PinField::CurrentPin);
    ExpectFailure(user("123456", "123456", "x"), "Please input a new User PIN.", PinField::NewPin);
    ExpectFailure(user("123456", "", "x"), "Please input new User PIN.", PinField::NewPin);
    const PinCheckResult invalid = user("123456", "12\t456", "");
    ExpectFailure(invalid, "Please input a valid User PIN value.", PinField::NewPin);
    EXPECT_TRUE(invalid.selectAll);
    ExpectFailure(
        user("123456", "12345", ""), "User PIN must be at least 6 characters long.", PinField::NewPin);
    ExpectFailure(user("123456", "abcdef", ""), "Please verify new User PIN.", PinField::VerifyPin);
    const PinCheckResult caseOnly = user("123456", "abcdef", "ABCDEF");
    ExpectFailure(caseOnly, "Failed to verify new User PIN.", PinField::VerifyPin);
    EXPECT_TRUE(caseOnly.replaceText);
    EXPECT_TRUE(caseOnly.replacement.empty());
    EXPECT_TRUE(user("123456", "abcdef", "abcdef").accepted);
}

TEST(PinDialogChecks, ChangePINSOTextsAndDefaultPinMode)
{
    ExpectFailure(CheckChangePIN(PinKind::SO, true, "", "a", "a", 4), "Please input current SO PIN.",
        PinField::CurrentPin);
    ExpectFailure(CheckChangePIN(PinKind::SO, true, "1234", "12", "12", 4),
        "SO PIN must be at least 4 characters long.", PinField::NewPin);
    ExpectFailure(CheckChangePIN(PinKind::SO, true, "1234", "5678", "5679", 4),
        "Failed to verify new SO PIN.", PinField::VerifyPin);
    // Without the current-PIN field its checks are skipped: an empty current
    // PIN or one equal to the new PIN does not matter.
    EXPECT_TRUE(CheckChangePIN(PinKind::SO, false, "", "5678", "5678", 4).accepted);
    EXPECT_TRUE(CheckChangePIN(PinKind::SO, false, "5678", "5678", "5678", 4).accepted);
    ExpectFailure(
        CheckChangePIN(PinKind::SO, false, "", "", "", 4), "Please input new SO PIN.", PinField::NewPin);
}

TEST(PinDialogChecks, UnlockPINChecksInOrderAndKeepsVerifyText)
{
    ExpectFailure(CheckUnlockPIN("", "", "", 4), "Please input new User PIN.", PinField::NewPin);
    const PinCheckResult invalid = CheckUnlockPIN(wxString("ab") + wchar_t(0x0416) + "cd", "", "", 4);
    ExpectFailure(invalid, "Please input a valid User PIN value.", PinField::NewPin);
    EXPECT_TRUE(invalid.selectAll);
    ExpectFailure(
        CheckUnlockPIN("123", "", "", 4), "User PIN must be at least 4 characters long.", PinField::NewPin);
    ExpectFailure(CheckUnlockPIN("1234", "", "", 4), "Please verify new User PIN.", PinField::VerifyPin);
    const PinCheckResult caseOnly = CheckUnlockPIN("abcd", "ABCD", "", 4);
    ExpectFailure(caseOnly, "Failed to verify new User PIN.", PinField::VerifyPin);
    EXPECT_FALSE(caseOnly.replaceText);
    ExpectFailure(CheckUnlockPIN("abcd", "abcd", "", 4), "Please enter current SO PIN.", PinField::SOPin);
    EXPECT_TRUE(CheckUnlockPIN("abcd", "abcd", "x", 4).accepted);
}

TEST(PinDialogChecks, UnlockErrorTextDecidesTheSOPinField)
{
    EXPECT_EQ(
        UnlockErrorReaction("Failed to unlock User PIN. Incorrect SO PIN."), SOPinReaction::ClearAndFocus);
    EXPECT_EQ(UnlockErrorReaction("Failed to unlock User PIN. Locked SO PIN."), SOPinReaction::Focus);
    EXPECT_EQ(UnlockErrorReaction("Failed to unlock User PIN. Device error."), SOPinReaction::None);
    EXPECT_EQ(UnlockErrorReaction(""), SOPinReaction::None);
}

TEST(PinDialogChecks, RenameTokenLabels)
{
    ExpectFailure(CheckRenameToken("Token", ""), "Please enter a valid token label.", PinField::NewLabel);
    ExpectFailure(CheckRenameToken("Token", "Token"), "Please enter a new token label.", PinField::NewLabel);
    EXPECT_TRUE(CheckRenameToken("Token", "TOKEN").accepted);
    const PinCheckResult control = CheckRenameToken("Token", "ab\x01");
    ExpectFailure(control, "Please enter a valid token label.", PinField::NewLabel);
    EXPECT_TRUE(control.selectAll);

    struct Case {
        const char* label;
        const char* message;
        const char* trimmed;
    };
    const Case cases[] = {
        { "abc ", "Token label should not end with a white-space.", "abc" },
        { "abc  ", "Token label should not end with white-spaces.", "abc" },
        { "   ", "Invalid token label.", "" },
    };
    for (const Case& c : cases) {
        const PinCheckResult result = CheckRenameToken("Token", c.label);
        ExpectFailure(result, c.message, PinField::NewLabel);
        EXPECT_TRUE(result.replaceText) << c.label;
        EXPECT_EQ(result.replacement, c.trimmed) << c.label;
    }
    EXPECT_TRUE(CheckRenameToken("Token", " abc").accepted);
}

TEST(PinDialogChecks, InitializationPINChecksByKind)
{
    ExpectFailure(CheckInitializePIN(PinKind::User, "", "", 4), "Please input User PIN.", PinField::UserPin);
    ExpectFailure(
        CheckInitializePIN(PinKind::SO, "ab\ncd", "", 4), "Please input a valid SO PIN.", PinField::SOPin);
    ExpectFailure(CheckInitializePIN(PinKind::SO, "12345", "", 6),
        "SO PIN must be at least 6 characters long.", PinField::SOPin);
    ExpectFailure(
        CheckInitializePIN(PinKind::User, "1234", "", 4), "Please verify User PIN.", PinField::UserVerifyPin);
    ExpectFailure(CheckInitializePIN(PinKind::SO, "1234", "1235", 4), "Failed to verify SO PIN.",
        PinField::SOVerifyPin);
    EXPECT_TRUE(CheckInitializePIN(PinKind::User, "1234", "1234", 4).accepted);
}

TEST(PinDialogChecks, PinTypesAndGroupTitles)
{
    EXPECT_EQ(PinSourceForType(0), PinSource::Default);
    EXPECT_EQ(PinSourceForType(1), PinSource::Manual);
    EXPECT_EQ(PinSourceForType(2), PinSource::Random);
    EXPECT_EQ(PinSourceForType(-1), PinSource::Random);
    EXPECT_EQ(PinGroupTitle(PinKind::User, PinSource::Default), "User PIN - Default Value");
    EXPECT_EQ(PinGroupTitle(PinKind::SO, PinSource::Manual), "SO PIN - Manual Input");
    EXPECT_EQ(PinGroupTitle(PinKind::SO, PinSource::Random), "SO PIN - Randomly Generated");
    EXPECT_EQ(MatchImageFor("", ""), MatchImage::Hidden);
    EXPECT_EQ(MatchImageFor("12", "12"), MatchImage::Match);
    EXPECT_EQ(MatchImageFor("12", "13"), MatchImage::Mismatch);
    EXPECT_EQ(MatchImageFor("", "1"), MatchImage::Mismatch);
}

TEST(PinDialogChecks, LongMessageBreaksAtBackslashes)
{
    // One line of 120 characters: "Failed to open " and a path.
    wxString path = "C:\\Users\\someone\\Documents\\Certificate\\Department of Record";
    path += "\\2026\\December\\signing\\token-export-final.p12";
    const wxString message = wxString("Failed to open ") + path + "!";
    ASSERT_EQ(message.length(), 120u);

    const wxString broken = BreakLongMessage(message);
    ASSERT_TRUE(broken.StartsWith("\n")) << "a message without line break gains an empty first line";
    const wxArrayString lines = wxSplit(broken.Mid(1), '\n', 0);
    ASSERT_GE(lines.size(), 2u);
    wxString joined;
    for (size_t i = 0; i < lines.size(); ++i) {
        EXPECT_LE(lines[i].length(), 80u) << lines[i];
        if (i + 1 < lines.size()) {
            EXPECT_TRUE(lines[i].EndsWith("\\")) << lines[i];
        }
        joined += lines[i];
    }
    EXPECT_EQ(joined, message) << "breaking must not lose or add characters";
    // The first piece ends at the last backslash before position 80.
    EXPECT_EQ(lines[0], message.Mid(0, message.rfind('\\', 79) + 1));
}

TEST(PinDialogChecks, LongMessageKeepsHeadAndUnbreakableTails)
{
    // The text before the last line break stays; a short last line stays whole.
    EXPECT_EQ(BreakLongMessage("first\nsecond"), "first\nsecond");
    // A long last line without backslashes is shown whole.
    const wxString plain(100, 'x');
    EXPECT_EQ(BreakLongMessage("head\n" + plain), "head\n" + plain);
    // The first backslash at position 80 or later is the break point.
    const wxString late = wxString(90, 'a') + "\\" + wxString(10, 'b');
    EXPECT_EQ(BreakLongMessage(late), "\n" + wxString(90, 'a') + "\\\n" + wxString(10, 'b'));
    // After a break, a remaining tail of 80 characters or fewer is appended as is.
    const wxString twoPieces = wxString(50, 'a') + "\\" + wxString(50, 'b') + "\\" + wxString(5, 'c');
    EXPECT_EQ(BreakLongMessage(twoPieces),
        "\n" + wxString(50, 'a') + "\\\n" + wxString(50, 'b') + "\\" + wxString(5, 'c'));
}
