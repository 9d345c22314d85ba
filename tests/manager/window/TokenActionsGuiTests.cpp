// The token commands end to end on the software token: real dialogs answered
// through the modal seam, module calls through the manager's client, and a
// stand-in window that checks pauses, status texts and the actions.
#include "TokenActionsTestHost.h"
#include "TokenActionsTestSupport.h"
#include "manager/core/CryptokiResultText.h"
#include "manager/core/NRVCMULog.h"
#include "manager/core/WindowWorker.h"
#include "manager/host/ModuleAccess.h"
#include "manager/window/MainInitializeTokenThread.h"
#include "manager/window/TokenActions.h"
#include "tests/support/ScopedTestRoot.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <dlfcn.h>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <thread>
#include <unistd.h>

using namespace token_actions_test;

namespace {

// ---- The other process of the session test --------------------------------
// Started as this same program with TOKEN_ACTIONS_HOLD_SESSION set: it opens a
// session on slot 0, writes the ready file and keeps the session until its
// standard input closes.
int HoldSession()
{
    const std::string module = std::string(std::getenv("VELA5_BIN_DIR")) + "/velapkcs11.so";
    void* library = dlopen(module.c_str(), RTLD_NOW);
    if (library == nullptr) {
        return 2;
    }
    auto getList = reinterpret_cast<CK_RV (*)(CK_FUNCTION_LIST_PTR_PTR)>(dlsym(library, "C_GetFunctionList"));
    CK_FUNCTION_LIST_PTR list = nullptr;
    CK_SESSION_HANDLE session = 0;
    if (getList == nullptr || getList(&list) != CKR_OK || list->C_Initialize(nullptr) != CKR_OK
        || list->C_OpenSession(0, CKF_SERIAL_SESSION | CKF_RW_SESSION, nullptr, nullptr, &session)
            != CKR_OK) {
        return 3;
    }
    std::ofstream(std::getenv("TOKEN_ACTIONS_READY_FILE")) << session << '\n';
    while (std::getchar() != EOF) { }
    list->C_Finalize(nullptr);
    return 0;
}

[[maybe_unused]] const bool g_isSessionHolder = [] {
    if (std::getenv("TOKEN_ACTIONS_HOLD_SESSION") != nullptr) {
        std::_Exit(HoldSession());
    }
    return false;
}();

// ---- The fixture -------------------------------------------------------------
class TokenActionsGuiTests : public testing::Test {
protected:
    void SetUp() override
    {
        const char* bin = std::getenv("VELA5_BIN_DIR");
        ASSERT_NE(bin, nullptr);
        m_bin = bin;
        NRVCMULog::Relocate();
        Tool("reader add 'Reader 0'");
        m_serial = Tool("token create --test-pin-rounds 1000 --model VELA5-64 --blank");
        ASSERT_FALSE(m_serial.empty());
        Tool("token insert " + m_serial + " 'Reader 0'");

        m_cryptoki = std::make_unique<NRVCMUCryptoki>(wxString::FromUTF8(m_bin + "/velapkcs11.so"));
        ASSERT_TRUE(m_cryptoki->CheckCryptokiLibrary());
        ASSERT_EQ(m_cryptoki->CheckFunctionList(), CKR_OK);
        ASSERT_EQ(m_cryptoki->Initialize(), CKR_OK);
        m_settings = std::make_unique<NRVCMUSettings>(wxString::FromUTF8(m_bin));
        ASSERT_FALSE(m_settings->IsTampered());
        m_host = std::make_unique<TokenActionsTestHost>(*m_cryptoki, *m_settings);
        m_host->Enumerate();
        m_host->Select(0);
        m_actions = std::make_unique<TokenActions>(*m_host);
    }

    void TearDown() override
    {
        m_actions.reset();
        m_host.reset();
        if (m_cryptoki) {
            m_cryptoki->Finalize();
        }
        ModalRunner::ClearHooks();
    }

    std::string Tool(const std::string& arguments) { return RunTokenTool(m_bin, arguments); }

