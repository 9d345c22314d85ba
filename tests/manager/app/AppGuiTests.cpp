// The manager's start-up and shutdown, driven in-process on the fake modules
// with message boxes answered through the modal seam, and once with two real
// manager processes on the software token, all under Xvfb.
#include "manager/app/NRVCMUApp.h"
#include "manager/core/CryptokiResultText.h"
#include "manager/core/ModalRunner.h"
#include "manager/core/NRVCMULog.h"
#include "manager/core/NRVCMUSettings.h"
#include "manager/host/CertPropControl.h"
#include "manager/window/NRVCMUFrm.h"
#include "platform/desktop/Desktop.h"
#include "platform/registry/Registry.h"
#include "tests/support/FakeModuleControl.h"
#include "tests/support/ScopedTestRoot.h"

#include <chrono>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <spawn.h>
#include <sstream>
#include <stdexcept>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <wx/filefn.h>
#include <wx/filename.h>
#include <wx/snglinst.h>
#include <wx/translation.h>
// Xlib last: its macros (None, Bool, Status) clash with the test framework.
#include <X11/Xlib.h>

using namespace vela5::platform;
// Xlib's Success would hide the registry layer's.
#undef Success

extern char** environ;

namespace {

namespace fs = std::filesystem;

const wxString kSettingsRejected
    = "Unable to load the application's settings because unauthorized changes in the "
      "config file were detected. Please restart application to revert its settings "
      "to default.";
const wxString kAnotherInstance = "Another program instance is already running.";
constexpr const char* kSdk = "Software\\Nurvon Ltd.\\VELA5 SDK";
constexpr const char* kTranslated = "The function executed successfully.";

wxString BinDir()
{
    const char* bin = std::getenv("VELA5_BIN_DIR");
    return bin != nullptr ? wxString(bin) : wxString();
}

struct Message {
    wxString text;
    wxString caption;
    long style;
};

// A display of the test's own (Xvfb), so windows titled like ours that other
// tests show on the shared display in parallel cannot be found instead.
class PrivateDisplay final {
public:
    PrivateDisplay()
    {
        for (int number = 150 + static_cast<int>(getpid() % 500); m_name.empty() && number < 1000; ++number) {
            const std::string name = ":" + std::to_string(number);
            // A number that already answers belongs to another server.
            if (Display* taken = XOpenDisplay(name.c_str())) {
                XCloseDisplay(taken);
                continue;
            }
            const char* argv[] = { "Xvfb", name.c_str(), "-noreset", "-nolisten", "tcp", "-screen", "0",
                "800x600x24", nullptr };
            posix_spawn_file_actions_t actions;
            posix_spawn_file_actions_init(&actions);
            posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
            const int spawned
                = posix_spawnp(&m_server, "Xvfb", &actions, nullptr, const_cast<char* const*>(argv), environ);
            posix_spawn_file_actions_destroy(&actions);
            if (spawned != 0) {
                m_server = 0;
                return;
            }
            // Ready when it answers; gone when the number was taken after all.
            for (int wait = 0; wait < 100; ++wait) {
                if (Display* display = XOpenDisplay(name.c_str())) {
                    XCloseDisplay(display);
                    m_name = name;
                    break;
                }
                if (waitpid(m_server, nullptr, WNOHANG) == m_server) {
                    m_server = 0;
                    break;
                }
                std::this_thread::sleep_for(std::chrono::milliseconds(50));
            }
            if (m_name.empty() && m_server > 0) {
                kill(m_server, SIGKILL);
                waitpid(m_server, nullptr, 0);
                m_server = 0;
            }
        }
        if (!m_name.empty()) {
            const char* previous = std::getenv("DISPLAY");
            m_previous = previous != nullptr ? previous : "";
            setenv("DISPLAY", m_name.c_str(), 1);
        }
    }
    ~PrivateDisplay()
    {
        if (!m_name.empty()) {
            setenv("DISPLAY", m_previous.c_str(), 1);
        }
        if (m_server > 0) {
            kill(m_server, SIGTERM);
            waitpid(m_server, nullptr, 0);
        }
    }
    PrivateDisplay(const PrivateDisplay&) = delete;
    PrivateDisplay& operator=(const PrivateDisplay&) = delete;

