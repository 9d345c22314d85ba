// The User PIN a slot record keeps after a login: held scrambled (PinScrambler)
// and, on top of that, only encrypted in locked memory, so the plain or the
// scrambled PIN never sits in ordinary heap memory between commands.
#pragma once

#include "manager/core/SecretString.h"
#include "platform/secure_memory/ProtectedText.h"

#include <wx/string.h>

class CachedPin final {
public:
    // Keeps the PIN, scrambled; an empty text clears it.
    void Keep(const wxString& pin);
    // The plain PIN, wiped when the caller lets it go.
    SecretString Reveal() const;
    void Clear() { m_scrambled.Clear(); }
    bool empty() const { return m_scrambled.Empty(); }

private:
    vela5::platform::ProtectedText m_scrambled;
};