    // Lets the initialization worker finish and its result reach the window.
    void WaitForWorker()
    {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
        while (m_host->IsPaused() && std::chrono::steady_clock::now() < deadline) {
            wxTheApp->ProcessPendingEvents();
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
        ASSERT_FALSE(m_host->IsPaused()) << "the worker's result never arrived";
    }

    void InitializeToken(bool clearCard = true)
    {
        DialogScript script;
        script.Then(AcceptInit(clearCard));
        m_actions->Initialize();
        WaitForWorker();
        ASSERT_EQ(m_host->LastStatus(), wxS("Token has been initialized successfully."));
        m_host->Select(0);
    }

    void LogIn(const wxString& pin)
    {
        DialogScript script;
        script.Then(EnterPin(pin));
        m_actions->Login();
        ASSERT_EQ(m_host->LastStatus(), wxS("User has logged in successfully."));
    }

    // Every command ends with polling running and the actions back on.
    void ExpectCommandEnded()
    {
        EXPECT_FALSE(m_host->IsPaused());
        EXPECT_TRUE(m_host->AreActionsEnabled());
    }

    SlotRecord& Record() { return m_host->GetSlotRecord(0); }
    CK_SESSION_HANDLE Session() { return m_host->GetSlotSession(0); }

    ScopedTestRoot m_root;
    std::string m_bin;
    std::string m_serial;
    std::unique_ptr<NRVCMUCryptoki> m_cryptoki;
    std::unique_ptr<NRVCMUSettings> m_settings;
    std::unique_ptr<TokenActionsTestHost> m_host;
    std::unique_ptr<TokenActions> m_actions;
};

// ---- The commands ------------------------------------------------------------
TEST_F(TokenActionsGuiTests, InitializeWritesTheConfiguredLabelWithTheSerial)
{
    m_settings->SetIsAppendSerialNumberToLabel(true);
    DialogScript script;
    script.Then(AcceptInit(true));
    m_actions->Initialize();
    WaitForWorker();

    EXPECT_EQ(script.Names(), std::vector<wxString> { wxS("NRVCMU_DLG_INITIALIZE_TOKEN") });
    const std::vector<wxString> expected { wxS("Preparing to initialize token . . ."),
        wxS("Initializing token . . . Please do not remove card/token."),
        wxS("Token has been initialized successfully.") };
    EXPECT_EQ(std::vector<wxString>(m_host->Statuses().end() - 3, m_host->Statuses().end()), expected);
    EXPECT_EQ(m_host->GetDisplayed().label, wxS("NRV Card OS 5_") + wxString::FromUTF8(m_serial));
    EXPECT_TRUE(m_host->IsDisplayedTokenInitialized());
    ExpectCommandEnded();
}

TEST_F(TokenActionsGuiTests, CancelledCommandsReportTheirCancelledTextAndReleaseTheWindow)
{
    {
        DialogScript script;
        script.Then(Cancel());
        m_actions->Initialize();
        EXPECT_EQ(
            m_host->LastStatus(), wxS("Token has not been initialized because the operation was cancelled."));
        ExpectCommandEnded();
    }
    InitializeToken();
    {
        DialogScript script;
        script.Then(Cancel());
        m_actions->Login();
        EXPECT_EQ(m_host->LastStatus(), wxS("User has not logged in because the operation was cancelled."));
        ExpectCommandEnded();
    }
    {
        // A dialog closed by the poller (wxID_CANCEL) ends the command quietly.
        DialogScript script;
        script.Then([](wxDialog&) { return wxID_CANCEL; });
        m_actions->ChangeSOPIN();
        EXPECT_EQ(m_host->LastStatus(), wxS("Preparing to change SO PIN . . ."));
        ExpectCommandEnded();
    }
    EXPECT_NE(Session(), 0U) << "the SO PIN command opened the slot's session";
}

TEST_F(TokenActionsGuiTests, WrongUserPinAsksAgainWithAttemptsLeftUntilLocked)
{
    m_settings->SetUserPINErrorLimit(4);
    InitializeToken();
    DialogScript script;
    script.Then(EnterPin(wxS("00000000"))).Then(EnterPin(wxS("00000001"))).Then(EnterPin(wxS("00000002")));
    script.Then(EnterPin(wxS("00000003")));
    m_actions->Login();

    ASSERT_EQ(script.Errors().size(), 4U);
    EXPECT_EQ(script.Errors()[0], wxString());
    EXPECT_EQ(script.Errors()[1], wxS("Incorrect user PIN. 3 attempts left."));
    EXPECT_EQ(script.Errors()[2], wxS("Incorrect user PIN. 2 attempts left."));
    EXPECT_EQ(script.Errors()[3], wxS("Incorrect user PIN. Only 1 attempt left."));
    EXPECT_EQ(m_host->LastStatus(), wxS("Failed to login. User PIN is locked and cannot be used."));
    EXPECT_FALSE(Record().loggedIn);
    EXPECT_TRUE(Record().cachedPIN.empty());
    ExpectCommandEnded();

    // The right PIN no longer helps.
    DialogScript again;
    again.Then(EnterPin(kFactoryPIN));
    m_actions->Login();
    EXPECT_EQ(m_host->LastStatus(), wxS("Failed to login. User PIN is locked and cannot be used."));
}

TEST_F(TokenActionsGuiTests, DefaultPinLoginInsistsOnANewPin)
{
    InitializeToken();
    DialogScript script;
    script.Then(EnterPin(kFactoryPIN))
        .Then(ChangePin(wxString(), kFactoryPIN))
        .Then(ChangePin(wxString(), wxS("11223344")));
    m_actions->Login();

    EXPECT_EQ(script.Names(),
        (std::vector<wxString> {
            wxS("NRVCMU_DLG_LOGIN"), wxS("NRVCMU_DLG_CHANGE_PIN"), wxS("NRVCMU_DLG_CHANGE_PIN") }));
    EXPECT_EQ(script.Errors()[2], wxS("Please change default User PIN."));
    EXPECT_EQ(m_host->LastStatus(),
        wxS("User has logged in successfully. Default User PIN has also been changed."));
    EXPECT_TRUE(Record().loggedIn);
    EXPECT_EQ(Record().cachedPIN.Reveal(), wxS("11223344"));
    ExpectCommandEnded();

    m_actions->Logout();
    EXPECT_EQ(m_host->LastStatus(), wxS("User has logged out successfully."));
    EXPECT_EQ(Session(), 0U);
    EXPECT_FALSE(Record().loggedIn);
    EXPECT_TRUE(Record().cachedPIN.empty());
    ExpectCommandEnded();

    // The new PIN is the token's, and no longer the default: no prompt.
    LogIn(wxS("11223344"));
}

TEST_F(TokenActionsGuiTests, DefaultPinPromptCancelledKeepsTheLogin)
{
    InitializeToken();
    DialogScript script;
    script.Then(EnterPin(kFactoryPIN)).Then(Cancel());
    m_actions->Login();
    EXPECT_EQ(m_host->LastStatus(),
        wxS("User has logged in successfully but default User PIN has not been changed."));
    EXPECT_TRUE(Record().loggedIn);
    ExpectCommandEnded();
}

TEST_F(TokenActionsGuiTests, ChangeUserPinVerifiesTheCurrentPinFirst)
{
    m_settings->SetIsAskChangeDefaultPin(false);
    InitializeToken();
    LogIn(kFactoryPIN);
    DialogScript script;
    script.Then(ChangePin(wxS("99999999"), wxS("12341234"))).Then(ChangePin(kFactoryPIN, wxS("12341234")));
    m_actions->ChangeUserPIN();

    ASSERT_EQ(script.Errors().size(), 2U);
    // The wrong current PIN meets the User already logged in: the command
    // logs out and tries it, and the token counts the failure.
    EXPECT_EQ(script.Errors()[1], wxS("Incorrect user PIN. 7 attempts left."));
    EXPECT_EQ(m_host->LastStatus(), wxS("User PIN has been changed successfully."));
    EXPECT_EQ(Record().cachedPIN.Reveal(), wxS("12341234"));
    ExpectCommandEnded();
}

TEST_F(TokenActionsGuiTests, ChangeSoPinLeavesTheUserLoggedIn)
{
    m_settings->SetIsAskChangeDefaultPin(false);
    InitializeToken();
    LogIn(kFactoryPIN);
    {
        DialogScript script;
        script.Then(ChangePin(kFactoryPIN, wxS("55667788")));
        m_actions->ChangeSOPIN();
        EXPECT_EQ(m_host->LastStatus(), wxS("SO PIN has been changed successfully."));
        EXPECT_GT(m_host->TokenShows(), 0);
        ExpectCommandEnded();
    }
    EXPECT_TRUE(Record().loggedIn);
    CK_SESSION_INFO info {};
    ASSERT_EQ(m_cryptoki->GetFunctionList()->C_GetSessionInfo(Session(), &info), CKR_OK);
    EXPECT_EQ(info.state, static_cast<CK_STATE>(CKS_RW_USER_FUNCTIONS));

    // The old SO PIN is refused now.
    DialogScript script;
    script.Then(ChangePin(kFactoryPIN, wxS("10101010"))).Then(Cancel());
    m_actions->ChangeSOPIN();
    ASSERT_EQ(script.Errors().size(), 2U);
    EXPECT_EQ(script.Errors()[1], wxS("Incorrect SO PIN. 7 attempts left."));
    EXPECT_EQ(m_host->LastStatus(), wxS("SO PIN has not been changed because the operation was cancelled."));
    ExpectCommandEnded();
}

TEST_F(TokenActionsGuiTests, UnlockAfterLockSetsANewUserPin)
{
    m_settings->SetUserPINErrorLimit(2);
    m_settings->SetIsAskChangeDefaultPin(false);
    InitializeToken();
    {
        DialogScript script;
        script.Then(EnterPin(wxS("00000000"))).Then(EnterPin(wxS("00000001")));
        m_actions->Login();
        ASSERT_EQ(m_host->LastStatus(), wxS("Failed to login. User PIN is locked and cannot be used."));
    }
    DialogScript script;
    script.Then(Unlock(wxS("87654321"), wxS("44556677"))).Then(Unlock(kFactoryPIN, wxS("44556677")));
    m_actions->UnlockUserPIN();
    ASSERT_EQ(script.Errors().size(), 2U);
    EXPECT_EQ(script.Errors()[1], wxS("Incorrect SO PIN. 7 attempts left."));
    EXPECT_EQ(m_host->LastStatus(), wxS("User PIN has been unlocked successfully."));
    ExpectCommandEnded();

    LogIn(wxS("44556677"));
}

TEST_F(TokenActionsGuiTests, InitializeClosesASessionHeldByAnotherProcess)
{
    char self[4096] {};
    ASSERT_GT(readlink("/proc/self/exe", self, sizeof self - 1), 0);
    const std::filesystem::path ready = m_root.Base() / "holder-ready";
    const std::string command
        = "TOKEN_ACTIONS_HOLD_SESSION=1 TOKEN_ACTIONS_READY_FILE='" + ready.string() + "' '" + self + "'";
    FILE* holder = popen(command.c_str(), "w");
    ASSERT_NE(holder, nullptr);
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (!std::filesystem::exists(ready) && std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    ASSERT_TRUE(std::filesystem::exists(ready)) << "the other process did not open its session";
    CK_TOKEN_INFO info {};
    ASSERT_EQ(m_cryptoki->GetTokenInfo(0, &info), CKR_OK);
    EXPECT_EQ(info.ulSessionCount, 1U);

    InitializeToken();
    ASSERT_EQ(m_cryptoki->GetTokenInfo(0, &info), CKR_OK);
    EXPECT_EQ(info.ulSessionCount, 0U);
    ExpectCommandEnded();
    EXPECT_EQ(pclose(holder), 0);
}

TEST_F(TokenActionsGuiTests, ReinitializeReportsTheDisabledClearCard)
{
    m_settings->SetIsAskChangeDefaultPin(false);
    InitializeToken(false);
    LogIn(kFactoryPIN);
    DialogScript script;
    script.Then(AcceptInit(true));
    m_actions->Reinitialize();
    WaitForWorker();

    ASSERT_EQ(script.Titles().size(), 1U);
    EXPECT_TRUE(script.Titles()[0].EndsWith(wxS("Re-initialize \"NRV Card OS 5\""))) << script.Titles()[0];
    EXPECT_EQ(m_host->LastStatus(),
        wxS("Failed to re-initialize token. The zeroize user data function for the token has been "
            "permanently "
            "disabled."));
    // The sessions were closed before the module refused: the login is gone.
    EXPECT_EQ(Session(), 0U);
    EXPECT_FALSE(Record().loggedIn);
    ExpectCommandEnded();
}

TEST_F(TokenActionsGuiTests, RenameRestoresTheLoginAndTriesEvenWithAStalePin)
{
    m_settings->SetIsAskChangeDefaultPin(false);
    InitializeToken();
    LogIn(kFactoryPIN);
    {
        DialogScript script;
        script.Then(Rename(wxS("Team Token")));
        m_actions->RenameToken();
        EXPECT_EQ(m_host->LastStatus(), wxS("Token has been renamed successfully."));
        EXPECT_EQ(m_host->GetDisplayed().label, wxS("Team Token"));
        ExpectCommandEnded();
    }

    // The login lapses and the cached PIN no longer fits.
    ASSERT_EQ(m_cryptoki->LogOut(Session()), CKR_OK);
    Record().cachedPIN.Keep(wxS("99999999"));
    DialogScript script;
    script.Then(Rename(wxS("Other Name")));
    m_actions->RenameToken();
    EXPECT_EQ(m_host->LastStatus(), GetResultMessage(CKR_USER_NOT_LOGGED_IN, wxS("Failed to rename token.")));
    m_host->Select(0);
    EXPECT_EQ(m_host->GetDisplayed().label, wxS("Team Token"));
    ExpectCommandEnded();
}

TEST_F(TokenActionsGuiTests, WorkerResultIsDroppedOnceTheWindowIsGone)
{
    DialogScript script;
    script.Then(AcceptInit(true));
    m_actions->Initialize();
    m_host->DestroyWindow();

    // The card operation itself still completes.
    CK_TOKEN_INFO info {};
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    do {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
        ASSERT_EQ(m_cryptoki->GetTokenInfo(0, &info), CKR_OK);
    } while ((info.flags & CKF_TOKEN_INITIALIZED) == 0 && std::chrono::steady_clock::now() < deadline);
    ASSERT_NE(info.flags & CKF_TOKEN_INITIALIZED, 0U);
    for (int i = 0; i < 20; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
        wxTheApp->ProcessPendingEvents();
    }
    EXPECT_EQ(m_host->LastStatus(), wxS("Initializing token . . . Please do not remove card/token."));
    EXPECT_TRUE(m_host->IsPaused());
    m_host->ResumePolling();
}

// Closing the window must not finalize the module under a running worker:
// the wait returns only once the card operation is over.
TEST_F(TokenActionsGuiTests, WaitingForWorkersReturnsOnlyAfterTheCardOperation)
{
    DialogScript script;
    script.Then(AcceptInit(true));
    m_actions->Initialize();
    m_host->DestroyWindow();
    WindowWorker::WaitUntilAllEnded();

    CK_TOKEN_INFO info {};
    ASSERT_EQ(m_cryptoki->GetTokenInfo(0, &info), CKR_OK);
    EXPECT_NE(info.flags & CKF_TOKEN_INITIALIZED, 0U);
    wxTheApp->ProcessPendingEvents();
    m_host->ResumePolling();
}

} // namespace

namespace {

// Module answers that would make a command loop for ever end as a status.
TEST_F(TokenActionsGuiTests, SoPinRangeGivesUpAfterEightDeviceErrors)
{
    InitializeToken();
    Tool("token fail " + m_serial + " C_NRV_GetPinMinMax 0x30");
    DialogScript script;
    m_actions->ChangeSOPIN();
    EXPECT_TRUE(script.Names().empty());
    EXPECT_EQ(m_host->LastStatus(),
        wxS("Failed to get SO PIN length range. Some problem has occurred with the token and/or slot."));
    // One session for the command, then a fresh one before each retry.
    EXPECT_EQ(m_host->SessionOpens(), 8);
    ExpectCommandEnded();
}

TEST_F(TokenActionsGuiTests, LoginStopsReopeningASessionTheModuleKeepsRefusing)
{
    InitializeToken();
    Tool("token fail " + m_serial + " C_NRV_Login 0xB3");
    DialogScript script;
    script.Then(EnterPin(kFactoryPIN));
    m_actions->Login();
    EXPECT_EQ(m_host->LastStatus(), wxS("Failed to login. The specified session handle was invalid."));
    EXPECT_FALSE(Record().loggedIn);
    ExpectCommandEnded();
}

TEST_F(TokenActionsGuiTests, InitializeStopsRetryingWhenSessionsKeepExisting)
{
    Tool("token fail " + m_serial + " C_NRV_InitToken 0xB6");
    DialogScript script;
    script.Then(AcceptInit(true));
    m_actions->Initialize();
    WaitForWorker();
    EXPECT_EQ(m_host->LastStatus(),
        wxS("Failed to initialize token. A session with the token is already open, and so the token cannot "
            "be "
            "initialized."));
    ExpectCommandEnded();
}

// The host counts pauses and fails a resume without one, so each way an
// access ends must resume exactly once, or not at all once handed over.
TEST_F(TokenActionsGuiTests, ModuleAccessResumesOnceWhateverWayItEnds)
{
    const int before = m_host->Pauses();
    {
        ModuleAccess access(*m_host);
        access.Acquire(*m_host);
        EXPECT_TRUE(m_host->IsPaused());
        ModuleAccess moved(std::move(access));
        EXPECT_FALSE(access.IsHeld());
        moved.End();
        EXPECT_FALSE(m_host->IsPaused());
        moved.End();
    }
    {
        ModuleAccess assigned;
        assigned = ModuleAccess(*m_host);
        EXPECT_TRUE(m_host->IsPaused());
    }
    EXPECT_FALSE(m_host->IsPaused()) << "going out of scope resumes";
    {
        ModuleAccess handed(*m_host);
        handed.HandOver();
    }
    EXPECT_TRUE(m_host->IsPaused()) << "a handed-over pause is the receiver's to end";
    m_host->ResumePolling();
    EXPECT_EQ(m_host->Pauses() - before, 3);
}

} // namespace
