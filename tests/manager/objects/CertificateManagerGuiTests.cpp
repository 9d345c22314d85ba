// The certificate manager on the software token: objects put there with
// vela5-token, the real window shown modally, its results read back.
#include "../window/LayoutCheck.h"
#include "CertificateManagerFixture.h"
#include "manager/core/ModalRunner.h"
#include "manager/core/NRVCMULog.h"
#include "manager/objects/CertificateManagerCommand.h"
#include "manager/objects/CertificateManagerDlg.h"
#include "manager/window/NRVCMUFrm.h"
#include "platform/openssl/OpenSslPtr.h"
#include "platform/shared_word/SharedWord.h"

#include <fstream>
#include <functional>
#include <iterator>
#include <openssl/x509.h>
#include <wx/button.h>
#include <wx/filedlg.h>
#include <wx/listctrl.h>

using namespace vela5::platform;

namespace {

class CertificateManagerGuiTests : public CertificateManagerFixture { };

} // namespace

// Two private keys share the certificate's ID: the certificate claims the
// first, the second stands alone tagged with its ID; a key with an empty ID
// is tagged with its key-pair index.
TEST_F(CertificateManagerGuiTests, ListsCertificatesWithTheirKeysAndKeysOnTheirOwn)
{
    const TestIdentity alice = MakeTestIdentity(m_root.Temp(), "alice", "/O=Acme/CN=Alice", "secret");
    TokenObjects::Import(m_serial, alice.pkcs12, "secret", "1234");
    const std::string aliceId = TokenObjects::List(m_serial).front().id;
    TokenObjects::AddKey(m_serial, KeyFile("second"), true, aliceId, "1234");
    TokenObjects::AddKey(m_serial, KeyFile("third"), true, "-", "1234");
    LogIn();
    Show([&](CertificateManagerDlg& dialog) {
        const std::vector<wxString> items = Items(dialog);
        ASSERT_EQ(items.size(), 3u);
        EXPECT_EQ(items[0], "Alice [Alice]");
        EXPECT_EQ(items[1], "Private Key [" + aliceId + "]");
        EXPECT_EQ(items[2], "Private Key (03)");
        wxTreeCtrl* tree = dialog.GetTree();
        wxTreeItemIdValue cookie;
        const wxTreeItemId certificate = tree->GetFirstChild(tree->GetRootItem(), cookie);
        EXPECT_EQ(Items(dialog, certificate), (std::vector<wxString> { "Public Key", "Private Key" }));
        EXPECT_EQ(tree->GetItemImage(certificate), CertificateManagerDlg::kImageCertificate);
        EXPECT_EQ(tree->GetSelection(), certificate) << "the first item is selected";
        EXPECT_EQ(dialog.GetMessage(), "There is only 1 certificate found in the token.");
        EXPECT_TRUE(dialog.GetButton(CertificateManagerDlg::ID_BTN_VIEW)->IsEnabled());
        EXPECT_TRUE(dialog.GetButton(CertificateManagerDlg::ID_BTN_EXPORT)->IsEnabled());
    });
    EXPECT_EQ(m_host->LastStatus(), "Certificate Manager is currently active . . .");
}

TEST_F(CertificateManagerGuiTests, CountMessagesFollowWhatTheTokenHolds)
{
    LogIn();
    const TestKey key = MakeRsaKey(512);
    WriteBytes(m_root.Temp() / "bob.cer", CertificateNamed("Bob", key));
    WriteBytes(m_root.Temp() / "carol.cer", CertificateNamed("Carol", key));
    const struct {
        std::function<void()> add;
        const char* message;
        bool viewEnabled;
    } steps[] = {
        { [] {}, "There is no certificate found in the token.", false },
        { [&] { TokenObjects::AddKey(m_serial, KeyFile("k1"), false, "0A", "1234"); },
            "There is only 1 key found in the token.", true },
        { [&] { TokenObjects::AddKey(m_serial, KeyFile("k2"), true, "0B", "1234"); },
            "There are 2 keys found in the token.", true },
        { [&] { TokenObjects::AddCertificate(m_serial, m_root.Temp() / "bob.cer", "0C", "1234"); },
            "There is only 1 certificate found in the token.", true },
        { [&] { TokenObjects::AddCertificate(m_serial, m_root.Temp() / "carol.cer", "0D", "1234"); },
            "There are 2 certificates found in the token.", true },
    };
    for (const auto& step : steps) {
        step.add();
        Show([&](CertificateManagerDlg& dialog) {
            EXPECT_EQ(dialog.GetMessage(), step.message);
            // Set as Default needs a certificate with both halves: never here.
            EXPECT_FALSE(dialog.GetButton(CertificateManagerDlg::ID_BTN_SET_AS_DEFAULT)->IsEnabled());
        });
    }
}

