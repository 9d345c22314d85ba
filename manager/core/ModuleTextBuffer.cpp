// Fixed single-byte text buffers for the module.
#include "ModuleTextBuffer.h"

#include <openssl/crypto.h>
#include <wx/strconv.h>

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
    const auto wide = text.wc_str();
    const wchar_t* const source = wide;
    const std::size_t sourceLength = text.length();
    // Measure first: a text that does not convert and one that does not fit
    // are refused with different codes.
    const std::size_t needed = wxConvLibc.FromWChar(nullptr, 0, source, sourceLength);
    if (needed == wxCONV_FAILED) {
        return NotConvertibleCode(m_kind);
    }
    // The terminating zero needs the last byte.
    if (needed > m_capacity - 1) {
        return TooLongCode(m_kind);
    }
    const std::size_t written
        = wxConvLibc.FromWChar(reinterpret_cast<char*>(m_bytes.data()), m_capacity - 1, source, sourceLength);
    if (written == wxCONV_FAILED) {
        Clear();
        return NotConvertibleCode(m_kind);
    }
    m_byteLength = written;
    m_length = static_cast<CK_ULONG>(text.length());
    return CKR_OK;
}
