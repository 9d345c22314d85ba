// PKCS#12 reading with OpenSSL: MAC check first, so a wrong password is told
// apart from a damaged file; a file without a MAC opens with its password.
#include "Pkcs12Loader.h"

#include "CkError.h"
#include "platform/openssl/OpenSslPtr.h"

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <fcntl.h>
#include <memory>
#include <openssl/crypto.h>
#include <openssl/evp.h>
#include <openssl/pkcs12.h>
#include <openssl/sha.h>
#include <openssl/x509.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace vela5::platform;

namespace velatoken {

namespace {
struct FdCloser {
    int fd;
    ~FdCloser() { close(fd); }
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

Blob ReadPkcs12File(const std::string& path)
{
    // Non-blocking, so a FIFO or device answers at once instead of waiting
    // for a writer; only a regular file of a sane size is then read.
    const int fd = open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    Require(fd >= 0, NRV_CKR_FILE_OPEN_FAILED);
    const FdCloser closer { fd };
    struct stat info { };
    Require(fstat(fd, &info) == 0 && S_ISREG(info.st_mode), NRV_CKR_FILE_OPEN_FAILED);
    Require(info.st_size >= 0 && static_cast<uint64_t>(info.st_size) <= kMaxPkcs12FileSize,
        NRV_CKR_FILE_OPEN_FAILED);
    Blob data(static_cast<size_t>(info.st_size) + 1);
    size_t filled = 0;
    // One byte more than the limit allows tells a file grown since fstat.
    while (filled < data.size()) {
        const ssize_t got = read(fd, data.data() + filled, data.size() - filled);
        if (got < 0 && errno == EINTR) {
            continue;
        }
        Require(got >= 0, NRV_CKR_FILE_OPEN_FAILED);
        if (got == 0) {
            break;
        }
        filled += static_cast<size_t>(got);
        if (filled == data.size() && data.size() <= kMaxPkcs12FileSize) {
            data.resize(std::min<size_t>(data.size() * 2, kMaxPkcs12FileSize + 1));
        }
    }
    Require(filled <= kMaxPkcs12FileSize, NRV_CKR_FILE_OPEN_FAILED);
    data.resize(filled);
    return data;
}

Pkcs12Content ParsePkcs12(const Blob& data, const SecretBytes& password)
{
    const unsigned char* cursor = data.data();
    Pkcs12Ptr p12(d2i_PKCS12(nullptr, &cursor, static_cast<long>(data.size())));
    Require(p12 != nullptr, NRV_CKR_CERT_DATA_INVALID);
    // OpenSSL takes the password as C text; the terminated copy is wiped too.
    std::vector<std::uint8_t> terminated;
    terminated.reserve(password.Size() + 1);
    terminated.assign(password.Data(), password.Data() + password.Size());
    terminated.push_back(0);
    const SecretBytes text(std::move(terminated));
    // An empty password may have been written as no password at all.
    const char* pass = reinterpret_cast<const char*>(text.Data());
    const bool hasMac = PKCS12_mac_present(p12.get()) == 1;
    if (!hasMac) {
        // Without a MAC only decryption can tell a wrong password. PKCS12_parse
        // insists on a MAC for a given password, so one is made here with it;
        // a wrong password then fails on the encrypted parts.
        if (password.Empty()) {
            pass = nullptr;
        } else {
            Require(PKCS12_set_mac(p12.get(), pass, static_cast<int>(password.Size()), nullptr, 0, 1, nullptr)
                    == 1,
                CKR_GENERAL_ERROR);
        }
    } else if (PKCS12_verify_mac(p12.get(), pass, static_cast<int>(password.Size())) != 1) {
        Require(password.Empty() && PKCS12_verify_mac(p12.get(), nullptr, 0) == 1, CKR_DATA_INVALID);
        pass = nullptr;
    }
    EVP_PKEY* rawKey = nullptr;
    X509* rawCert = nullptr;
    STACK_OF(X509)* rawChain = nullptr;
    Require(PKCS12_parse(p12.get(), pass, &rawKey, &rawCert, &rawChain) == 1,
        hasMac ? NRV_CKR_CERT_DATA_INVALID : CKR_DATA_INVALID);
    RsaKey holder(rawKey);
    X509Ptr cert(rawCert);
    CertificateStackPtr chain(rawChain);
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
