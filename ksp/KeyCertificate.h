// "SmartCardKeyCertificate": a certificate stored on the token beside its
// key pair, under the pair's CKA_ID.
#pragma once

#include "ksp/CryptokiObject.h"
#include "platform/cng/Cng.h"

// NTE_EXISTS when the token holds a certificate with the private key's
// CKA_ID, NTE_NOT_FOUND when not; NTE_INVALID_PARAMETER without module,
// session or both key handles; NTE_INTERNAL_ERROR when a call fails.
SECURITY_STATUS CertificateExists(const Certificate& certificate);
// Decodes the DER certificate (NTE_FAIL when it is not one) and creates the
// token object; NTE_FAIL when the module refuses it.
SECURITY_STATUS StoreCertificate(Certificate& certificate, const BYTE* encoded, DWORD size);
