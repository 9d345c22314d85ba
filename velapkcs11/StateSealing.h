// Sealing the secrets a state kept in plain before tokens had a key.
#pragma once

#include "Database.h"

namespace velatoken {

// Inside the caller's transaction, on a state whose columns for sealed
// values exist: gives every token that has a PIN a fresh token key, wraps
// it for each PIN from the PIN's stored PBKDF2 output (which is replaced by
// its verifier, so the PINs keep working and no PIN is needed), and seals
// every value MustSeal names.
void SealPlainSecrets(Database& db);

} // namespace velatoken
