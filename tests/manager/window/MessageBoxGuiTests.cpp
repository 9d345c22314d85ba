// The manager's message box on screen: the icon its style asks for, Yes/No/
// OK/Cancel in the chosen language, the answer as wxMessageBox gives it, and
// a slot change closing an open box like the other known dialogs.
#include "WindowTestSupport.h"
#include "manager/core/LanguageCatalog.h"
#include "manager/core/ModalRunner.h"
#include "manager/core/NRVCMUSettings.h"
#include "manager/window/NRVCMUFrm.h"

#include <fstream>
#include <sstream>
#include <wx/app.h>
#include <wx/button.h>
#include <wx/dialog.h>
#include <wx/menu.h>
#include <wx/statbmp.h>
#include <wx/timer.h>
#include <wx/translation.h>

namespace {

struct BoxCase {
    const char* language;
    long style;
    std::vector<std::pair<int, const char*>> buttons; // id and label
    int press;
    int answer;
};

wxDialog* FindMessageBox()
{
    for (wxWindow* window : wxTopLevelWindows) {
        auto* dialog = dynamic_cast<wxDialog*>(window);
        if (dialog != nullptr && dialog->GetName() == "NRVCMU_DLG_MESSAGE_BOX" && dialog->IsModal()) {
            return dialog;
        }
    }
    return nullptr;
}

bool HasIcon(const wxWindow* window)
{
    for (const wxWindow* child : window->GetChildren()) {
        const auto* bitmap = dynamic_cast<const wxStaticBitmap*>(child);
        if ((bitmap != nullptr && bitmap->GetBitmap().IsOk() && bitmap->GetBitmap().GetWidth() >= 16)
            || HasIcon(child)) {
            return true;
        }
    }
    return false;
}

// Runs onScreen once the box is modal on screen; gives up after five seconds.
void WhenBoxIsShown(wxTimer& timer, std::function<void(wxDialog&)> onScreen)
{
    auto started = std::make_shared<int>(0);
    timer.Bind(wxEVT_TIMER, [&timer, onScreen, started](wxTimerEvent&) {
        wxDialog* box = FindMessageBox();
        if (box != nullptr && box->IsShownOnScreen()) {
            timer.Stop();
            onScreen(*box);
        } else if (++*started > 250 && box != nullptr) {
            box->EndModal(wxID_ABORT);
        }
    });
    timer.Start(20);
}

class MessageBoxGuiTests : public SoftTokenFixture {
protected:
    void TearDown() override
    {
        wxTranslations::Set(nullptr);
        ModalRunner::ClearHooks();
        SoftTokenFixture::TearDown();
    }

    void UseLanguage(const wxString& language)
    {
        wxTranslations::Set(language == "English"
                ? nullptr
                : LanguageCatalog::Create(language, wxString::FromUTF8(m_bin) + "/Language"));
    }
};

} // namespace

TEST_F(MessageBoxGuiTests, ShowsTheIconAndTheButtonsInTheChosenLanguage)
{
    const BoxCase cases[] = {
        { "English", wxYES_NO | wxICON_QUESTION, { { wxID_YES, "Yes" }, { wxID_NO, "No" } }, wxID_NO, wxNO },
        { "Bulgarian", wxYES_NO | wxICON_EXCLAMATION, { { wxID_YES, "Да" }, { wxID_NO, "Не" } }, wxID_YES,
            wxYES },
        { "Portuguese", wxOK | wxICON_INFORMATION, { { wxID_OK, "OK" } }, wxID_OK, wxOK },
        { "Spanish", wxOK | wxCANCEL | wxICON_ERROR, { { wxID_OK, "Aceptar" }, { wxID_CANCEL, "Cancelar" } },
            wxID_CANCEL, wxCANCEL },
    };
    for (const BoxCase& c : cases) {
        UseLanguage(c.language);
        bool checked = false;
        wxTimer timer;
        WhenBoxIsShown(timer, [&](wxDialog& box) {
            checked = true;
            EXPECT_EQ(box.GetTitle(), "Pavix Manager") << c.language;
            EXPECT_TRUE(HasIcon(&box)) << c.language << " style " << c.style;
            for (const auto& [id, label] : c.buttons) {
                auto* button = dynamic_cast<wxButton*>(box.FindWindow(id));
                ASSERT_NE(button, nullptr) << c.language << " button " << id;
                EXPECT_EQ(button->GetLabelText(), wxString::FromUTF8(label)) << c.language;
            }
            box.EndModal(c.press);
        });
        const int answer = ModalRunner::ShowMessage("Message", "Pavix Manager", c.style, nullptr);
        EXPECT_TRUE(checked) << c.language << ": the box never showed";
        EXPECT_EQ(answer, c.answer) << c.language;
    }
}

