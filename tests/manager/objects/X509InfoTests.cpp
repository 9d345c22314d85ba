// The certificate description: reading certificate files, names, key IDs.
#include "manager/objects/X509Info.h"
#include "tests/support/ScopedTestRoot.h"
#include "tests/support/TestCertificates.h"

#include <gtest/gtest.h>
#include <openssl/bn.h>
#include <openssl/core_names.h>
#include <openssl/pkcs7.h>
#include <openssl/x509.h>

namespace {

std::vector<uint8_t> NameDer(const std::string& subject)
{
    TestCertificateFields fields;
    fields.subject = subject;
    const std::vector<uint8_t> der = MakeCertificate(fields, MakeRsaKey(512));
    const unsigned char* cursor = der.data();
    X509* certificate = d2i_X509(nullptr, &cursor, static_cast<long>(der.size()));
    unsigned char* name = nullptr;
    const int length = i2d_X509_NAME(X509_get_subject_name(certificate), &name);
    std::vector<uint8_t> bytes(name, name + length);
    OPENSSL_free(name);
    X509_free(certificate);
    return bytes;
}

// A PKCS #7 file of the given type holding the certificates (signed data) or none.
void WritePkcs7(
    const std::filesystem::path& file, int type, const std::vector<std::vector<uint8_t>>& certificates)
{
    WriteBytes(file, MakePkcs7(type, certificates));
}

// One DER element of fewer than 256 content bytes.
std::vector<uint8_t> Tlv(uint8_t tag, std::initializer_list<std::vector<uint8_t>> parts)
{
    std::vector<uint8_t> element { tag };
    size_t size = 0;
    for (const std::vector<uint8_t>& part : parts) {
        size += part.size();
    }
    EXPECT_LT(size, 256u);
    if (size >= 128) {
        element.push_back(0x81);
    }
    element.push_back(static_cast<uint8_t>(size));
    for (const std::vector<uint8_t>& part : parts) {
        element.insert(element.end(), part.begin(), part.end());
    }
    return element;
}

// A certificate for the RSA numbers given as INTEGER contents, which no key
// generator makes when they are zero; the signature is not checked here.
std::vector<uint8_t> CertificateWithRsaNumbers(
    const std::vector<uint8_t>& modulus, const std::vector<uint8_t>& exponent)
{
    const std::vector<uint8_t> sha256Rsa = Tlv(
        0x30, { Tlv(0x06, { { 0x2a, 0x86, 0x48, 0x86, 0xf7, 0x0d, 0x01, 0x01, 0x0b } }), Tlv(0x05, {}) });
    const std::vector<uint8_t> name = Tlv(
        0x30, { Tlv(0x31, { Tlv(0x30, { Tlv(0x06, { { 0x55, 0x04, 0x03 } }), Tlv(0x0c, { { 'T' } }) }) }) });
    const std::vector<uint8_t> time(
        Tlv(0x17, { { '2', '0', '0', '1', '0', '1', '0', '0', '0', '0', '0', '0', 'Z' } }));
    const std::vector<uint8_t> rsaKey = Tlv(0x30, { Tlv(0x02, { modulus }), Tlv(0x02, { exponent }) });
    std::vector<uint8_t> bits { 0x00 };
    bits.insert(bits.end(), rsaKey.begin(), rsaKey.end());
    const std::vector<uint8_t> spki = Tlv(0x30,
        { Tlv(0x30,
              { Tlv(0x06, { { 0x2a, 0x86, 0x48, 0x86, 0xf7, 0x0d, 0x01, 0x01, 0x01 } }), Tlv(0x05, {}) }),
            Tlv(0x03, { bits }) });
    const std::vector<uint8_t> tbs = Tlv(0x30,
        { Tlv(0xa0, { Tlv(0x02, { { 0x02 } }) }), Tlv(0x02, { { 0x01 } }), sha256Rsa, name,
            Tlv(0x30, { time, time }), name, spki });
    return Tlv(0x30, { tbs, sha256Rsa, Tlv(0x03, { { 0x00 } }) });
}

} // namespace

