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
    SecretString::Wipe(scrambled);
}

SecretString CachedPin::Reveal() const
{
    std::wstring units = m_scrambled.Reveal();
    wxString scrambled(units.data(), units.size());
    OPENSSL_cleanse(units.data(), units.size() * sizeof(wchar_t));
    SecretString pin(PinScrambler::Unscramble(scrambled));
    SecretString::Wipe(scrambled);
    return pin;
}
