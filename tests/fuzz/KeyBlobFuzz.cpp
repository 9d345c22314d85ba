// libFuzzer target for the key blob parser: any bytes, read as a public and
// as a private blob, must be refused or give components that lie wholly
// inside the bytes, in the order and at the lengths the header states.
#include "ksp/KeyBlobParser.h"

#include <cstddef>
#include <cstdint>

namespace {

void Require(bool condition)
{
    if (!condition) {
        __builtin_trap();
    }
}

// Every byte of a component is read, so a pointer past the end is caught
// by the address sanitizer even when the range check below were wrong.
unsigned Touch(const std::uint8_t* at, std::size_t size, const std::uint8_t* data, std::size_t total)
{
    Require(size == 0 || (at >= data && at + size <= data + total));
    unsigned sum = 0;
    for (std::size_t i = 0; i < size; ++i) {
        sum += at[i];
    }
    return sum;
}

void Check(const std::uint8_t* data, std::size_t size, KeyBlob::Kind kind)
{
    KeyBlob::View view;
    const KeyBlob::Fault fault = KeyBlob::Parse(data, size, kind, view);
    if (fault != KeyBlob::Fault::None) {
        Require(view.modulus == nullptr && view.publicExponent == nullptr);
        return;
    }
    Require(size >= RsaKeyBlob::kHeaderSize);
    Require(view.cbPublicExp >= 1 && view.cbPublicExp <= 4 && KeyBlob::ExponentValue(view) != 0);
    Require(view.cbModulus == (static_cast<std::uint64_t>(view.bitLength) + 7) / 8 && view.cbModulus != 0);
    Require(view.publicExponent == data + RsaKeyBlob::kHeaderSize);
    Require(view.modulus == view.publicExponent + view.cbPublicExp);
    unsigned sum = Touch(view.publicExponent, view.cbPublicExp, data, size);
    sum += Touch(view.modulus, view.cbModulus, data, size);
    if (kind == KeyBlob::Kind::Private) {
        Require(view.magic == kRsaPrivateMagic);
        Require(view.cbPrime1 != 0 && view.cbPrime2 != 0);
        Require(view.prime1 == view.modulus + view.cbModulus && view.prime2 == view.prime1 + view.cbPrime1);
        sum += Touch(view.prime1, view.cbPrime1, data, size);
        sum += Touch(view.prime2, view.cbPrime2, data, size);
    } else {
        Require(view.magic == kRsaPublicMagic && view.prime1 == nullptr);
    }
    // Keeps the reads from being optimised away.
    Require(sum != 0xFFFFFFFFu);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    Check(data, size, KeyBlob::Kind::Public);
    Check(data, size, KeyBlob::Kind::Private);
    return 0;
}
