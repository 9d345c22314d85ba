// The main window's tray, close question, Save Details, help and the
// propagation agent steered through the settings worker, on the software
// token under a virtual display with the real agent as a process.
#include "WindowTestSupport.h"
#include "certprop/AgentNames.h"
#include "manager/core/ModalRunner.h"
#include "manager/core/NRVCMUSettings.h"
#include "manager/core/WindowWorker.h"
#include "manager/host/CertPropControl.h"
#include "manager/settings/SettingsDlg.h"
#include "manager/settings/SettingsGeneralApplicationPnl.h"
#include "manager/settings/SettingsLoggingPnl.h"
#include "manager/window/MySystemTrayIcon.h"
#include "manager/window/NRVCMUFrm.h"
#include "manager/window/SettingsThread.h"
#include "platform/registry/Registry.h"
#include "platform/shared_word/SharedWord.h"
#include "tests/support/ScriptFolder.h"

#include <algorithm>
#include <cerrno>
#include <fstream>
#include <sstream>
#include <wx/app.h>
#include <wx/checkbox.h>
#include <wx/filedlg.h>
#include <wx/listctrl.h>
#include <wx/log.h>
#include <wx/menu.h>
#include <wx/textctrl.h>

using namespace vela5::platform;

namespace {

std::string ReadAll(const std::filesystem::path& file)
{
    std::ifstream in(file, std::ios::binary);
    std::ostringstream out;
    out << in.rdbuf();
    return out.str();
}

std::vector<std::string> NulSeparated(const std::string& text)
{
    std::vector<std::string> words;
    std::string word;
    for (const char c : text) {
        if (c == '\0') {
            words.push_back(word);
            word.clear();
        } else {
            word += c;
        }
    }
    return words;
}

struct RunningAgent {
    pid_t pid;
    std::vector<std::string> arguments; // without the program
};

class TrayAndAgentGuiTests : public SoftTokenFixture {
protected:
    void SetUp() override
    {
        SoftTokenFixture::SetUp();
        // The agent reads its commands every 50 ms here, not every second.
        setenv("VELA5_CERTPROP_TEST_POLL_INTERVAL_MS", "50", 1);
        m_settings = std::make_unique<NRVCMUSettings>(wxString::FromUTF8(m_bin));
        ASSERT_FALSE(m_settings->IsTampered());
        m_settings->SetIsAskOnExit(false);
        m_settings->SetIsInstallCertificate(false);
        m_settings->SaveHash();
    }

    void TearDown() override
    {
        DestroyFrame();
        ModalRunner::ClearHooks();
        // No agent outlives the test's machine root.
        CertPropControl::RequestAgentStop(CertPropControl::kStopTimeout);
        EXPECT_TRUE(CertPropControl::WaitUntilAgentGone(CertPropControl::kStopTimeout));
        unsetenv("VELA5_CERTPROP_TEST_POLL_INTERVAL_MS");
        m_settings.reset();
        SoftTokenFixture::TearDown();
    }

    void OpenFrame(NRVCMUSettings* settings = nullptr)
    {
        m_frame = new NRVCMUFrm(settings != nullptr ? settings : m_settings.get(), m_cryptoki.get(), 0);
        m_frame->Show();
    }

    void DestroyFrame()
    {
        if (m_frame != nullptr) {
            m_frame->Destroy();
            m_frame = nullptr;
            wxTheApp->ProcessIdle();
        }
    }

    static void Pump()
    {
        wxTheApp->ProcessPendingEvents();
        wxTheApp->Yield(true);
    }

    bool Eventually(
        const std::function<bool()>& condition, std::chrono::milliseconds timeout = std::chrono::seconds(5))
    {
        return WaitFor(condition, Pump, timeout);
    }

    bool FrameAlive() const
    {
        return m_frame != nullptr && wxTopLevelWindows.Find(m_frame) != nullptr && !m_frame->IsBeingDeleted();
    }

