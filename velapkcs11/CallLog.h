// The module's call log: while the registry's 64-bit view of the SDK key says
// PKCLOG = "00000001", every exported call appends one line to the file named
// by PKCDIR: the function, its slot or session, and its result. Arguments
// beyond the handle (PINs, passwords, key values) are never written.
#pragma once

#include "pkcs11/pkcs11.h"

#include <string>

namespace velatoken {

// The handle a call names in its line.
struct CallSubject {
    const char* kind = nullptr; // "slot", "session" or nullptr
    CK_ULONG value = 0;
};

inline CallSubject LogSlot(CK_SLOT_ID id)
{
    return { "slot", id };
}
inline CallSubject LogSession(CK_SESSION_HANDLE handle)
{
    return { "session", handle };
}
inline CallSubject LogNothing()
{
    return {};
}

class CallLog final {
public:
    // Appends the call's line when logging is on; never throws.
    static void Write(const char* function, const CallSubject& subject, CK_RV result) noexcept;
    // The line itself, without the time stamp and process: "C_Login session 3 -> 0x000000A0".
    static std::string FormatLine(const char* function, const CallSubject& subject, CK_RV result);
    // Reads PKCLOG/PKCDIR again at the next call (tests and C_Initialize).
    static void Reload() noexcept;
};

// Logs a guarded call's result and passes it on.
inline CK_RV Logged(const char* function, const CallSubject& subject, CK_RV result) noexcept
{
    CallLog::Write(function, subject, result);
    return result;
}

} // namespace velatoken
