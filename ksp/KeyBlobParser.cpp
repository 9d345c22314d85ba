#include "ksp/KeyBlobParser.h"

namespace KeyBlob {

Fault Parse(const std::uint8_t* data, std::size_t size, Kind kind, View& out)
{
    out = View {};
    constexpr std::size_t kHeaderSize = RsaKeyBlob::kHeaderSize;
    if (data == nullptr || size < kHeaderSize) {
        return Fault::TooSmall;
    }
    View view;
    static_cast<RsaBlobHeader&>(view) = RsaKeyBlob::ReadWords(data);
    // Four 32-bit lengths summed in 64 bits cannot wrap.
    const std::uint64_t needed = kHeaderSize + static_cast<std::uint64_t>(view.cbPublicExp) + view.cbModulus
        + view.cbPrime1 + view.cbPrime2;
    if (needed > size) {
        return Fault::TooSmall;
    }
    if (view.cbPublicExp > 4) {
        return Fault::ExponentTooLong;
    }
    if (view.magic != (kind == Kind::Public ? kRsaPublicMagic : kRsaPrivateMagic)) {
        return Fault::WrongMagic;
    }
    // Components are read at the key's length: the modulus must be exactly
    // as long as BitLength says, or reads would pass the blob's end.
    if (view.bitLength == 0 || view.cbModulus != (static_cast<std::uint64_t>(view.bitLength) + 7) / 8) {
        return Fault::LengthMismatch;
    }
    const std::uint8_t* at = data + kHeaderSize;
    view.publicExponent = at;
    at += view.cbPublicExp;
    view.modulus = at;
    at += view.cbModulus;
    if (ExponentValue(view) == 0) {
        return Fault::ExponentZero;
    }
    if (kind == Kind::Private) {
        if (view.cbPrime1 == 0 || view.cbPrime2 == 0 || view.cbPrime1 > view.cbModulus
            || view.cbPrime2 > view.cbModulus) {
            return Fault::PrimeLengths;
        }
        view.prime1 = at;
        at += view.cbPrime1;
        view.prime2 = at;
    }
    out = view;
    return Fault::None;
}

std::uint32_t ExponentValue(const View& view)
{
    std::uint32_t value = 0;
    for (std::uint32_t i = 0; i < view.cbPublicExp && i < 4; ++i) {
        value = (value << 8) | view.publicExponent[i];
    }
    return value;
}

} // namespace KeyBlob
