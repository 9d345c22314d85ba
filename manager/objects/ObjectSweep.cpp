#include "ObjectSweep.h"

#include "manager/core/NRVCMUCryptoki.h"

#include <set>

SweepResult SweepObjects(NRVCMUCryptoki& cryptoki, CK_SESSION_HANDLE session, const SweepListing& listing)
{
    SweepResult result;
    std::set<CK_OBJECT_HANDLE> destroyed;
    for (;;) {
        std::vector<CK_OBJECT_HANDLE> handles;
        result.rv = listing(handles);
        if (result.rv != CKR_OK || handles.empty()) {
            return result;
        }
        for (const CK_OBJECT_HANDLE handle : handles) {
            // A module that reports success but keeps the object would
            // otherwise be swept forever.
            if (destroyed.count(handle) != 0) {
                result.rv = CKR_FUNCTION_FAILED;
                return result;
            }
            result.rv = cryptoki.DestroyObject(session, handle);
            if (result.rv != CKR_OK) {
                return result;
            }
            destroyed.insert(handle);
            ++result.destroyed;
        }
    }
}
