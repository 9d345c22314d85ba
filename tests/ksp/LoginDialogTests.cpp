// The PIN dialog, shown for real under the test display and answered through
// its window: typing into the masking field, the Login button's minimum
// length rule, wrong and blocked PINs, the PIN cache around it.
#include "TokenKeys.h"
#include "platform/registry/Registry.h"

#include <deque>
#include <functional>
#include <wx/button.h>
#include <wx/dialog.h>
#include <wx/stattext.h>
#include <wx/textctrl.h>
#include <wx/timer.h>
#include <wx/toplevel.h>

using namespace vela5::platform;

namespace {

struct Attempt {
    Attempt() = default;
    // NOLINTNEXTLINE: attempts are written as their PINs.
    Attempt(const char* typed)
        : pin(typed)
    {
    }
    std::string pin;
    bool cancel = false;
    // Runs after typing, before the button is pressed.
    std::function<void(wxDialog&, wxTextCtrl&)> before;
};

// What one look at the dialog found.
struct Seen {
    std::string title;
    std::string statusBefore; // the status line as the attempt found it
    std::string fieldBefore;
    bool fieldEnabled = true;
    bool loginEnabledBefore = false;
    std::vector<bool> loginEnabledWhileTyping;
    std::string fieldAfterTyping;
};

// Answers every CLogin dialog with the next attempt: types its PIN one
// character at a time and presses Login, or Cancel. With no attempt left it
// cancels. Counts the dialogs shown (a dialog kept open is counted once).
class LoginAnswerer final : public wxTimer {
public:
    explicit LoginAnswerer(std::initializer_list<Attempt> attempts)
        : m_attempts(attempts.begin(), attempts.end())
    {
        Start(20);
    }
    ~LoginAnswerer() override { Stop(); }

    void Add(const Attempt& attempt) { m_attempts.push_back(attempt); }

    void Notify() override
    {
        for (wxWindow* window : wxTopLevelWindows) {
            auto* dialog = dynamic_cast<wxDialog*>(window);
            if (dialog == nullptr || dialog->GetName() != "CLogin" || !dialog->IsModal()) {
                continue;
            }
            if (dialog->GetClientData() == nullptr) {
                dialog->SetClientData(this);
                ++m_shown;
            }
            Answer(*dialog);
            return;
        }
    }

    int Shown() const { return m_shown; }
    const std::vector<Seen>& Looks() const { return m_looks; }

private:
    void Answer(wxDialog& dialog)
    {
        auto* field = dynamic_cast<wxTextCtrl*>(dialog.FindWindow(1001));
        auto* status = dynamic_cast<wxStaticText*>(dialog.FindWindow(1004));
        auto* login = dynamic_cast<wxButton*>(dialog.FindWindow(wxID_OK));
        auto* cancel = dynamic_cast<wxButton*>(dialog.FindWindow(wxID_CANCEL));
        ASSERT_TRUE(field != nullptr && status != nullptr && login != nullptr && cancel != nullptr);
        Seen seen;
        seen.title = dialog.GetTitle().utf8_string();
        seen.statusBefore = status->GetLabel().utf8_string();
        seen.fieldBefore = field->GetValue().utf8_string();
        seen.fieldEnabled = field->IsEnabled();
        seen.loginEnabledBefore = login->IsEnabled();
        Attempt attempt;
        if (!m_attempts.empty()) {
            attempt = m_attempts.front();
            m_attempts.pop_front();
        } else {
            attempt.cancel = true;
        }
        if (!attempt.cancel) {
            field->SetInsertionPointEnd();
            for (const char c : attempt.pin) {
                field->WriteText(wxString(c));
                seen.loginEnabledWhileTyping.push_back(login->IsEnabled());
            }
        }
        if (attempt.before) {
            attempt.before(dialog, *field);
        }
        seen.fieldAfterTyping = field->GetValue().utf8_string();
        m_looks.push_back(seen);
        wxButton* press = attempt.cancel ? cancel : login;
        wxCommandEvent click(wxEVT_BUTTON, press->GetId());
        click.SetEventObject(press);
        press->GetEventHandler()->ProcessEvent(click);
    }

