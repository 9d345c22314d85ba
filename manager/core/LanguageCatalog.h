// The translations of one language: the manager's catalog, a file named
// after the language ("Spanish.mo") in the program's "Language" folder, and
// wxWidgets' own catalog for the language from the system when it is
// installed, so the toolkit's texts follow the chosen language too.
#pragma once

#include <wx/string.h>

class wxTranslations;

namespace LanguageCatalog {

// The system's language code of a language name ("Bulgarian" gives "bg");
// empty for English and unknown names.
wxString GetLanguageCode(const wxString& language);

// New translations for language (not English), not yet made the active ones.
wxTranslations* Create(const wxString& language, const wxString& languageFolder);

} // namespace LanguageCatalog
