#include "X509Info.h"

#include "platform/certstore/CertName.h"
#include "platform/openssl/OpenSslPtr.h"
#include "platform/random/Random.h"

#include <climits>
#include <cstdio>
#include <openssl/bio.h>
#include <openssl/bn.h>
#include <openssl/core_names.h>
#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/pkcs7.h>
#include <openssl/x509.h>
#include <wx/intl.h>

using namespace vela5::platform;

namespace {

constexpr size_t kIdLength = 20;
// CERT_X500_NAME_STR with CERT_NAME_STR_REVERSE_FLAG: common name first.
constexpr uint32_t kReversedX500 = CertStore::X500NameStr | CertStore::NameStrReverseFlag;

void Replace(std::vector<uint8_t>& member, const uint8_t* source, uint32_t length)
{
    if (source == nullptr || length == 0) {
        return;
    }
    member.assign(source, source + length);
}

std::vector<uint8_t> NameDer(const X509_NAME* name)
{
    unsigned char* der = nullptr;
    const int length = i2d_X509_NAME(name, &der);
    std::vector<uint8_t> bytes;
    if (length > 0) {
        bytes.assign(der, der + length);
    }
    OPENSSL_free(der);
    return bytes;
}

std::vector<uint8_t> BigEndian(const EVP_PKEY* key, const char* parameter)
{
    BIGNUM* raw = nullptr;
    std::vector<uint8_t> bytes;
    if (EVP_PKEY_get_bn_param(key, parameter, &raw) == 1) {
        const BnPtr number(raw);
        bytes.resize(static_cast<size_t>(BN_num_bytes(number.get())));
        BN_bn2bin(number.get(), bytes.data());
    }
    return bytes;
}

// Fills a record from a parsed certificate; der is its encoding.
void Fill(X509Info& info, X509* certificate, const std::vector<uint8_t>& der)
{
    const ASN1_INTEGER* serial = X509_get0_serialNumber(certificate);
    info.SetSerialNumber(ASN1_STRING_get0_data(serial), static_cast<uint32_t>(ASN1_STRING_length(serial)));
    const std::vector<uint8_t> issuer = NameDer(X509_get_issuer_name(certificate));
    const std::vector<uint8_t> subject = NameDer(X509_get_subject_name(certificate));
    info.SetIssuer(issuer.data(), static_cast<uint32_t>(issuer.size()));
    info.SetSubject(subject.data(), static_cast<uint32_t>(subject.size()));
    // The label is the subject's display name in the C library's multibyte
    // encoding, without a terminator.
    const wxString label = GetDisplayName(subject.data(), subject.size());
    const wxCharBuffer multibyte = label.mb_str(*wxConvCurrent);
    if (multibyte.data() != nullptr) {
        info.SetLabel(
            reinterpret_cast<const uint8_t*>(multibyte.data()), static_cast<uint32_t>(multibyte.length()));
    }
    const PkeyPtr key(X509_get_pubkey(certificate));
    if (key && EVP_PKEY_get_base_id(key.get()) == EVP_PKEY_RSA) {
        const std::vector<uint8_t> modulus = BigEndian(key.get(), OSSL_PKEY_PARAM_RSA_N);
        const std::vector<uint8_t> exponent = BigEndian(key.get(), OSSL_PKEY_PARAM_RSA_E);
        // A zero modulus or exponent decodes but is no RSA key: neither number
        // is kept, so an import never makes a public key of half of one.
        if (!modulus.empty() && !exponent.empty()) {
            info.SetModulus(modulus.data(), static_cast<uint32_t>(modulus.size()));
            info.SetPublicExponent(exponent.data(), static_cast<uint32_t>(exponent.size()));
        }
    }
    info.SetValue(der.data(), static_cast<uint32_t>(der.size()));
}

std::vector<uint8_t> ReadWhole(BIO* bio)
{
    std::vector<uint8_t> bytes;
    unsigned char chunk[4096];
    int got = 0;
    while ((got = BIO_read(bio, chunk, sizeof chunk)) > 0) {
        bytes.insert(bytes.end(), chunk, chunk + got);
    }
    return bytes;
}

} // namespace

X509Info::X509Info()
{
    std::vector<uint8_t> id(kIdLength);
    if (Random::Fill(id.data(), id.size())) {
        m_id = std::move(id);
    }
}

X509Info::~X509Info() = default;

void X509Info::SetPublicExponent(const uint8_t* source, uint32_t length)
{
    Replace(m_publicExponent, source, length);
}

void X509Info::SetModulus(const uint8_t* source, uint32_t length)
{
    Replace(m_modulus, source, length);
}

void X509Info::SetSerialNumber(const uint8_t* source, uint32_t length)
{
    // The one length byte of the DER form holds 127 at most in short form.
    if (source == nullptr || length == 0 || length > 127) {
        return;
    }
    m_serialNumber.assign({ 0x02, static_cast<uint8_t>(length) });
    m_serialNumber.insert(m_serialNumber.end(), source, source + length);
}

void X509Info::SetSubject(const uint8_t* source, uint32_t length)
{
    Replace(m_subject, source, length);
}

void X509Info::SetIssuer(const uint8_t* source, uint32_t length)
{
    Replace(m_issuer, source, length);
}

void X509Info::SetLabel(const uint8_t* source, uint32_t length)
{
    Replace(m_label, source, length);
}

