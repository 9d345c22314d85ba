// The fixed shape of every entry point: the framing lines, one line per
// parameter, the provider cache cleared where the entry point does so, the
// one line of a failed check, the exit line; and no exception crossing the
// C boundary.
#pragma once

#include "ksp/Globals.h"
#include "platform/cng/Cng.h"

#include <cstddef>
#include <initializer_list>
#include <new>
#include <string>

enum class ExitStyle {
    Colon, // "Name - Exit: 0x..."
    NoColon, // "Name - Exit0x..."
    BareName, // the name alone, on entry and exit
};

class EntryFrame final {
public:
    // labelWidth: the longest parameter name; labels are padded two past it.
    EntryFrame(
        const char* name, std::size_t labelWidth, bool clearsCache, ExitStyle style = ExitStyle::Colon);
    ~EntryFrame();
    EntryFrame(const EntryFrame&) = delete;
    EntryFrame& operator=(const EntryFrame&) = delete;

    void Hex(const char* name, std::uint64_t value) const;
    void Hex(const char* name, const void* pointer) const;
    void Wide(const char* name, LPCWSTR text) const;

    // Writes "<reason>" (already "CODE: text") and keeps code as the result.
    SECURITY_STATUS Fail(SECURITY_STATUS code, const std::string& line);
    SECURITY_STATUS Done(SECURITY_STATUS code)
    {
        m_result = code;
        return code;
    }

    // Runs body; an escaping exception is a failure of its own.
    template <typename Body> SECURITY_STATUS Run(Body&& body) noexcept
    {
        try {
            return Done(body());
        } catch (const std::bad_alloc&) {
            return Fail(NTE_NO_MEMORY, "NTE_NO_MEMORY: Out of memory");
        } catch (...) {
            return Fail(NTE_INTERNAL_ERROR, "NTE_INTERNAL_ERROR: Unexpected failure");
        }
    }

private:
    std::string Label(const char* name) const;

    const char* m_name;
    std::size_t m_labelWidth;
    ExitStyle m_style;
    SECURITY_STATUS m_result = ERROR_SUCCESS;
};

// The record checks every entry point runs first, with their lines.
struct ProviderContext;
struct KeyContext;
ProviderContext* CheckProvider(EntryFrame& frame, NCRYPT_PROV_HANDLE handle, SECURITY_STATUS& result);
KeyContext* CheckKey(EntryFrame& frame, NCRYPT_KEY_HANDLE handle, SECURITY_STATUS& result);
// Both handles of a key call, provider before key: false with result set on the first bad one.
bool CheckHandles(EntryFrame& frame, NCRYPT_PROV_HANDLE hProvider, NCRYPT_KEY_HANDLE hKey,
    ProviderContext*& provider, KeyContext*& key, SECURITY_STATUS& result);
