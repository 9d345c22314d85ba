// "Delete all" for the manager windows: a listing sees a bounded number of
// objects, so deleting what one listing found may leave more behind. The
// sweep lists again after every pass until a listing finds nothing.
#pragma once

#include "pkcs11/pkcs11.h"

#include <functional>
#include <vector>

class NRVCMUCryptoki;

// Fills handles, in the order they are to be destroyed, from a fresh listing.
using SweepListing = std::function<CK_RV(std::vector<CK_OBJECT_HANDLE>& handles)>;

struct SweepResult {
    // CKR_OK once a listing found nothing; otherwise the first failing
    // listing's or destruction's code, or CKR_FUNCTION_FAILED when a listing
    // still shows an object the sweep has already destroyed.
    CK_RV rv = CKR_OK;
    size_t destroyed = 0;
};

SweepResult SweepObjects(NRVCMUCryptoki& cryptoki, CK_SESSION_HANDLE session, const SweepListing& listing);
