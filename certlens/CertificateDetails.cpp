#include "CertificateDetails.h"

#include "platform/openssl/OpenSslPtr.h"

#include <ctime>
#include <memory>
#include <openssl/bio.h>
#include <openssl/bn.h>
#include <openssl/core_names.h>
#include <openssl/evp.h>
#include <openssl/objects.h>
#include <openssl/pem.h>
#include <openssl/x509.h>
#include <openssl/x509v3.h>

using namespace vela5::platform;

namespace certlens {
namespace {

std::string BioText(BIO* bio)
{
    char* data = nullptr;
    const long length = BIO_get_mem_data(bio, &data);
    return length > 0 ? std::string(data, static_cast<size_t>(length)) : std::string();
}

std::string AttributeName(int nid, const ASN1_OBJECT* object)
{
    switch (nid) {
    case NID_commonName:
        return "Common Name";
    case NID_organizationName:
        return "Organization";
    case NID_organizationalUnitName:
        return "Organizational Unit";
    case NID_countryName:
        return "Country";
    case NID_stateOrProvinceName:
        return "State or Province";
    case NID_localityName:
        return "Locality";
    case NID_pkcs9_emailAddress:
        return "Email Address";
    case NID_serialNumber:
        return "Serial Number";
    default:
        break;
    }
    if (nid != NID_undef) {
        return OBJ_nid2ln(nid);
    }
    char text[128] = {};
    OBJ_obj2txt(text, sizeof text, object, 1);
    return text;
}

std::vector<Field> NameFields(const X509_NAME* name, std::string& commonName)
{
    std::vector<Field> fields;
    for (int i = 0; i < X509_NAME_entry_count(name); ++i) {
        const X509_NAME_ENTRY* entry = X509_NAME_get_entry(name, i);
        const ASN1_OBJECT* object = X509_NAME_ENTRY_get_object(entry);
        const int nid = OBJ_obj2nid(object);
        unsigned char* utf8 = nullptr;
        const int length = ASN1_STRING_to_UTF8(&utf8, X509_NAME_ENTRY_get_data(entry));
        const std::string value = length >= 0 ? std::string(reinterpret_cast<char*>(utf8), length) : "";
        OPENSSL_free(utf8);
        if (nid == NID_commonName) {
            commonName = value;
        }
        fields.emplace_back(AttributeName(nid, object), value);
    }
    return fields;
}

std::string NameLine(const X509_NAME* name)
{
    BioPtr bio(BIO_new(BIO_s_mem()));
    X509_NAME_print_ex(bio.get(), name, 0, (XN_FLAG_ONELINE | XN_FLAG_DN_REV) & ~ASN1_STRFLGS_ESC_MSB);
    return BioText(bio.get());
}

std::string TimeText(const ASN1_TIME* time)
{
    struct tm parts = {};
    if (ASN1_TIME_to_tm(time, &parts) != 1) {
        return {};
    }
    char text[64];
    std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S UTC", &parts);
    return text;
}

std::string Digest(const X509* certificate, const EVP_MD* type)
{
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    if (X509_digest(certificate, type, digest, &length) != 1) {
        return {};
    }
    return HexPairs(digest, length);
}

std::string BigNumberHex(const EVP_PKEY* key, const char* name)
{
    BIGNUM* raw = nullptr;
    if (EVP_PKEY_get_bn_param(key, name, &raw) != 1) {
        return {};
    }
    const BnPtr number(raw);
    std::vector<uint8_t> bytes(static_cast<size_t>(BN_num_bytes(number.get())));
    BN_bn2bin(number.get(), bytes.data());
    return HexPairs(bytes.data(), bytes.size());
}

std::string BigNumberDecimal(const EVP_PKEY* key, const char* name)
{
    BIGNUM* raw = nullptr;
    if (EVP_PKEY_get_bn_param(key, name, &raw) != 1) {
        return {};
    }
    const BnPtr number(raw);
    char* text = BN_bn2dec(number.get());
    std::string result = text != nullptr ? text : "";
    OPENSSL_free(text);
    return result;
}

} // namespace

std::string HexPairs(const uint8_t* bytes, size_t length)
{
    static const char digits[] = "0123456789ABCDEF";
    std::string text;
    for (size_t i = 0; i < length; ++i) {
        if (i != 0) {
            text += ':';
        }
        text += digits[bytes[i] >> 4];
        text += digits[bytes[i] & 0x0F];
    }
    return text;
}

std::optional<CertificateDetails> ReadCertificateDetails(const uint8_t* der, size_t length)
{
    if (der == nullptr || length == 0) {
        return std::nullopt;
    }
    const unsigned char* cursor = der;
    X509Ptr certificate(d2i_X509(nullptr, &cursor, static_cast<long>(length)));
    // Trailing bytes mean the caller handed something else.
    if (!certificate || cursor != der + length) {
        return std::nullopt;
    }
    X509* x = certificate.get();
    CertificateDetails details;
    details.subject = NameFields(X509_get_subject_name(x), details.commonName);
    details.issuer = NameFields(X509_get_issuer_name(x), details.issuerCommonName);
    details.subjectLine = NameLine(X509_get_subject_name(x));
    details.issuerLine = NameLine(X509_get_issuer_name(x));
    details.version = X509_get_version(x) + 1;
    const ASN1_INTEGER* serial = X509_get0_serialNumber(x);
    details.serialNumber
        = HexPairs(ASN1_STRING_get0_data(serial), static_cast<size_t>(ASN1_STRING_length(serial)));
    details.notBefore = TimeText(X509_get0_notBefore(x));
    details.notAfter = TimeText(X509_get0_notAfter(x));
    details.signatureAlgorithm = OBJ_nid2ln(X509_get_signature_nid(x));
    PkeyPtr key(X509_get_pubkey(x));
    if (key) {
        const int type = EVP_PKEY_get_base_id(key.get());
        details.publicKeyAlgorithm = type == EVP_PKEY_RSA ? "RSA" : OBJ_nid2ln(type);
        details.publicKeyBits = EVP_PKEY_get_bits(key.get());
        if (type == EVP_PKEY_RSA) {
            details.modulus = BigNumberHex(key.get(), OSSL_PKEY_PARAM_RSA_N);
            details.exponent = BigNumberDecimal(key.get(), OSSL_PKEY_PARAM_RSA_E);
        }
    }
    details.sha1 = Digest(x, EVP_sha1());
    details.sha256 = Digest(x, EVP_sha256());
    for (int i = 0; i < X509_get_ext_count(x); ++i) {
        X509_EXTENSION* extension = X509_get_ext(x, i);
        const ASN1_OBJECT* object = X509_EXTENSION_get_object(extension);
        Extension item;
        item.name = AttributeName(OBJ_obj2nid(object), object);
        item.critical = X509_EXTENSION_get_critical(extension) != 0;
        BioPtr bio(BIO_new(BIO_s_mem()));
        if (X509V3_EXT_print(bio.get(), extension, 0, 0) != 1) {
            const ASN1_OCTET_STRING* data = X509_EXTENSION_get_data(extension);
            item.value = HexPairs(ASN1_STRING_get0_data(data), static_cast<size_t>(ASN1_STRING_length(data)));
        } else {
            item.value = BioText(bio.get());
        }
        details.extensions.push_back(std::move(item));
    }
    BioPtr pem(BIO_new(BIO_s_mem()));
    PEM_write_bio_X509(pem.get(), x);
    details.pem = BioText(pem.get());
    return details;
}

std::string DetailsText(const CertificateDetails& details)
{
    std::string text;
    const auto line = [&text](const std::string& label, const std::string& value) {
        text += label + ": " + value + "\n";
    };
    line("Subject", details.subjectLine);
    line("Issuer", details.issuerLine);
    line("Version", std::to_string(details.version));
    line("Serial Number", details.serialNumber);
    line("Not Before", details.notBefore);
    line("Not After", details.notAfter);
    line("Signature Algorithm", details.signatureAlgorithm);
    line("Public Key", details.publicKeyAlgorithm + " " + std::to_string(details.publicKeyBits) + " bits");
    if (!details.modulus.empty()) {
        line("Modulus", details.modulus);
        line("Exponent", details.exponent);
    }
    for (const Extension& extension : details.extensions) {
        line(extension.name + (extension.critical ? " (critical)" : ""), extension.value);
    }
    line("SHA-256 Fingerprint", details.sha256);
    line("SHA-1 Fingerprint", details.sha1);
    return text;
}

} // namespace certlens
