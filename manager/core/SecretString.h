// A PIN or password the user typed: its characters are overwritten when it
// goes, on every path out of the code that held it, early returns included.
#pragma once

#include <utility>
#include <wx/string.h>

class SecretString final {
public:
    SecretString() = default;
    SecretString(wxString text)
        : m_text(std::move(text))
    {
    }
    ~SecretString() { Wipe(m_text); }
    SecretString(SecretString&& other) noexcept
        : m_text(std::move(other.m_text))
    {
        Wipe(other.m_text);
    }
    SecretString(const SecretString&) = delete;
    SecretString& operator=(const SecretString&) = delete;
    SecretString& operator=(wxString text)
    {
        Wipe(m_text);
        m_text = std::move(text);
        return *this;
    }

    // For the calls that take or fill a wxString; the text stays owned here.
    wxString& Text() { return m_text; }
    const wxString& Text() const { return m_text; }
    operator const wxString&() const { return m_text; }
    bool empty() const { return m_text.empty(); }

    // The one way the manager overwrites a secret text it holds elsewhere.
    static void Wipe(wxString& text);

private:
    wxString m_text;
};
