// Rates a PIN with a score from 0 to 100 by a fixed table of bonuses and
// penalties, and names the strength the settings dialog shows.
#pragma once

#include <string>
#include <wx/string.h>

class PasswordChecker {
public:
    PasswordChecker(const wxString& text, int minimumLength);
    virtual ~PasswordChecker();

    int GetScore() const;

private:
    std::wstring m_text;
    int m_minimumLength;
};

// The word for a score: "VERY WEAK", "WEAK", "GOOD", "STRONG", "VERY STRONG".
wxString GetStrengthWord(int score);

// The word for a text rated against a minimum length of 8.
wxString GetStrengthText(const wxString& text);
