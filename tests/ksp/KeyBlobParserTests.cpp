// The key blob parser on its own: where each refusal begins, byte by byte
// at the edges, and where the components it hands out lie.
#include "ksp/KeyBlobParser.h"

#include <gtest/gtest.h>
#include <vector>

namespace {

using Bytes = std::vector<std::uint8_t>;

Bytes Blob(std::uint32_t magic, std::uint32_t bits, std::uint32_t cbExp, std::uint32_t cbModulus,
    std::uint32_t cbPrime1, std::uint32_t cbPrime2, std::size_t bodySize, std::uint8_t fill = 0x11)
{
    Bytes blob;
    for (const std::uint32_t field : { magic, bits, cbExp, cbModulus, cbPrime1, cbPrime2 }) {
        for (int i = 0; i < 4; ++i) {
            blob.push_back(static_cast<std::uint8_t>(field >> (8 * i)));
        }
    }
    blob.resize(blob.size() + bodySize, fill);
    return blob;
}

constexpr std::uint32_t kPub = kRsaPublicMagic;
constexpr std::uint32_t kPriv = kRsaPrivateMagic;

} // namespace

TEST(KeyBlobParser, RefusesEachFaultAtItsEdge)
{
    using KeyBlob::Fault;
    using KeyBlob::Kind;
    const struct {
        const char* what;
        Bytes blob;
        Kind kind;
        Fault fault;
    } cases[] = {
        { "empty", Bytes(), Kind::Public, Fault::TooSmall },
        { "header only, one byte short", Bytes(23, 0), Kind::Public, Fault::TooSmall },
        { "exactly as long as the header says", Blob(kPub, 512, 3, 64, 0, 0, 67), Kind::Public, Fault::None },
        { "one byte short of the modulus", Blob(kPub, 512, 3, 64, 0, 0, 66), Kind::Public, Fault::TooSmall },
        { "trailing bytes are left alone", Blob(kPub, 512, 3, 64, 0, 0, 80), Kind::Public, Fault::None },
        { "lengths that wrap 32 bits", Blob(kPub, 512, 3, 0xFFFFFFFF, 0, 0xFFFFFFFF, 67), Kind::Public,
            Fault::TooSmall },
        { "a public blob's primes count too", Blob(kPub, 512, 3, 64, 32, 32, 67), Kind::Public,
            Fault::TooSmall },
        { "4-byte exponent", Blob(kPub, 512, 4, 64, 0, 0, 68), Kind::Public, Fault::None },
        { "5-byte exponent", Blob(kPub, 512, 5, 64, 0, 0, 69), Kind::Public, Fault::ExponentTooLong },
        { "no exponent", Blob(kPub, 512, 0, 64, 0, 0, 64), Kind::Public, Fault::ExponentZero },
        { "zero exponent", Blob(kPub, 512, 3, 64, 0, 0, 67, 0), Kind::Public, Fault::ExponentZero },
        { "private magic, public type", Blob(kPriv, 512, 3, 64, 0, 0, 67), Kind::Public, Fault::WrongMagic },
        { "public magic, private type", Blob(kPub, 512, 3, 64, 32, 32, 131), Kind::Private,
            Fault::WrongMagic },
        { "BitLength 0", Blob(kPub, 0, 3, 0, 0, 0, 3), Kind::Public, Fault::LengthMismatch },
        { "BitLength beyond cbModulus", Blob(kPub, 520, 3, 64, 0, 0, 67), Kind::Public,
            Fault::LengthMismatch },
        { "BitLength within the modulus' last byte", Blob(kPub, 505, 3, 64, 0, 0, 67), Kind::Public,
            Fault::None },
        { "cbModulus beyond BitLength", Blob(kPub, 512, 3, 65, 0, 0, 68), Kind::Public,
            Fault::LengthMismatch },
        { "private blob", Blob(kPriv, 512, 3, 64, 32, 32, 131), Kind::Private, Fault::None },
        { "private blob without prime 2", Blob(kPriv, 512, 3, 64, 32, 0, 99), Kind::Private,
            Fault::PrimeLengths },
        { "prime longer than the modulus", Blob(kPriv, 512, 3, 64, 65, 1, 133), Kind::Private,
            Fault::PrimeLengths },
    };
    for (const auto& c : cases) {
        KeyBlob::View view;
        EXPECT_EQ(KeyBlob::Parse(c.blob.data(), c.blob.size(), c.kind, view), c.fault) << c.what;
        if (c.fault != Fault::None) {
            EXPECT_EQ(view.modulus, nullptr) << c.what;
        }
    }
}

TEST(KeyBlobParser, ComponentsFollowTheHeaderInOrder)
{
    Bytes blob = Blob(kPriv, 512, 3, 64, 32, 32, 131);
    blob[24] = 0x01;
    blob[25] = 0x00;
    blob[26] = 0x01;
    KeyBlob::View view;
    ASSERT_EQ(KeyBlob::Parse(blob.data(), blob.size(), KeyBlob::Kind::Private, view), KeyBlob::Fault::None);
    EXPECT_EQ(KeyBlob::ExponentValue(view), 65537U);
    EXPECT_EQ(view.publicExponent, blob.data() + 24);
    EXPECT_EQ(view.modulus, blob.data() + 27);
    EXPECT_EQ(view.prime1, blob.data() + 91);
    EXPECT_EQ(view.prime2, blob.data() + 123);
    EXPECT_EQ(view.prime2 + view.cbPrime2, blob.data() + blob.size());
    EXPECT_EQ(view.bitLength, 512U);
}
