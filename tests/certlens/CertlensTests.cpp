// What the viewer reads from a certificate, checked against OpenSSL's own
// answers computed here.
#include "certlens/CertificateDetails.h"
#include "tests/support/TestCertificates.h"

#include <gtest/gtest.h>
#include <openssl/evp.h>

using certlens::ReadCertificateDetails;

namespace {

std::string Fingerprint(const std::vector<uint8_t>& der, const EVP_MD* type)
{
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    EXPECT_EQ(EVP_Digest(der.data(), der.size(), digest, &length, type, nullptr), 1);
    return certlens::HexPairs(digest, length);
}

} // namespace

TEST(CertificateDetails, ReadsNamesSerialKeyAndFingerprints)
{
    TestCertificateFields fields;
    fields.subject = "/C=US/O=Acme/OU=Sales/CN=Alice Example";
    fields.serial = 0x01AB;
    fields.emails = { "alice@example.com" };
    const std::vector<uint8_t> der = MakeCertificate(fields, MakeRsaKey(1024));
    const auto details = ReadCertificateDetails(der.data(), der.size());
    ASSERT_TRUE(details.has_value());
    EXPECT_EQ(details->commonName, "Alice Example");
    EXPECT_EQ(details->issuerCommonName, "Alice Example") << "self-signed";
    EXPECT_EQ(details->subjectLine, "CN = Alice Example, OU = Sales, O = Acme, C = US");
    EXPECT_EQ(details->subject.size(), 4u);
    EXPECT_EQ(details->subject[1], (certlens::Field { "Organization", "Acme" }));
    EXPECT_EQ(details->serialNumber, "01:AB");
    EXPECT_EQ(details->version, 3);
    EXPECT_EQ(details->publicKeyAlgorithm, "RSA");
    EXPECT_EQ(details->publicKeyBits, 1024);
    EXPECT_EQ(details->exponent, "65537");
    EXPECT_EQ(details->modulus.size(), 128u * 3 - 1) << "128 bytes as hex pairs";
    EXPECT_EQ(details->sha1, Fingerprint(der, EVP_sha1()));
    EXPECT_EQ(details->sha256, Fingerprint(der, EVP_sha256()));
    EXPECT_EQ(details->pem.rfind("-----BEGIN CERTIFICATE-----\n", 0), 0u);
    bool alternativeName = false;
    for (const certlens::Extension& extension : details->extensions) {
        if (extension.name == "X509v3 Subject Alternative Name") {
            alternativeName = extension.value.find("alice@example.com") != std::string::npos;
        }
    }
    EXPECT_TRUE(alternativeName) << "extensions are read with their values";
    const std::string text = certlens::DetailsText(*details);
    EXPECT_NE(text.find("SHA-256 Fingerprint: " + details->sha256 + "\n"), std::string::npos) << text;
}

TEST(CertificateDetails, RefusesWhatIsNotExactlyOneCertificate)
{
    const std::vector<uint8_t> der = MakeCertificate({}, MakeRsaKey(512));
    std::vector<uint8_t> withTrailing = der;
    withTrailing.push_back(0);
    const std::vector<uint8_t> trailing = withTrailing;
    const std::vector<uint8_t> truncated(der.begin(), der.end() - 1);
    const std::vector<uint8_t> junk = { 0x30, 0x03, 0x02, 0x01, 0x01 };
    for (const auto* bytes : { &trailing, &truncated, &junk }) {
        EXPECT_FALSE(ReadCertificateDetails(bytes->data(), bytes->size()).has_value());
    }
    EXPECT_FALSE(ReadCertificateDetails(nullptr, 10).has_value());
    EXPECT_FALSE(ReadCertificateDetails(der.data(), 0).has_value());
}
