#include "CachedPin.h"

#include "PinScrambler.h"

#include <openssl/crypto.h>
#include <string>

void CachedPin::Keep(const wxString& pin)
{
    wxString scrambled = PinScrambler::Scramble(pin);
    std::wstring units = scrambled.ToStdWstring();
    m_scrambled.Assign(units);
    OPENSSL_cleanse(units.data(), units.size() * sizeof(wchar_t));
    PinScrambler::Wipe(scrambled);
}

wxString CachedPin::Reveal() const
{
    std::wstring units = m_scrambled.Reveal();
    wxString scrambled(units.data(), units.size());
    OPENSSL_cleanse(units.data(), units.size() * sizeof(wchar_t));
    wxString pin = PinScrambler::Unscramble(scrambled);
    PinScrambler::Wipe(scrambled);
    return pin;
}
