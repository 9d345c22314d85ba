#include "ksp/KeyNames.h"

namespace KeyNames {

namespace {

bool Printable(unsigned value)
{
    return value >= 0x20 && value <= 0x7E;
}

char16_t Lower(char16_t c)
{
    return c >= u'A' && c <= u'Z' ? static_cast<char16_t>(c - u'A' + u'a') : c;
}

int HexDigit(char16_t c)
{
    if (c >= u'0' && c <= u'9') {
        return c - u'0';
    }
    if (c >= u'A' && c <= u'F') {
        return c - u'A' + 10;
    }
    if (c >= u'a' && c <= u'f') {
        return c - u'a' + 10;
    }
    return -1;
}

template <typename Equal>
Lookup FindLevel(const std::vector<std::u16string_view>& names, std::u16string_view wanted, Equal equal)
{
    Lookup lookup;
    for (std::size_t i = 0; i < names.size(); ++i) {
        if (!names[i].empty() && equal(names[i], wanted)) {
            if (lookup.outcome == Lookup::Outcome::Found) {
                lookup.outcome = Lookup::Outcome::Ambiguous;
                return lookup;
            }
            lookup.outcome = Lookup::Outcome::Found;
            lookup.index = i;
        }
    }
    return lookup;
}

} // namespace

std::u16string FromId(const BYTE* id, std::size_t size)
{
    std::u16string name;
    name.reserve(size);
    for (std::size_t i = 0; i < size; ++i) {
        const BYTE b = id[i];
        name.push_back(Printable(b) ? static_cast<char16_t>(b) : static_cast<char16_t>(kOtherBytesBase + b));
    }
    return name;
}

std::optional<std::vector<BYTE>> ToId(std::u16string_view name)
{
    std::vector<BYTE> id;
    id.reserve(name.size());
    for (const char16_t c : name) {
        if (Printable(c)) {
            id.push_back(static_cast<BYTE>(c));
        } else if (c >= kOtherBytesBase && c <= kOtherBytesBase + 0xFF && !Printable(c - kOtherBytesBase)) {
            id.push_back(static_cast<BYTE>(c - kOtherBytesBase));
        } else {
            return std::nullopt;
        }
    }
    return id;
}

std::string Hex(const BYTE* id, std::size_t size)
{
    static const char digits[] = "0123456789ABCDEF";
    std::string text;
    for (std::size_t i = 0; i < size; ++i) {
        text.push_back(digits[id[i] >> 4]);
        text.push_back(digits[id[i] & 0xF]);
    }
    return text;
}

std::u16string FromHexText(std::u16string_view text)
{
    if (text.empty() || text.size() % 2 != 0) {
        return {};
    }
    std::vector<BYTE> bytes;
    for (std::size_t i = 0; i < text.size(); i += 2) {
        const int high = HexDigit(text[i]);
        const int low = HexDigit(text[i + 1]);
        if (high < 0 || low < 0) {
            return {};
        }
        bytes.push_back(static_cast<BYTE>(high * 16 + low));
    }
    return FromId(bytes.data(), bytes.size());
}

bool EqualIgnoringCase(std::u16string_view left, std::u16string_view right)
{
    if (left.size() != right.size()) {
        return false;
    }
    for (std::size_t i = 0; i < left.size(); ++i) {
        if (Lower(left[i]) != Lower(right[i])) {
            return false;
        }
    }
    return true;
}

Lookup Find(const std::vector<std::u16string_view>& names, std::u16string_view wanted)
{
    if (wanted.empty()) {
        return {};
    }
    Lookup exact = FindLevel(names, wanted, [](auto a, auto b) { return a == b; });
    if (exact.outcome != Lookup::Outcome::NotFound) {
        return exact;
    }
    Lookup folded = FindLevel(names, wanted, EqualIgnoringCase);
    if (folded.outcome != Lookup::Outcome::NotFound) {
        return folded;
    }
    const std::u16string decoded = FromHexText(wanted);
    if (decoded.empty()) {
        return {};
    }
    Lookup hex = FindLevel(names, decoded, [](auto a, auto b) { return a == b; });
    hex.byHex = true;
    return hex;
}

} // namespace KeyNames
