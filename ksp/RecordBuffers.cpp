#include "ksp/RecordBuffers.h"

#include "platform/cng/WideText.h"
#include "platform/secure_memory/SecureMemory.h"

#include <algorithm>
#include <new>

using namespace vela5::platform;

LPWSTR CopyWide(std::u16string_view text)
{
    auto* copy = new (std::nothrow) char16_t[text.size() + 1];
    if (copy != nullptr) {
        std::copy(text.begin(), text.end(), copy);
        copy[text.size()] = 0;
    }
    return copy;
}

void WipeAndRelease(LPWSTR& text)
{
    if (text != nullptr) {
        SecureMemory::Wipe(text, Cng::WideLength(text) * sizeof(char16_t));
        delete[] text;
        text = nullptr;
    }
}

void WipeAndRelease(PBYTE& buffer, DWORD& size)
{
    if (buffer != nullptr) {
        SecureMemory::Wipe(buffer, size);
        delete[] buffer;
        buffer = nullptr;
    }
    size = 0;
}

void Release(LPWSTR& text)
{
    delete[] text;
    text = nullptr;
}
