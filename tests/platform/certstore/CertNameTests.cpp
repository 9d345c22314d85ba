// Names as crypt32 writes them, certificates as contexts: what the
// certificate manager, the provider and the store tool show and compare.
#include "platform/certstore/CertName.h"
#include "platform/certstore/Certificate.h"
#include "tests/support/TestCertificates.h"

#include <gtest/gtest.h>

using namespace vela5::platform::CertStore;

namespace {

const TestKey& SharedKey()
{
    static const TestKey key = MakeRsaKey();
    return key;
}

Certificate Make(const std::string& subject, long serial = 1, std::vector<std::string> emails = {},
    const TestKey& key = SharedKey())
{
    TestCertificateFields fields;
    fields.subject = subject;
    fields.serial = serial;
    fields.emails = std::move(emails);
    const std::vector<uint8_t> der = MakeCertificate(fields, key);
    Certificate certificate;
    EXPECT_EQ(Certificate::Create(der.data(), der.size(), certificate), Success);
    return certificate;
}

constexpr uint32_t kReverseX500 = X500NameStr | NameStrReverseFlag;

struct NameCase {
    const char* subject;
    uint32_t type;
    const char* expected;
};

} // namespace

TEST(CertName, NameToStrFormsFlagsAndQuoting)
{
    const NameCase cases[] = {
        { "/C=US/O=Acme, Inc./CN=Alice Smith", kReverseX500, "CN=Alice Smith, O=\"Acme, Inc.\", C=US" },
        { "/C=US/O=Acme, Inc./CN=Alice Smith", X500NameStr, "C=US, O=\"Acme, Inc.\", CN=Alice Smith" },
        { "/C=US/O=Acme, Inc./CN=Alice Smith", SimpleNameStr | NameStrReverseFlag,
            "Alice Smith, \"Acme, Inc.\", US" },
        { "/C=US/O=Acme, Inc./CN=Alice Smith", OidNameStr | NameStrReverseFlag,
            "2.5.4.3=Alice Smith, 2.5.4.10=\"Acme, Inc.\", 2.5.4.6=US" },
        { "/C=US/O=Acme, Inc./CN=Alice Smith", kReverseX500 | NameStrSemicolonFlag,
            "CN=Alice Smith; O=\"Acme, Inc.\"; C=US" },
        { "/C=US/O=Acme, Inc./CN=Alice Smith", kReverseX500 | NameStrNoQuotingFlag,
            "CN=Alice Smith, O=Acme, Inc., C=US" },
        { "/C=US/CN=Alice", kReverseX500 | NameStrCrlfFlag, "CN=Alice\r\nC=US" },
        { "/emailAddress=a@b.example/CN=Say \"hi\"", kReverseX500, "CN=\"Say \"\"hi\"\"\", E=a@b.example" },
        { "/CN= padded ", kReverseX500, "CN=\" padded \"" },
        { "/ST=Sofia/L=Sofia/street=Main 1/OU=Dev/title=Eng/DC=example/serialNumber=42/GN=Al/SN=Smith",
            X500NameStr,
            "S=Sofia, L=Sofia, STREET=Main 1, OU=Dev, T=Eng, DC=example, SERIALNUMBER=42, G=Al, SN=Smith" },
        { "/1.2.3.4=xyz", X500NameStr, "OID.1.2.3.4=xyz" },
        { "/CN=Иван", X500NameStr, "CN=Иван" },
        // One part of two values (as encoded: DER sorts a part's values).
        { "/O=Acme/CN=Al+CN=Bo", kReverseX500, "CN=Al + CN=Bo, O=Acme" },
        { "/O=Acme/CN=Al+CN=Bo", kReverseX500 | NameStrNoPlusFlag, "CN=Al CN=Bo, O=Acme" },
    };
    for (const NameCase& c : cases) {
        EXPECT_EQ(Make(c.subject).SubjectName(c.type), c.expected)
            << c.subject << " type " << std::hex << c.type;
    }
}

TEST(CertName, EncodedNamesAreReadAndGarbageGivesNothing)
{
    const Certificate certificate = Make("/C=BG/O=Nurvon/CN=Token User");
    const std::vector<uint8_t> subject = certificate.SubjectEncoded();
    EXPECT_EQ(NameToStr(subject.data(), subject.size(), kReverseX500), "CN=Token User, O=Nurvon, C=BG");
    EXPECT_EQ(certificate.IssuerName(), "CN=Token User, O=Nurvon, C=BG") << "self-signed";
    const uint8_t garbage[] = { 0x30, 0x05, 0x01, 0x02 };
    EXPECT_EQ(NameToStr(garbage, sizeof garbage, kReverseX500), "");
    EXPECT_EQ(NameToStr(subject.data(), subject.size() - 1, kReverseX500), "") << "cut short";
    EXPECT_EQ(NameToStr(subject.data(), subject.size(), 7), "") << "unknown string type";
}

