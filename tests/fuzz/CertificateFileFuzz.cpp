// libFuzzer target for the certificate manager's file reader: any bytes, read
// as a .cer or as a .p7b, must decode without reading past the end, and every
// record it fills must hold a certificate that decodes again, with its ID and
// a well-formed serial.
#include "manager/objects/X509Info.h"

#include <cstddef>
#include <cstdint>
#include <openssl/err.h>
#include <openssl/x509.h>
#include <wx/init.h>

namespace {

void Require(bool condition)
{
    if (!condition) {
        __builtin_trap();
    }
}

void Check(const std::uint8_t* data, std::size_t size, CertificateFileKind kind)
{
    std::vector<std::unique_ptr<X509Info>> list;
    const int count = ReadCertificateBytes(data, size, kind, list);
    Require(count >= 0 && static_cast<std::size_t>(count) == list.size());
    Require(kind == CertificateFileKind::Pkcs7 || count <= 1);
    for (const std::unique_ptr<X509Info>& record : list) {
        const std::vector<std::uint8_t>& value = record->GetValue();
        Require(!value.empty());
        Require(kind == CertificateFileKind::Pkcs7 || value.size() <= size);
        const unsigned char* cursor = value.data();
        X509* again = d2i_X509(nullptr, &cursor, static_cast<long>(value.size()));
        Require(again != nullptr);
        X509_free(again);
        Require(record->GetID().size() == 20);
        const std::vector<std::uint8_t>& serial = record->GetSerialNumber();
        Require(serial.empty() || (serial[0] == 0x02 && serial.size() == std::size_t { serial[1] } + 2));
        // An RSA key gives both numbers, anything else neither.
        Require(record->GetModulus().empty() == record->GetPublicExponent().empty());
    }
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    // The display names go through the toolkit's strings and catalog lookup.
    static wxInitializer toolkit;
    // The thread's error state is made once, here, not inside the first
    // input that fails to decode (the leak check counts per input).
    const unsigned char none = 0;
    const unsigned char* cursor = &none;
    X509_free(d2i_X509(nullptr, &cursor, 1));
    ERR_clear_error();
    return toolkit.IsOk() ? 0 : 1;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    Check(data, size, CertificateFileKind::Der);
    Check(data, size, CertificateFileKind::Pkcs7);
    return 0;
}