    std::deque<Attempt> m_attempts;
    std::vector<Seen> m_looks;
    int m_shown = 0;
};

} // namespace

class LoginDialogTest : public KeyTest {
protected:
    void SetUp() override
    {
        KeyTest::SetUp();
        ClearPinCache();
    }
    void TearDown() override
    {
        ClearPinCache();
        KeyTest::TearDown();
    }
    static void SetPinCache(const char* value)
    {
        Registry::Key key;
        ASSERT_EQ(Registry::Key::Create(Registry::Hive::LocalMachine, "Software\\Nurvon Ltd.\\VELA5 SDK",
                      Registry::View::Native, key),
            Registry::Success);
        ASSERT_EQ(key.SetString("PINCACHE", value), Registry::Success);
    }
    static void ClearPinCache()
    {
        Registry::Key key;
        if (Registry::Key::Open(Registry::Hive::LocalMachine, "Software\\Nurvon Ltd.\\VELA5 SDK",
                Registry::Access::Write, Registry::View::Native, key)
            == Registry::Success) {
            key.DeleteValue("PINCACHE");
        }
    }
    // One operation that needs the User: a fresh enumeration.
    static SECURITY_STATUS Operation(NCRYPT_PROV_HANDLE provider)
    {
        std::vector<std::u16string> names;
        return Enumerate(provider, names);
    }
};

// Two providers on one token: the PIN is asked once and the cache entry
// serves both, also after the token logged out.
TEST_F(LoginDialogTest, PinAskedOncePerTokenAndSharedByProviders)
{
    AddPinToken("VELA5 Login Reader", kPin, "", "Alice Token");
    LoginAnswerer answer { { kPin } };
    const NCRYPT_PROV_HANDLE first = OpenWith(nullptr);
    const NCRYPT_PROV_HANDLE second = OpenWith(nullptr);
    EXPECT_EQ(Operation(first), ERROR_SUCCESS);
    LogOut("VELA5 Login Reader");
    EXPECT_EQ(Operation(second), ERROR_SUCCESS);
    EXPECT_EQ(Operation(first), ERROR_SUCCESS);
    EXPECT_EQ(answer.Shown(), 1);
    ASSERT_EQ(answer.Looks().size(), 1U);
    EXPECT_EQ(answer.Looks()[0].title, "Enter PIN for Alice Token");
    EXPECT_EQ(answer.Looks()[0].statusBefore, "");
    EXPECT_EQ(answer.Looks()[0].fieldAfterTyping, "****");
    const std::string log = NewLog();
    EXPECT_TRUE(Contains(log, "PIN cache is empty"));
    EXPECT_TRUE(Contains(log, "Retrieving PIN from cache"));
    EXPECT_TRUE(Contains(log, "PIN securely saved"));
    EXPECT_EQ(Table().FreeProvider(first), ERROR_SUCCESS);
    EXPECT_EQ(Table().FreeProvider(second), ERROR_SUCCESS);
}

TEST_F(LoginDialogTest, PinCacheSettingDecidesHowOftenThePinIsAsked)
{
    AddPinToken("VELA5 Login Reader");
    const struct {
        const char* value; // null: not set
        int asked;
    } cases[] = { { "00000000", 3 }, { nullptr, 1 }, { "00000001", 1 } };
    bool first = true;
    for (const auto& c : cases) {
        if (!first) {
            NewTokenIn("VELA5 Login Reader");
        }
        first = false;
        if (c.value != nullptr) {
            SetPinCache(c.value);
        } else {
            ClearPinCache();
        }
        LoginAnswerer answer { { kPin }, { kPin }, { kPin } };
        const NCRYPT_PROV_HANDLE provider = OpenWith(nullptr);
        for (int i = 0; i < 3; ++i) {
            EXPECT_EQ(Operation(provider), ERROR_SUCCESS) << (c.value ? c.value : "not set");
        }
        EXPECT_EQ(answer.Shown(), c.asked) << (c.value ? c.value : "not set");
        EXPECT_EQ(Table().FreeProvider(provider), ERROR_SUCCESS);
    }
    EXPECT_TRUE(Contains(NewLog(), "PIN caching is not allowed"));
}

