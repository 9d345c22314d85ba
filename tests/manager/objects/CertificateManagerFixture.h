// The certificate manager on the software token, shared by its window
// suites: a token in a reader, the main window's test host, the real window
// shown modally with a check run inside its loop.
#pragma once

#include "../window/TokenActionsTestHost.h"
#include "../window/WindowTestSupport.h"
#include "manager/core/ModalRunner.h"
#include "manager/objects/CertificateManagerDlg.h"
#include "platform/openssl/OpenSslPtr.h"
#include "tests/support/TokenObjects.h"

#include <functional>
#include <openssl/x509.h>
#include <wx/translation.h>

inline const wxString kPin = "1234";

// A self-signed certificate whose common name holds any text, "/" included.
inline std::vector<uint8_t> CertificateNamed(const std::string& commonName, const TestKey& key)
{
    const vela5::platform::X509Ptr certificate(X509_new());
    X509_set_version(certificate.get(), 2);
    ASN1_INTEGER_set(X509_get_serialNumber(certificate.get()), 7);
    X509_NAME* name = X509_get_subject_name(certificate.get());
    X509_NAME_add_entry_by_txt(
        name, "CN", MBSTRING_UTF8, reinterpret_cast<const unsigned char*>(commonName.c_str()), -1, -1, 0);
    X509_set_issuer_name(certificate.get(), name);
    X509_gmtime_adj(X509_getm_notBefore(certificate.get()), 0);
    X509_gmtime_adj(X509_getm_notAfter(certificate.get()), 86400);
    X509_set_pubkey(certificate.get(), key.get());
    X509_sign(certificate.get(), key.get(), EVP_sha256());
    unsigned char* der = nullptr;
    const int length = i2d_X509(certificate.get(), &der);
    std::vector<uint8_t> bytes(der, der + length);
    OPENSSL_free(der);
    return bytes;
}

class CertificateManagerFixture : public SoftTokenFixture {
protected:
    void SetUp() override
    {
        SoftTokenFixture::SetUp();
        std::filesystem::create_directories(m_root.Temp());
        Tool("reader add 'Reader 0'");
        m_serial = InsertToken("Reader 0", "--model VELA5-64 --label Mine --user-pin 1234 --so-pin 87654321");
        m_settings = std::make_unique<NRVCMUSettings>(wxString::FromUTF8(m_bin));
        m_host = std::make_unique<TokenActionsTestHost>(*m_cryptoki, *m_settings);
        m_host->Enumerate();
        CertificateManagerDlg::SetViewerLibraryPath(wxString::FromUTF8(m_bin + "/Certlens.so"));
    }

    void TearDown() override
    {
        wxTranslations::Set(nullptr);
        ModalRunner::ClearHooks();
        m_host.reset();
        SoftTokenFixture::TearDown();
    }

    // The User logged in through the main window's session, as after "Login".
    void LogIn()
    {
        ASSERT_EQ(m_host->OpenSlotSession(0), CKR_OK);
        ASSERT_EQ(m_cryptoki->LogIn(CKU_USER, m_host->GetSlotSession(0), kPin), CKR_OK);
        m_host->GetSlotRecord(0).loggedIn = true;
        m_host->GetSlotRecord(0).cachedPIN.Keep(kPin);
    }

    // Shows the window modally; inside its loop, once loaded, runs check.
    void Show(const std::function<void(CertificateManagerDlg&)>& check)
    {
        wxArrayString slots;
        slots.Add("Reader 0 [Card Present]");
        CertificateManagerDlg dialog(m_host->GetWindow(), *m_host, 0, slots);
        dialog.CallAfter([&] {
            check(dialog);
            dialog.Close();
        });
        EXPECT_EQ(dialog.ShowModal(), wxID_OK);
        EXPECT_EQ(dialog.GetSession(), CK_INVALID_HANDLE) << "closing closes the window's session";
        EXPECT_FALSE(m_host->IsPaused()) << "polling resumed";
    }

    static std::vector<wxString> Items(CertificateManagerDlg& dialog, wxTreeItemId parent = wxTreeItemId())
    {
        wxTreeCtrl* tree = dialog.GetTree();
        if (!parent.IsOk()) {
            parent = tree->GetRootItem();
        }
        std::vector<wxString> items;
        wxTreeItemIdValue cookie;
        for (wxTreeItemId item = tree->GetFirstChild(parent, cookie); item.IsOk();
             item = tree->GetNextChild(parent, cookie)) {
            items.push_back(tree->GetItemText(item));
        }
        return items;
    }

    std::filesystem::path KeyFile(const std::string& name)
    {
        const std::filesystem::path file = m_root.Temp() / (name + ".pem");
        WritePrivateKeyPem(file, MakeRsaKey(512));
        return file;
    }

    std::string m_serial;
    std::unique_ptr<NRVCMUSettings> m_settings;
    std::unique_ptr<TokenActionsTestHost> m_host;
};
