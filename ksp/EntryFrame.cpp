#include "ksp/EntryFrame.h"

#include "ksp/Records.h"

#include <cstdio>

namespace {
const char* const kRule = "==================================================================";
}

EntryFrame::EntryFrame(const char* name, std::size_t labelWidth, bool clearsCache, ExitStyle style)
    : m_name(name)
    , m_labelWidth(labelWidth)
    , m_style(style)
{
    try {
        EntryLog().Write(kRule);
        EntryLog().Write(style == ExitStyle::BareName ? std::string(name) : std::string(name) + " - Entry");
    } catch (...) {
        // Logging never fails an operation.
    }
    if (clearsCache) {
        TheProviderCache().Clear();
    }
}

EntryFrame::~EntryFrame()
{
    try {
        char value[16];
        std::snprintf(value, sizeof value, "0x%08X", static_cast<unsigned>(m_result));
        switch (m_style) {
        case ExitStyle::Colon:
            EntryLog().Write(std::string(m_name) + " - Exit: " + value);
            break;
        case ExitStyle::NoColon:
            EntryLog().Write(std::string(m_name) + " - Exit" + value);
            break;
        case ExitStyle::BareName:
            EntryLog().Write(m_name);
            break;
        }
        EntryLog().Write(std::string(kRule) + "\n\n");
    } catch (...) {
    }
}

std::string EntryFrame::Label(const char* name) const
{
    std::string label(name);
    // Two blanks past the longest name, as the trace has always been laid out.
    if (label.size() < m_labelWidth + 2) {
        label.append(m_labelWidth + 2 - label.size(), ' ');
    }
    return label + ": ";
}

void EntryFrame::Hex(const char* name, std::uint64_t value) const
{
    EntryLog().WriteHex(Label(name).c_str(), value);
}

void EntryFrame::Hex(const char* name, const void* pointer) const
{
    EntryLog().WriteHex(Label(name).c_str(), pointer);
}

void EntryFrame::Wide(const char* name, LPCWSTR text) const
{
    EntryLog().WriteWide(Label(name).c_str(), text);
}

SECURITY_STATUS EntryFrame::Fail(SECURITY_STATUS code, const std::string& line)
{
    try {
        EntryLog().Write(line);
    } catch (...) {
    }
    m_result = code;
    return code;
}

ProviderContext* CheckProvider(EntryFrame& frame, NCRYPT_PROV_HANDLE handle, SECURITY_STATUS& result)
{
    ProviderContext* provider = ValidateProvider(handle);
    result = provider != nullptr ? ERROR_SUCCESS
                                 : frame.Fail(NTE_INVALID_HANDLE, "NTE_INVALID_HANDLE: pProvider is NULL");
    return provider;
}

KeyContext* CheckKey(EntryFrame& frame, NCRYPT_KEY_HANDLE handle, SECURITY_STATUS& result)
{
    KeyContext* key = ValidateKey(handle);
    result
        = key != nullptr ? ERROR_SUCCESS : frame.Fail(NTE_INVALID_HANDLE, "NTE_INVALID_HANDLE: pKey is NULL");
    return key;
}

bool CheckHandles(EntryFrame& frame, NCRYPT_PROV_HANDLE hProvider, NCRYPT_KEY_HANDLE hKey,
    ProviderContext*& provider, KeyContext*& key, SECURITY_STATUS& result)
{
    provider = CheckProvider(frame, hProvider, result);
    if (provider == nullptr) {
        return false;
    }
    key = CheckKey(frame, hKey, result);
    return key != nullptr;
}
