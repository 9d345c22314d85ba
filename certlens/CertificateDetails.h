// Everything the details dialog shows about a certificate, read with
// OpenSSL into plain text, so the reading is tested without a display.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace certlens {

using Field = std::pair<std::string, std::string>;

struct Extension {
    std::string name;
    bool critical = false;
    std::string value;
};

struct CertificateDetails {
    // Name parts, most general first as the certificate holds them, with
    // readable attribute names ("Common Name", "Organization").
    std::vector<Field> subject;
    std::vector<Field> issuer;
    // One line each, most specific part first ("CN=Alice, O=Acme, C=US").
    std::string subjectLine;
    std::string issuerLine;
    std::string commonName;
    std::string issuerCommonName;
    long version = 0;
    // Upper-case hex pairs joined by ':'.
    std::string serialNumber;
    // "2026-12-09 02:56:25 UTC"
    std::string notBefore;
    std::string notAfter;
    std::string signatureAlgorithm;
    std::string publicKeyAlgorithm;
    int publicKeyBits = 0;
    // RSA only: the modulus as hex pairs, the exponent in decimal.
    std::string modulus;
    std::string exponent;
    std::string sha1;
    std::string sha256;
    std::vector<Extension> extensions;
    std::string pem;
};

// Empty for bytes that are not exactly one DER certificate.
std::optional<CertificateDetails> ReadCertificateDetails(const uint8_t* der, size_t length);

// "AB:CD:EF" for the bytes.
std::string HexPairs(const uint8_t* bytes, size_t length);

// The details as plain text, one "Label: value" a line, for the clipboard.
std::string DetailsText(const CertificateDetails& details);

} // namespace certlens
