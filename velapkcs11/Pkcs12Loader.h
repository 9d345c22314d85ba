// Reads a PKCS#12 file for C_NRV_LoadCert.
#pragma once

#include "RsaKey.h"
#include "platform/secure_memory/SecretBytes.h"

#include <cstddef>
#include <string>

namespace velatoken {

struct Pkcs12Content {
    Blob certificate; // DER
    RsaKey key;
    std::string friendlyName;
    Blob keyId; // the file's local key ID, else SHA-1 of the modulus
};

// The path as the caller passes it: every backslash doubled.
std::string UndoubleBackslashes(const std::string& path);

// Far above any PKCS#12 file of one key and its certificates.
constexpr size_t kMaxPkcs12FileSize = 1024 * 1024;

// The bytes of a regular file of at most kMaxPkcs12FileSize; anything else,
// a FIFO or a directory included, throws NRV_CKR_FILE_OPEN_FAILED.
Blob ReadPkcs12File(const std::string& path);

// Throws CkError: NRV_CKR_CERT_DATA_INVALID
// (not PKCS#12), CKR_DATA_INVALID (wrong password), NRV_CKR_CERT_NOT_FOUND,
// NRV_CKR_PRIVATE_KEY_NOT_FOUND, NRV_CKR_PUBLIC_KEY_NOT_FOUND,
// NRV_CKR_CERT_FILE_ATTRIBUTES_INVALID (not RSA) and
// NRV_CKR_MATCHING_PRIVATE_KEY_MISSING (key and certificate differ).
Pkcs12Content ParsePkcs12(const Blob& data, const vela5::platform::SecretBytes& password);

} // namespace velatoken
