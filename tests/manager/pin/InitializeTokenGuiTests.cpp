// The initialization dialog as a real window: which panels show for the PIN
// types, the checks of manual input in order, the match image, the
// clear-card question, and the values it returns.
#include "DialogDriver.h"
#include "manager/core/ModalRunner.h"
#include "manager/core/NRVCMULog.h"
#include "manager/core/NRVCMUSettings.h"
#include "manager/pin/InitializeTokenDefaultPINPnl.h"
#include "manager/pin/InitializeTokenDlg.h"
#include "manager/pin/InitializeTokenManualInputPINPnl.h"
#include "manager/pin/InitializeTokenRandomPINPnl.h"
#include "manager/res/EmbeddedImages.h"
#include "tests/support/ScopedTestRoot.h"

#include <gtest/gtest.h>
#include <wx/checkbox.h>
#include <wx/statbmp.h>
#include <wx/statbox.h>
#include <wx/stattext.h>

using namespace DialogDriver;

namespace {

PinPolicy Policy(long type, long minLength = 4)
{
    PinPolicy policy;
    policy.type = type;
    policy.defaultValue = "73920518";
    policy.minLength = minLength;
    policy.maxLength = 8;
    policy.randomLength = 8;
    return policy;
}

wxString BoxTitle(wxWindow& dialog, int id)
{
    auto* box = Find<wxStaticBox>(dialog, id);
    return box ? box->GetLabelText() : wxString("<missing>");
}

wxString ErrorLine(wxWindow& dialog)
{
    return Find<wxStaticText>(dialog, InitializeTokenDlg::ID_LBE_ERROR_MESSAGE)->GetLabelText();
}

bool SameImage(const wxBitmap& shown, const char* resource)
{
    const wxImage a = shown.ConvertToImage();
    const wxImage b = LoadEmbeddedBitmap(resource).ConvertToImage();
    if (!a.IsOk() || !b.IsOk() || a.GetSize() != b.GetSize()) {
        return false;
    }
    return std::equal(a.GetData(), a.GetData() + a.GetWidth() * a.GetHeight() * 3, b.GetData());
}

class InitializeTokenTest : public testing::Test {
protected:
    void SetUp() override { NRVCMULog::Relocate(); }
    void TearDown() override
    {
        ModalRunner::ClearHooks();
        NRVCMULog::Relocate();
    }

    EnvironmentRestorer m_environment;
    ScopedTestRoot m_root;
};

} // namespace

