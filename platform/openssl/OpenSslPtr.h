// Owning pointers for OpenSSL objects, one alias per type, so no file
// declares its own deleter and every object is freed on every path.
#pragma once

#include <memory>
#include <openssl/bio.h>
#include <openssl/bn.h>
#include <openssl/evp.h>
#include <openssl/param_build.h>
#include <openssl/pkcs12.h>
#include <openssl/pkcs7.h>
#include <openssl/x509.h>

namespace vela5::platform {

namespace OpenSsl {

template <auto Free> struct Deleter {
    template <typename T> void operator()(T* object) const { Free(object); }
};

struct CertificateStackDeleter {
    void operator()(STACK_OF(X509) * stack) const { sk_X509_pop_free(stack, X509_free); }
};

} // namespace OpenSsl

using BioPtr = std::unique_ptr<BIO, OpenSsl::Deleter<BIO_free>>;
// Cleared when freed: numbers are often parts of a private key.
using BnPtr = std::unique_ptr<BIGNUM, OpenSsl::Deleter<BN_clear_free>>;
using BnCtxPtr = std::unique_ptr<BN_CTX, OpenSsl::Deleter<BN_CTX_free>>;
using CipherCtxPtr = std::unique_ptr<EVP_CIPHER_CTX, OpenSsl::Deleter<EVP_CIPHER_CTX_free>>;
using MdCtxPtr = std::unique_ptr<EVP_MD_CTX, OpenSsl::Deleter<EVP_MD_CTX_free>>;
using PkeyPtr = std::unique_ptr<EVP_PKEY, OpenSsl::Deleter<EVP_PKEY_free>>;
using PkeyCtxPtr = std::unique_ptr<EVP_PKEY_CTX, OpenSsl::Deleter<EVP_PKEY_CTX_free>>;
using ParamBuildPtr = std::unique_ptr<OSSL_PARAM_BLD, OpenSsl::Deleter<OSSL_PARAM_BLD_free>>;
using ParamsPtr = std::unique_ptr<OSSL_PARAM, OpenSsl::Deleter<OSSL_PARAM_free>>;
using Pkcs12Ptr = std::unique_ptr<PKCS12, OpenSsl::Deleter<PKCS12_free>>;
using Pkcs7Ptr = std::unique_ptr<PKCS7, OpenSsl::Deleter<PKCS7_free>>;
using X509Ptr = std::unique_ptr<X509, OpenSsl::Deleter<X509_free>>;
using X509NamePtr = std::unique_ptr<X509_NAME, OpenSsl::Deleter<X509_NAME_free>>;
using CertificateStackPtr = std::unique_ptr<STACK_OF(X509), OpenSsl::CertificateStackDeleter>;

} // namespace vela5::platform
