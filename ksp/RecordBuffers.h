// The provider's records keep plain C buffers, since callers see them across
// the C boundary; these are the one way they are copied, wiped and released.
#pragma once

#include "platform/cng/Cng.h"

#include <string_view>

// A terminated copy, or null when memory runs out.
LPWSTR CopyWide(std::u16string_view text);
// Wipes through the terminator, releases, and leaves the pointer null.
void WipeAndRelease(LPWSTR& text);
// Wipes size bytes, releases, and leaves the pointer null and the size 0.
void WipeAndRelease(PBYTE& buffer, DWORD& size);
// For texts that hold nothing secret.
void Release(LPWSTR& text);
