#include "PasswordChecker.h"

#include <algorithm>
#include <cwctype>
#include <wx/intl.h>

namespace {

const std::wstring kSymbols = L"`~!@#$%^&*()+=\\|?.,';:\"/{}[]><";

bool IsSymbol(wchar_t c)
{
    return kSymbols.find(c) != std::wstring::npos;
}

bool IsDigit(wchar_t c)
{
    return std::iswdigit(static_cast<wint_t>(c)) != 0;
}

bool IsLetter(wchar_t c)
{
    return std::iswalpha(static_cast<wint_t>(c)) != 0;
}

// Occurrences of each three-character window of sequence at offsets
// 0..lastOffset, each search resuming three characters after its last match.
int CountWindows(const std::wstring& text, const std::wstring& sequence, size_t lastOffset)
{
    int count = 0;
    for (size_t offset = 0; offset <= lastOffset; ++offset) {
        const std::wstring window = sequence.substr(offset, 3);
        for (size_t at = text.find(window); at != std::wstring::npos; at = text.find(window, at + 3)) {
            ++count;
        }
    }
    return count;
}

// A comparison of a position at or beyond the end never matches.
bool SameRange(const std::wstring& text, size_t first, size_t second, size_t length)
{
    if (second + length > text.size()) {
        return false;
    }
    return text.compare(first, length, text, second, length) == 0;
}

} // namespace

PasswordChecker::PasswordChecker(const wxString& text, int minimumLength)
    : m_text(text.ToStdWstring())
    , m_minimumLength(std::max(minimumLength, 0))
{
}

PasswordChecker::~PasswordChecker() = default;

int PasswordChecker::GetScore() const
{
    const std::wstring& text = m_text;
    const int length = static_cast<int>(text.size());
    if (length == 0) {
        return 0;
    }

    int symbols = 0;
    int upper = 0;
    int lower = 0;
    int digits = 0;
    int letters = 0;
    for (const wchar_t c : text) {
        symbols += IsSymbol(c) ? 1 : 0;
        upper += (c >= L'A' && c <= L'Z') ? 1 : 0;
        lower += (c >= L'a' && c <= L'z') ? 1 : 0;
        digits += IsDigit(c) ? 1 : 0;
        letters += IsLetter(c) ? 1 : 0;
    }
    int middle = 0;
    if (length >= 3) {
        for (int i = 1; i < length - 1; ++i) {
            middle += (IsDigit(text[i]) || IsSymbol(text[i])) ? 1 : 0;
        }
    }

    std::wstring folded = text;
    std::transform(folded.begin(), folded.end(), folded.begin(),
        [](wchar_t c) { return static_cast<wchar_t>(std::towlower(static_cast<wint_t>(c))); });

    int repeatedLetters = 0;
    int repeatedChars = 0;
    int runs = 0;
    for (int i = 0; i + 1 < length; ++i) {
        const wint_t here = static_cast<wint_t>(text[i]);
        const wint_t next = static_cast<wint_t>(text[i + 1]);
        repeatedLetters += (IsLetter(folded[i]) && folded[i] == folded[i + 1]) ? 1 : 0;
        repeatedChars += (text[i] == text[i + 1]) ? 1 : 0;
        runs += (IsDigit(text[i]) && IsDigit(text[i + 1])) ? 1 : 0;
        runs += (std::iswupper(here) && std::iswupper(next)) ? 1 : 0;
        runs += (std::iswlower(here) && std::iswlower(next)) ? 1 : 0;
    }

    // "xyz", "cba" and "210" are deliberately not windows: offsets stop short.
    const int seqLetters = CountWindows(folded, L"abcdefghijklmnopqrstuvwxyz", 22)
        + CountWindows(folded, L"zyxwvutsrqponmlkjihgfedcba", 22);
    const int seqDigits = CountWindows(text, L"01234567890", 7) + CountWindows(text, L"09876543210", 7);

    int patterns = 0;
    for (int i = 0; i < length; i += 2) {
        patterns += SameRange(text, i, i + 2, 2) ? 1 : 0;
        patterns += SameRange(text, i, i + 3, 3) ? 1 : 0;
    }

    int score = 4 * length;
    int requirements = 0;
    if (lower > 0) {
        score += 2 * (length - lower);
        ++requirements;
    }
    if (upper > 0) {
        score += 2 * (length - upper);
        ++requirements;
    }
    if (digits < length) {
        score += 4 * digits;
    }
    score += 6 * symbols + 2 * middle;
    if (middle > 0) {
        ++requirements;
    }
    const bool longEnough = length >= m_minimumLength;
    if (longEnough) {
        ++requirements;
    }
    if ((longEnough && requirements > 3) || (!longEnough && requirements > 4)) {
        score += 2 * requirements;
    }
    if (letters == length) {
        score -= length;
    }
    if (digits == length) {
        score -= length;
    }
    score -= repeatedLetters * (repeatedLetters - 1) + 2 * runs;
    score -= 3 * seqLetters;
    score -= repeatedChars * (repeatedChars - 1) + 3 * patterns * patterns + 3 * seqDigits;
    return std::clamp(score, 0, 100);
}

wxString GetStrengthWord(int score)
{
    if (score < 20) {
        return _("VERY WEAK");
    }
    if (score < 40) {
        return _("WEAK");
    }
    if (score < 60) {
        return _("GOOD");
    }
    if (score < 80) {
        return _("STRONG");
    }
    return _("VERY STRONG");
}

wxString GetStrengthText(const wxString& text)
{
    const PasswordChecker checker(text, 8);
    return GetStrengthWord(checker.GetScore());
}