TEST(CertName, SimpleDisplayNameTakesTheFirstKindPresent)
{
    const struct {
        const char* subject;
        std::vector<std::string> emails;
        const char* expected;
    } cases[] = {
        { "/C=US/O=Acme/OU=Dev/CN=Alice", {}, "Alice" },
        { "/C=US/O=Acme/OU=Dev", {}, "Dev" },
        { "/C=US/O=Acme", {}, "Acme" },
        { "/C=US/emailAddress=x@y.example", {}, "x@y.example" },
        { "/C=US", { "alt@y.example" }, "alt@y.example" },
        { "/C=US/L=Sofia", {}, "US" },
        { "", {}, "" },
    };
    for (const auto& c : cases) {
        EXPECT_EQ(Make(c.subject, 1, c.emails).SimpleDisplayName(), c.expected) << c.subject;
    }
}

TEST(Certificate, RefusesWhatIsNotExactlyOneDerCertificate)
{
    const std::vector<uint8_t> der = MakeCertificate({}, SharedKey());
    Certificate certificate;
    EXPECT_EQ(Certificate::Create(der.data(), der.size() - 1, certificate), BadEncoding) << "truncated";
    EXPECT_FALSE(certificate.IsValid());
    EXPECT_FALSE(Certificate::LastParseError().empty());
    std::vector<uint8_t> longer = der;
    longer.push_back(0);
    EXPECT_EQ(Certificate::Create(longer.data(), longer.size(), certificate), BadEncoding) << "trailing byte";
    const uint8_t text[] = "-----BEGIN CERTIFICATE-----";
    EXPECT_EQ(Certificate::Create(text, sizeof text, certificate), BadEncoding);
    EXPECT_EQ(Certificate::Create(nullptr, 0, certificate), BadEncoding);
    ASSERT_EQ(Certificate::Create(der.data(), der.size(), certificate), Success);
    EXPECT_EQ(certificate.Encoded(), der);
    EXPECT_EQ(certificate.Thumbprint().size(), 40u);
    EXPECT_EQ(certificate.Thumbprint().find_first_not_of("0123456789ABCDEF"), std::string::npos);
}

TEST(Certificate, SerialNumberLeastSignificantByteFirst)
{
    const Certificate small = Make("/CN=S", 0x0102);
    EXPECT_EQ(small.SerialNumberLittleEndian(), (std::vector<uint8_t> { 0x02, 0x01 }));
    EXPECT_EQ(small.SerialNumberText(), "0102");
    // A leading zero byte keeps a high bit from reading as negative.
    const Certificate high = Make("/CN=S", 0x80);
    EXPECT_EQ(high.SerialNumberLittleEndian(), (std::vector<uint8_t> { 0x80, 0x00 }));
    EXPECT_EQ(high.SerialNumberText(), "0080");
}

TEST(Certificate, SamePublicKeyComparesKeysNotCertificates)
{
    const TestKey other = MakeRsaKey();
    const Certificate a = Make("/CN=A", 1);
    const Certificate b = Make("/CN=B", 2);
    const Certificate c = Make("/CN=A", 1, {}, other);
    EXPECT_NE(a.Thumbprint(), b.Thumbprint());
    EXPECT_TRUE(a.SamePublicKey(b));
    EXPECT_FALSE(a.SamePublicKey(c));
    EXPECT_FALSE(a.SamePublicKey(Certificate())) << "an empty context matches nothing";
}

TEST(Certificate, KeyProviderRecordAndKeySpecRoundTrip)
{
    Certificate certificate = Make("/CN=K");
    const KeyProvInfo info { "\\\\.\\VELA5 Reader 0\\0A0B", "Nurvon CSP v4.0", kProvRsaFull, 0,
        kAtKeyExchange };
    ASSERT_EQ(certificate.SetKeyProvInfo(info), Success);
    ASSERT_EQ(certificate.SetKeySpec(kAtKeyExchange), Success);
    Certificate empty;
    EXPECT_EQ(empty.SetKeyProvInfo(info), InvalidParameter) << "a skipped entry has no context to bind";
    EXPECT_TRUE(empty.Properties().empty());
    KeyProvInfo read;
    ASSERT_TRUE(certificate.GetKeyProvInfo(read));
    EXPECT_EQ(read, info);
    uint32_t keySpec = 0;
    ASSERT_TRUE(certificate.GetKeySpec(keySpec));
    EXPECT_EQ(keySpec, kAtKeyExchange);

    std::vector<uint8_t> bytes = info.Serialize();
    bytes.pop_back();
    EXPECT_FALSE(KeyProvInfo::Parse(bytes, read)) << "cut short";
    bytes = info.Serialize();
    bytes.push_back(0);
    EXPECT_FALSE(KeyProvInfo::Parse(bytes, read)) << "bytes after the record";
    certificate.SetProperty(KeyProvInfoPropId, { 1, 2, 3 });
    EXPECT_FALSE(certificate.GetKeyProvInfo(read));
    certificate.RemoveProperty(KeySpecPropId);
    EXPECT_FALSE(certificate.GetKeySpec(keySpec));
}