TEST_F(InitializeTokenTest, DefaultUserAndRandomSOReturnWithoutChecks)
{
    const wxString caption = "Initialize Token";
    InitializeTokenDlg dialog(nullptr, caption, "Reader 0", Policy(0), Policy(2));
    EXPECT_EQ(dialog.GetName(), "NRVCMU_DLG_INITIALIZE_TOKEN");
    EXPECT_EQ(dialog.GetTitle(), "Pavix Manager - Initialize Token");
    EXPECT_EQ(BoxTitle(dialog, InitializeTokenDlg::ID_GBX_USER_PIN), "User PIN - Default Value");
    EXPECT_EQ(BoxTitle(dialog, InitializeTokenDlg::ID_GBX_SO_PIN), "SO PIN - Randomly Generated");
    EXPECT_EQ(Find<wxStaticText>(dialog, InitializeTokenDlg::ID_LBE_SLOT_DESCRIPTION)->GetLabelText(),
        "[Reader 0]");
    EXPECT_TRUE(dialog.FindWindow(InitializeTokenDlg::ID_LBE_NOTIFCATION0)->IsShown());
    EXPECT_TRUE(dialog.GetDefaultPanel(PinKind::User)->IsShown());
    EXPECT_FALSE(dialog.GetManualPanel(PinKind::User)->IsShown());
    EXPECT_FALSE(dialog.GetRandomPanel(PinKind::User)->IsShown());
    EXPECT_TRUE(dialog.GetRandomPanel(PinKind::SO)->IsShown());
    EXPECT_FALSE(dialog.GetDefaultPanel(PinKind::SO)->IsShown());
    // Both random panels draw a PIN whatever the types.
    const wxString shownSOPin = dialog.GetRandomPanel(PinKind::SO)->GetPIN();
    EXPECT_EQ(shownSOPin.length(), 8u);
    EXPECT_EQ(dialog.GetRandomPanel(PinKind::User)->GetPIN().length(), 8u);
    auto* clearCard = Find<wxCheckBox>(dialog, InitializeTokenDlg::ID_CHK_ENABLE_CLEAR_CARD);
    EXPECT_TRUE(clearCard->GetValue());
    // At the right edge: what lies right of it is the frame's margin.
    const int rightEdge = clearCard->GetScreenRect().GetRight() - dialog.ClientToScreen(wxPoint(0, 0)).x;
    EXPECT_LE(dialog.GetClientSize().x - rightEdge, 32);
    EXPECT_LT(
        Find<wxStaticText>(dialog, InitializeTokenDlg::ID_LBE_SLOT_DESCRIPTION)->GetScreenRect().GetRight(),
        clearCard->GetScreenRect().x)
        << "the slot description stays left of the check box";

    dialog.SetErrorMessage("");
    EXPECT_EQ(RunModal(dialog, [&] { Press(dialog, InitializeTokenDlg::ID_BTN_OK); }), wxID_OK);
    EXPECT_EQ(dialog.GetUserPIN(), "73920518");
    EXPECT_EQ(dialog.GetSOPIN(), shownSOPin);
    EXPECT_TRUE(dialog.IsClearCardEnabled());
}

TEST_F(InitializeTokenTest, DefaultPanelShowsCharactersOnRequest)
{
    InitializeTokenDlg dialog(nullptr, "Initialize Token", "Reader 0", Policy(0), Policy(0));
    InitializeTokenDefaultPINPnl& panel = *dialog.GetDefaultPanel(PinKind::SO);
    auto* masked = Find(panel, InitializeTokenDefaultPINPnl::ID_TXT_PIN);
    auto* plain = Find(panel, InitializeTokenDefaultPINPnl::ID_TXT_PIN_CHAR);
    EXPECT_EQ(masked->GetValue(), "73920518");
    EXPECT_TRUE(masked->HasFlag(wxTE_PASSWORD));
    EXPECT_FALSE(plain->IsShown());
    auto* show = Find<wxCheckBox>(panel, InitializeTokenDefaultPINPnl::ID_CHK_SHOW_CHAR);
    show->SetValue(true);
    wxCommandEvent tick(wxEVT_CHECKBOX, show->GetId());
    tick.SetInt(1);
    tick.SetEventObject(show);
    show->GetEventHandler()->ProcessEvent(tick);
    EXPECT_TRUE(plain->IsShown());
    EXPECT_FALSE(masked->IsShown());
    EXPECT_EQ(plain->GetValue(), "73920518");
}