    // The agents running on this test's machine root, whoever started them.
    std::vector<RunningAgent> Agents() const
    {
        std::error_code error;
        const std::filesystem::path program
            = std::filesystem::canonical(std::filesystem::path(m_bin) / CertProp::kAgentProgramName, error);
        const std::string rootVariable = std::string("VELA5_ROOT=") + std::getenv("VELA5_ROOT");
        std::vector<RunningAgent> agents;
        for (const auto& entry : std::filesystem::directory_iterator("/proc", error)) {
            const std::string name = entry.path().filename().string();
            if (name.find_first_not_of("0123456789") != std::string::npos) {
                continue;
            }
            std::error_code ignored;
            if (std::filesystem::read_symlink(entry.path() / "exe", ignored) != program) {
                continue;
            }
            const std::vector<std::string> environment = NulSeparated(ReadAll(entry.path() / "environ"));
            if (std::find(environment.begin(), environment.end(), rootVariable) == environment.end()) {
                continue;
            }
            // A reaped-to-be zombie has no command line any more.
            std::vector<std::string> words = NulSeparated(ReadAll(entry.path() / "cmdline"));
            if (words.empty()) {
                continue;
            }
            words.erase(words.begin());
            agents.push_back({ static_cast<pid_t>(std::stol(name)), words });
        }
        return agents;
    }

    static bool FlagExists()
    {
        SharedWord::Word word;
        return SharedWord::Word::Open(CertProp::kFlagName, SharedWord::Access::Read, word)
            == SharedWord::Success;
    }

    // Applies new certificate options the way the settings dialog hands them over.
    void ChangeCertificateOptions(bool install, bool remove)
    {
        const bool wasInstall = m_settings->IsInstallCertificate();
        const bool wasRemove = m_settings->IsRemoveCertificate();
        m_settings->SetIsInstallCertificate(install);
        m_settings->SetIsRemoveCertificate(remove);
        m_settings->SaveHash();
        m_frame->StartSettingsThread(wasInstall, wasRemove);
        WindowWorker::WaitUntilAllEnded();
        Pump();
    }

    std::unique_ptr<NRVCMUSettings> m_settings;
    NRVCMUFrm* m_frame = nullptr;
};

const wxString kCloseQuestion
    = "Some security features might not be available when this application is closed. Do you still want to "
      "continue?";

} // namespace

TEST_F(TrayAndAgentGuiTests, RefusedCloseQuestionKeepsTheWindowAndPollingAcceptedOneSavesTheDigest)
{
    m_settings->SetIsAskOnExit(true);
    m_settings->SaveHash();
    OpenFrame();
    std::vector<wxString> asked;
    int answer = wxNO;
    ModalRunner::SetMessageHook([&](const wxString& text, const wxString& caption, long style) {
        asked.push_back(text);
        EXPECT_EQ(caption, "Pavix Manager - Close Application");
        EXPECT_EQ(style, wxYES_NO | wxICON_EXCLAMATION);
        return answer;
    });

    m_frame->Close(false);
    Pump();
    ASSERT_EQ(asked, std::vector<wxString> { kCloseQuestion });
    ASSERT_TRUE(FrameAlive());
    EXPECT_FALSE(m_frame->IsBusy());
    // Polling goes on: a reader attached now shows in the tree.
    Tool("reader add 'Reader A'");
    EXPECT_TRUE(Eventually([&] { return m_frame->GetSlotTree()->GetCount() == 1; }));

    // A change not yet saved reaches the file, with its digest, on closing.
    m_settings->SetIsMinimizeToTray(true);
    answer = wxYES;
    m_frame->Close(false);
    wxTheApp->ProcessIdle();
    EXPECT_EQ(wxTopLevelWindows.Find(m_frame), nullptr);
    m_frame = nullptr;
    const NRVCMUSettings reread(wxString::FromUTF8(m_bin));
    EXPECT_FALSE(reread.IsTampered());
    EXPECT_TRUE(reread.IsMinimizeToTray());
}

