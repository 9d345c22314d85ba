// UTF-8 and the contract's 16-bit text, both ways.
#pragma once

#include "platform/cng/Cng.h"

#include <string>
#include <string_view>

namespace vela5::platform::Cng {

std::u16string Widen(std::string_view utf8);
std::string Narrow(std::u16string_view text);
// Length of a NUL-terminated 16-bit text, looking at no more than limit units.
std::size_t WideLength(LPCWSTR text, std::size_t limit = SIZE_MAX);

} // namespace vela5::platform::Cng