TEST_F(InitializeTokenTest, ManualInputChecksUserBeforeSO)
{
    InitializeTokenDlg dialog(nullptr, "Initialize Token", "Reader 0", Policy(1, 4), Policy(1, 6));
    EXPECT_EQ(BoxTitle(dialog, InitializeTokenDlg::ID_GBX_USER_PIN), "User PIN - Manual Input");
    EXPECT_EQ(BoxTitle(dialog, InitializeTokenDlg::ID_GBX_SO_PIN), "SO PIN - Manual Input");
    InitializeTokenManualInputPINPnl& user = *dialog.GetManualPanel(PinKind::User);
    InitializeTokenManualInputPINPnl& so = *dialog.GetManualPanel(PinKind::SO);
    const int code = RunModal(dialog, [&] {
        Type(so, InitializeTokenManualInputPINPnl::ID_TXT_PIN, "12");
        Press(dialog, InitializeTokenDlg::ID_BTN_OK);
        EXPECT_EQ(ErrorLine(dialog), "Please input User PIN.") << "the User PIN is checked first";
        EXPECT_EQ(FocusedId(), InitializeTokenManualInputPINPnl::ID_TXT_PIN);
        EXPECT_EQ(wxWindow::FindFocus(), user.GetPINField());

        Type(user, InitializeTokenManualInputPINPnl::ID_TXT_PIN, "1234");
        Press(dialog, InitializeTokenDlg::ID_BTN_OK);
        EXPECT_EQ(ErrorLine(dialog), "Please verify User PIN.");
        EXPECT_EQ(wxWindow::FindFocus(), user.GetVerifyField());

        Type(user, InitializeTokenManualInputPINPnl::ID_TXT_VERIFY_PIN, "1234");
        Type(so, InitializeTokenManualInputPINPnl::ID_TXT_PIN, "12345");
        Press(dialog, InitializeTokenDlg::ID_BTN_OK);
        EXPECT_EQ(ErrorLine(dialog), "SO PIN must be at least 6 characters long.");
        EXPECT_EQ(wxWindow::FindFocus(), so.GetPINField());

        Type(so, InitializeTokenManualInputPINPnl::ID_TXT_PIN, "123456");
        Type(so, InitializeTokenManualInputPINPnl::ID_TXT_VERIFY_PIN, "123457");
        Press(dialog, InitializeTokenDlg::ID_BTN_OK);
        EXPECT_EQ(ErrorLine(dialog), "Failed to verify SO PIN.");

        Type(so, InitializeTokenManualInputPINPnl::ID_TXT_VERIFY_PIN, "123456");
        Press(dialog, InitializeTokenDlg::ID_BTN_OK);
    });
    EXPECT_EQ(code, wxID_OK);
    EXPECT_EQ(dialog.GetUserPIN(), "1234");
    EXPECT_EQ(dialog.GetSOPIN(), "123456");
}

TEST_F(InitializeTokenTest, MatchImageFollowsBothFields)
{
    InitializeTokenDlg dialog(nullptr, "Initialize Token", "Reader 0", Policy(1), Policy(0));
    InitializeTokenManualInputPINPnl& panel = *dialog.GetManualPanel(PinKind::User);
    ASSERT_EQ(LoadEmbeddedBitmap("CheckerTrue").GetSize(), wxSize(16, 16));
    EXPECT_FALSE(LoadEmbeddedBitmap("NoSuchImage").IsOk());
    auto* image = Find<wxStaticBitmap>(panel, InitializeTokenManualInputPINPnl::ID_IMG_CHECKER);
    EXPECT_FALSE(image->IsShown());

    Type(panel, InitializeTokenManualInputPINPnl::ID_TXT_PIN, "4711");
    EXPECT_TRUE(image->IsShown());
    EXPECT_TRUE(SameImage(image->GetBitmap(), "CheckerFalse"));
    Type(panel, InitializeTokenManualInputPINPnl::ID_TXT_VERIFY_PIN, "4711");
    EXPECT_TRUE(SameImage(image->GetBitmap(), "CheckerTrue"));
    EXPECT_FALSE(SameImage(image->GetBitmap(), "CheckerFalse"));
    Type(panel, InitializeTokenManualInputPINPnl::ID_TXT_VERIFY_PIN, "4712");
    EXPECT_TRUE(SameImage(image->GetBitmap(), "CheckerFalse"));
    Type(panel, InitializeTokenManualInputPINPnl::ID_TXT_PIN, "");
    Type(panel, InitializeTokenManualInputPINPnl::ID_TXT_VERIFY_PIN, "");
    EXPECT_FALSE(image->IsShown());
}

