// The one exception type inside the module: a PKCS#11 result. The exported
// layer turns it back into a CK_RV; nothing else crosses the C boundary.
#pragma once

#include "pkcs11/pkcs11.h"

#include <stdexcept>
#include <string>

namespace velatoken {

class CkError final : public std::runtime_error {
public:
    explicit CkError(CK_RV rv, const std::string& what = "token error")
        : std::runtime_error(what)
        , m_rv(rv)
    {
    }
    CK_RV Result() const { return m_rv; }

private:
    CK_RV m_rv;
};

// A precondition check: one line each at the call site, in contract order.
inline void Require(bool condition, CK_RV rv)
{
    if (!condition) {
        throw CkError(rv);
    }
}

} // namespace velatoken