// Export proposes the cleaned subject name, writes the DER the token holds,
// and the agent is paused for the operation and continued afterwards.
TEST_F(CertificateManagerGuiTests, ExportWritesTheCertificateWhileTheAgentIsPaused)
{
    const TestKey key = MakeRsaKey(512);
    const std::vector<uint8_t> certificate = CertificateNamed("A/B", key);
    WriteBytes(m_root.Temp() / "ab.cer", certificate);
    TokenObjects::AddCertificate(m_serial, m_root.Temp() / "ab.cer", "01", "1234");
    LogIn();
    m_settings->SetIsInstallCertificate(true);
    SharedWord::Word agent;
    ASSERT_EQ(SharedWord::Word::Create("VCPSFLAG", 0x10000000, agent), SharedWord::Success);

    const std::filesystem::path target = m_root.Temp() / "exported.cer";
    wxString proposed;
    uint32_t duringExport = 0;
    wxString completion;
    ModalRunner::SetMessageHook([&](const wxString& message, const wxString& caption, long) {
        EXPECT_EQ(caption, "Export Certificate");
        completion = message;
        return wxOK;
    });
    Show([&](CertificateManagerDlg& dialog) {
        ModalRunner::SetFileHook([&](wxFileDialog& save, wxString& path) {
            proposed = save.GetFilename();
            EXPECT_EQ(save.GetMessage(), "Export Certificate");
            EXPECT_EQ(save.GetWildcard(), "Certificate Files (*.cer)|*.cer");
            duringExport = agent.Read();
            path = wxString::FromUTF8(target.string());
            return wxID_OK;
        });
        dialog.Export();
        EXPECT_EQ(dialog.GetMessage().utf8_string(), "Certificate has been exported successfully.");
        EXPECT_TRUE(dialog.GetButton(CertificateManagerDlg::ID_BTN_EXPORT)->IsEnabled())
            << "controls back on";

        ModalRunner::SetFileHook([](wxFileDialog&, wxString&) { return wxID_CANCEL; });
        dialog.Export();
        EXPECT_EQ(
            dialog.GetMessage(), "Certificate has not been exported because the operation was cancelled.");
    });
    EXPECT_EQ(proposed, "A B.cer");
    EXPECT_EQ(duringExport >> 16, 0x1001u);
    EXPECT_EQ(agent.Read() >> 16, 0x1000u);
    EXPECT_EQ(completion,
        "Certificate has been exported successfully.\nComplete path to exported certificate: "
            + wxString::FromUTF8(target.string()));
    const std::vector<uint8_t> written = ReadBytes(target);
    EXPECT_EQ(written, certificate);
    const unsigned char* cursor = written.data();
    const X509Ptr parsed(d2i_X509(nullptr, &cursor, static_cast<long>(written.size())));
    EXPECT_NE(parsed, nullptr) << "OpenSSL reads the exported file";
    // The login the export restored is still there: private objects show.
    CK_SESSION_HANDLE& session = m_host->GetSlotSession(0);
    EXPECT_EQ(m_cryptoki->LogIn(CKU_USER, session, kPin), CKR_USER_ALREADY_LOGGED_IN);
}

// View opens the viewer library's dialog; closing it ends the view.
TEST_F(CertificateManagerGuiTests, ViewShowsTheCertificateDetailsDialog)
{
    const TestIdentity alice = MakeTestIdentity(m_root.Temp(), "alice", "/O=Acme/CN=Alice", "secret");
    TokenObjects::Import(m_serial, alice.pkcs12, "secret", "1234");
    LogIn();
    const struct {
        int endCode;
        const char* message;
    } cases[] = {
        { wxID_OK, "Certificate Details window has been closed." },
        { wxID_CANCEL, "Certificate Details window has been closed." },
    };
    for (const auto& c : cases) {
        wxString viewerTitle;
        wxString messageWhileOpen;
        Show([&](CertificateManagerDlg& dialog) {
            wxTheApp->CallAfter([&] {
                for (wxWindow* window : wxTopLevelWindows) {
                    // Built inside the library: found by its name.
                    auto* shown = dynamic_cast<wxDialog*>(window);
                    if (shown != nullptr && window->GetName() == "CERTLENS_DLG_CERTIFICATE_DETAILS") {
                        viewerTitle = shown->GetTitle();
                        messageWhileOpen = dialog.GetMessage();
                        shown->EndModal(c.endCode);
                    }
                }
            });
            dialog.View();
            EXPECT_EQ(dialog.GetMessage(), c.message);
        });
        EXPECT_EQ(viewerTitle, "Certificate Viewer: \"Alice\"");
        EXPECT_EQ(messageWhileOpen, "Certificate Details window is currently active.");
    }
    // The view logged the User out and in again with the kept PIN.
    EXPECT_EQ(m_cryptoki->LogIn(CKU_USER, m_host->GetSlotSession(0), kPin), CKR_USER_ALREADY_LOGGED_IN);
}

