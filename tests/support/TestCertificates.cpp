#include "TestCertificates.h"

#include "platform/openssl/OpenSslPtr.h"

#include <fstream>
#include <iterator>
#include <openssl/pem.h>
#include <openssl/pkcs12.h>
#include <openssl/pkcs7.h>
#include <openssl/rsa.h>
#include <openssl/x509.h>
#include <openssl/x509v3.h>
#include <stdexcept>

using namespace vela5::platform;

namespace {

void Check(bool ok, const char* what)
{
    if (!ok) {
        throw std::runtime_error(std::string("OpenSSL: ") + what);
    }
}

std::vector<std::string> Split(const std::string& text, char separator)
{
    std::vector<std::string> parts;
    size_t start = 0;
    for (;;) {
        const size_t at = text.find(separator, start);
        parts.push_back(text.substr(start, at == std::string::npos ? std::string::npos : at - start));
        if (at == std::string::npos) {
            return parts;
        }
        start = at + 1;
    }
}

void FillName(X509_NAME* name, const std::string& subject)
{
    for (const std::string& part : Split(subject, '/')) {
        if (part.empty()) {
            continue;
        }
        bool first = true;
        for (const std::string& entry : Split(part, '+')) {
            const size_t equals = entry.find('=');
            Check(equals != std::string::npos, "subject entry without '='");
            const std::string field = entry.substr(0, equals);
            const std::string value = entry.substr(equals + 1);
            Check(X509_NAME_add_entry_by_txt(name, field.c_str(), MBSTRING_UTF8,
                      reinterpret_cast<const unsigned char*>(value.c_str()), static_cast<int>(value.size()),
                      -1, first ? 0 : -1)
                    == 1,
                "subject entry");
            first = false;
        }
    }
}

X509Ptr Parse(const std::vector<uint8_t>& der)
{
    const unsigned char* cursor = der.data();
    X509Ptr certificate(d2i_X509(nullptr, &cursor, static_cast<long>(der.size())));
    Check(certificate != nullptr, "certificate parse");
    return certificate;
}

} // namespace

TestKey MakeRsaKey(int bits)
{
    EVP_PKEY* key = EVP_RSA_gen(static_cast<unsigned>(bits));
    Check(key != nullptr, "RSA key generation");
    return TestKey(key, EVP_PKEY_free);
}

std::vector<uint8_t> MakeCertificate(const TestCertificateFields& fields, const TestKey& key)
{
    X509Ptr certificate(X509_new());
    Check(certificate != nullptr, "X509_new");
    X509_set_version(certificate.get(), 2);
    ASN1_INTEGER_set(X509_get_serialNumber(certificate.get()), fields.serial);
    X509_gmtime_adj(X509_getm_notBefore(certificate.get()), 0);
    X509_gmtime_adj(X509_getm_notAfter(certificate.get()), 60L * 60 * 24 * fields.days);
    FillName(X509_get_subject_name(certificate.get()), fields.subject);
    Check(X509_set_issuer_name(certificate.get(), X509_get_subject_name(certificate.get())) == 1, "issuer");
    Check(X509_set_pubkey(certificate.get(), key.get()) == 1, "public key");
    if (!fields.emails.empty()) {
        std::string value;
        for (const std::string& email : fields.emails) {
            value += (value.empty() ? "email:" : ",email:") + email;
        }
        X509_EXTENSION* extension
            = X509V3_EXT_conf_nid(nullptr, nullptr, NID_subject_alt_name, value.c_str());
        Check(extension != nullptr, "alternative names");
        X509_add_ext(certificate.get(), extension, -1);
        X509_EXTENSION_free(extension);
    }
    Check(X509_sign(certificate.get(), key.get(), EVP_sha256()) > 0, "sign");
    unsigned char* der = nullptr;
    const int length = i2d_X509(certificate.get(), &der);
    Check(length > 0, "encode");
    std::vector<uint8_t> bytes(der, der + length);
    OPENSSL_free(der);
    return bytes;
}

void WriteBytes(const std::filesystem::path& file, const std::vector<uint8_t>& bytes)
{
    std::ofstream out(file, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    Check(static_cast<bool>(out), "write file");
}

std::vector<uint8_t> KeyNumber(const TestKey& key, const char* name)
{
    BIGNUM* raw = nullptr;
    Check(EVP_PKEY_get_bn_param(key.get(), name, &raw) == 1, name);
    const BnPtr number(raw);
    std::vector<uint8_t> bytes(static_cast<size_t>(BN_num_bytes(number.get())));
    BN_bn2bin(number.get(), bytes.data());
    return bytes;
}

std::vector<uint8_t> ReadBytes(const std::filesystem::path& file)
{
    std::ifstream in(file, std::ios::binary);
    return std::vector<uint8_t>((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

void WritePkcs12(const std::filesystem::path& file, const std::vector<uint8_t>& certificate,
    const TestKey& key, const std::string& password, const std::string& friendlyName)
{
    const X509Ptr parsed = Parse(certificate);
    PKCS12* p12 = PKCS12_create(
        password.c_str(), friendlyName.c_str(), key.get(), parsed.get(), nullptr, 0, 0, 0, 0, 0);
    Check(p12 != nullptr, "PKCS12_create");
    unsigned char* der = nullptr;
    const int length = i2d_PKCS12(p12, &der);
    PKCS12_free(p12);
    Check(length > 0, "PKCS#12 encode");
    WriteBytes(file, std::vector<uint8_t>(der, der + length));
    OPENSSL_free(der);
}

void WritePrivateKeyPem(const std::filesystem::path& file, const TestKey& key)
{
    const BioPtr bio(BIO_new_file(file.c_str(), "wb"));
    if (!bio || PEM_write_bio_PrivateKey(bio.get(), key.get(), nullptr, nullptr, 0, nullptr, nullptr) != 1) {
        throw std::runtime_error("cannot write " + file.string());
    }
}

std::vector<uint8_t> MakePkcs7(int type, const std::vector<std::vector<uint8_t>>& certificates)
{
    const Pkcs7Ptr pkcs7(PKCS7_new());
    if (PKCS7_set_type(pkcs7.get(), type) != 1) {
        throw std::runtime_error("PKCS7_set_type failed");
    }
    if (type == NID_pkcs7_signed) {
        PKCS7_content_new(pkcs7.get(), NID_pkcs7_data);
        for (const auto& der : certificates) {
            const unsigned char* cursor = der.data();
            X509* certificate = d2i_X509(nullptr, &cursor, static_cast<long>(der.size()));
            PKCS7_add_certificate(pkcs7.get(), certificate);
            X509_free(certificate);
        }
    }
    unsigned char* out = nullptr;
    const int length = i2d_PKCS7(pkcs7.get(), &out);
    if (length <= 0) {
        throw std::runtime_error("i2d_PKCS7 failed");
    }
    std::vector<uint8_t> bytes(out, out + length);
    OPENSSL_free(out);
    return bytes;
}
