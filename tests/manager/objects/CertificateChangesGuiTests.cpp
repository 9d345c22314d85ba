// The certificate manager's changing operations on the software token: the
// real window, its worker threads, the token read back with vela5-token.
#include "../window/TokenActionsTestSupport.h"
#include "CertificateManagerFixture.h"
#include "manager/objects/CertificateThreads.h"
#include "manager/pin/LogInDlg.h"
#include "manager/pin/MessageBoxDlg.h"
#if VELA5_WITH_AGENT
#include "platform/openssl/OpenSslPtr.h"
#include "tests/certprop/AgentHarness.h"
#endif

#include <algorithm>
#include <openssl/pem.h>
#include <openssl/pkcs7.h>
#include <wx/button.h>
#include <wx/filedlg.h>
#include <wx/stattext.h>
#include <wx/textctrl.h>

namespace {

class CertificateChangesGuiTests : public CertificateManagerFixture {
protected:
    void SetUp() override
    {
        CertificateManagerFixture::SetUp();
        // Every confirmation is answered, and recorded; the password dialog
        // gets m_password, or is cancelled when it is empty.
        ModalRunner::SetDialogHook([this](wxDialog& dialog) -> int {
            m_titles.push_back(dialog.GetTitle());
            if (dynamic_cast<MessageBoxDlg*>(&dialog) != nullptr) {
                return m_confirm ? wxID_OK : wxID_NO;
            }
            if (dynamic_cast<LogInDlg*>(&dialog) != nullptr) {
                m_prompts.push_back(
                    dynamic_cast<wxStaticText*>(dialog.FindWindow(LogInDlg::ID_LBE_NOTIFICATION))
                        ->GetLabelText());
                if (m_password.empty()) {
                    return wxID_NO;
                }
                token_actions_test::SetText(dialog, LogInDlg::ID_TXT_PIN, m_password);
                token_actions_test::Press(dialog, LogInDlg::ID_BTN_OK);
                return dynamic_cast<LogInDlg&>(dialog).GetPIN() == m_password ? wxID_OK : wxID_NO;
            }
            ADD_FAILURE() << "unexpected dialog " << dialog.GetName();
            return wxID_NO;
        });
    }

    // Runs an operation of the window and waits until its worker's outcome is shown.
    void Run(CertificateManagerDlg& dialog, void (CertificateManagerDlg::*operation)())
    {
        m_titles.clear();
        m_prompts.clear();
        (dialog.*operation)();
        const bool ended = WaitFor([&] { return !dialog.IsWorking(); },
            [] {
                wxTheApp->ProcessPendingEvents();
                wxTheApp->Yield(true);
            },
            std::chrono::seconds(30));
        ASSERT_TRUE(ended) << "the worker ended";
        EXPECT_TRUE(dialog.IsEnabled()) << "the window is enabled again";
        EXPECT_FALSE(m_host->IsPaused()) << "polling resumed";
    }

    // Imports path through the file dialog (answered with that path).
    void Import(CertificateManagerDlg& dialog, const std::filesystem::path& path)
    {
        ModalRunner::SetFileHook([path](wxFileDialog& open, wxString& chosen) {
            EXPECT_EQ(open.GetMessage(), "Import Certificate");
            chosen = wxString::FromUTF8(path.string());
            return wxID_OK;
        });
        Run(dialog, &CertificateManagerDlg::Import);
    }

    static bool Select(CertificateManagerDlg& dialog, const wxString& label)
    {
        wxTreeCtrl* tree = dialog.GetTree();
        wxTreeItemIdValue cookie;
        for (wxTreeItemId item = tree->GetFirstChild(tree->GetRootItem(), cookie); item.IsOk();
             item = tree->GetNextChild(tree->GetRootItem(), cookie)) {
            if (tree->GetItemText(item) == label) {
                tree->SelectItem(item);
                return true;
            }
        }
        return false;
    }

