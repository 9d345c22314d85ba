// The token manager's application object: the start-up sequence (settings,
// language, one copy per user, the token module, the main window), the
// matching shutdown, and rebuilding the main window in a new language.
#pragma once

#include <memory>
#include <wx/app.h>
#include <wx/frame.h>
#include <wx/string.h>
#include <wx/weakref.h>

class NRVCMUCryptoki;
class NRVCMUFrm;
class NRVCMUSettings;
class wxSingleInstanceChecker;
class wxTranslations;

class NRVCMUApp : public wxApp {
public:
    NRVCMUApp();
    ~NRVCMUApp() override;

    // True with the main window up, false when the program must end (after
    // at most one message box, with everything created so far released).
    bool OnInit() override;
    int OnExit() override;

    // Installs the catalog Language/<language>.mo beside the program; English
    // (or a missing catalog) leaves the English texts.
    void SetLanguage(const wxString& language);
    void CreateMainFrame();
    // Takes the main window down and builds it again in the language of the
    // settings; the module stays initialized.
    void ReloadMainFrame();

    // 24 for Portuguese or Bulgarian, 60 for Spanish, when that language's
    // catalog is in languageFolder; 0 otherwise.
    static int GetExtraWidth(const wxString& language, const wxString& languageFolder);
    // "NRVCMT-" and the login name: one running copy per user.
    static wxString GetInstanceName();

    // Where the program, its module, launcher and catalogs live: the folder
    // of the running program unless set (tests start the manager in-process).
    wxString GetProgramFolder() const;
    void SetProgramFolder(const wxString& folder) { m_programFolder = folder; }
    void SetModuleFileName(const wxString& fileName) { m_moduleFileName = fileName; }

    // Null once the window is gone.
    NRVCMUFrm* GetMainFrame() const;
    NRVCMUSettings* GetSettings() const { return m_settings.get(); }
    NRVCMUCryptoki* GetCryptoki() const { return m_cryptoki.get(); }
    wxTranslations* GetLocale() const { return m_locale; }
    wxSingleInstanceChecker* GetInstanceChecker() const { return m_instanceChecker.get(); }

private:
    // Another copy runs: brings its window forward. Always ends start-up.
    void ActivateRunningInstance();
    // Frees what start-up created, each only if it exists.
    void CleanUp();
    void DeleteLocale();

    wxString m_programFolder;
    wxString m_moduleFileName;
    // The window deletes itself on close; this is only a reference, which
    // clears itself when the window goes.
    wxWeakRef<wxFrame> m_mainFrame;
    // The active catalogs, installed as wx's translations, which own the
    // object; removing them (Set(nullptr)) deletes it. Null while English.
    wxTranslations* m_locale = nullptr;
    std::unique_ptr<wxSingleInstanceChecker> m_instanceChecker;
    std::unique_ptr<NRVCMUSettings> m_settings;
    std::unique_ptr<NRVCMUCryptoki> m_cryptoki;
};
