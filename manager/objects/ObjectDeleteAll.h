// "Delete All" for a window that lists at most ten objects: destroys what a
// listing finds and lists again until nothing is left, so a token with more
// objects than one listing shows is never reported empty while some remain.
#pragma once

#include "pkcs11/pkcs11.h"

#include <functional>
#include <vector>

class ObjectDeleteAll final {
public:
    // Fills handles with what the token still holds (any number, in list order).
    using Lister = std::function<CK_RV(std::vector<CK_OBJECT_HANDLE>& handles)>;
    using Destroyer = std::function<CK_RV(CK_OBJECT_HANDLE handle)>;

    ObjectDeleteAll(Lister lister, Destroyer destroyer);

    // CKR_OK once a listing finds nothing; the first failing code otherwise.
    // An object listed again after its destruction was reported done ends
    // the run with CKR_GENERAL_ERROR instead of looping on it.
    CK_RV Run();
    size_t Deleted() const { return m_deleted.size(); }

private:
    Lister m_lister;
    Destroyer m_destroyer;
    std::vector<CK_OBJECT_HANDLE> m_deleted;
};