TEST_F(TrayAndAgentGuiTests, MinimizingWithoutATrayHostKeepsTheWindowShown)
{
    if (wxTaskBarIcon::IsAvailable()) {
        GTEST_SKIP() << "this display has a tray host";
    }
    m_settings->SetIsMinimizeToTray(true);
    m_settings->SaveHash();
    OpenFrame();
    wxIconizeEvent minimized(m_frame->GetId(), true);
    minimized.SetEventObject(m_frame);
    m_frame->HandleWindowEvent(minimized);
    Pump();
    EXPECT_TRUE(m_frame->IsShown());
}

TEST_F(TrayAndAgentGuiTests, TrayMenuOffersRestoreOnlyForAHiddenWindowAndExitAsksFirst)
{
    m_settings->SetIsAskOnExit(true);
    m_settings->SaveHash();
    OpenFrame();
    MySystemTrayIcon* tray = m_frame->GetTrayIcon();
    ASSERT_NE(tray, nullptr);

    const std::unique_ptr<wxMenu> shownMenu(tray->CreatePopupMenu());
    ASSERT_EQ(shownMenu->GetMenuItemCount(), 3u);
    EXPECT_EQ(shownMenu->FindItemByPosition(0)->GetItemLabelText(), "Restore");
    EXPECT_TRUE(shownMenu->FindItemByPosition(1)->IsSeparator());
    EXPECT_EQ(shownMenu->FindItemByPosition(2)->GetItemLabelText(), "Exit");
    EXPECT_FALSE(shownMenu->IsEnabled(MySystemTrayIcon::ID_MENU_RESTORE));

    m_frame->Hide();
    const std::unique_ptr<wxMenu> hiddenMenu(tray->CreatePopupMenu());
    EXPECT_TRUE(hiddenMenu->IsEnabled(MySystemTrayIcon::ID_MENU_RESTORE));
    wxCommandEvent restore(wxEVT_MENU, MySystemTrayIcon::ID_MENU_RESTORE);
    tray->ProcessEvent(restore);
    Pump();
    EXPECT_TRUE(m_frame->IsShown());

    int questions = 0;
    ModalRunner::SetMessageHook([&](const wxString& text, const wxString&, long) {
        questions += text == kCloseQuestion ? 1 : 0;
        return wxNO;
    });
    wxCommandEvent exit(wxEVT_MENU, MySystemTrayIcon::ID_MENU_EXIT);
    tray->ProcessEvent(exit);
    Pump();
    EXPECT_EQ(questions, 1);
    EXPECT_TRUE(FrameAlive());
}

