// Logs a provider's session in as the User before an operation that needs
// the token's private objects. The PIN comes from, in this order: the PIN
// the host put into the provider's PIN buffer (scripts), the process-wide
// PIN cache, the PIN dialog. A cached PIN the token refuses is dropped and
// the dialog asked, so a changed PIN costs one attempt, not one per
// operation.
#pragma once

#include "ksp/CryptokiLibrary.h"
#include "ksp/PinManager.h"
#include "ksp/Records.h"

// ERROR_SUCCESS, SCARD_W_CANCELLED_BY_USER, NTE_INVALID_PARAMETER,
// NTE_INTERNAL_ERROR, or the failed login's own code.
SECURITY_STATUS LoginToToken(ProviderContext* provider, CryptokiLibrary* library, PinManager* pins);

// LoginToToken when the token has a User PIN to log in with; ERROR_SUCCESS
// at once for a token without one.
SECURITY_STATUS LoginIfRequired(ProviderContext* provider);