void X509Info::SetValue(const uint8_t* source, uint32_t length)
{
    Replace(m_value, source, length);
}

void X509Info::SetID(const uint8_t* source, uint32_t length)
{
    Replace(m_id, source, length);
}

int ReadCertificateFile(
    const wxString& path, CertificateFileKind kind, std::vector<std::unique_ptr<X509Info>>& list)
{
    const wxCharBuffer file = path.mb_str(*wxConvCurrent);
    if (file.data() == nullptr || file.length() == 0) {
        return 0;
    }
    const BioPtr bio(BIO_new_file(file.data(), "rb"));
    if (!bio) {
        return 0;
    }
    // The whole file is read once; both kinds decode from memory.
    const std::vector<uint8_t> bytes = ReadWhole(bio.get());
    return ReadCertificateBytes(bytes.data(), bytes.size(), kind, list);
}

int ReadCertificateBytes(const uint8_t* bytes, size_t length, CertificateFileKind kind,
    std::vector<std::unique_ptr<X509Info>>& list)
{
    if (bytes == nullptr || length == 0 || length > static_cast<size_t>(LONG_MAX)) {
        return 0;
    }
    // A file that does not decode leaves its reasons in the thread's error
    // queue: cleared on the way out, so no later call reads them as its own.
    const std::unique_ptr<void, void (*)(void*)> clearErrors(
        reinterpret_cast<void*>(1), [](void*) { ERR_clear_error(); });
    const unsigned char* cursor = bytes;
    if (kind == CertificateFileKind::Der) {
        const X509Ptr certificate(d2i_X509(nullptr, &cursor, static_cast<long>(length)));
        if (!certificate) {
            return 0;
        }
        // The certificate's own encoding: bytes after it are not part of it.
        auto info = std::make_unique<X509Info>();
        Fill(*info, certificate.get(), std::vector<uint8_t>(bytes, cursor));
        list.push_back(std::move(info));
        return 1;
    }
    const Pkcs7Ptr pkcs7(d2i_PKCS7(nullptr, &cursor, static_cast<long>(length)));
    if (!pkcs7) {
        return 0;
    }
    STACK_OF(X509)* certificates = nullptr;
    switch (OBJ_obj2nid(pkcs7->type)) {
    case NID_pkcs7_signed:
        certificates = pkcs7->d.sign != nullptr ? pkcs7->d.sign->cert : nullptr;
        break;
    case NID_pkcs7_signedAndEnveloped:
        certificates
            = pkcs7->d.signed_and_enveloped != nullptr ? pkcs7->d.signed_and_enveloped->cert : nullptr;
        break;
    default:
        return 0;
    }
    const int count = certificates != nullptr ? sk_X509_num(certificates) : 0;
    if (count <= 0) {
        return 0;
    }
    // Every certificate of a bundle gets a record of its own (and its own
    // ID), in the bundle's order; the count is the records filled, so an
    // import never reads a record that is not there.
    std::vector<std::unique_ptr<X509Info>> filled;
    filled.reserve(static_cast<size_t>(count));
    for (int i = 0; i < count; ++i) {
        X509* certificate = sk_X509_value(certificates, i);
        unsigned char* der = nullptr;
        const int derLength = certificate != nullptr ? i2d_X509(certificate, &der) : 0;
        if (derLength <= 0) {
            OPENSSL_free(der);
            return 0;
        }
        const std::vector<uint8_t> value(der, der + derLength);
        OPENSSL_free(der);
        auto info = std::make_unique<X509Info>();
        Fill(*info, certificate, value);
        filled.push_back(std::move(info));
    }
    list.insert(list.begin(), std::make_move_iterator(filled.begin()), std::make_move_iterator(filled.end()));
    return static_cast<int>(filled.size());
}

wxString DisplayNameFromText(const std::string& text)
{
    if (text.empty()) {
        return _("Error");
    }
    // The most specific of CN, then O: the value up to the next attribute.
    for (const char* key : { "CN=", "O=" }) {
        const size_t at = text.find(key);
        if (at == std::string::npos) {
            continue;
        }
        std::string rest = text.substr(at + std::char_traits<char>::length(key));
        const size_t equals = rest.find('=');
        if (equals == std::string::npos) {
            return wxString::FromUTF8(rest.c_str());
        }
        rest = rest.substr(0, equals);
        const size_t comma = rest.rfind(',');
        return wxString::FromUTF8(rest.substr(0, comma).c_str());
    }
    const size_t comma = text.find(',');
    if (comma != std::string::npos) {
        return wxString::FromUTF8(text.substr(0, comma).c_str());
    }
    const size_t equals = text.find('=');
    return wxString::FromUTF8(equals == std::string::npos ? text.c_str() : text.substr(equals + 1).c_str());
}

wxString GetDisplayName(const uint8_t* name, size_t length)
{
    if (name == nullptr || length == 0) {
        return _("Error");
    }
    return DisplayNameFromText(CertStore::NameToStr(name, length, kReversedX500));
}

wxString GetKeyIdText(const uint8_t* id, size_t length)
{
    size_t shown = length;
    while (shown > 1 && id[shown - 1] == 0) {
        --shown;
    }
    wxString text;
    for (size_t i = 0; i < shown && id != nullptr; ++i) {
        text += wxString::Format("%02X", static_cast<unsigned>(id[i]));
    }
    return text;
}
