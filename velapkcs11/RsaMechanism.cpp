// The mechanisms the token offers and their parameters.
#include "RsaMechanism.h"

#include "CkError.h"

namespace velatoken {

namespace {

constexpr CK_ULONG kMinKeyBits = 512;
constexpr CK_ULONG kMaxKeyBits = 4096;

// The digest mechanisms, by the mechanism and by their MGF1 counterpart.
struct DigestEntry {
    CK_MECHANISM_TYPE digest;
    CK_RSA_PKCS_MGF_TYPE mgf;
    CK_MECHANISM_TYPE pkcs1;
    CK_MECHANISM_TYPE pss;
    const EVP_MD* (*md)();
};

const DigestEntry kDigests[] = {
    { CKM_SHA_1, CKG_MGF1_SHA1, CKM_SHA1_RSA_PKCS, CKM_SHA1_RSA_PKCS_PSS, EVP_sha1 },
    { CKM_SHA256, CKG_MGF1_SHA256, CKM_SHA256_RSA_PKCS, CKM_SHA256_RSA_PKCS_PSS, EVP_sha256 },
    { CKM_SHA384, CKG_MGF1_SHA384, CKM_SHA384_RSA_PKCS, CKM_SHA384_RSA_PKCS_PSS, EVP_sha384 },
    { CKM_SHA512, CKG_MGF1_SHA512, CKM_SHA512_RSA_PKCS, CKM_SHA512_RSA_PKCS_PSS, EVP_sha512 },
};

const DigestEntry* ByDigest(CK_MECHANISM_TYPE type)
{
    for (const auto& entry : kDigests) {
        if (entry.digest == type) {
            return &entry;
        }
    }
    return nullptr;
}

const DigestEntry* ByMgf(CK_RSA_PKCS_MGF_TYPE mgf)
{
    for (const auto& entry : kDigests) {
        if (entry.mgf == mgf) {
            return &entry;
        }
    }
    return nullptr;
}

// A parameter block of exactly the structure's size, or PARAM_INVALID.
template <typename Params> const Params& ParamsOf(const CK_MECHANISM& mechanism)
{
    Require(mechanism.pParameter != nullptr && mechanism.ulParameterLen == sizeof(Params),
        CKR_MECHANISM_PARAM_INVALID);
    return *static_cast<const Params*>(mechanism.pParameter);
}

} // namespace

RsaMechanism RsaMechanism::Parse(const CK_MECHANISM& mechanism, MechanismUse use)
{
    RsaMechanism result;
    result.m_type = mechanism.mechanism;
    const bool noParams = mechanism.pParameter == nullptr && mechanism.ulParameterLen == 0;

    if (use == MechanismUse::Digest) {
        const DigestEntry* digest = ByDigest(mechanism.mechanism);
        Require(digest != nullptr, CKR_MECHANISM_INVALID);
        Require(noParams, CKR_MECHANISM_PARAM_INVALID);
        result.m_digest = digest->md();
        result.m_hashesData = true;
        return result;
    }

    if (mechanism.mechanism == CKM_RSA_PKCS) {
        Require(noParams, CKR_MECHANISM_PARAM_INVALID);
        return result;
    }

    if (use == MechanismUse::Encrypt) {
        Require(mechanism.mechanism == CKM_RSA_PKCS_OAEP, CKR_MECHANISM_INVALID);
        const auto& params = ParamsOf<CK_RSA_PKCS_OAEP_PARAMS>(mechanism);
        const DigestEntry* digest = ByDigest(params.hashAlg);
        const DigestEntry* mgf = ByMgf(params.mgf);
        Require(digest != nullptr && mgf != nullptr, CKR_MECHANISM_PARAM_INVALID);
        // The label: none, or the bytes the source names.
        Require(params.source == 0 || params.source == CKZ_DATA_SPECIFIED, CKR_MECHANISM_PARAM_INVALID);
        Require(params.pSourceData != nullptr || params.ulSourceDataLen == 0, CKR_MECHANISM_PARAM_INVALID);
        Require(
            params.source == CKZ_DATA_SPECIFIED || params.ulSourceDataLen == 0, CKR_MECHANISM_PARAM_INVALID);
        const auto* label = static_cast<const unsigned char*>(params.pSourceData);
        if (params.ulSourceDataLen != 0) {
            result.m_label.assign(label, label + params.ulSourceDataLen);
        }
        result.m_padding = RsaPadding::Oaep;
        result.m_digest = digest->md();
        result.m_mgf1 = mgf->md();
        return result;
    }

    // Signatures: hash-and-sign with PKCS #1 v1.5, or PSS.
    for (const auto& entry : kDigests) {
        if (mechanism.mechanism == entry.pkcs1) {
            Require(noParams, CKR_MECHANISM_PARAM_INVALID);
            result.m_digest = entry.md();
            result.m_hashesData = true;
            return result;
        }
    }
    const DigestEntry* pssDigest = nullptr;
    for (const auto& entry : kDigests) {
        if (mechanism.mechanism == entry.pss) {
            pssDigest = &entry;
        }
    }
    Require(pssDigest != nullptr || mechanism.mechanism == CKM_RSA_PKCS_PSS, CKR_MECHANISM_INVALID);
    const auto& params = ParamsOf<CK_RSA_PKCS_PSS_PARAMS>(mechanism);
    const DigestEntry* digest = ByDigest(params.hashAlg);
    const DigestEntry* mgf = ByMgf(params.mgf);
    Require(digest != nullptr && mgf != nullptr, CKR_MECHANISM_PARAM_INVALID);
    // A hash-and-sign PSS mechanism names its digest twice; they must agree.
    Require(pssDigest == nullptr || pssDigest == digest, CKR_MECHANISM_PARAM_INVALID);
    // Longer salts never fit a key the token holds (checked against the key at Init).
    Require(params.sLen <= kMaxKeyBits / 8, CKR_MECHANISM_PARAM_INVALID);
    result.m_padding = RsaPadding::Pss;
    result.m_digest = digest->md();
    result.m_mgf1 = mgf->md();
    result.m_saltLength = static_cast<int>(params.sLen);
    result.m_hashesData = pssDigest != nullptr;
    return result;
}

const std::vector<MechanismEntry>& OfferedMechanisms()
{
    constexpr CK_FLAGS kSignVerify = CKF_HW | CKF_SIGN | CKF_VERIFY;
    constexpr CK_FLAGS kEncryptDecrypt = CKF_HW | CKF_ENCRYPT | CKF_DECRYPT;
    static const std::vector<MechanismEntry> offered = {
        { CKM_RSA_PKCS_KEY_PAIR_GEN, kMinKeyBits, kMaxKeyBits, CKF_HW | CKF_GENERATE_KEY_PAIR },
        { CKM_RSA_PKCS, kMinKeyBits, kMaxKeyBits, kSignVerify | kEncryptDecrypt },
        { CKM_SHA1_RSA_PKCS, kMinKeyBits, kMaxKeyBits, kSignVerify },
        { CKM_SHA256_RSA_PKCS, kMinKeyBits, kMaxKeyBits, kSignVerify },
        { CKM_SHA384_RSA_PKCS, kMinKeyBits, kMaxKeyBits, kSignVerify },
        { CKM_SHA512_RSA_PKCS, kMinKeyBits, kMaxKeyBits, kSignVerify },
        { CKM_RSA_PKCS_PSS, kMinKeyBits, kMaxKeyBits, kSignVerify },
        { CKM_SHA1_RSA_PKCS_PSS, kMinKeyBits, kMaxKeyBits, kSignVerify },
        { CKM_SHA256_RSA_PKCS_PSS, kMinKeyBits, kMaxKeyBits, kSignVerify },
        { CKM_SHA384_RSA_PKCS_PSS, kMinKeyBits, kMaxKeyBits, kSignVerify },
        { CKM_SHA512_RSA_PKCS_PSS, kMinKeyBits, kMaxKeyBits, kSignVerify },
        { CKM_RSA_PKCS_OAEP, kMinKeyBits, kMaxKeyBits, kEncryptDecrypt },
        { CKM_SHA_1, 0, 0, CKF_DIGEST },
        { CKM_SHA256, 0, 0, CKF_DIGEST },
        { CKM_SHA384, 0, 0, CKF_DIGEST },
        { CKM_SHA512, 0, 0, CKF_DIGEST },
    };
    return offered;
}

} // namespace velatoken