TEST_F(CertificateManagerGuiTests, ViewWithoutTheLibraryFails)
{
    LogIn();
    const TestKey key = MakeRsaKey(512);
    WriteBytes(m_root.Temp() / "bob.cer", CertificateNamed("Bob", key));
    TokenObjects::AddCertificate(m_serial, m_root.Temp() / "bob.cer", "01", "1234");
    CertificateManagerDlg::SetViewerLibraryPath(wxString::FromUTF8((m_root.Temp() / "none.so").string()));
    Show([&](CertificateManagerDlg& dialog) {
        dialog.View();
        EXPECT_TRUE(dialog.GetMessage().StartsWith("Failed to load certificate details. "))
            << dialog.GetMessage();
    });
}

TEST_F(CertificateManagerGuiTests, OpenedAndClosedFromTheMainWindowCommand)
{
    LogIn();
    wxString name;
    ModalRunner::SetDialogHook([&](wxDialog& dialog) {
        name = dialog.GetName();
        EXPECT_EQ(dialog.GetId(), 6);
        EXPECT_EQ(dialog.GetTitle(), "Pavix Manager - Certificate Manager");
        dialog.CallAfter([&dialog] { dialog.Close(); });
        return dialog.ShowModal();
    });
    wxArrayString slots;
    slots.Add("Reader 0 [Card Present]");
    OpenCertificateManager(*m_host, slots);
    EXPECT_EQ(name, "NRVCMU_DLG_CERTIFICATE_MANAGER");
    const std::vector<wxString>& statuses = m_host->Statuses();
    ASSERT_GE(statuses.size(), 3u);
    EXPECT_EQ(statuses.front(), "Loading Certificate Manager . . .");
    EXPECT_EQ(statuses.back(), "Certificate Manager has been closed.");
    EXPECT_TRUE(m_host->AreActionsEnabled());
    EXPECT_FALSE(m_host->IsPaused());
    std::ifstream log(NRVCMULog::Get().GetFilePath().utf8_string());
    const std::string written((std::istreambuf_iterator<char>(log)), std::istreambuf_iterator<char>());
    const size_t destructor = written.find("CertificateManagerDlg::~CertificateManagerDlg()");
    ASSERT_NE(destructor, std::string::npos) << "the destructor's log line";
    const size_t nextLine = written.find('\n', destructor);
    EXPECT_EQ(written.compare(nextLine + 1, 14, "\t>> EndModal()"), 0) << written.substr(destructor);
}

// The menu item of the real main window opens the manager on its selected slot.
TEST_F(CertificateManagerGuiTests, MainWindowMenuOpensTheManager)
{
    m_settings->SetIsAskOnExit(false);
    auto* frame = new NRVCMUFrm(m_settings.get(), m_cryptoki.get(), 0);
    frame->Show();
    const std::function<void()> pump = [] {
        wxTheApp->ProcessPendingEvents();
        wxTheApp->Yield(true);
    };
    ASSERT_TRUE(
        WaitFor([&] { return frame->GetInfoList()->GetItemCount() > 0; }, pump, std::chrono::seconds(5)));
    wxString message;
    ModalRunner::SetDialogHook([&](wxDialog& dialog) {
        dialog.CallAfter([&] {
            message = dynamic_cast<CertificateManagerDlg&>(dialog).GetMessage();
            EXPECT_EQ(frame->GetStatus(), "Certificate Manager is currently active . . .");
            dialog.Close();
        });
        return dialog.ShowModal();
    });
    wxCommandEvent open(wxEVT_MENU, NRVCMUFrm::ID_MENU_CERTIFICATE_MANAGER);
    frame->ProcessWindowEvent(open);
    EXPECT_EQ(message, "There is no certificate found in the token.");
    EXPECT_EQ(frame->GetStatus(), "Certificate Manager has been closed.");
    frame->Destroy();
    wxTheApp->ProcessIdle();
}

// Every text of the window whole in every language, with a certificate and
// a key of its own listed.
TEST_F(CertificateManagerGuiTests, EveryTextIsWholeInEveryLanguage)
{
    const TestIdentity alice = MakeTestIdentity(m_root.Temp(), "alice", "/O=Acme/CN=Alice", "secret");
    TokenObjects::Import(m_serial, alice.pkcs12, "secret", "1234");
    TokenObjects::AddKey(m_serial, KeyFile("lone"), true, "-", "1234");
    LogIn();
    for (const char* language : layout_check::kLanguages) {
        const wxString folder = wxString::FromUTF8(m_bin) + "/Language";
        ASSERT_TRUE(layout_check::UseLanguage(language, folder)) << "no catalog " << language;
        Show([language](CertificateManagerDlg& dialog) {
            std::vector<wxString> faults;
            layout_check::CheckLayout(&dialog, faults);
            for (const wxString& fault : faults) {
                ADD_FAILURE() << language << ": " << fault;
            }
        });
    }
}
