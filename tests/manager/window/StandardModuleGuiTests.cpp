// The main window on a standard module that has no vendor entries
// (SoftHSMv2's): the tree lists its slots under their own IDs with the
// token's details, a vendor-only command shows the module's answer, and
// nothing reads past the module's function list.
#include "TokenActionsTestSupport.h"
#include "WindowTestSupport.h"
#include "manager/core/CryptokiResultText.h"
#include "manager/core/NRVCMUSettings.h"
#include "manager/window/NRVCMUFrm.h"
#include "tests/support/ScopedTestRoot.h"

#include <filesystem>
#include <fstream>
#include <wx/app.h>
#include <wx/listctrl.h>
#include <wx/treectrl.h>

using namespace token_actions_test;

namespace {

constexpr const char* kSoftHsm = "/usr/lib/softhsm/libsofthsm2.so";

class StandardModuleGuiTests : public testing::Test {
protected:
    void SetUp() override
    {
        if (!std::filesystem::exists(kSoftHsm) || std::system("command -v softhsm2-util >/dev/null") != 0) {
            GTEST_SKIP() << "SoftHSMv2 is not installed";
        }
        const char* bin = std::getenv("VELA5_BIN_DIR");
        ASSERT_NE(bin, nullptr);
        const auto tokens = m_root.Base() / "softhsm";
        std::filesystem::create_directories(tokens);
        const auto conf = m_root.Base() / "softhsm2.conf";
        std::ofstream(conf) << "directories.tokendir = " << tokens.string()
                            << "\nobjectstore.backend = file\n";
        setenv("SOFTHSM2_CONF", conf.c_str(), 1);
        ASSERT_EQ(std::system("softhsm2-util --init-token --free --label Demo --pin 1234 --so-pin 87654321 "
                              ">/dev/null"),
            0);
        NRVCMULog::Relocate();
        m_cryptoki = std::make_unique<NRVCMUCryptoki>(wxString::FromUTF8(kSoftHsm));
        ASSERT_EQ(m_cryptoki->CheckFunctionList(), CKR_OK);
        ASSERT_EQ(m_cryptoki->Initialize(), CKR_OK);
        ASSERT_FALSE(m_cryptoki->HasVendorEntries());
        m_settings = std::make_unique<NRVCMUSettings>(wxString::FromUTF8(bin));
        m_settings->SetIsAskOnExit(false);
        // No propagation agent: these tests are about the window alone.
        m_settings->SetIsInstallCertificate(false);
        m_settings->SetIsAskChangeDefaultPin(false);
        m_settings->SaveHash();
        m_frame = new NRVCMUFrm(m_settings.get(), m_cryptoki.get(), 0);
        m_frame->Show();
    }

    void TearDown() override
    {
        if (m_frame != nullptr) {
            m_frame->Destroy();
            wxTheApp->ProcessIdle();
        }
        ModalRunner::ClearHooks();
        if (m_cryptoki) {
            m_cryptoki->Finalize();
        }
        unsetenv("SOFTHSM2_CONF");
    }

    static void Pump()
    {
        wxTheApp->ProcessPendingEvents();
        wxTheApp->Yield(true);
    }

    std::vector<wxString> TreeItems() const
    {
        std::vector<wxString> items;
        wxTreeCtrl* tree = m_frame->GetSlotTree();
        wxTreeItemIdValue cookie;
        for (wxTreeItemId item = tree->GetFirstChild(tree->GetRootItem(), cookie); item.IsOk();
             item = tree->GetNextChild(tree->GetRootItem(), cookie)) {
            items.push_back(tree->GetItemText(item));
        }
        return items;
    }

    // The value of the information row whose name is given; empty if none.
    wxString Row(const wxString& name) const
    {
        wxListCtrl* list = m_frame->GetInfoList();
        for (long row = 0; row < list->GetItemCount(); ++row) {
            if (list->GetItemText(row, 0) == name) {
                return list->GetItemText(row, 1);
            }
        }
        return wxString();
    }

    bool TokenShown()
    {
        return WaitFor(
            [&] {
                const auto items = TreeItems();
                return !m_frame->IsBusy() && !items.empty() && items.front().EndsWith("[Card Present]");
            },
            Pump, std::chrono::seconds(10));
    }

    void Click(int id)
    {
        ASSERT_TRUE(m_frame->GetActionButton(id)->IsEnabled()) << "button " << id << " is off";
        wxCommandEvent event(wxEVT_BUTTON, id);
        event.SetEventObject(m_frame->GetActionButton(id));
        m_frame->GetEventHandler()->ProcessEvent(event);
    }

    SavedEnvironment m_savedEnvironment;
    ScopedTestRoot m_root;
    std::unique_ptr<NRVCMUCryptoki> m_cryptoki;
    std::unique_ptr<NRVCMUSettings> m_settings;
    NRVCMUFrm* m_frame = nullptr;
};

TEST_F(StandardModuleGuiTests, TreeListsTheSlotsWithTheTokenDetails)
{
    ASSERT_TRUE(TokenShown()) << m_frame->GetStatus();
    // SoftHSMv2 keeps a blank token in a second slot after the initialized one.
    const auto items = TreeItems();
    ASSERT_EQ(items.size(), 2u);
    for (const wxString& item : items) {
        EXPECT_TRUE(item.StartsWith("SoftHSM slot ID 0x") && item.EndsWith("[Card Present]")) << item;
    }
    EXPECT_EQ(Row("Token Label"), "Demo");
    EXPECT_EQ(Row("Token Manufacturer"), "SoftHSM project");
    EXPECT_FALSE(Row("Token Serial Number").empty());
    // Not made by this kit: the user is told so, and only initialization is offered.
    EXPECT_EQ(m_frame->GetStatus(), wxS("Token has been initialized using other application."));
    EXPECT_FALSE(m_frame->GetActionButton(NRVCMUFrm::ID_BTN_LOGIN)->IsEnabled());
}

TEST_F(StandardModuleGuiTests, VendorOnlyCommandShowsTheModulesAnswer)
{
    ASSERT_TRUE(TokenShown()) << m_frame->GetStatus();
    DialogScript script;
    script.Then(AcceptInit(false));
    Click(NRVCMUFrm::ID_BTN_INITIALIZE_TOKEN);
    const wxString expected
        = GetResultMessage(CKR_FUNCTION_NOT_SUPPORTED, wxS("Failed to re-initialize token."));
    EXPECT_TRUE(WaitFor([&] { return m_frame->GetStatus() == expected; }, Pump, std::chrono::seconds(10)))
        << m_frame->GetStatus();
}

} // namespace
