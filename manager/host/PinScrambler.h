// Keeps the cached User PIN of a logged-in token unreadable in memory dumps of
// the slot table: every UTF-16 unit is XORed with a private 5-character key
// drawn once per process. The same operation unscrambles.
#pragma once

#include <wx/string.h>

class PinScrambler final {
public:
    static constexpr std::size_t kKeyLength = 5;

    // Scramble and Unscramble are the same XOR; both names exist so callers
    // say what they mean.
    static wxString Scramble(const wxString& text);
    static wxString Unscramble(const wxString& text) { return Scramble(text); }

    // XOR with an explicit key (tests): unit i is XORed with key[i % 5].
    static wxString Apply(const wxString& text, const char16_t (&key)[kKeyLength]);

private:
    static const char16_t (&Key())[kKeyLength];
};
