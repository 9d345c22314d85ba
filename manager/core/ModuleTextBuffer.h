// A fixed, zero-filled single-byte buffer that carries one text to the module,
// with the text's length in characters beside it. Text that would not fit
// (with its terminating zero) or does not convert is refused, so nothing is
// ever written past the buffer; the bytes are wiped when the buffer goes.
#pragma once

#include "pkcs11/pkcs11.h"

#include <array>
#include <cstddef>
#include <wx/string.h>

enum class ModuleTextKind {
    Pin, // 32 bytes: at most 31 converted bytes
    Label, // 128 bytes: at most 127
    Path, // 1000 bytes: at most 999
    Password // 100 bytes: at most 99
};

// Result codes for refused text, chosen so that the existing message tables
// give the user a fitting sentence:
//   PIN too long                          CKR_PIN_LEN_RANGE  (0xA2)
//   PIN not convertible                   CKR_PIN_INVALID    (0xA1)
//   label, path or password too long      CKR_DATA_LEN_RANGE (0x21)
//   label, path or password not convertible  CKR_ARGUMENTS_BAD (0x07)
class ModuleTextBuffer final {
public:
    static constexpr std::size_t MaxCapacity = NRV_PATH_BUFFER_SIZE;

    explicit ModuleTextBuffer(ModuleTextKind kind);
    ~ModuleTextBuffer();
    ModuleTextBuffer(const ModuleTextBuffer&) = delete;
    ModuleTextBuffer& operator=(const ModuleTextBuffer&) = delete;

    // Zeroes the buffer and converts text into it with the C runtime's
    // wide-to-multibyte conversion. Returns CKR_OK, or the refusal code above
    // with the buffer left zeroed and the length 0.
    CK_RV Assign(const wxString& text);
    // Zeroes the bytes and the length.
    void Clear();

    CK_BYTE_PTR Data() { return m_bytes.data(); }
    const CK_BYTE* Data() const { return m_bytes.data(); }
    // The text's length in characters, as the module expects it.
    CK_ULONG Length() const { return m_length; }
    // The number of converted bytes (without the terminating zero).
    std::size_t ByteLength() const { return m_byteLength; }
    std::size_t Capacity() const { return m_capacity; }
    ModuleTextKind Kind() const { return m_kind; }

    static std::size_t CapacityOf(ModuleTextKind kind);
    static CK_RV TooLongCode(ModuleTextKind kind);
    static CK_RV NotConvertibleCode(ModuleTextKind kind);

private:
    ModuleTextKind m_kind;
    std::size_t m_capacity;
    std::array<CK_BYTE, MaxCapacity> m_bytes {};
    CK_ULONG m_length = 0;
    std::size_t m_byteLength = 0;
};