TEST_F(TrayAndAgentGuiTests, SaveDetailsWritesTheListAndReportsCancelAndFailure)
{
    Tool("reader add 'Reader A'");
    InsertToken("Reader A", "--model VELA5-64 --label Mine --user-pin 1234 --so-pin 87654321");
    OpenFrame();
    ASSERT_TRUE(Eventually([&] {
        return m_frame->GetInfoList()->GetItemCount() > 3 && !m_frame->IsBusy()
            && m_frame->GetStatus() == "Token is ready.";
    })) << m_frame->GetStatus();

    std::filesystem::path target;
    int dialogs = 0;
    int answer = wxID_OK;
    ModalRunner::SetFileHook([&](wxFileDialog& files, wxString& path) -> int {
        ++dialogs;
        EXPECT_EQ(files.GetMessage(), "Save Slot and Token Information as");
        EXPECT_TRUE(files.HasFlag(wxFD_SAVE));
        EXPECT_TRUE(files.HasFlag(wxFD_OVERWRITE_PROMPT));
        EXPECT_EQ(files.GetWildcard(), "Text Files (*.txt)|*.txt");
        path = wxString::FromUTF8(target.string());
        return answer;
    });

    struct Case {
        const char* name;
        std::filesystem::path file;
        int answer;
        wxString status;
    };
    const std::filesystem::path good = m_root.Temp() / "details.txt";
    const Case cases[] = {
        { "saved", good, wxID_OK, "Slot and token information was saved successfully." },
        { "cancelled", m_root.Temp() / "never.txt", wxID_CANCEL,
            "Slot and token information was not saved because the operation was cancelled." },
        // Not created, and created but not written.
        { "a folder", m_root.Temp(), wxID_OK,
            "Slot and token information was not saved. " + wxSysErrorMsgStr(EISDIR) },
        { "a full disk", "/dev/full", wxID_OK,
            "Slot and token information was not saved. " + wxSysErrorMsgStr(ENOSPC) },
    };
    for (const Case& test : cases) {
        target = test.file;
        answer = test.answer;
        wxCommandEvent menu(wxEVT_MENU, NRVCMUFrm::ID_MENU_SAVE_DETAILS);
        m_frame->HandleWindowEvent(menu);
        EXPECT_EQ(m_frame->GetStatus(), test.status) << test.name;
    }
    EXPECT_EQ(dialogs, 4);
    EXPECT_FALSE(std::filesystem::exists(m_root.Temp() / "never.txt"));

    const std::string report = ReadAll(good);
    EXPECT_EQ(
        report.rfind(
            "========================================================\r\nPavix Manager Log created at ", 0),
        0u)
        << report;
    EXPECT_NE(report.find("\r\nSlot Description\tReader A\r\n"), std::string::npos) << report;
    EXPECT_NE(report.find("\r\nToken Label\t\tMine\r\n"), std::string::npos) << report;
    // One line per row of the list, after the four header lines.
    EXPECT_EQ(std::count(report.begin(), report.end(), '\n'), 4 + m_frame->GetInfoList()->GetItemCount());

    // An empty list offers nothing to save.
    Tool("reader remove 'Reader A'");
    ASSERT_TRUE(
        Eventually([&] { return m_frame->GetInfoList()->GetItemCount() == 0 && !m_frame->IsBusy(); }));
    m_frame->SaveDetails();
    EXPECT_EQ(dialogs, 4);
}

TEST_F(TrayAndAgentGuiTests, HelpOpensTheGuideWithTheDocumentOpenerOrSaysItIsMissing)
{
    const std::filesystem::path programFolder = m_root.Base() / "program folder";
    std::filesystem::create_directories(programFolder);
    NRVCMUSettings settings(wxString::FromUTF8(programFolder.string()));
    settings.SetIsInstallCertificate(false);
    settings.SaveHash();
    const ScriptFolder scripts(m_root.Base() / "scripts");
    const std::filesystem::path record = m_root.Base() / "opened.txt";
    scripts.Add("xdg-open", "printf '%s\\n' \"$@\" > '" + record.string() + "'");
    std::vector<std::pair<wxString, wxString>> messages;
    ModalRunner::SetMessageHook([&](const wxString& text, const wxString& caption, long style) {
        messages.emplace_back(text, caption);
        EXPECT_EQ(style, wxOK | wxICON_ERROR);
        return wxOK;
    });
    OpenFrame(&settings);
    const std::filesystem::path guide = programFolder / "Pavix Manager-EN.html";
    EXPECT_EQ(m_frame->GetHelpFilePath().utf8_string(), guide.string());

    // F1's command, with no guide installed.
    wxCommandEvent help(wxEVT_MENU, NRVCMUFrm::ID_MENU_HELP_TOPICS);
    m_frame->HandleWindowEvent(help);
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_EQ(messages[0].first, "Unable to locate the Help file for this application.");
    EXPECT_EQ(messages[0].second, "Pavix Manager - Help");
    EXPECT_FALSE(std::filesystem::exists(record));

    std::ofstream(guide) << "<html></html>";
    m_frame->HandleWindowEvent(help);
    ASSERT_TRUE(Eventually([&] { return std::filesystem::exists(record) && !ReadAll(record).empty(); }));
    EXPECT_EQ(ReadAll(record), guide.string() + "\n");
    EXPECT_EQ(messages.size(), 1u);
    DestroyFrame();
}