    bool IsReady() const { return !m_name.empty(); }

private:
    pid_t m_server = 0;
    std::string m_name;
    std::string m_previous;
};

// Another live process named in this user's instance lock file, as a
// running manager leaves it (the checker never counts its own process).
class LockHolder final {
public:
    LockHolder()
    {
        const char* argv[] = { "sleep", "60", nullptr };
        if (posix_spawnp(&m_child, "sleep", nullptr, nullptr, const_cast<char* const*>(argv), environ) != 0) {
            m_child = -1;
            return;
        }
        const std::string path
            = (wxFileName::GetTempDir() + "/" + NRVCMUApp::GetInstanceName()).utf8_string();
        std::ofstream(path) << m_child << "\n";
        chmod(path.c_str(), 0600);
    }
    ~LockHolder()
    {
        if (m_child > 0) {
            kill(m_child, SIGKILL);
            waitpid(m_child, nullptr, 0);
        }
    }
    LockHolder(const LockHolder&) = delete;
    LockHolder& operator=(const LockHolder&) = delete;

    bool IsHolding() const
    {
        const wxSingleInstanceChecker probe(NRVCMUApp::GetInstanceName(), wxFileName::GetTempDir());
        return m_child > 0 && probe.IsAnotherRunning();
    }

private:
    pid_t m_child = -1;
};

// An X window standing for another program's main window, created unmapped.
class ForeignWindow final {
public:
    explicit ForeignWindow(const char* title)
        : m_display(XOpenDisplay(nullptr))
    {
        if (m_display == nullptr) {
            throw std::runtime_error("no X display");
        }
        m_window = XCreateSimpleWindow(m_display, DefaultRootWindow(m_display), 0, 0, 40, 40, 0, 0, 0);
        XStoreName(m_display, m_window, title);
        XSync(m_display, False);
    }
    ~ForeignWindow()
    {
        XDestroyWindow(m_display, m_window);
        XCloseDisplay(m_display);
    }
    ForeignWindow(const ForeignWindow&) = delete;
    ForeignWindow& operator=(const ForeignWindow&) = delete;

    bool IsMapped() const
    {
        XWindowAttributes attributes {};
        XGetWindowAttributes(m_display, m_window, &attributes);
        return attributes.map_state == IsViewable;
    }

private:
    Display* m_display;
    Window m_window;
};

class AppTest : public testing::Test {
protected:
    void SetUp() override
    {
        NRVCMULog::Relocate();
        ModalRunner::SetMessageHook([this](const wxString& text, const wxString& caption, long style) {
            m_messages.push_back(Message { text, caption, style });
            return wxOK;
        });
        m_previousApp = wxApp::GetInstance();
        // Constructing an application makes it wx's current one until restored.
        m_app = std::make_unique<NRVCMUApp>();
        m_app->SetProgramFolder(BinDir());
        m_app->SetModuleFileName(FakePath("fake_module.so"));
    }

    void TearDown() override
    {
        if (m_app && m_app->GetMainFrame() != nullptr) {
            m_app->GetMainFrame()->Destroy();
            m_app->ProcessIdle();
            m_app->OnExit();
        }
        m_app.reset();
        // A main window starts the propagation agent; it must not outlive
        // the test's machine root.
        CertPropControl::RequestAgentStop(CertPropControl::kStopTimeout);
        EXPECT_TRUE(CertPropControl::WaitUntilAgentGone(CertPropControl::kStopTimeout));
        wxApp::SetInstance(m_previousApp);
        wxTranslations::Set(nullptr);
        ModalRunner::ClearHooks();
    }

    // What an ended start-up must leave: nothing (and no lock of its own
    // when no other copy holds one).
    void ExpectNothingLeft(const char* why, bool lockFree = true)
    {
        EXPECT_EQ(nullptr, m_app->GetSettings()) << why;
        EXPECT_EQ(nullptr, m_app->GetCryptoki()) << why;
        EXPECT_EQ(nullptr, m_app->GetInstanceChecker()) << why;
        EXPECT_EQ(nullptr, m_app->GetLocale()) << why;
        EXPECT_EQ(nullptr, m_app->GetMainFrame()) << why;
        if (lockFree) {
            wxSingleInstanceChecker probe(NRVCMUApp::GetInstanceName(), wxFileName::GetTempDir());
            EXPECT_FALSE(probe.IsAnotherRunning()) << why << ": the instance lock was released";
        }
    }

    // Texts then compare with their source texts.
    void UseEnglish()
    {
        NRVCMUSettings settings(BinDir());
        settings.SetDefaultLanguage("English");
        settings.SaveHash();
    }

