#include "PinScrambler.h"

#include "platform/random/Random.h"

#include <openssl/crypto.h>
#include <string>

using namespace vela5::platform;

namespace {
// wxString holds UTF-32 here; the scramble is defined on UTF-16 units.
std::u16string ToUtf16(const wxString& text)
{
    std::u16string units;
    units.reserve(text.length());
    for (const wxUniChar ch : text) {
        const auto code = static_cast<char32_t>(ch.GetValue());
        if (code > 0xFFFF) {
            const char32_t offset = code - 0x10000;
            units.push_back(static_cast<char16_t>(0xD800 + (offset >> 10)));
            units.push_back(static_cast<char16_t>(0xDC00 + (offset & 0x3FF)));
        } else {
            units.push_back(static_cast<char16_t>(code));
        }
    }
    return units;
}

wxString FromUtf16(const std::u16string& units)
{
    wxString text;
    text.reserve(units.size());
    for (std::size_t i = 0; i < units.size(); ++i) {
        const char16_t unit = units[i];
        const bool high = unit >= 0xD800 && unit <= 0xDBFF;
        if (high && i + 1 < units.size() && units[i + 1] >= 0xDC00 && units[i + 1] <= 0xDFFF) {
            const char32_t code = 0x10000 + ((static_cast<char32_t>(unit) - 0xD800) << 10)
                + (static_cast<char32_t>(units[i + 1]) - 0xDC00);
            text.Append(wxUniChar(static_cast<wxUint32>(code)));
            ++i;
        } else {
            text.Append(wxUniChar(static_cast<wxUint32>(unit)));
        }
    }
    return text;
}

struct ScrambleKey {
    char16_t units[PinScrambler::kKeyLength] {};

    ScrambleKey()
    {
        unsigned char bytes[PinScrambler::kKeyLength] {};
        if (!Random::Fill(bytes, sizeof bytes)) {
            // Without the generator the key is still private to the process:
            // the address of this object varies from run to run.
            const auto seed = reinterpret_cast<std::uintptr_t>(this);
            for (std::size_t i = 0; i < sizeof bytes; ++i) {
                bytes[i] = static_cast<unsigned char>(seed >> (8 * i + 4));
            }
        }
        // Bit 8 is always set and bits 10-15 never are: a scrambled unit is
        // never 0 for a Latin-1 PIN, and surrogates stay surrogates of the
        // same half, so the result is still valid text.
        for (std::size_t i = 0; i < PinScrambler::kKeyLength; ++i) {
            units[i] = static_cast<char16_t>(0x100 | bytes[i]);
        }
        OPENSSL_cleanse(bytes, sizeof bytes);
    }
};
} // namespace

const char16_t (&PinScrambler::Key())[kKeyLength]
{
    static const ScrambleKey key;
    return key.units;
}

wxString PinScrambler::Scramble(const wxString& text)
{
    return Apply(text, Key());
}

wxString PinScrambler::Apply(const wxString& text, const char16_t (&key)[kKeyLength])
{
    std::u16string units = ToUtf16(text);
    for (std::size_t i = 0; i < units.size(); ++i) {
        units[i] = static_cast<char16_t>(units[i] ^ key[i % kKeyLength]);
    }
    wxString result = FromUtf16(units);
    OPENSSL_cleanse(units.data(), units.size() * sizeof(char16_t));
    return result;
}
