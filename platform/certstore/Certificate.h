// A certificate context: one X.509 certificate as its DER bytes, parsed by
// OpenSSL, with the properties crypt32 lets a caller attach to it (the key
// provider record that binds it to a key, the key spec). Copies share the
// parsed certificate and carry their own properties.
#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <memory>
#include <openssl/x509.h>
#include <string>
#include <vector>

namespace vela5::platform::CertStore {

// Windows error numbers and crypt32 results.
enum Status : long {
    Success = 0,
    AccessDenied = 5, // ERROR_ACCESS_DENIED: the store cannot be changed
    WriteFault = 29, // ERROR_WRITE_FAULT: a change could not be stored
    InvalidParameter = 87, // ERROR_INVALID_PARAMETER
    NotFound = 0x80092004L, // CRYPT_E_NOT_FOUND
    Exists = 0x80092005L, // CRYPT_E_EXISTS
    BadEncoding = 0x8009310BL, // CRYPT_E_ASN1_BADTAG: not a DER certificate
};

// Property numbers, as crypt32 numbers them.
enum PropertyId : uint32_t {
    KeyProvInfoPropId = 2, // CERT_KEY_PROV_INFO_PROP_ID
    KeySpecPropId = 6, // CERT_KEY_SPEC_PROP_ID
    FriendlyNamePropId = 11, // CERT_FRIENDLY_NAME_PROP_ID
};

constexpr uint32_t kProvRsaFull = 1; // PROV_RSA_FULL
constexpr uint32_t kAtKeyExchange = 1; // AT_KEYEXCHANGE
constexpr uint32_t kAtSignature = 2; // AT_SIGNATURE

// CRYPT_KEY_PROV_INFO without provider parameters (nobody here sets any).
// Texts are UTF-8 on this side.
struct KeyProvInfo {
    std::string containerName;
    std::string providerName;
    uint32_t providerType = 0;
    uint32_t flags = 0;
    uint32_t keySpec = 0;

    bool operator==(const KeyProvInfo&) const = default;
    std::vector<uint8_t> Serialize() const;
    // False when the bytes are not a serialized record.
    static bool Parse(const std::vector<uint8_t>& bytes, KeyProvInfo& out);
};

class Certificate final {
public:
    // CertCreateCertificateContext with X509_ASN_ENCODING: the bytes must
    // be exactly one DER certificate OpenSSL accepts (BadEncoding else).
    static long Create(const uint8_t* encoded, size_t size, Certificate& out);
    // OpenSSL's reason for the last refusal in this thread, for messages.
    static std::string LastParseError();

    bool IsValid() const { return m_x509 != nullptr; }
    const X509* Handle() const { return m_x509.get(); }
    const std::vector<uint8_t>& Encoded() const { return m_encoded; }

    // SHA-1 of the encoded certificate, and as 40 upper-case hex digits.
    std::vector<uint8_t> Sha1Hash() const;
    std::string Thumbprint() const;
    std::vector<uint8_t> SubjectEncoded() const;
    std::vector<uint8_t> IssuerEncoded() const;
    // Least significant byte first, as a certificate context stores it.
    std::vector<uint8_t> SerialNumberLittleEndian() const;
    // Upper-case hex, most significant byte first, as people read it.
    std::string SerialNumberText() const;
    // "YYYY-MM-DD HH:MM:SS UTC".
    std::string NotBeforeText() const;
    std::string NotAfterText() const;
    // CertNameToStrA of subject and issuer (default: X.500 keys, most
    // specific part first).
    std::string SubjectName(uint32_t strType = 0x02000003) const;
    std::string IssuerName(uint32_t strType = 0x02000003) const;
    std::string SimpleDisplayName() const;
    // CertComparePublicKeyInfo: same algorithm and key.
    bool SamePublicKey(const Certificate& other) const;

    // CertSetCertificateContextProperty / CertGetCertificateContextProperty.
    // Setting on an empty context fails with InvalidParameter: the agent's
    // skipped entries end its run there.
    long SetProperty(uint32_t id, std::vector<uint8_t> value);
    void RemoveProperty(uint32_t id);
    const std::vector<uint8_t>* Property(uint32_t id) const;
    const std::map<uint32_t, std::vector<uint8_t>>& Properties() const { return m_properties; }
    long SetKeyProvInfo(const KeyProvInfo& info);
    bool GetKeyProvInfo(KeyProvInfo& info) const;
    long SetKeySpec(uint32_t keySpec);
    bool GetKeySpec(uint32_t& keySpec) const;

private:
    std::shared_ptr<X509> m_x509;
    std::vector<uint8_t> m_encoded;
    std::map<uint32_t, std::vector<uint8_t>> m_properties;
};

// Little-endian 32-bit numbers inside stored records.
void AppendUint32(std::vector<uint8_t>& out, uint32_t value);
bool ReadUint32(const std::vector<uint8_t>& bytes, size_t& offset, uint32_t& value);

} // namespace vela5::platform::CertStore