TEST_F(TrayAndAgentGuiTests, TurningOffInstallationStopsTheRunningAgent)
{
    m_settings->SetIsInstallCertificate(true);
    m_settings->SetIsRemoveCertificate(true);
    m_settings->SaveHash();
    OpenFrame();
    ASSERT_TRUE(m_frame->GetCertPropRecord().HasStarted());
    ASSERT_TRUE(Eventually([&] { return FlagExists() && Agents().size() == 1; })) << Agents().size();
    EXPECT_EQ(Agents()[0].pid, m_frame->GetCertPropRecord().Pid());
    EXPECT_TRUE(Agents()[0].arguments.empty());
    // A view kept open still shows the word after the agent has gone.
    SharedWord::Word view;
    ASSERT_EQ(
        SharedWord::Word::Open(CertProp::kFlagName, SharedWord::Access::Read, view), SharedWord::Success);

    ChangeCertificateOptions(false, true);
    EXPECT_EQ(view.Read() >> 16, CertProp::kCommandStop);
    EXPECT_TRUE(m_frame->GetCertPropRecord().WaitForExit(CertPropControl::kStopTimeout));
    EXPECT_TRUE(CertPropControl::WaitUntilAgentGone(CertPropControl::kStopTimeout));
    EXPECT_TRUE(Agents().empty());
    EXPECT_FALSE(m_frame->IsBusy());
}

TEST_F(TrayAndAgentGuiTests, AnAgentThisWindowDidNotStartIsStoppedToo)
{
    OpenFrame();
    EXPECT_FALSE(m_frame->GetCertPropRecord().HasStarted());
    // As if started at login or by an earlier run of the manager.
    Process::Child login;
    ASSERT_EQ(Process::Start(CertPropControl::AgentPath(wxString::FromUTF8(m_bin)), {},
                  Process::StartOptions { .hidden = true }, login),
        Process::kSuccess);
    ASSERT_TRUE(Eventually([&] { return FlagExists(); }));

    m_settings->SetIsInstallCertificate(true);
    m_settings->SaveHash();
    ChangeCertificateOptions(false, true);
    EXPECT_TRUE(login.WaitFor(CertPropControl::kStopTimeout));
    EXPECT_FALSE(m_frame->GetCertPropRecord().HasStarted());
}

TEST_F(TrayAndAgentGuiTests, SwitchingRemovalLeavesExactlyOneAgentInTheNewMode)
{
    m_settings->SetIsInstallCertificate(true);
    m_settings->SetIsRemoveCertificate(true);
    m_settings->SaveHash();
    OpenFrame();
    ASSERT_TRUE(Eventually([&] { return FlagExists() && Agents().size() == 1; }));

    struct Step {
        bool remove;
        std::vector<std::string> arguments;
    };
    const Step steps[] = {
        { false, { "NREMOVE" } },
        { true, {} },
        { false, { "NREMOVE" } },
    };
    pid_t previous = Agents()[0].pid;
    for (const Step& step : steps) {
        ChangeCertificateOptions(true, step.remove);
        const pid_t started = m_frame->GetCertPropRecord().Pid();
        EXPECT_NE(started, previous) << step.remove;
        // The new agent is up (its word made) and is the only one.
        ASSERT_TRUE(Eventually([&] {
            const std::vector<RunningAgent> agents = Agents();
            return FlagExists() && agents.size() == 1 && agents[0].pid == started;
        })) << step.remove;
        EXPECT_EQ(Agents()[0].arguments, step.arguments);
        // Several of its polls later it still runs: it got the lock.
        std::this_thread::sleep_for(std::chrono::milliseconds(400));
        EXPECT_TRUE(m_frame->GetCertPropRecord().IsRunning()) << step.remove;
        EXPECT_EQ(Agents().size(), 1u);
        previous = started;
    }
}

