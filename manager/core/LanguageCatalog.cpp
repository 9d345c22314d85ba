#include "LanguageCatalog.h"

#include <wx/filefn.h>
#include <wx/filename.h>
#include <wx/translation.h>

namespace {

// The manager's catalog comes from the Language folder whatever the system's
// language is; every other domain (the toolkit's) from the system's folders,
// under the language's code.
class LanguageFolderLoader final : public wxTranslationsLoader {
public:
    LanguageFolderLoader(const wxString& language, const wxString& folder)
        : m_language(language)
        , m_folder(folder)
    {
    }

    wxMsgCatalog* LoadCatalog(const wxString& domain, const wxString&) override
    {
        if (domain != m_language) {
            const wxString code = LanguageCatalog::GetLanguageCode(m_language);
            return code.empty() ? nullptr : m_system.LoadCatalog(domain, code);
        }
        const wxString file = wxFileName(m_folder, domain + ".mo").GetFullPath();
        return wxFileExists(file) ? wxMsgCatalog::CreateFromFile(file, domain) : nullptr;
    }

    wxArrayString GetAvailableTranslations(const wxString& domain) const override
    {
        wxArrayString languages;
        if (domain == m_language && wxFileExists(wxFileName(m_folder, domain + ".mo").GetFullPath())) {
            languages.push_back(domain);
        }
        return languages;
    }

private:
    wxString m_language;
    wxString m_folder;
    wxFileTranslationsLoader m_system;
};

} // namespace

wxString LanguageCatalog::GetLanguageCode(const wxString& language)
{
    if (language == "Bulgarian") {
        return "bg";
    }
    if (language == "Portuguese") {
        // The menu offers "Portuguese (BR)".
        return "pt_BR";
    }
    if (language == "Spanish") {
        return "es";
    }
    return wxString();
}

wxTranslations* LanguageCatalog::Create(const wxString& language, const wxString& languageFolder)
{
    auto* translations = new wxTranslations();
    translations->SetLoader(new LanguageFolderLoader(language, languageFolder));
    // No system language is chosen: only the catalogs decide the texts.
    translations->SetLanguage(language);
    translations->AddCatalog(language);
    // Optional: Debian's wx3.2-i18n ships it for Spanish, not for Bulgarian or Portuguese.
    translations->AddStdCatalog();
    return translations;
}