    size_t Count(const std::string& objectClass)
    {
        const std::vector<TokenObjectRow> rows = TokenObjects::List(m_serial);
        return static_cast<size_t>(std::count_if(rows.begin(), rows.end(),
            [&](const TokenObjectRow& row) { return row.objectClass == objectClass; }));
    }

    // A certificate of its own key, written as a .cer, named CN=name.
    std::filesystem::path CerFile(const std::string& name)
    {
        const std::filesystem::path file = m_root.Temp() / (name + ".cer");
        WriteBytes(file, CertificateNamed(name, MakeRsaKey(512)));
        return file;
    }

    bool m_confirm = true;
    wxString m_password;
    std::vector<wxString> m_titles;
    std::vector<wxString> m_prompts;
};

// Each kind of file the import takes, and the files it must refuse with the
// right sentence and without leaving anything on the token.
TEST_F(CertificateChangesGuiTests, ImportsEachFileKindAndRefusesBadFiles)
{
    const TestIdentity alice = MakeTestIdentity(m_root.Temp(), "alice", "/O=Acme/CN=Alice", "secret");
    // A backslash is an ordinary character of a file name here: the module
    // gets it doubled and must still find the file.
    const std::filesystem::path slashed = m_root.Temp() / "back\\slash.pfx";
    std::filesystem::copy_file(alice.pkcs12, slashed);
    const std::vector<uint8_t> p12 = ReadBytes(alice.pkcs12);
    std::vector<uint8_t> truncated(p12.begin(), p12.begin() + static_cast<long>(p12.size() / 2));
    WriteBytes(m_root.Temp() / "truncated.p12", truncated);
    std::vector<uint8_t> flipped = p12;
    flipped[flipped.size() - 30] ^= 0x10;
    WriteBytes(m_root.Temp() / "flipped.p12", flipped);
    std::vector<uint8_t> absurd = p12;
    absurd[1] = 0x84; // a four-byte length far beyond the file
    absurd.insert(absurd.begin() + 2, { 0x7f, 0xff, 0xff });
    WriteBytes(m_root.Temp() / "absurd.p12", absurd);
    const std::filesystem::path pem = m_root.Temp() / "pem.cer";
    {
        vela5::platform::X509Ptr parsed;
        const unsigned char* cursor = alice.certificate.data();
        parsed.reset(d2i_X509(nullptr, &cursor, static_cast<long>(alice.certificate.size())));
        BIO* out = BIO_new_file(pem.c_str(), "wb");
        PEM_write_bio_X509(out, parsed.get());
        BIO_free(out);
    }
    WriteBytes(m_root.Temp() / "two.p7b",
        MakePkcs7(NID_pkcs7_signed,
            { CertificateNamed("Bob", MakeRsaKey(512)), CertificateNamed("Carol", MakeRsaKey(512)) }));
    WriteBytes(m_root.Temp() / "data.p7c", MakePkcs7(NID_pkcs7_data, {}));
    WriteBytes(m_root.Temp() / "empty.p7b", MakePkcs7(NID_pkcs7_signed, {}));
    WriteBytes(m_root.Temp() / "noise.cer", std::vector<uint8_t>(64, 0x30));

    const std::string invalid = "Failed to import the certificate. Certificate file has invalid attributes.";
    const struct {
        std::string file;
        const char* password;
        std::string message;
        size_t certificates;
        size_t publicKeys;
        size_t privateKeys;
    } cases[] = {
        { "alice.p12", "secret", "Certificate has been imported successfully.", 1, 1, 1 },
        { "back\\slash.pfx", "secret", "Certificate has been imported successfully.", 1, 1, 1 },
        { "alice.p12", "wrong", "Failed to import the certificate. The password is incorrect.", 0, 0, 0 },
        { "alice.p12", "", "No certificate has been imported because the operation was cancelled.", 0, 0, 0 },
        { "alice.cer", "", "Certificate has been imported successfully.", 1, 1, 0 },
        { "two.p7b", "", "Certificate has been imported successfully.", 2, 2, 0 },
        { "pem.cer", "", invalid, 0, 0, 0 },
        { "noise.cer", "", invalid, 0, 0, 0 },
        { "data.p7c", "", invalid, 0, 0, 0 },
        { "empty.p7b", "", invalid, 0, 0, 0 },
        { "truncated.p12", "secret", "", 0, 0, 0 },
        { "flipped.p12", "secret", "", 0, 0, 0 },
        { "absurd.p12", "secret", "", 0, 0, 0 },
        // Gone between the file dialog and the import.
        { "missing.cer", "", "", 0, 0, 0 },
    };
    LogIn();
    for (const auto& c : cases) {
        SCOPED_TRACE(c.file);
        m_password = wxString::FromUTF8(c.password);
        Show([&](CertificateManagerDlg& dialog) {
            Import(dialog, m_root.Temp() / c.file);
            const wxString message = dialog.GetMessage();
            if (!c.message.empty()) {
                EXPECT_EQ(message.utf8_string(), c.message);
            } else {
                EXPECT_TRUE(message.StartsWith("Failed to import the certificate. ")) << message;
            }
            if (c.certificates > 0) {
                EXPECT_EQ(Items(dialog).size(), c.certificates) << "listed again";
                EXPECT_EQ(dialog.GetTree()->GetSelection(),
                    dialog.GetTree()->GetLastChild(dialog.GetTree()->GetRootItem()))
                    << "the last item is selected";
            }
        });
        EXPECT_EQ(Count("certificate"), c.certificates);
        EXPECT_EQ(Count("public-key"), c.publicKeys);
        EXPECT_EQ(Count("private-key"), c.privateKeys);
        if (std::string(c.password).size() > 0 || c.file.find("pfx") != std::string::npos) {
            // The password kind of the PIN dialog keeps its own title.
            ASSERT_EQ(m_prompts.size(), 1u);
            EXPECT_EQ(m_prompts[0], "Please enter the password used to protect the certificate.");
        }
        // Back to an empty token for the next file.
        for (const TokenObjectRow& row : TokenObjects::List(m_serial)) {
            ASSERT_EQ(m_cryptoki->DestroyObject(m_host->GetSlotSession(0), row.handle), CKR_OK);
        }
    }
}

// The certificate object fails after its public key was stored: the import
// takes the key away again, for a single file and for a bundle.
TEST_F(CertificateChangesGuiTests, FailedImportLeavesNothingBehind)
{
    WriteBytes(m_root.Temp() / "two.p7b",
        MakePkcs7(NID_pkcs7_signed,
            { CertificateNamed("Bob", MakeRsaKey(512)), CertificateNamed("Carol", MakeRsaKey(512)) }));
    const std::filesystem::path single = CerFile("Dave");
    LogIn();
    Tool("token fail " + m_serial + " C_CreateObject:certificate 0x31");
    for (const std::filesystem::path& file : { single, m_root.Temp() / "two.p7b" }) {
        Show([&](CertificateManagerDlg& dialog) {
            Import(dialog, file);
            EXPECT_EQ(dialog.GetMessage(),
                "Failed to import the certificate. Token already has the maximum number of certificates.");
        });
        EXPECT_TRUE(TokenObjects::List(m_serial).empty()) << file;
    }
    // Without the switch the same file imports: the switch was the cause.
    Tool("token fail " + m_serial + " C_CreateObject:certificate off");
    Show([&](CertificateManagerDlg& dialog) {
        Import(dialog, single);
        EXPECT_EQ(dialog.GetMessage(), "Certificate has been imported successfully.");
    });
    EXPECT_EQ(Count("certificate"), 1u);
}

// Deletion goes by the listed object: of two keys whose IDs read the same in
// the tree (01AB00 and 01AB), the selected one goes and the other stays.
TEST_F(CertificateChangesGuiTests, DeletesTheSelectedObjectAndNoOther)
{
    const TestIdentity alice = MakeTestIdentity(m_root.Temp(), "alice", "/CN=Alice", "secret");
    TokenObjects::Import(m_serial, alice.pkcs12, "secret", "1234");
    TokenObjects::AddKey(m_serial, KeyFile("k1"), true, "01AB00", "1234");
    TokenObjects::AddKey(m_serial, KeyFile("k2"), true, "01AB", "1234");
    TokenObjects::AddKey(m_serial, KeyFile("k3"), false, "01", "1234");
    LogIn();
    Show([&](CertificateManagerDlg& dialog) {
        const std::vector<wxString> items = Items(dialog);
        ASSERT_EQ(std::count(items.begin(), items.end(), "Private Key [01AB]"), 2);
        // Unpaired keys are shown in table order: the second look-alike in
        // the tree is the second one in the table.
        std::vector<CK_OBJECT_HANDLE> lookAlikes;
        for (const KeyEntry& key : dialog.GetTables().privateKeys) {
            if (!key.paired && GetKeyIdText(key.id.data(), key.id.size()) == "01AB") {
                lookAlikes.push_back(key.handle);
            }
        }
        ASSERT_EQ(lookAlikes.size(), 2u);
        wxTreeCtrl* tree = dialog.GetTree();
        wxTreeItemIdValue cookie;
        int seen = 0;
        for (wxTreeItemId item = tree->GetFirstChild(tree->GetRootItem(), cookie); item.IsOk();
             item = tree->GetNextChild(tree->GetRootItem(), cookie)) {
            if (tree->GetItemText(item) == "Private Key [01AB]" && ++seen == 2) {
                tree->SelectItem(item);
            }
        }
        m_confirm = false;
        Run(dialog, &CertificateManagerDlg::Delete);
        EXPECT_EQ(
            dialog.GetMessage(), "Private key has not been deleted because the operation was cancelled.");
        m_confirm = true;
        Run(dialog, &CertificateManagerDlg::Delete);
        ASSERT_EQ(m_titles.size(), 1u);
        EXPECT_EQ(m_titles[0], "Pavix Manager - Delete Private Key");
        EXPECT_EQ(dialog.GetMessage(), "Private key has been deleted successfully.");
        const std::vector<TokenObjectRow> rows = TokenObjects::List(m_serial);
        const auto present = [&](CK_OBJECT_HANDLE handle) {
            return std::any_of(
                rows.begin(), rows.end(), [&](const TokenObjectRow& row) { return row.handle == handle; });
        };
        EXPECT_TRUE(present(lookAlikes[0])) << "the other look-alike stays";
        EXPECT_FALSE(present(lookAlikes[1])) << "the selected one is gone";
        EXPECT_EQ(Count("private-key"), 2u) << "Alice's key and one look-alike";

        ASSERT_TRUE(Select(dialog, "Public Key [01]"));
        Run(dialog, &CertificateManagerDlg::Delete);
        EXPECT_EQ(m_titles.at(0), "Pavix Manager - Delete Public Key");
        EXPECT_EQ(dialog.GetMessage(), "Public key has been deleted successfully.");
        EXPECT_EQ(Count("public-key"), 1u) << "Alice's public key stays";

        ASSERT_TRUE(Select(dialog, "Alice [Alice]"));
        Run(dialog, &CertificateManagerDlg::Delete);
        EXPECT_EQ(m_titles.at(0), "Pavix Manager - Delete Certificate");
        EXPECT_EQ(dialog.GetMessage(), "Certificate has been deleted successfully.");
    });
    const std::vector<TokenObjectRow> rows = TokenObjects::List(m_serial);
    ASSERT_EQ(rows.size(), 1u) << "only the other look-alike is left";
    EXPECT_EQ(rows[0].objectClass, "private-key");
    EXPECT_EQ(m_host->LastStatus(), "Certificate Manager is currently active . . .")
        << "the main window's token information was shown and its status put back";
}

// More certificates than one listing sees: Delete All lists again until the
// token is empty, with the single-certificate texts for one.
TEST_F(CertificateChangesGuiTests, DeleteAllEmptiesTheToken)
{
    const struct {
        int certificates;
        const char* title;
        const char* message;
    } cases[] = {
        { 1, "Pavix Manager - Delete Certificate", "Certificate has been deleted successfully." },
        { 2, "Pavix Manager - Delete All Certificates", "All certificates have been deleted successfully." },
        { 12, "Pavix Manager - Delete All Certificates", "All certificates have been deleted successfully." },
    };
    LogIn();
    for (const auto& c : cases) {
        SCOPED_TRACE(c.certificates);
        for (int i = 0; i < c.certificates; ++i) {
            char id[16];
            std::snprintf(id, sizeof id, "%02X", i + 1);
            TokenObjects::AddCertificate(m_serial, CerFile("C" + std::to_string(i)), id, "1234");
            // The token holds at most 10 key pairs: keys for a few only.
            if (i < 3) {
                TokenObjects::AddKey(m_serial, KeyFile("K" + std::to_string(i)), true, id, "1234");
            }
        }
        Show([&](CertificateManagerDlg& dialog) {
            m_confirm = false;
            Run(dialog, &CertificateManagerDlg::DeleteAll);
            EXPECT_EQ(
                dialog.GetMessage(), "No certificate has been deleted because the operation was cancelled.");
            m_confirm = true;
            Run(dialog, &CertificateManagerDlg::DeleteAll);
            ASSERT_EQ(m_titles.size(), 1u);
            EXPECT_EQ(m_titles[0], c.title);
            EXPECT_EQ(dialog.GetMessage(), c.message);
            EXPECT_TRUE(Items(dialog).empty());
            EXPECT_FALSE(dialog.GetButton(CertificateManagerDlg::ID_BTN_DELETE_ALL)->IsEnabled());
        });
        EXPECT_TRUE(TokenObjects::List(m_serial).empty());
    }
}

// A listing that fails part-way stops Delete All with its text and the list
// read again.
TEST_F(CertificateChangesGuiTests, DeleteAllReportsAFailure)
{
    LogIn();
    TokenObjects::AddCertificate(m_serial, CerFile("Eve"), "01", "1234");
    TokenObjects::AddCertificate(m_serial, CerFile("Fay"), "02", "1234");
    Show([&](CertificateManagerDlg& dialog) {
        Tool("token fail " + m_serial + " C_DestroyObject 0x30");
        Run(dialog, &CertificateManagerDlg::DeleteAll);
        EXPECT_TRUE(dialog.GetMessage().StartsWith("Failed to delete all certificates. "))
            << dialog.GetMessage();
        EXPECT_EQ(Items(dialog).size(), 2u) << "the list read again shows what remains";
        Tool("token fail " + m_serial + " C_DestroyObject off");
    });
    EXPECT_EQ(Count("certificate"), 2u);
}

// Marking a second certificate clears the first one's mark.
TEST_F(CertificateChangesGuiTests, SetAsDefaultMovesTheMark)
{
    for (const char* name : { "alice", "bob" }) {
        const TestIdentity identity
            = MakeTestIdentity(m_root.Temp(), name, std::string("/CN=") + name, "secret");
        TokenObjects::Import(m_serial, identity.pkcs12, "secret", "1234");
    }
    LogIn();
    Show([&](CertificateManagerDlg& dialog) {
        for (const char* name : { "alice", "bob" }) {
            SCOPED_TRACE(name);
            const wxString label = wxString::Format("%s [%s]", name, name);
            ASSERT_TRUE(Select(dialog, label));
            EXPECT_TRUE(dialog.GetButton(CertificateManagerDlg::ID_BTN_SET_AS_DEFAULT)->IsEnabled());
            Run(dialog, &CertificateManagerDlg::SetAsDefault);
            ASSERT_EQ(m_titles.size(), 1u);
            EXPECT_EQ(m_titles[0], "Pavix Manager - Set Window Logon Default Certificate");
            EXPECT_EQ(dialog.GetMessage(), "Windows logon default certificate has been set successfully.");
            int marked = 0;
            for (const CertificateEntry& certificate : dialog.GetTables().certificates) {
                if (certificate.logonDefault == 1) {
                    ++marked;
                    EXPECT_EQ(certificate.subjectName, name);
                }
            }
            EXPECT_EQ(marked, 1);
            const std::vector<wxString> items = Items(dialog);
            EXPECT_NE(std::find(items.begin(), items.end(), label + " - Default"), items.end());
            ASSERT_TRUE(Select(dialog, label + " - Default"));
            EXPECT_FALSE(dialog.GetButton(CertificateManagerDlg::ID_BTN_SET_AS_DEFAULT)->IsEnabled());
        }
    });
}

// A token that never reports ready: the token information step gives up
// after its bound with the module's answer, and the import itself stands.
TEST_F(CertificateChangesGuiTests, NeverReadyTokenEndsTheWaitWithTheModulesAnswer)
{
    const std::filesystem::path file = CerFile("Hal");
    LogIn();
    Show([&](CertificateManagerDlg& dialog) {
        Tool("token fail " + m_serial + " C_NRV_IsTokenReady 0x30");
        const auto started = std::chrono::steady_clock::now();
        Import(dialog, file);
        const auto waited = std::chrono::steady_clock::now() - started;
        Tool("token fail " + m_serial + " C_NRV_IsTokenReady off");
        EXPECT_TRUE(dialog.GetMessage().StartsWith("Failed to get token information. "))
            << dialog.GetMessage();
        EXPECT_NE(dialog.GetMessage(), "Failed to get token information. ") << "with the module's answer";
        EXPECT_LT(waited, std::chrono::seconds(15));
        EXPECT_EQ(Items(dialog).size(), 1u) << "the list was refreshed before";
    });
    EXPECT_EQ(Count("certificate"), 1u);
}

#if VELA5_WITH_AGENT
// What the manager imports is a certificate the propagation agent takes to
// the user's store, once it sees the token (here: started on that state).
TEST_F(CertificateChangesGuiTests, AgentPropagatesAnImportedCertificate)
{
    const TestIdentity alice = MakeTestIdentity(m_root.Temp(), "alice", "/CN=Alice", "secret");
    const TestIdentity bob = MakeTestIdentity(m_root.Temp(), "bob", "/CN=Bob", "secret");
    LogIn();
    m_password = "secret";
    Show([&](CertificateManagerDlg& dialog) {
        Import(dialog, alice.pkcs12);
        EXPECT_EQ(dialog.GetMessage(), "Certificate has been imported successfully.");
        Import(dialog, bob.cer);
        EXPECT_EQ(dialog.GetMessage(), "Certificate has been imported successfully.");
    });
    AgentProcess agent;
    EXPECT_TRUE(::WaitFor([&] { return StoreHolds(alice.certificate) && StoreHolds(bob.certificate); },
        std::chrono::seconds(10)))
        << "both imported certificates reach the store";
}
#endif

// The messages that need no token change.
TEST_F(CertificateChangesGuiTests, OperationsWithoutASelectionAsk)
{
    LogIn();
    TokenObjects::AddCertificate(m_serial, CerFile("Gus"), "01", "1234");
    Show([&](CertificateManagerDlg& dialog) {
        dialog.GetTree()->Unselect();
        dialog.Delete();
        EXPECT_EQ(dialog.GetMessage(), "Please select a certificate or a key to be deleted.");
        dialog.SetAsDefault();
        EXPECT_EQ(dialog.GetMessage(),
            "Please select a certificate to be set as Windows logon default certificate.");
        ModalRunner::SetFileHook([](wxFileDialog&, wxString&) { return wxID_CANCEL; });
        Run(dialog, &CertificateManagerDlg::Import);
        EXPECT_EQ(
            dialog.GetMessage(), "No certificate has been imported because the operation was cancelled.");
        EXPECT_TRUE(dialog.GetButton(CertificateManagerDlg::ID_BTN_IMPORT)->IsEnabled());
    });
    EXPECT_TRUE(m_titles.empty()) << "nothing was asked";
}

} // namespace
