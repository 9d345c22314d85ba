// Certlens.so loaded by path and driven through its function table, as the
// certificate manager drives it.
#include "certlens/Certlens.h"
#include "tests/support/TestCertificates.h"

#include <dlfcn.h>
#include <gtest/gtest.h>
#include <wx/app.h>
#include <wx/dialog.h>
#include <wx/notebook.h>

namespace {

class CertlensGuiTests : public testing::Test {
protected:
    void SetUp() override
    {
        const char* bin = std::getenv("VELA5_BIN_DIR");
        ASSERT_NE(bin, nullptr);
        m_library = dlopen((std::string(bin) + "/Certlens.so").c_str(), RTLD_NOW);
        ASSERT_NE(m_library, nullptr) << dlerror();
        m_getFunctionList = reinterpret_cast<CERTLENS_GET_FUNCTION_LIST>(dlsym(m_library, "GetFunctionList"));
        ASSERT_NE(m_getFunctionList, nullptr);
        ASSERT_EQ(m_getFunctionList(&m_functions), 0u);
    }
    void TearDown() override
    {
        if (m_library != nullptr) {
            dlclose(m_library);
        }
    }

    // Shows the certificate; inside the dialog's loop, answers it with endCode.
    unsigned long ViewAndEnd(
        const std::vector<uint8_t>& der, int endCode, wxString* title = nullptr, int* pages = nullptr)
    {
        wxTheApp->CallAfter([=] {
            for (wxWindow* window : wxTopLevelWindows) {
                auto* dialog = dynamic_cast<wxDialog*>(window);
                if (dialog != nullptr && dialog->GetName() == "CERTLENS_DLG_CERTIFICATE_DETAILS") {
                    if (title != nullptr) {
                        *title = dialog->GetTitle();
                    }
                    for (wxWindow* child : dialog->GetChildren()) {
                        if (auto* notebook = dynamic_cast<wxNotebook*>(child); notebook != nullptr && pages) {
                            *pages = static_cast<int>(notebook->GetPageCount());
                        }
                    }
                    dialog->EndModal(endCode);
                }
            }
        });
        return m_functions.ViewCertificate(1, der.data(), static_cast<unsigned long>(der.size()));
    }

    void* m_library = nullptr;
    CERTLENS_GET_FUNCTION_LIST m_getFunctionList = nullptr;
    CERTLENS_FUNCTION_LIST m_functions {};
};

} // namespace

TEST_F(CertlensGuiTests, TableHasThreeEntriesAndRefusesBadInput)
{
    EXPECT_EQ(m_getFunctionList(nullptr), CERTLENS_RESULT_INVALID_PARAMETER);
    ASSERT_NE(m_functions.GetVersion, nullptr);
    ASSERT_NE(m_functions.IsReady, nullptr);
    ASSERT_NE(m_functions.ViewCertificate, nullptr);
    EXPECT_EQ(m_functions.GetVersion(), CERTLENS_VERSION);
    EXPECT_EQ(m_functions.IsReady(), 0u) << "a running toolkit on its GUI thread";
    const std::vector<uint8_t> der = MakeCertificate({}, MakeRsaKey(512));
    const unsigned char junk[] = { 0x30, 0x03, 0x02, 0x01, 0x01 };
    const struct {
        unsigned long encoding;
        const unsigned char* bytes;
        unsigned long length;
    } refused[] = {
        { 2, der.data(), static_cast<unsigned long>(der.size()) },
        { 1, junk, sizeof junk },
        { 1, nullptr, 0 },
        { 1, der.data(), static_cast<unsigned long>(der.size() - 1) },
    };
    for (const auto& c : refused) {
        EXPECT_EQ(
            m_functions.ViewCertificate(c.encoding, c.bytes, c.length), CERTLENS_RESULT_INVALID_PARAMETER);
    }
}

TEST_F(CertlensGuiTests, ClosingAnswersZeroAndCancellingAnswers1223)
{
    TestCertificateFields fields;
    fields.subject = "/O=Acme/CN=Alice";
    const std::vector<uint8_t> der = MakeCertificate(fields, MakeRsaKey(512));
    wxString title;
    int pages = 0;
    EXPECT_EQ(ViewAndEnd(der, wxID_OK, &title, &pages), 0u);
    EXPECT_EQ(title, "Certificate Viewer: \"Alice\"");
    EXPECT_EQ(pages, 2) << "General and Details";
    EXPECT_EQ(ViewAndEnd(der, wxID_CANCEL), CERTLENS_RESULT_CANCELLED);
}