TEST_F(MessageBoxGuiTests, TheToolkitsOwnCatalogComesWithTheLanguageWhenInstalled)
{
    // Debian's wx3.2-i18n ships the toolkit's Spanish catalog in the system's folders.
    if (wxFileTranslationsLoader().GetAvailableTranslations("wxstd-3.2").Index("es") == wxNOT_FOUND) {
        GTEST_SKIP() << "the toolkit's Spanish catalog is not installed";
    }
    UseLanguage("Spanish");
    EXPECT_TRUE(wxTranslations::Get()->IsLoaded("Spanish"));
    EXPECT_TRUE(wxTranslations::Get()->IsLoaded("wxstd-3.2"));
    EXPECT_EQ(wxGetTranslation("&Help"), wxString::FromUTF8("Ay&uda"));
}

TEST_F(MessageBoxGuiTests, ASlotChangeClosesTheOpenLanguageQuestion)
{
    NRVCMUSettings settings(wxString::FromUTF8(m_bin));
    settings.SetIsAskOnExit(false);
    // No propagation agent: only the window is pictured.
    settings.SetIsInstallCertificate(false);
    settings.SaveHash();
    Tool("reader add 'Reader A'");
    auto* frame = new NRVCMUFrm(&settings, m_cryptoki.get(), 0);
    frame->Show();
    const auto pump = [] {
        wxTheApp->ProcessPendingEvents();
        wxTheApp->Yield(true);
    };
    ASSERT_TRUE(WaitFor(
        [&] { return frame->GetStatus() == "There is no token present in the slot." && !frame->IsBusy(); },
        pump));
    std::remove(NRVCMULog::Get().GetFilePath().ToStdString().c_str());

    bool removed = false;
    wxTimer timer;
    WhenBoxIsShown(timer, [&](wxDialog&) {
        removed = true;
        Tool("reader remove 'Reader A'");
    });
    wxMenuBar* bar = frame->GetMenuBar();
    bar->Check(NRVCMUFrm::ID_MENU_LANGUAGE_SPANISH, true);
    wxCommandEvent pick(wxEVT_MENU, NRVCMUFrm::ID_MENU_LANGUAGE_SPANISH);
    frame->ProcessWindowEvent(pick);

    EXPECT_TRUE(removed);
    EXPECT_EQ(FindMessageBox(), nullptr);
    EXPECT_TRUE(bar->IsChecked(NRVCMUFrm::ID_MENU_LANGUAGE_ENGLISH)) << "a closed question is no Yes";
    EXPECT_TRUE(WaitFor([&] { return frame->GetSlotTree()->GetCount() == 0 && !frame->IsBusy(); }, pump));
    std::ifstream log(NRVCMULog::Get().GetFilePath().ToStdString());
    std::stringstream text;
    text << log.rdbuf();
    EXPECT_NE(text.str().find("Close and Destroy2 \tNRVCMU_DLG_MESSAGE_BOX\n"), std::string::npos)
        << text.str();
    EXPECT_NE(text.str().find("NRVCMU_DLG_MESSAGE_BOX\t Destroyed!\n"), std::string::npos);
    frame->Destroy();
    wxTheApp->ProcessIdle();
}
