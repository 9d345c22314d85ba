// The provider's log writer. Every line goes to the debugger output (stderr
// here, only when VELA5_KSP_DEBUG=1) and, when KSPLOG and KSPDIR under
// HKLM\Software\Nurvon Ltd.\VELA5 SDK switch it on, is appended to the file
// KSPDIR names. The file is opened and closed for each line.
#pragma once

#include "platform/cng/Cng.h"

#include <cstddef>
#include <cstdint>
#include <string>

class DebugClass final {
public:
    // withBanner: write the start banner into the file once configured.
    explicit DebugClass(bool withBanner);

    void Write(const std::string& text) const;
    // Label followed by the low 32 bits as "0x%08X" (pointers and handles too).
    void WriteHex(const char* label, std::uint64_t value) const;
    void WriteHex(const char* label, const void* pointer) const;
    void WriteInt(const char* label, long value) const;
    // At most the first 500 bytes as "%02X "; "NULL" for no data.
    void WriteDump(const char* label, const void* data, std::size_t size) const;
    // The text converted to at most 511 bytes; "NULL" for a null pointer.
    void WriteWide(const char* label, LPCWSTR text) const;

    bool FileLogging() const { return m_fileLogging; }
    // Whether a line goes anywhere (the file or the debugger output).
    bool Heard() const;

private:
    bool m_fileLogging = false;
    std::string m_path;
};

// Sends a line to the debugger output only.
void DebuggerOutput(const std::string& text);