TEST_F(TrayAndAgentGuiTests, SettingsFromTheMenuPauseAndUntickingPropagationStopsTheAgent)
{
    m_settings->SetIsInstallCertificate(true);
    m_settings->SetIsRemoveCertificate(true);
    m_settings->SaveHash();
    OpenFrame();
    ASSERT_TRUE(Eventually([&] { return FlagExists() && Agents().size() == 1; })) << Agents().size();

    bool pausedWhileOpen = false;
    int dialogs = 0;
    const std::string logPath = (m_root.Base() / "pkcs.log").string();
    // The kit's key, as installing it leaves it: the manager writes values, never keys.
    for (const Registry::View view : { Registry::View::Wow32, Registry::View::Wow64 }) {
        Registry::Key created;
        ASSERT_EQ(Registry::Key::Create(
                      Registry::Hive::LocalMachine, "Software\\Nurvon Ltd.\\VELA5 SDK", view, created),
            Registry::Success);
    }
    ModalRunner::SetDialogHook([&](wxDialog& dialog) {
        ++dialogs;
        auto* settings = dynamic_cast<SettingsDlg*>(&dialog);
        if (settings == nullptr) {
            return static_cast<int>(wxID_CANCEL);
        }
        pausedWhileOpen = m_frame->IsBusy();
        wxWindow* page = settings->GetApplicationPage();
        auto* install = dynamic_cast<wxCheckBox*>(
            page->FindWindow(SettingsGeneralApplicationPnl::ID_CHK_TURN_ON_CERT_PROP));
        install->SetValue(false);
        wxCommandEvent tick(wxEVT_CHECKBOX, install->GetId());
        tick.SetEventObject(install);
        install->GetEventHandler()->ProcessEvent(tick);
        // The module's log for 64-bit programs, into a file of the test's own.
        wxWindow* pkcs = settings->GetLoggingPage(LogComponent::PKCS11);
        auto* log64 = dynamic_cast<wxCheckBox*>(pkcs->FindWindow(SettingsLoggingPnl::ID_CHK_64BIT_APPS));
        log64->SetValue(true);
        wxCommandEvent logTick(wxEVT_CHECKBOX, log64->GetId());
        logTick.SetEventObject(log64);
        logTick.SetInt(1);
        log64->GetEventHandler()->ProcessEvent(logTick);
        dynamic_cast<wxTextCtrl*>(pkcs->FindWindow(SettingsLoggingPnl::ID_TXT_64BIT_DIRECTORY))
            ->SetValue(wxString::FromUTF8(logPath));
        wxCommandEvent ok(wxEVT_BUTTON, SettingsDlg::ID_BTN_OK);
        wxWindow* button = dialog.FindWindow(SettingsDlg::ID_BTN_OK);
        ok.SetEventObject(button);
        button->GetEventHandler()->ProcessEvent(ok);
        return dialog.GetReturnCode();
    });
    wxCommandEvent menu(wxEVT_MENU, NRVCMUFrm::ID_MENU_SETTINGS);
    m_frame->GetEventHandler()->ProcessEvent(menu);
    WindowWorker::WaitUntilAllEnded();
    Pump();

    EXPECT_EQ(dialogs, 1);
    EXPECT_TRUE(pausedWhileOpen) << "polling runs while the dialog is open";
    EXPECT_FALSE(m_frame->IsBusy()) << "the worker resumes polling";
    EXPECT_TRUE(CertPropControl::WaitUntilAgentGone(CertPropControl::kStopTimeout));
    // The flag goes before the process has quite ended.
    EXPECT_TRUE(Eventually([&] { return Agents().empty(); }));
    NRVCMUSettings reopened(wxString::FromUTF8(m_bin));
    EXPECT_FALSE(reopened.IsTampered());
    EXPECT_FALSE(reopened.IsInstallCertificate());
    EXPECT_FALSE(reopened.IsRemoveCertificate());
    EXPECT_TRUE(reopened.IsPKCS11x64LogEnabled());

    // The worker switched the module's log on where the software token reads it.
    Registry::Key key;
    ASSERT_EQ(Registry::Key::Open(Registry::Hive::LocalMachine, "Software\\Nurvon Ltd.\\VELA5 SDK",
                  Registry::Access::Read, Registry::View::Wow64, key),
        Registry::Success);
    std::string flag;
    std::string path;
    EXPECT_EQ(key.GetString("PKCLOG", flag), Registry::Success);
    EXPECT_EQ(key.GetString("PKCDIR", path), Registry::Success);
    EXPECT_EQ(flag, "00000001");
    EXPECT_EQ(path, logPath);
}