TEST_F(LoginDialogTest, WrongPinKeepsTheDialogWithTheRetriesLeft)
{
    AddPinToken("VELA5 Login Reader", kPin, "--error-limit 3");
    LoginAnswerer answer { { "0000" }, { kPin } };
    const NCRYPT_PROV_HANDLE provider = OpenWith(nullptr);
    EXPECT_EQ(Operation(provider), ERROR_SUCCESS);
    EXPECT_EQ(answer.Shown(), 1);
    ASSERT_EQ(answer.Looks().size(), 2U);
    EXPECT_EQ(answer.Looks()[1].statusBefore, "Incorrect PIN. Retries left: 2");
    EXPECT_EQ(answer.Looks()[1].fieldBefore, "");
    EXPECT_FALSE(answer.Looks()[1].loginEnabledBefore);
    EXPECT_TRUE(Contains(NewLog(), "Incorrect PIN. Retries left: 2"));
    EXPECT_EQ(Table().FreeProvider(provider), ERROR_SUCCESS);
}

TEST_F(LoginDialogTest, LoginWaitsForTheMinimumPinLength)
{
    AddPinToken("VELA5 Login Reader", "123456", "--min-pin 6 --max-pin 10");
    LoginAnswerer answer { { "123456" } };
    const NCRYPT_PROV_HANDLE provider = OpenWith(nullptr);
    EXPECT_EQ(Operation(provider), ERROR_SUCCESS);
    ASSERT_EQ(answer.Looks().size(), 1U);
    EXPECT_FALSE(answer.Looks()[0].loginEnabledBefore);
    EXPECT_EQ(answer.Looks()[0].loginEnabledWhileTyping,
        (std::vector<bool> { false, false, false, false, false, true }));
    EXPECT_EQ(Table().FreeProvider(provider), ERROR_SUCCESS);
}

// A PIN changed after it was cached costs one attempt: the refused PIN is
// dropped, the dialog asked, and the new PIN cached in its place.
TEST_F(LoginDialogTest, ChangedPinDropsTheCachedOneWithoutLockingTheToken)
{
    AddPinToken("VELA5 Login Reader", kPin, "--error-limit 2");
    LoginAnswerer answer { { kPin }, { "5678" } };
    const NCRYPT_PROV_HANDLE provider = OpenWith(nullptr);
    EXPECT_EQ(Operation(provider), ERROR_SUCCESS);
    ChangePin("VELA5 Login Reader", kPin, "5678");
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(Operation(provider), ERROR_SUCCESS) << i;
        LogOut("VELA5 Login Reader");
    }
    EXPECT_EQ(answer.Shown(), 2);
    EXPECT_FALSE(UserPinLocked("VELA5 Login Reader"));
    EXPECT_TRUE(Contains(NewLog(), "Cached PIN was refused; it is dropped. Retries left: 1"));
    EXPECT_EQ(Table().FreeProvider(provider), ERROR_SUCCESS);
}

// A login the token fails ends the dialog with that failure, not success.
TEST_F(LoginDialogTest, FailedLoginIsReportedAsItsFailure)
{
    const std::string serial = AddPinToken("VELA5 Login Reader");
    LoginAnswerer answer { { kPin } };
    const NCRYPT_PROV_HANDLE provider = OpenWith(nullptr);
    TokenTool("token fail " + serial + " C_NRV_Login 0x30");
    EXPECT_EQ(Operation(provider), NTE_INTERNAL_ERROR);
    TokenTool("token fail " + serial + " C_NRV_Login off");
    EXPECT_EQ(answer.Shown(), 1);
    const std::string log = NewLog();
    EXPECT_TRUE(Contains(log, "Login dialog exited with code: 0x8009002D"));
    EXPECT_FALSE(Contains(log, "PIN securely saved"));
    EXPECT_EQ(Table().FreeProvider(provider), ERROR_SUCCESS);
}