    void CreateSdkKeys()
    {
        for (const Registry::View view : { Registry::View::Wow32, Registry::View::Wow64 }) {
            Registry::Key key;
            ASSERT_EQ(
                Registry::Success, Registry::Key::Create(Registry::Hive::LocalMachine, kSdk, view, key));
        }
    }

    ScopedTestRoot m_root;
    std::vector<Message> m_messages;
    wxAppConsole* m_previousApp = nullptr;
    std::unique_ptr<NRVCMUApp> m_app;
};

TEST_F(AppTest, RejectedSettingsShowTheirMessageInEnglishAndEndBeforeTheModule)
{
    FakeModuleControl fake(FakePath("fake_module.so"));
    {
        NRVCMUSettings settings(BinDir());
        settings.SetDefaultLanguage("Spanish");
    }
    ASSERT_FALSE(m_app->OnInit());
    ASSERT_EQ(1u, m_messages.size());
    EXPECT_EQ(kSettingsRejected, m_messages[0].text);
    EXPECT_EQ("Pavix Manager", m_messages[0].caption);
    EXPECT_EQ(wxOK | wxICON_INFORMATION, m_messages[0].style);
    EXPECT_FALSE(wxFileExists(NRVCMUSettings::GetFilePath())) << "deleted, so the next start has defaults";
    EXPECT_EQ("", fake.Journal()) << "the module is never touched";
    ExpectNothingLeft("rejected settings");
}

TEST_F(AppTest, ModuleFailuresShowOneErrorMessageAndReleaseEverything)
{
    UseEnglish();
    const struct {
        const char* module;
        CK_RV initializeResult;
        wxString message;
    } cases[] = {
        { "no_such_module.so", CKR_OK, "Unable to start application. Cryptoki library has not been loaded." },
        { "fake_no_function_list.so", CKR_OK,
            "Failed to obtain entry points of Cryptoki library functions." },
        { "fake_null_function_list.so", CKR_OK,
            "Failed to obtain entry points of Cryptoki library functions." },
        { "fake_module.so", CKR_GENERAL_ERROR,
            GetResultMessage(CKR_GENERAL_ERROR, "Failed to initialize Cryptoki.") },
    };
    for (const auto& test : cases) {
        m_messages.clear();
        std::unique_ptr<FakeModuleControl> fake;
        if (test.initializeResult != CKR_OK) {
            fake = std::make_unique<FakeModuleControl>(FakePath(test.module));
            fake->SetResult("C_Initialize", test.initializeResult);
        }
        m_app->SetModuleFileName(FakePath(test.module));
        EXPECT_FALSE(m_app->OnInit()) << test.module;
        ASSERT_EQ(1u, m_messages.size()) << test.module;
        EXPECT_EQ(test.message, m_messages[0].text) << test.module;
        EXPECT_EQ("Pavix Manager", m_messages[0].caption);
        EXPECT_EQ(wxOK | wxICON_ERROR, m_messages[0].style) << test.module;
        ExpectNothingLeft(test.module);
        if (fake) {
            EXPECT_TRUE(m_messages[0].text.StartsWith("Failed to initialize Cryptoki. "));
            EXPECT_EQ(std::string::npos, fake->Journal().find("C_Finalize")) << "nothing to finalize";
        }
    }
}

TEST_F(AppTest, StartUpShowsTheWindowCopiesSettingsToTheRegistryAndExitsInOrder)
{
    CreateSdkKeys();
    FakeModuleControl fake(FakePath("fake_module.so"));
    ASSERT_TRUE(m_app->OnInit());
    EXPECT_TRUE(m_messages.empty());
    NRVCMUFrm* frame = m_app->GetMainFrame();
    ASSERT_NE(nullptr, frame);
    EXPECT_TRUE(frame->IsShown());
    EXPECT_EQ(frame, m_app->GetTopWindow());
    EXPECT_NE(0u, Desktop::FindTopLevelWindow("Pavix Manager")) << "what a second start looks for";
    EXPECT_NE(std::string::npos, fake.Journal().find("C_Initialize(null)"));

    // A fresh start is in Bulgarian, whose catalog is beside the program.
    ASSERT_NE(nullptr, m_app->GetLocale());
    EXPECT_NE(wxString(kTranslated), wxGetTranslation(kTranslated));

    for (const Registry::View view : { Registry::View::Wow32, Registry::View::Wow64 }) {
        Registry::Key key;
        ASSERT_EQ(Registry::Success,
            Registry::Key::Open(Registry::Hive::LocalMachine, kSdk, Registry::Access::Read, view, key));
        std::string value;
        EXPECT_EQ(Registry::Success, key.GetString("PINCACHE", value));
        EXPECT_EQ("00000001", value);
        for (const char* name : { "CSPLOG", "KSPLOG", "PKCLOG" }) {
            EXPECT_EQ(Registry::Success, key.GetString(name, value)) << name;
            EXPECT_EQ("00000000", value) << name;
        }
    }
    Registry::Key run;
    ASSERT_EQ(Registry::Success,
        Registry::Key::Open(Registry::Hive::LocalMachine, "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Run",
            Registry::Access::Read, Registry::View::Native, run));
    std::string command = "unset";
    EXPECT_EQ(Registry::Success, run.GetString("NRV Certificate Management Tool", command));
    EXPECT_EQ("", command) << "launch at start-up is off by default";

    frame->Destroy();
    m_app->ProcessIdle();
    EXPECT_EQ(0, m_app->OnExit());
    const std::string journal = fake.Journal();
    ASSERT_NE(std::string::npos, journal.rfind("C_Finalize("));
    EXPECT_EQ(journal.size(), journal.find('\n', journal.rfind("C_Finalize(")) + 1)
        << "finalize is the module's last call:\n"
        << journal;
    EXPECT_EQ(nullptr, wxTranslations::Get());
    wxSingleInstanceChecker probe(NRVCMUApp::GetInstanceName(), wxFileName::GetTempDir());
    EXPECT_FALSE(probe.IsAnotherRunning());
}

TEST_F(AppTest, ReloadBuildsANewWindowInTheNewLanguageWithoutTouchingTheModule)
{
    FakeModuleControl fake(FakePath("fake_module.so"));
    ASSERT_TRUE(m_app->OnInit());
    NRVCMUFrm* first = m_app->GetMainFrame();
    m_app->GetSettings()->SetDefaultLanguage("English");
    m_app->GetSettings()->SaveHash();
    const std::string before = fake.Journal();

    m_app->ReloadMainFrame();
    EXPECT_FALSE(first->IsShown());
    ASSERT_NE(nullptr, m_app->GetMainFrame());
    EXPECT_NE(first, m_app->GetMainFrame());
    EXPECT_EQ(nullptr, m_app->GetLocale());
    EXPECT_EQ(wxString(kTranslated), wxGetTranslation(kTranslated));
    m_app->ProcessIdle();
    EXPECT_EQ(std::string::npos, fake.Journal().find("C_Initialize", before.size()))
        << "not initialized again";

    std::ifstream log(NRVCMULog::DefaultFilePath().utf8_string());
    std::stringstream content;
    content << log.rdbuf();
    const std::string text = content.str();
    const size_t enter = text.find("@NRVCMUApp::ReloadMainFrame() - ENTER");
    const size_t destroying = text.find("destroying", enter);
    const size_t recreating = text.find("recreating", destroying);
    const size_t exit = text.find("@NRVCMUApp::ReloadMainFrame() - EXIT", recreating);
    for (const size_t at : { enter, destroying, recreating, exit }) {
        EXPECT_NE(std::string::npos, at) << "the four lines in order:\n" << text;
    }
}

TEST_F(AppTest, SecondStartBringsTheRunningWindowForwardAndNamesOnlyOlderProducts)
{
    const PrivateDisplay display;
    ASSERT_TRUE(display.IsReady());
    FakeModuleControl fake(FakePath("fake_module.so"));
    UseEnglish();
    const LockHolder first;
    ASSERT_TRUE(first.IsHolding());

    EXPECT_FALSE(m_app->OnInit());
    EXPECT_TRUE(m_messages.empty()) << "no window found: no message either";
    ExpectNothingLeft("second copy", false);

    {
        const ForeignWindow own("Pavix Manager");
        EXPECT_FALSE(m_app->OnInit());
        EXPECT_TRUE(m_messages.empty()) << "our own window is raised silently";
        EXPECT_TRUE(own.IsMapped());
    }
    {
        const ForeignWindow own("Pavix Manager");
        const ForeignWindow older("NRV Gerenciador de Certificados - Essenciais");
        EXPECT_FALSE(m_app->OnInit());
        ASSERT_EQ(1u, m_messages.size());
        EXPECT_EQ(kAnotherInstance, m_messages[0].text);
        EXPECT_EQ("Pavix Manager", m_messages[0].caption);
        EXPECT_EQ(wxOK | wxICON_INFORMATION, m_messages[0].style);
        EXPECT_TRUE(older.IsMapped()) << "the older product's window comes first";
        EXPECT_FALSE(own.IsMapped());
        ExpectNothingLeft("second copy", false);
    }
    EXPECT_EQ("", fake.Journal()) << "a second copy never loads the module";
}

TEST(AppLanguage, ExtraWidthNeedsTheLanguagesCatalog)
{
    const ScopedTestRoot root;
    const wxString withCatalogs = BinDir() + "/Language";
    const wxString empty = root.Temp().string();
    EXPECT_EQ(24, NRVCMUApp::GetExtraWidth("Bulgarian", withCatalogs));
    EXPECT_EQ(24, NRVCMUApp::GetExtraWidth("Portuguese", withCatalogs));
    EXPECT_EQ(60, NRVCMUApp::GetExtraWidth("Spanish", withCatalogs));
    EXPECT_EQ(0, NRVCMUApp::GetExtraWidth("English", withCatalogs));
    EXPECT_EQ(0, NRVCMUApp::GetExtraWidth("", withCatalogs));
    EXPECT_EQ(0, NRVCMUApp::GetExtraWidth("spanish", withCatalogs));
    EXPECT_EQ(0, NRVCMUApp::GetExtraWidth("Spanish", empty));
    EXPECT_EQ(0, NRVCMUApp::GetExtraWidth("Bulgarian", empty));
}

TEST_F(AppTest, SpanishWithoutItsCatalogRunsInEnglish)
{
    const fs::path program = m_root.Base() / "program";
    fs::create_directories(program / "Language");
    m_app->SetProgramFolder(program.string());
    m_app->SetLanguage("Spanish");
    EXPECT_EQ(wxString(kTranslated), wxGetTranslation(kTranslated));

    fs::copy_file((BinDir() + "/Language/Spanish.mo").utf8_string(), program / "Language" / "Spanish.mo");
    m_app->SetLanguage("Spanish");
    EXPECT_EQ(wxString::FromUTF8("La función se ejecutó correctamente."), wxGetTranslation(kTranslated));
    m_app->SetLanguage("English");
    EXPECT_EQ(nullptr, m_app->GetLocale());
    EXPECT_EQ(wxString(kTranslated), wxGetTranslation(kTranslated));
}

// Two real managers on the software token: the second finds the first's
// window, brings it back from hidden and ends at once, with no message (a
// message box would keep it running until the time-out).
TEST(AppProcesses, SecondManagerOfTheSameUserRaisesTheFirstAndEnds)
{
    const ScopedTestRoot root;
    const PrivateDisplay privateDisplay;
    ASSERT_TRUE(privateDisplay.IsReady());
    const std::string program = (BinDir() + "/PavixManager").utf8_string();
    char* const argv[] = { const_cast<char*>(program.c_str()), nullptr };
    pid_t first = 0;
    ASSERT_EQ(0, posix_spawn(&first, program.c_str(), nullptr, nullptr, argv, environ));

    Desktop::WindowHandle window = 0;
    for (int i = 0; i < 200 && window == 0; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        window = Desktop::FindTopLevelWindow("Pavix Manager");
    }
    ASSERT_NE(0u, window) << "the first manager never showed its window";
    Display* display = XOpenDisplay(nullptr);
    XUnmapWindow(display, static_cast<Window>(window));
    XSync(display, False);

    pid_t second = 0;
    ASSERT_EQ(0, posix_spawn(&second, program.c_str(), nullptr, nullptr, argv, environ));
    int status = 0;
    pid_t ended = 0;
    for (int i = 0; i < 200 && ended == 0; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        ended = waitpid(second, &status, WNOHANG);
    }
    if (ended == 0) {
        kill(second, SIGKILL);
        waitpid(second, &status, 0);
    }
    EXPECT_EQ(second, ended) << "the second manager kept running";
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) != 0) << "start-up reports that it ended";

    XWindowAttributes attributes {};
    XGetWindowAttributes(display, static_cast<Window>(window), &attributes);
    EXPECT_EQ(IsViewable, attributes.map_state) << "the first manager's window is back";
    XCloseDisplay(display);

    EXPECT_EQ(0, waitpid(first, &status, WNOHANG)) << "the first manager still runs";
    kill(first, SIGTERM);
    waitpid(first, &status, 0);
    // The manager started the propagation agent, which outlives it by design.
    CertPropControl::RequestAgentStop(CertPropControl::kStopTimeout);
    EXPECT_TRUE(CertPropControl::WaitUntilAgentGone(CertPropControl::kStopTimeout));
}

} // namespace
