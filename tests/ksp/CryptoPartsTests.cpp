// The provider's plain crypto parts: which value is signed for a hash of
// each length (the DigestInfo checked against OpenSSL's own encoding), and
// the RSA key blob layout.
#include "ksp/DigestInfo.h"
#include "ksp/RsaKeyBlob.h"

#include <gtest/gtest.h>
#include <numeric>
#include <openssl/obj_mac.h>
#include <openssl/objects.h>
#include <openssl/x509.h>
#include <vector>

namespace {

using Bytes = std::vector<std::uint8_t>;

// DigestInfo { AlgorithmIdentifier { oid, NULL }, OCTET STRING hash } as
// OpenSSL encodes it.
Bytes OpenSslDigestInfo(int nid, const Bytes& hash)
{
    X509_SIG* sig = X509_SIG_new();
    X509_ALGOR* algorithm = nullptr;
    ASN1_OCTET_STRING* digest = nullptr;
    X509_SIG_getm(sig, &algorithm, &digest);
    X509_ALGOR_set0(algorithm, OBJ_nid2obj(nid), V_ASN1_NULL, nullptr);
    ASN1_OCTET_STRING_set(digest, hash.data(), static_cast<int>(hash.size()));
    unsigned char* der = nullptr;
    const int length = i2d_X509_SIG(sig, &der);
    Bytes encoded(der, der + (length > 0 ? length : 0));
    OPENSSL_free(der);
    X509_SIG_free(sig);
    return encoded;
}

Bytes Counting(std::size_t length)
{
    Bytes bytes(length);
    std::iota(bytes.begin(), bytes.end(), std::uint8_t { 1 });
    return bytes;
}

} // namespace

TEST(DigestInfoRuleTest, BareHashesGetTheirAlgorithmsDigestInfo)
{
    const struct {
        std::size_t length;
        int nid;
        std::size_t signedLength;
    } cases[] = { { 16, NID_md5, 34 }, { 20, NID_sha1, 35 }, { 32, NID_sha256, 51 }, { 64, NID_sha512, 83 } };
    for (const auto& c : cases) {
        const Bytes hash = Counting(c.length);
        Bytes data;
        ASSERT_TRUE(DigestInfoRule::Build(hash.data(), hash.size(), data)) << c.length;
        EXPECT_EQ(DigestInfoRule::FormOf(c.length), DigestInfoRule::Form::Prefixed);
        EXPECT_EQ(data.size(), c.signedLength);
        EXPECT_EQ(data, OpenSslDigestInfo(c.nid, hash)) << "hash of " << c.length << " bytes";
    }
}

TEST(DigestInfoRuleTest, CompleteDigestInfosAndTheTlsPairStayAsGivenOtherLengthsAreRefused)
{
    for (const std::size_t length : { 34, 35, 51, 83, 36 }) {
        const Bytes value = Counting(length);
        Bytes data;
        ASSERT_TRUE(DigestInfoRule::Build(value.data(), value.size(), data)) << length;
        EXPECT_EQ(DigestInfoRule::FormOf(length), DigestInfoRule::Form::AsGiven);
        EXPECT_EQ(data, value) << length;
    }
    // SHA-384 (48) has no prefix here, nor has its DigestInfo length (67).
    for (const std::size_t length : { 0, 1, 15, 17, 28, 33, 48, 52, 63, 65, 67, 84, 512 }) {
        const Bytes value = Counting(length);
        Bytes data { 9 };
        EXPECT_FALSE(DigestInfoRule::Build(value.data(), value.size(), data)) << length;
        EXPECT_EQ(DigestInfoRule::FormOf(length), DigestInfoRule::Form::Refused) << length;
        EXPECT_TRUE(data.empty());
    }
    Bytes data;
    EXPECT_FALSE(DigestInfoRule::Build(nullptr, 32, data));
}

TEST(RsaKeyBlobTest, PublicBlobHasTheLittleEndianHeaderThenExponentAndModulus)
{
    const Bytes exponent = { 0x01, 0x00, 0x01 };
    const Bytes modulus = Counting(129);
    ASSERT_EQ(RsaKeyBlob::PublicSize(exponent.size(), modulus.size()), 24U + 3 + 129);
    Bytes blob(RsaKeyBlob::PublicSize(exponent.size(), modulus.size()), 0xEE);
    RsaKeyBlob::WritePublic(exponent.data(), exponent.size(), modulus.data(), modulus.size(), blob.data());
    const Bytes header
        = { 'R', 'S', 'A', '1', 0x08, 0x04, 0, 0, 3, 0, 0, 0, 0x81, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0 };
    EXPECT_EQ(Bytes(blob.begin(), blob.begin() + 24), header);
    EXPECT_EQ(Bytes(blob.begin() + 24, blob.begin() + 27), exponent);
    EXPECT_EQ(Bytes(blob.begin() + 27, blob.end()), modulus);

    RsaBlobHeader read;
    ASSERT_TRUE(RsaKeyBlob::ReadHeader(blob.data(), blob.size(), read));
    EXPECT_EQ(read.magic, kRsaPublicMagic);
    EXPECT_EQ(read.bitLength, 129U * 8);
    Bytes e;
    Bytes n;
    ASSERT_TRUE(RsaKeyBlob::ReadPublic(blob.data(), blob.size(), e, n));
    EXPECT_EQ(e, exponent);
    EXPECT_EQ(n, modulus);
}

TEST(RsaKeyBlobTest, MalformedBlobsAreRefusedWithoutReadingPastTheirEnd)
{
    const Bytes modulus = Counting(64);
    const Bytes exponent = { 3 };
    Bytes good(RsaKeyBlob::PublicSize(1, 64));
    RsaKeyBlob::WritePublic(exponent.data(), 1, modulus.data(), 64, good.data());
    auto withWord = [&](std::size_t offset, std::uint32_t value) {
        Bytes blob = good;
        for (int i = 0; i < 4; ++i) {
            blob[offset + i] = static_cast<std::uint8_t>(value >> (8 * i));
        }
        return blob;
    };
    Bytes privateShort = withWord(0, kRsaPrivateMagic);
    privateShort[16] = 2; // cbPrime1
    const struct {
        const char* what;
        Bytes blob;
    } cases[] = {
        { "shorter than its header", Bytes(good.begin(), good.begin() + 23) },
        { "one byte short of its modulus", Bytes(good.begin(), good.end() - 1) },
        { "an unknown magic", withWord(0, 0x34415352) },
        { "an exponent length past the end", withWord(8, 0xFFFFFFFF) },
        { "a modulus length past the end", withWord(12, 0xFFFFFFF0) },
        { "a private blob without room for its primes", privateShort },
    };
    RsaBlobHeader header;
    Bytes e;
    Bytes n;
    for (const auto& c : cases) {
        const Bytes& blob = c.blob;
        EXPECT_FALSE(RsaKeyBlob::ReadPublic(blob.data(), blob.size(), e, n)) << c.what;
    }
    EXPECT_FALSE(RsaKeyBlob::ReadHeader(nullptr, 100, header));
    // A private blob whose primes are there is read for its public half.
    Bytes priv = withWord(0, kRsaFullPrivateMagic);
    priv[16] = 2;
    priv.insert(priv.end(), { 7, 7 });
    EXPECT_TRUE(RsaKeyBlob::ReadPublic(priv.data(), priv.size(), e, n));
    EXPECT_EQ(n, modulus);
}
