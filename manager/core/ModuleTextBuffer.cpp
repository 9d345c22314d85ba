// Fixed single-byte text buffers for the module.
#include "ModuleTextBuffer.h"

#include <climits>
#include <cstring>
#include <cwchar>
#include <openssl/crypto.h>

std::size_t ModuleTextBuffer::CapacityOf(ModuleTextKind kind)
{
    switch (kind) {
    case ModuleTextKind::Pin:
        return NRV_PIN_BUFFER_SIZE;
    case ModuleTextKind::Label:
        return NRV_LABEL_BUFFER_SIZE;
    case ModuleTextKind::Path:
        return NRV_PATH_BUFFER_SIZE;
    case ModuleTextKind::Password:
        return NRV_PASSWORD_BUFFER_SIZE;
    }
    return NRV_PIN_BUFFER_SIZE;
}

CK_RV ModuleTextBuffer::TooLongCode(ModuleTextKind kind)
{
    return kind == ModuleTextKind::Pin ? CKR_PIN_LEN_RANGE : CKR_DATA_LEN_RANGE;
}

CK_RV ModuleTextBuffer::NotConvertibleCode(ModuleTextKind kind)
{
    return kind == ModuleTextKind::Pin ? CKR_PIN_INVALID : CKR_ARGUMENTS_BAD;
}

ModuleTextBuffer::ModuleTextBuffer(ModuleTextKind kind)
    : m_kind(kind)
    , m_capacity(CapacityOf(kind))
{
}

ModuleTextBuffer::~ModuleTextBuffer()
{
    Clear();
}

void ModuleTextBuffer::Clear()
{
    OPENSSL_cleanse(m_bytes.data(), m_bytes.size());
    m_length = 0;
    m_byteLength = 0;
}

CK_RV ModuleTextBuffer::Assign(const wxString& text)
{
    Clear();
    if (text.empty()) {
        return CKR_OK;
    }
    // A zero character would end the text early for the module.
    if (text.find(wxUniChar(0)) != wxString::npos) {
        return NotConvertibleCode(m_kind);
    }
    // One character at a time with the C runtime's conversion, straight into
    // the buffer: no intermediate copy of a PIN is left behind on the heap.
    const auto wide = text.wc_str();
    const wchar_t* const source = wide;
    const std::size_t sourceLength = text.length();
    std::mbstate_t state {};
    char piece[MB_LEN_MAX];
    std::size_t written = 0;
    CK_RV result = CKR_OK;
    for (std::size_t i = 0; i < sourceLength && result == CKR_OK; ++i) {
        const std::size_t size = std::wcrtomb(piece, source[i], &state);
        if (size == static_cast<std::size_t>(-1)) {
            result = NotConvertibleCode(m_kind);
        } else if (written + size > m_capacity - 1) {
            // The terminating zero needs the last byte.
            result = TooLongCode(m_kind);
        } else {
            std::memcpy(m_bytes.data() + written, piece, size);
            written += size;
        }
    }
    OPENSSL_cleanse(piece, sizeof piece);
    if (result != CKR_OK) {
        Clear();
        return result;
    }
    m_byteLength = written;
    m_length = static_cast<CK_ULONG>(text.length());
    return CKR_OK;
}
