// Every dialog and the main window in each of the four languages, checked
// for texts the user cannot read.
#include "LayoutCheck.h"
#include "WindowCatalogue.h"
#include "WindowTestSupport.h"
#include "manager/core/ModalRunner.h"

#include <wx/app.h>
#include <wx/listctrl.h>

namespace {

using namespace layout_check;

class LayoutGuiTests : public SoftTokenFixture {
protected:
    void SetUp() override
    {
        SoftTokenFixture::SetUp();
        m_settings = std::make_unique<NRVCMUSettings>(wxString::FromUTF8(m_bin));
        m_settings->SetIsAskOnExit(false);
        // No propagation agent: these tests are about the window alone.
        m_settings->SetIsInstallCertificate(false);
        m_settings->SaveHash();
    }

    void TearDown() override
    {
        wxTranslations::Set(nullptr);
        SoftTokenFixture::TearDown();
    }

    void UseLanguage(const wxString& language)
    {
        const wxString folder = wxString::FromUTF8(m_bin) + "/Language";
        ASSERT_TRUE(layout_check::UseLanguage(language, folder))
            << "no catalog " << language << " in " << folder;
    }

    static void Pump()
    {
        wxTheApp->ProcessPendingEvents();
        wxTheApp->Yield(true);
    }

    std::vector<wxString> Faults(wxTopLevelWindow* window)
    {
        window->Show();
        WaitFor([] { return false; }, Pump, std::chrono::milliseconds(50));
        std::vector<wxString> faults;
        CheckLayout(window, faults);
        return faults;
    }

    std::unique_ptr<NRVCMUSettings> m_settings;
};

} // namespace

TEST_F(LayoutGuiTests, EveryDialogShowsEveryTextWholeInEveryLanguage)
{
    for (const char* language : kLanguages) {
        UseLanguage(language);
        for (const window_catalogue::Entry& entry : window_catalogue::AllDialogs()) {
            wxTopLevelWindow* window
                = entry.create(window_catalogue::Context { m_settings.get(), m_cryptoki.get() });
            for (const wxString& fault : Faults(window)) {
                ADD_FAILURE() << language << " " << entry.name << ": " << fault;
            }
            window->Destroy();
            wxTheApp->ProcessIdle();
        }
    }
}

TEST_F(LayoutGuiTests, MainWindowShowsEveryTextWholeInEveryLanguage)
{
    Tool("reader add 'VELA5 Virtual Reader 1'");
    Tool("reader add 'VELA5 Virtual Reader With A Long Name 2'");
    InsertToken("VELA5 Virtual Reader 1", "--model VELA5-64 --label Mine --user-pin 1234 --so-pin 87654321");
    for (const char* language : kLanguages) {
        UseLanguage(language);
        auto* frame = static_cast<NRVCMUFrm*>(window_catalogue::MainWindow().create(
            window_catalogue::Context { m_settings.get(), m_cryptoki.get() }));
        frame->Show();
        ASSERT_TRUE(
            WaitFor([&] { return frame->GetInfoList()->GetItemCount() == 15 && !frame->IsBusy(); }, Pump))
            << language;
        // Logged in, every button shows its longest label ("Re-initialize Token", "Logout").
        frame->GetSlotRecord(0).loggedIn = true;
        frame->UpdateActions(true, frame->GetSlotRecord(0));
        for (const wxString& fault : Faults(frame)) {
            ADD_FAILURE() << language << " main window: " << fault;
        }
        // Each tree item shows whole.
        wxTreeCtrl* tree = frame->GetSlotTree();
        wxTreeItemIdValue cookie;
        for (wxTreeItemId item = tree->GetFirstChild(tree->GetRootItem(), cookie); item.IsOk();
             item = tree->GetNextChild(tree->GetRootItem(), cookie)) {
            wxRect rect;
            ASSERT_TRUE(tree->GetBoundingRect(item, rect, true));
            EXPECT_LE(rect.GetRight(), tree->GetClientSize().x) << language << " " << tree->GetItemText(item);
        }
        // The slot flags, wider than the list, show whole in the row's tooltip.
        wxListCtrl* list = frame->GetInfoList();
        // The rows window of the generic list control: the child below the header.
        wxWindow* rows = list;
        for (wxWindow* child : list->GetChildren()) {
            if (child->GetPosition().y > 0) {
                rows = child;
            }
        }
        wxRect flagsRow;
        ASSERT_TRUE(list->GetItemRect(2, flagsRow));
        wxMouseEvent motion(wxEVT_MOTION);
        // The row's rectangle is the list's; the event comes in the rows window's own.
        const wxPoint rowsOrigin = rows == list ? wxPoint() : rows->GetPosition();
        motion.SetPosition(flagsRow.GetPosition() - rowsOrigin + wxPoint(4, flagsRow.height / 2));
        motion.SetEventObject(rows);
        rows->GetEventHandler()->ProcessEvent(motion);
        EXPECT_EQ(rows->GetToolTipText(), list->GetItemText(2, 1)) << language;
        EXPECT_TRUE(rows->GetToolTipText().Contains("CKF_REMOVABLE_DEVICE")) << language;
        frame->Destroy();
        wxTheApp->ProcessIdle();
    }
}

TEST_F(LayoutGuiTests, TheMainWindowGrowsAndItsListsGrowWithIt)
{
    auto* frame = static_cast<NRVCMUFrm*>(window_catalogue::MainWindow().create(
        window_catalogue::Context { m_settings.get(), m_cryptoki.get() }));
    frame->Show();
    Pump();
    EXPECT_TRUE(frame->HasFlag(wxRESIZE_BORDER));
    const wxSize tree = frame->GetSlotTree()->GetSize();
    const wxSize list = frame->GetInfoList()->GetSize();
    frame->SetSize(frame->GetSize() + wxSize(200, 150));
    frame->Layout();
    Pump();
    EXPECT_GT(frame->GetSlotTree()->GetSize().x, tree.x);
    EXPECT_GT(frame->GetSlotTree()->GetSize().y, tree.y);
    EXPECT_GT(frame->GetInfoList()->GetSize().x, list.x);
    EXPECT_GT(frame->GetInfoList()->GetSize().y, list.y);
    frame->Destroy();
    wxTheApp->ProcessIdle();
}
