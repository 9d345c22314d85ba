#include "platform/certstore/Certificate.h"

#include "platform/certstore/CertName.h"

#include <climits>
#include <openssl/asn1.h>
#include <openssl/bn.h>
#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/sha.h>

namespace vela5::platform::CertStore {
namespace {

std::vector<uint8_t> NameBytes(const X509_NAME* name)
{
    const unsigned char* der = nullptr;
    size_t size = 0;
    if (name == nullptr || X509_NAME_get0_der(const_cast<X509_NAME*>(name), &der, &size) != 1) {
        return {};
    }
    return std::vector<uint8_t>(der, der + size);
}

std::string TimeText(const ASN1_TIME* time)
{
    struct tm parts { };
    if (time == nullptr || ASN1_TIME_to_tm(time, &parts) != 1) {
        return "?";
    }
    char text[80];
    std::snprintf(text, sizeof text, "%04d-%02d-%02d %02d:%02d:%02d UTC", parts.tm_year + 1900,
        parts.tm_mon + 1, parts.tm_mday, parts.tm_hour, parts.tm_min, parts.tm_sec);
    return text;
}

bool ReadText(const std::vector<uint8_t>& bytes, size_t& offset, std::string& text)
{
    uint32_t length = 0;
    if (!ReadUint32(bytes, offset, length) || bytes.size() - offset < length) {
        return false;
    }
    text.assign(bytes.begin() + static_cast<ptrdiff_t>(offset),
        bytes.begin() + static_cast<ptrdiff_t>(offset + length));
    offset += length;
    return true;
}

void AppendText(std::vector<uint8_t>& out, const std::string& text)
{
    AppendUint32(out, static_cast<uint32_t>(text.size()));
    out.insert(out.end(), text.begin(), text.end());
}

thread_local std::string t_lastParseError;

} // namespace

void AppendUint32(std::vector<uint8_t>& out, uint32_t value)
{
    for (int shift = 0; shift < 32; shift += 8) {
        out.push_back(static_cast<uint8_t>(value >> shift));
    }
}

bool ReadUint32(const std::vector<uint8_t>& bytes, size_t& offset, uint32_t& value)
{
    if (offset > bytes.size() || bytes.size() - offset < 4) {
        return false;
    }
    value = 0;
    for (int i = 3; i >= 0; --i) {
        value = (value << 8) | bytes[offset + static_cast<size_t>(i)];
    }
    offset += 4;
    return true;
}

std::vector<uint8_t> KeyProvInfo::Serialize() const
{
    std::vector<uint8_t> out;
    AppendUint32(out, providerType);
    AppendUint32(out, flags);
    AppendUint32(out, keySpec);
    AppendText(out, containerName);
    AppendText(out, providerName);
    return out;
}

bool KeyProvInfo::Parse(const std::vector<uint8_t>& bytes, KeyProvInfo& out)
{
    KeyProvInfo info;
    size_t offset = 0;
    if (!ReadUint32(bytes, offset, info.providerType) || !ReadUint32(bytes, offset, info.flags)
        || !ReadUint32(bytes, offset, info.keySpec) || !ReadText(bytes, offset, info.containerName)
        || !ReadText(bytes, offset, info.providerName) || offset != bytes.size()) {
        return false;
    }
    out = std::move(info);
    return true;
}

long Certificate::Create(const uint8_t* encoded, size_t size, Certificate& out)
{
    out = Certificate();
    t_lastParseError.clear();
    if (encoded == nullptr || size == 0 || size > static_cast<size_t>(LONG_MAX)) {
        t_lastParseError = "no data";
        return BadEncoding;
    }
    ERR_clear_error();
    const unsigned char* cursor = encoded;
    X509* parsed = d2i_X509(nullptr, &cursor, static_cast<long>(size));
    if (parsed == nullptr || cursor != encoded + size) {
        const unsigned long code = ERR_peek_last_error();
        char reason[256] = "bytes after the certificate";
        if (parsed == nullptr) {
            ERR_error_string_n(code, reason, sizeof reason);
        }
        t_lastParseError = reason;
        X509_free(parsed);
        ERR_clear_error();
        return BadEncoding;
    }
    out.m_x509.reset(parsed, X509_free);
    out.m_encoded.assign(encoded, encoded + size);
    return Success;
}

std::string Certificate::LastParseError()
{
    return t_lastParseError;
}

std::vector<uint8_t> Certificate::Sha1Hash() const
{
    std::vector<uint8_t> hash(SHA_DIGEST_LENGTH);
    SHA1(m_encoded.data(), m_encoded.size(), hash.data());
    return hash;
}

std::string Certificate::Thumbprint() const
{
    static const char* const hex = "0123456789ABCDEF";
    std::string text;
    for (const uint8_t byte : Sha1Hash()) {
        text += hex[byte >> 4];
        text += hex[byte & 0x0F];
    }
    return text;
}

std::vector<uint8_t> Certificate::SubjectEncoded() const
{
    return m_x509 ? NameBytes(X509_get_subject_name(m_x509.get())) : std::vector<uint8_t>();
}

std::vector<uint8_t> Certificate::IssuerEncoded() const
{
    return m_x509 ? NameBytes(X509_get_issuer_name(m_x509.get())) : std::vector<uint8_t>();
}

std::vector<uint8_t> Certificate::SerialNumberLittleEndian() const
{
    if (!m_x509) {
        return {};
    }
    // The INTEGER's content octets (two's complement, most significant
    // first), reversed, as CERT_INFO keeps them.
    const ASN1_INTEGER* serial = X509_get0_serialNumber(m_x509.get());
    unsigned char* der = nullptr;
    const int length = i2d_ASN1_INTEGER(serial, &der);
    std::vector<uint8_t> bytes;
    if (length > 2) {
        // Tag, then a short or long length form, then the content.
        size_t offset = 1;
        const uint8_t first = der[offset++];
        if ((first & 0x80) != 0) {
            offset += first & 0x7F;
        }
        bytes.assign(der + offset, der + length);
    }
    OPENSSL_free(der);
    return std::vector<uint8_t>(bytes.rbegin(), bytes.rend());
}

std::string Certificate::SerialNumberText() const
{
    static const char* const hex = "0123456789ABCDEF";
    const std::vector<uint8_t> little = SerialNumberLittleEndian();
    std::string text;
    for (auto it = little.rbegin(); it != little.rend(); ++it) {
        text += hex[*it >> 4];
        text += hex[*it & 0x0F];
    }
    return text;
}

std::string Certificate::NotBeforeText() const
{
    return m_x509 ? TimeText(X509_get0_notBefore(m_x509.get())) : std::string();
}

std::string Certificate::NotAfterText() const
{
    return m_x509 ? TimeText(X509_get0_notAfter(m_x509.get())) : std::string();
}

std::string Certificate::SubjectName(uint32_t strType) const
{
    return m_x509 ? NameToStr(X509_get_subject_name(m_x509.get()), strType) : std::string();
}

std::string Certificate::IssuerName(uint32_t strType) const
{
    return m_x509 ? NameToStr(X509_get_issuer_name(m_x509.get()), strType) : std::string();
}

std::string Certificate::SimpleDisplayName() const
{
    return CertStore::SimpleDisplayName(m_x509.get());
}

bool Certificate::SamePublicKey(const Certificate& other) const
{
    if (!m_x509 || !other.m_x509) {
        return false;
    }
    // Keys compared by value, so the same RSA key written with or without
    // NULL algorithm parameters still matches; the encoded key info decides
    // for key types OpenSSL cannot load.
    const EVP_PKEY* mine = X509_get0_pubkey(m_x509.get());
    const EVP_PKEY* theirs = X509_get0_pubkey(other.m_x509.get());
    if (mine != nullptr && theirs != nullptr) {
        return EVP_PKEY_eq(mine, theirs) == 1;
    }
    const auto encode = [](const X509* certificate) {
        unsigned char* der = nullptr;
        const int length = i2d_X509_PUBKEY(X509_get_X509_PUBKEY(certificate), &der);
        std::vector<uint8_t> bytes;
        if (length > 0) {
            bytes.assign(der, der + length);
        }
        OPENSSL_free(der);
        return bytes;
    };
    const std::vector<uint8_t> a = encode(m_x509.get());
    return !a.empty() && a == encode(other.m_x509.get());
}

long Certificate::SetProperty(uint32_t id, std::vector<uint8_t> value)
{
    if (!m_x509) {
        return InvalidParameter;
    }
    m_properties[id] = std::move(value);
    return Success;
}

void Certificate::RemoveProperty(uint32_t id)
{
    m_properties.erase(id);
}

const std::vector<uint8_t>* Certificate::Property(uint32_t id) const
{
    const auto found = m_properties.find(id);
    return found == m_properties.end() ? nullptr : &found->second;
}

long Certificate::SetKeyProvInfo(const KeyProvInfo& info)
{
    return SetProperty(KeyProvInfoPropId, info.Serialize());
}

bool Certificate::GetKeyProvInfo(KeyProvInfo& info) const
{
    const std::vector<uint8_t>* bytes = Property(KeyProvInfoPropId);
    return bytes != nullptr && KeyProvInfo::Parse(*bytes, info);
}

long Certificate::SetKeySpec(uint32_t keySpec)
{
    std::vector<uint8_t> bytes;
    AppendUint32(bytes, keySpec);
    return SetProperty(KeySpecPropId, std::move(bytes));
}

bool Certificate::GetKeySpec(uint32_t& keySpec) const
{
    const std::vector<uint8_t>* bytes = Property(KeySpecPropId);
    size_t offset = 0;
    return bytes != nullptr && bytes->size() == 4 && ReadUint32(*bytes, offset, keySpec);
}

} // namespace vela5::platform::CertStore
