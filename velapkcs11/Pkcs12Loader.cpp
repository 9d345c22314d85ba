// PKCS#12 reading with OpenSSL: MAC check first, so a wrong password is told
// apart from a damaged file.
#include "Pkcs12Loader.h"

#include "CkError.h"

#include <cstdio>
#include <memory>
#include <openssl/crypto.h>
#include <openssl/evp.h>
#include <openssl/pkcs12.h>
#include <openssl/sha.h>
#include <openssl/x509.h>

namespace velatoken {

namespace {
struct FileCloser {
    void operator()(FILE* file) const { std::fclose(file); }
};
struct P12Deleter {
    void operator()(PKCS12* p12) const { PKCS12_free(p12); }
};
struct X509Deleter {
    void operator()(X509* cert) const { X509_free(cert); }
};
struct ChainDeleter {
    void operator()(STACK_OF(X509) * chain) const { sk_X509_pop_free(chain, X509_free); }
};
} // namespace

std::string UndoubleBackslashes(const std::string& path)
{
    std::string result;
    for (size_t i = 0; i < path.size(); ++i) {
        result += path[i];
        if (path[i] == '\\' && i + 1 < path.size() && path[i + 1] == '\\') {
            ++i;
        }
    }
    return result;
}

Pkcs12Content LoadPkcs12(const std::string& path, const std::string& password)
{
    std::unique_ptr<FILE, FileCloser> file(std::fopen(path.c_str(), "rb"));
    Require(file != nullptr, NRV_CKR_FILE_OPEN_FAILED);
    std::unique_ptr<PKCS12, P12Deleter> p12(d2i_PKCS12_fp(file.get(), nullptr));
    Require(p12 != nullptr, NRV_CKR_CERT_DATA_INVALID);
    // An empty password may have been written as no password at all.
    const char* pass = password.c_str();
    if (PKCS12_verify_mac(p12.get(), pass, static_cast<int>(password.size())) != 1) {
        Require(password.empty() && PKCS12_verify_mac(p12.get(), nullptr, 0) == 1, CKR_DATA_INVALID);
        pass = nullptr;
    }
    EVP_PKEY* rawKey = nullptr;
    X509* rawCert = nullptr;
    STACK_OF(X509)* rawChain = nullptr;
    Require(PKCS12_parse(p12.get(), pass, &rawKey, &rawCert, &rawChain) == 1, NRV_CKR_CERT_DATA_INVALID);
    RsaKey holder(rawKey);
    std::unique_ptr<X509, X509Deleter> cert(rawCert);
    std::unique_ptr<STACK_OF(X509), ChainDeleter> chain(rawChain);
    const bool anyCertificate = cert != nullptr || (chain != nullptr && sk_X509_num(chain.get()) > 0);
    if (rawKey == nullptr) {
        Require(anyCertificate, NRV_CKR_CERT_NOT_FOUND);
        throw CkError(NRV_CKR_PRIVATE_KEY_NOT_FOUND);
    }
    if (cert == nullptr && chain != nullptr) {
        // Without matching key IDs the certificate lands among the others.
        for (int i = 0; i < sk_X509_num(chain.get()); ++i) {
            X509* candidate = sk_X509_value(chain.get(), i);
            if (EVP_PKEY_eq(rawKey, X509_get0_pubkey(candidate)) == 1) {
                X509_up_ref(candidate);
                cert.reset(candidate);
                break;
            }
        }
    }
    Require(anyCertificate, NRV_CKR_CERT_NOT_FOUND);
    Require(cert != nullptr, NRV_CKR_MATCHING_PRIVATE_KEY_MISSING);
    EVP_PKEY* certKey = X509_get0_pubkey(cert.get());
    Require(certKey != nullptr, NRV_CKR_PUBLIC_KEY_NOT_FOUND);
    Require(EVP_PKEY_is_a(rawKey, "RSA") == 1 && EVP_PKEY_is_a(certKey, "RSA") == 1,
        NRV_CKR_CERT_FILE_ATTRIBUTES_INVALID);
    Require(EVP_PKEY_eq(rawKey, certKey) == 1, NRV_CKR_MATCHING_PRIVATE_KEY_MISSING);

    Pkcs12Content content;
    content.key = holder;
    unsigned char* der = nullptr;
    const int length = i2d_X509(cert.get(), &der);
    Require(length > 0, NRV_CKR_CERT_DATA_INVALID);
    content.certificate.assign(der, der + length);
    OPENSSL_free(der);
    int aliasLength = 0;
    if (const unsigned char* alias = X509_alias_get0(cert.get(), &aliasLength); alias != nullptr) {
        content.friendlyName.assign(reinterpret_cast<const char*>(alias), static_cast<size_t>(aliasLength));
    }
    int idLength = 0;
    if (const unsigned char* id = X509_keyid_get0(cert.get(), &idLength); id != nullptr && idLength > 0) {
        content.keyId.assign(id, id + idLength);
    } else {
        const Blob modulus = content.key.Modulus();
        content.keyId.resize(SHA_DIGEST_LENGTH);
        SHA1(modulus.data(), modulus.size(), content.keyId.data());
    }
    Require(!content.keyId.empty(), NRV_CKR_CERT_ID_INVALID);
    return content;
}

} // namespace velatoken
