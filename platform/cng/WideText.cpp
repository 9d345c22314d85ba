#include "platform/cng/WideText.h"

#include "platform/registry/Registry.h"

namespace vela5::platform::Cng {

std::u16string Widen(std::string_view utf8)
{
    const std::vector<uint8_t> bytes = Registry::ToUtf16Le(utf8);
    std::u16string text;
    text.reserve(bytes.size() / 2);
    for (std::size_t i = 0; i + 1 < bytes.size(); i += 2) {
        text.push_back(static_cast<char16_t>(bytes[i] | (bytes[i + 1] << 8)));
    }
    return text;
}

std::string Narrow(std::u16string_view text)
{
    std::vector<uint8_t> bytes;
    bytes.reserve(text.size() * 2);
    for (const char16_t unit : text) {
        bytes.push_back(static_cast<uint8_t>(unit & 0xFF));
        bytes.push_back(static_cast<uint8_t>(unit >> 8));
    }
    return Registry::FromUtf16Le(bytes.data(), bytes.size());
}

std::size_t WideLength(LPCWSTR text, std::size_t limit)
{
    std::size_t length = 0;
    while (length < limit && text[length] != 0) {
        ++length;
    }
    return length;
}

} // namespace vela5::platform::Cng