TEST(X509Info, DisplayNameTakesTheMostSpecificPart)
{
    const struct {
        const char* subject;
        const char* expected;
    } cases[] = {
        { "/C=US/O=Acme/CN=Alice", "Alice" },
        { "/O=Acme", "Acme" },
        { "/C=US/OU=Sales", "OU=Sales" },
        { "/emailAddress=alice@example.com", "alice@example.com" },
        { "/C=BG/CN=\xD0\x98\xD0\xB2\xD0\xB0\xD0\xBD", "\xD0\x98\xD0\xB2\xD0\xB0\xD0\xBD" },
        { "", "Error" },
    };
    for (const auto& c : cases) {
        const std::vector<uint8_t> der = NameDer(c.subject);
        EXPECT_EQ(GetDisplayName(der.data(), der.size()), wxString::FromUTF8(c.expected)) << c.subject;
    }
    EXPECT_EQ(GetDisplayName(nullptr, 0), "Error");
    EXPECT_EQ(DisplayNameFromText("CN=Alice, O=Acme, C=US"), "Alice");
    EXPECT_EQ(DisplayNameFromText("CN=Bob"), "Bob");
}

TEST(X509Info, KeyIdTextDropsTrailingZeroBytesButKeepsOne)
{
    const struct {
        std::vector<uint8_t> id;
        const char* text;
    } cases[] = {
        { { 0x01, 0xAB, 0x00, 0x00 }, "01AB" },
        { { 0x00 }, "00" },
        { { 0x00, 0x00, 0x00 }, "00" },
        { { 0x00, 0x0F }, "000F" },
        { {}, "" },
    };
    for (const auto& c : cases) {
        EXPECT_EQ(GetKeyIdText(c.id.data(), c.id.size()), c.text);
    }
}

TEST(X509Info, SettersKeepTheMemberForNullOrEmptySources)
{
    X509Info info;
    const uint8_t bytes[] = { 1, 2, 3 };
    info.SetSubject(bytes, 3);
    info.SetSubject(nullptr, 3);
    info.SetSubject(bytes, 0);
    EXPECT_EQ(info.GetSubject(), (std::vector<uint8_t> { 1, 2, 3 }));
    info.SetSerialNumber(bytes, 3);
    EXPECT_EQ(info.GetSerialNumber(), (std::vector<uint8_t> { 0x02, 3, 1, 2, 3 })) << "a DER INTEGER";
    const std::vector<uint8_t> tooLong(128, 7);
    info.SetSerialNumber(tooLong.data(), static_cast<uint32_t>(tooLong.size()));
    EXPECT_EQ(info.GetSerialNumber().size(), 5u) << "a length its one length byte cannot say is refused";
}

// Two records made at once (the same second) must not share a CKA_ID: their
// keys would pair with each other's certificates.
TEST(X509Info, EveryRecordDrawsItsOwnRandomId)
{
    X509Info first;
    X509Info second;
    EXPECT_EQ(first.GetID().size(), 20u);
    EXPECT_NE(first.GetID(), second.GetID());
}

