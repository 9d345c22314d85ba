// What a CK_MECHANISM asks of an RSA key or a digest: padding, digests, MGF1,
// salt and label, read and checked once at the operation's Init; RsaKey
// does the OpenSSL work.
#pragma once

#include "Database.h"
#include "pkcs11/pkcs11.h"

#include <openssl/evp.h>
#include <vector>

namespace velatoken {

enum class RsaPadding { Pkcs1, Pss, Oaep };

// What an operation does with a key, as far as mechanisms care.
enum class MechanismUse { Sign, Encrypt, Digest };

class RsaMechanism final {
public:
    // Throws CkError: CKR_MECHANISM_INVALID for a mechanism the token does
    // not offer for the use, CKR_MECHANISM_PARAM_INVALID for bad, missing or
    // unexpected parameters.
    static RsaMechanism Parse(const CK_MECHANISM& mechanism, MechanismUse use);

    CK_MECHANISM_TYPE Type() const { return m_type; }
    RsaPadding Padding() const { return m_padding; }
    // The mechanism hashes the caller's data itself (hash-and-sign and the
    // digests); only these run in several parts.
    bool HashesData() const { return m_hashesData; }
    // The digest of the data (hash-and-sign, digests), of the PSS input, or
    // of OAEP; null for CKM_RSA_PKCS.
    const EVP_MD* Digest() const { return m_digest; }
    const EVP_MD* Mgf1() const { return m_mgf1; }
    int SaltLength() const { return m_saltLength; }
    const Blob& Label() const { return m_label; }

private:
    CK_MECHANISM_TYPE m_type = CKM_RSA_PKCS;
    RsaPadding m_padding = RsaPadding::Pkcs1;
    bool m_hashesData = false;
    const EVP_MD* m_digest = nullptr;
    const EVP_MD* m_mgf1 = nullptr;
    int m_saltLength = 0;
    Blob m_label;
};

struct MechanismEntry {
    CK_MECHANISM_TYPE type;
    CK_ULONG minKeyBits;
    CK_ULONG maxKeyBits;
    CK_FLAGS flags;
};

// Every mechanism the token offers, in the order C_GetMechanismList lists them.
const std::vector<MechanismEntry>& OfferedMechanisms();

} // namespace velatoken
