#include "NRVCMUApp.h"

#include "manager/core/CryptokiResultText.h"
#include "manager/core/LanguageCatalog.h"
#include "manager/core/ModalRunner.h"
#include "manager/core/NRVCMUCryptoki.h"
#include "manager/core/NRVCMULog.h"
#include "manager/core/NRVCMUSettings.h"
#include "manager/window/NRVCMUFrm.h"
#include "pkcs11/ModuleFileName.h"
#include "platform/desktop/Desktop.h"

#include <wx/filefn.h>
#include <wx/filename.h>
#include <wx/image.h>
#include <wx/snglinst.h>
#include <wx/stdpaths.h>
#include <wx/translation.h>
#include <wx/utils.h>

using namespace vela5::platform;

namespace {

const char* const kProductTitle = "Pavix Manager";

wxString LanguageFolder(const wxString& programFolder)
{
    return wxFileName(programFolder, wxEmptyString).GetPath(wxPATH_GET_VOLUME | wxPATH_GET_SEPARATOR)
        + "Language";
}

// Where the single-instance lock file lives: the temporary folder, whose
// sticky bit keeps one user's lock from another; the name carries the user.
wxString InstanceLockFolder()
{
    return wxFileName::GetTempDir();
}

} // namespace

NRVCMUApp::NRVCMUApp()
    : m_moduleFileName(wxString::FromUTF8(Vela5ModuleFileName()))
{
}

NRVCMUApp::~NRVCMUApp()
{
    CleanUp();
}

wxString NRVCMUApp::GetProgramFolder() const
{
    if (!m_programFolder.empty()) {
        return m_programFolder;
    }
    return wxFileName(wxStandardPaths::Get().GetExecutablePath()).GetPath();
}

NRVCMUFrm* NRVCMUApp::GetMainFrame() const
{
    return static_cast<NRVCMUFrm*>(m_mainFrame.get());
}

wxString NRVCMUApp::GetInstanceName()
{
    return wxS("NRVCMT-") + wxGetUserId();
}

int NRVCMUApp::GetExtraWidth(const wxString& language, const wxString& languageFolder)
{
    int width = 0;
    if (language == "Portuguese" || language == "Bulgarian") {
        width = 24;
    } else if (language == "Spanish") {
        width = 60;
    }
    if (width != 0 && !wxFileExists(wxFileName(languageFolder, language + ".mo").GetFullPath())) {
        width = 0;
    }
    return width;
}

bool NRVCMUApp::OnInit()
{
    wxInitAllImageHandlers();

    m_settings = std::make_unique<NRVCMUSettings>(GetProgramFolder());
    if (m_settings->IsTampered()) {
        // No language is chosen yet: this text is always English.
        ModalRunner::ShowMessage(
            _("Unable to load the application's settings because unauthorized changes in the "
              "config file were detected. Please restart application to revert its settings "
              "to default."),
            _(kProductTitle), wxOK | wxICON_INFORMATION);
        CleanUp();
        return false;
    }

    SetLanguage(m_settings->GetDefaultLanguage());

    m_instanceChecker = std::make_unique<wxSingleInstanceChecker>();
    if (m_instanceChecker->Create(GetInstanceName(), InstanceLockFolder())
        && m_instanceChecker->IsAnotherRunning()) {
        ActivateRunningInstance();
        CleanUp();
        return false;
    }

    m_cryptoki = std::make_unique<NRVCMUCryptoki>(m_moduleFileName);
    if (!m_cryptoki->CheckCryptokiLibrary()) {
        ModalRunner::ShowMessage(_("Unable to start application. Cryptoki library has not been loaded."),
            _(kProductTitle), wxOK | wxICON_ERROR);
        CleanUp();
        return false;
    }
    if (m_cryptoki->CheckFunctionList() != CKR_OK) {
        ModalRunner::ShowMessage(_("Failed to obtain entry points of Cryptoki library functions."),
            _(kProductTitle), wxOK | wxICON_ERROR);
        CleanUp();
        return false;
    }
    const CK_RV rv = m_cryptoki->Initialize();
    if (rv != CKR_OK) {
        ModalRunner::ShowMessage(
            GetResultMessage(rv, _("Failed to initialize Cryptoki.")), _(kProductTitle), wxOK | wxICON_ERROR);
        CleanUp();
        return false;
    }
    CreateMainFrame();
    return true;
}

void NRVCMUApp::ActivateRunningInstance()
{
    // Older products first; the message is only for them.
    static const char* const titles[] = {
        "NRV Certificate Management Utility",
        "NRV Certificate Management Essentials",
        "NRV Gerenciador de Certificados - Utilitários",
        "NRV Gerenciador de Certificados - Essenciais",
        kProductTitle,
    };
    for (const char* title : titles) {
        const Desktop::WindowHandle window = Desktop::FindTopLevelWindow(title);
        if (window == 0) {
            continue;
        }
        if (wxString(title) != kProductTitle) {
            ModalRunner::ShowMessage(_("Another program instance is already running."), _(kProductTitle),
                wxOK | wxICON_INFORMATION);
        }
        Desktop::RestoreAndRaise(window);
        return;
    }
}

void NRVCMUApp::CleanUp()
{
    m_cryptoki.reset();
    m_instanceChecker.reset();
    DeleteLocale();
    m_settings.reset();
}

void NRVCMUApp::DeleteLocale()
{
    if (m_locale != nullptr && wxTranslations::Get() == m_locale) {
        wxTranslations::Set(nullptr);
    }
    m_locale = nullptr;
}

int NRVCMUApp::OnExit()
{
    m_instanceChecker.reset();
    if (m_cryptoki) {
        m_cryptoki->Finalize();
    }
    m_cryptoki.reset();
    m_settings.reset();
    DeleteLocale();
    wxApp::OnExit();
    return 0;
}

void NRVCMUApp::SetLanguage(const wxString& language)
{
    DeleteLocale();
    if (language == "English") {
        return;
    }
    m_locale = LanguageCatalog::Create(language, LanguageFolder(GetProgramFolder()));
    wxTranslations::Set(m_locale);
}

void NRVCMUApp::CreateMainFrame()
{
    const int extraWidth
        = GetExtraWidth(m_settings->GetDefaultLanguage(), LanguageFolder(GetProgramFolder()));

    m_settings->ApplyLaunchAtStartup(m_settings->IsLaunchAtStartup());
    m_settings->ApplyPINCache(m_settings->IsPINCacheEnabled());
    m_settings->ApplyLogging(0);
    m_settings->ApplyLogging(1);
    m_settings->ApplyLogging(2);

    auto* frame = new NRVCMUFrm(
        m_settings.get(), m_cryptoki.get(), extraWidth, GetProgramFolder(), [this] { ReloadMainFrame(); });
    frame->Show(true);
    frame->Centre(wxBOTH);
    m_mainFrame = frame;
    SetTopWindow(frame);
}

void NRVCMUApp::ReloadMainFrame()
{
    NRVCMULog::Get().WriteLine("@NRVCMUApp::ReloadMainFrame() - ENTER");
    if (wxWindow* top = GetTopWindow()) {
        top->Hide();
        NRVCMULog::Get().WriteLine("destroying");
        m_mainFrame = nullptr;
        top->Destroy();
    }
    SetLanguage(m_settings->GetDefaultLanguage());
    NRVCMULog::Get().WriteLine("recreating");
    CreateMainFrame();
    NRVCMULog::Get().WriteLine("@NRVCMUApp::ReloadMainFrame() - EXIT");
}