TEST(X509Info, ReadsDerAndPkcs7FilesWithBigEndianKeyNumbers)
{
    ScopedTestRoot root;
    std::filesystem::create_directories(root.Temp());
    const TestKey key = MakeRsaKey(1024);
    TestCertificateFields fields;
    fields.subject = "/O=Acme/CN=Alice Example";
    fields.serial = 0x1234;
    const std::vector<uint8_t> alice = MakeCertificate(fields, key);
    fields.subject = "/CN=Bob";
    const std::vector<uint8_t> bob = MakeCertificate(fields, MakeRsaKey(512));
    WriteBytes(root.Temp() / "alice.cer", alice);
    WritePkcs7(root.Temp() / "both.p7b", NID_pkcs7_signed, { alice, bob });
    WritePkcs7(root.Temp() / "data.p7b", NID_pkcs7_data, {});
    WritePkcs7(root.Temp() / "empty.p7b", NID_pkcs7_signed, {});

    for (const auto& [file, kind, count] : { std::tuple { "alice.cer", CertificateFileKind::Der, 1 },
             std::tuple { "both.p7b", CertificateFileKind::Pkcs7, 2 } }) {
        std::vector<std::unique_ptr<X509Info>> list;
        ASSERT_EQ(ReadCertificateFile(wxString::FromUTF8((root.Temp() / file).string()), kind, list), count)
            << file;
        ASSERT_EQ(list.size(), static_cast<size_t>(count)) << "a record for every certificate";
        const X509Info& info = *list.front();
        if (count == 2) {
            EXPECT_EQ(list[1]->GetValue(), bob) << "the bundle's order";
            EXPECT_NE(list[1]->GetID(), info.GetID()) << "each its own ID";
            EXPECT_EQ(std::string(list[1]->GetLabel().begin(), list[1]->GetLabel().end()), "Bob");
        }
        EXPECT_EQ(info.GetValue(), alice) << file;
        EXPECT_EQ(info.GetModulus(), KeyNumber(key, OSSL_PKEY_PARAM_RSA_N)) << "most significant byte first";
        EXPECT_EQ(info.GetPublicExponent(), (std::vector<uint8_t> { 0x01, 0x00, 0x01 }));
        EXPECT_EQ(info.GetSerialNumber(), (std::vector<uint8_t> { 0x02, 0x02, 0x12, 0x34 }));
        EXPECT_EQ(std::string(info.GetLabel().begin(), info.GetLabel().end()), "Alice Example");
        EXPECT_EQ(GetDisplayName(info.GetSubject().data(), info.GetSubject().size()), "Alice Example");
    }
    const struct {
        const char* file;
        CertificateFileKind kind;
    } unusable[] = {
        { "missing.cer", CertificateFileKind::Der },
        { "both.p7b", CertificateFileKind::Der },
        { "alice.cer", CertificateFileKind::Pkcs7 },
        { "data.p7b", CertificateFileKind::Pkcs7 },
        { "empty.p7b", CertificateFileKind::Pkcs7 },
    };
    for (const auto& c : unusable) {
        std::vector<std::unique_ptr<X509Info>> list;
        EXPECT_EQ(ReadCertificateFile(wxString::FromUTF8((root.Temp() / c.file).string()), c.kind, list), 0)
            << c.file;
        EXPECT_TRUE(list.empty()) << c.file;
    }
    EXPECT_FALSE(std::filesystem::exists(root.Temp() / "temp.cer")) << "no shared temporary file";
}

TEST(X509Info, RsaNumbersAreKeptBothOrNeither)
{
    const std::vector<uint8_t> modulus { 0x00, 0xc5, 0xa3 };
    const std::vector<uint8_t> exponent { 0x01, 0x00, 0x01 };
    const struct {
        const char* name;
        std::vector<uint8_t> modulus;
        std::vector<uint8_t> exponent;
        bool kept;
    } cases[] = {
        { "both numbers", modulus, exponent, true },
        { "zero modulus", { 0x00 }, exponent, false },
        { "zero exponent", modulus, { 0x00 }, false },
    };
    for (const auto& c : cases) {
        const std::vector<uint8_t> der = CertificateWithRsaNumbers(c.modulus, c.exponent);
        std::vector<std::unique_ptr<X509Info>> list;
        ASSERT_EQ(ReadCertificateBytes(der.data(), der.size(), CertificateFileKind::Der, list), 1) << c.name;
        const X509Info& info = *list.front();
        EXPECT_EQ(info.GetValue(), der) << c.name;
        EXPECT_EQ(info.GetModulus(), c.kept ? (std::vector<uint8_t> { 0xc5, 0xa3 }) : std::vector<uint8_t> {})
            << c.name;
        EXPECT_EQ(info.GetPublicExponent(), c.kept ? exponent : std::vector<uint8_t> {}) << c.name;
    }
}