TEST_F(LoginDialogTest, BlockedPinLeavesOnlyCancel)
{
    AddPinToken("VELA5 Login Reader", kPin, "--error-limit 1");
    LoginAnswerer answer { { "0000" } };
    const NCRYPT_PROV_HANDLE provider = OpenWith(nullptr);
    EXPECT_EQ(Operation(provider), SCARD_W_CANCELLED_BY_USER);
    ASSERT_EQ(answer.Looks().size(), 2U);
    EXPECT_EQ(answer.Looks()[1].statusBefore, "Pin is locked");
    EXPECT_FALSE(answer.Looks()[1].fieldEnabled);
    EXPECT_FALSE(answer.Looks()[1].loginEnabledBefore);
    EXPECT_TRUE(
        Contains(NewLog(), "SCARD_W_CANCELLED_BY_USER: PIN submission has been cancelled by the user."));
    EXPECT_EQ(Table().FreeProvider(provider), ERROR_SUCCESS);
}

// Typing 1234, putting the caret at 2 and deleting one character leaves
// "124" in the cells: the token accepts it as the PIN.
TEST_F(LoginDialogTest, MaskingFieldFollowsCaretAndDeletion)
{
    AddPinToken("VELA5 Login Reader", "124", "--min-pin 3");
    Attempt edit { "1234" };
    edit.before = [](wxDialog&, wxTextCtrl& field) {
        field.SetInsertionPoint(2);
        field.Remove(2, 3);
    };
    LoginAnswerer answer { edit };
    const NCRYPT_PROV_HANDLE provider = OpenWith(nullptr);
    EXPECT_EQ(Operation(provider), ERROR_SUCCESS);
    ASSERT_EQ(answer.Looks().size(), 1U);
    EXPECT_EQ(answer.Looks()[0].fieldAfterTyping, "***");
    EXPECT_EQ(Table().FreeProvider(provider), ERROR_SUCCESS);
}

TEST_F(LoginDialogTest, CancelAfterAWrongPinCancelsTheOperation)
{
    AddPinToken("VELA5 Login Reader", kPin, "--error-limit 5");
    LoginAnswerer answer { { "9999" } };
    const NCRYPT_PROV_HANDLE provider = OpenWith(nullptr);
    EXPECT_EQ(Operation(provider), SCARD_W_CANCELLED_BY_USER);
    EXPECT_EQ(answer.Looks().size(), 2U);
    EXPECT_EQ(answer.Looks()[1].statusBefore, "Incorrect PIN. Retries left: 4");
    EXPECT_TRUE(Contains(NewLog(), "Login cancelled"));
    EXPECT_EQ(Table().FreeProvider(provider), ERROR_SUCCESS);
}

// Shift+End erases the whole field, cells and text; what is typed after it
// is the PIN.
TEST_F(LoginDialogTest, ShiftEndErasesTheField)
{
    AddPinToken("VELA5 Login Reader", "5678");
    Attempt retype { "1234" };
    retype.before = [](wxDialog& dialog, wxTextCtrl& field) {
        wxKeyEvent shiftEnd(wxEVT_KEY_DOWN);
        shiftEnd.m_keyCode = WXK_END;
        shiftEnd.m_shiftDown = true;
        shiftEnd.SetEventObject(&field);
        field.GetEventHandler()->ProcessEvent(shiftEnd);
        EXPECT_EQ(field.GetValue(), "");
        EXPECT_FALSE(dialog.FindWindow(wxID_OK)->IsEnabled());
        field.SetInsertionPointEnd();
        for (const char c : std::string("5678")) {
            field.WriteText(wxString(c));
        }
    };
    LoginAnswerer answer { retype };
    const NCRYPT_PROV_HANDLE provider = OpenWith(nullptr);
    EXPECT_EQ(Operation(provider), ERROR_SUCCESS);
    ASSERT_EQ(answer.Looks().size(), 1U);
    EXPECT_EQ(answer.Looks()[0].fieldAfterTyping, "****");
    EXPECT_EQ(Table().FreeProvider(provider), ERROR_SUCCESS);
}