TEST_F(InitializeTokenTest, UntickingClearCardAsksAndNoKeepsIt)
{
    InitializeTokenDlg dialog(nullptr, "Initialize Token", "Reader 0", Policy(0), Policy(0));
    auto* box = Find<wxCheckBox>(dialog, InitializeTokenDlg::ID_CHK_ENABLE_CLEAR_CARD);
    wxString asked;
    long askedStyle = 0;
    int answer = wxNO;
    ModalRunner::SetMessageHook([&](const wxString& message, const wxString& caption, long style) {
        asked = caption + "|" + message;
        askedStyle = style;
        return answer;
    });
    const auto untick = [&] {
        box->SetValue(false);
        wxCommandEvent event(wxEVT_CHECKBOX, box->GetId());
        event.SetInt(0);
        event.SetEventObject(box);
        box->GetEventHandler()->ProcessEvent(event);
    };

    untick();
    EXPECT_EQ(asked,
        "Pavix Manager|This action will disable further card data clearing function to your "
        "card/token after initialization.\nDo you still want to uncheck this option?");
    EXPECT_EQ(askedStyle, wxYES_NO | wxICON_EXCLAMATION);
    EXPECT_TRUE(box->GetValue()) << "No ticks the box again";

    answer = wxYES;
    untick();
    EXPECT_FALSE(box->GetValue());
    EXPECT_EQ(RunModal(dialog, [&] { Press(dialog, InitializeTokenDlg::ID_BTN_OK); }), wxID_OK);
    EXPECT_FALSE(dialog.IsClearCardEnabled());
}

TEST_F(InitializeTokenTest, OtherCaptionGivesTheCompactForm)
{
    InitializeTokenDlg dialog(nullptr, "Re-initialize Token", "Reader 1", Policy(0), Policy(0));
    EXPECT_EQ(dialog.GetTitle(), "Pavix Manager - Re-initialize Token");
    EXPECT_FALSE(dialog.FindWindow(InitializeTokenDlg::ID_LBE_NOTIFCATION0)->IsShown());
    EXPECT_FALSE(dialog.FindWindow(InitializeTokenDlg::ID_LBE_NOTIFCATION1)->IsShown());
    InitializeTokenDlg full(nullptr, "Initialize Token", "Reader 1", Policy(0), Policy(0));
    EXPECT_GE(dialog.GetClientSize().x, 536);
    EXPECT_GE(dialog.GetClientSize().y, 166);
    EXPECT_LT(dialog.GetClientSize().y, full.GetClientSize().y) << "the compact form is smaller";
    // Everything fits inside the smaller client area.
    for (const wxWindow* child : dialog.GetChildren()) {
        if (child->IsShown()) {
            EXPECT_LE(child->GetRect().GetBottom(), dialog.GetClientSize().y) << child->GetId();
        }
    }
    EXPECT_EQ(RunModal(dialog, [&] { Press(dialog, InitializeTokenDlg::ID_BTN_CANCEL); }), wxID_NO);
}

TEST_F(InitializeTokenTest, ReadsTypesAndValuesFromTheSettings)
{
    NRVCMUSettings settings(m_root.Base().string());
    settings.SetUserPINType(2);
    settings.SetRandomUserPINLength(12);
    settings.SetIsRandomUserPINUseNumbers(true);
    settings.SetIsRandomUserPINUseUppercaseLetters(false);
    settings.SetIsRandomUserPINUseLowercaseLetters(false);
    settings.SetIsRandomUserPINUseSymbols(false);
    settings.SetSOPINType(0);
    settings.SetSOPINDefaultValue("11223344");

    InitializeTokenDlg dialog(nullptr, "Initialize Token", "Reader 0", settings);
    EXPECT_EQ(BoxTitle(dialog, InitializeTokenDlg::ID_GBX_USER_PIN), "User PIN - Randomly Generated");
    EXPECT_EQ(BoxTitle(dialog, InitializeTokenDlg::ID_GBX_SO_PIN), "SO PIN - Default Value");
    EXPECT_EQ(RunModal(dialog, [&] { Press(dialog, InitializeTokenDlg::ID_BTN_OK); }), wxID_OK);
    EXPECT_EQ(dialog.GetUserPIN().length(), 12u);
    EXPECT_TRUE(dialog.GetUserPIN().IsNumber()) << dialog.GetUserPIN();
    EXPECT_EQ(dialog.GetSOPIN(), "11223344");
}
