// Key names and CKA_ID bytes. Token IDs are mostly random bytes, so a name
// is not a locale conversion of them: each byte maps to one character in a
// way that always succeeds and maps back. Printable ASCII bytes (0x20-0x7E)
// stay themselves, so an ID of 41 42 43 is named "ABC"; every other byte b
// becomes the private-use character U+F700 + b, which no printable byte can
// produce and which is never a terminator.
#pragma once

#include "platform/cng/Cng.h"

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace KeyNames {

constexpr char16_t kOtherBytesBase = 0xF700;

std::u16string FromId(const BYTE* id, std::size_t size);
// The ID a name stands for; nullopt for a character no byte maps to.
std::optional<std::vector<BYTE>> ToId(std::u16string_view name);
// The hexadecimal form of a name ("414243"), upper case.
std::string Hex(const BYTE* id, std::size_t size);
// A name written as hexadecimal ID bytes, mapped to the name those bytes
// have; empty when the length is odd or a pair is not two hex digits.
std::u16string FromHexText(std::u16string_view text);

// Equal ignoring the case of ASCII letters only.
bool EqualIgnoringCase(std::u16string_view left, std::u16string_view right);

// Which of names the wanted name opens: a case-sensitive equal name first,
// then one equal ignoring case, then one equal to the hexadecimal reading
// of wanted. A name is never matched by a prefix. Ambiguous when several
// names match at the first level that matches any.
struct Lookup {
    enum class Outcome { Found, NotFound, Ambiguous } outcome = Outcome::NotFound;
    std::size_t index = 0;
    bool byHex = false;
};
Lookup Find(const std::vector<std::u16string_view>& names, std::u16string_view wanted);

} // namespace KeyNames
