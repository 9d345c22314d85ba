// Certificate names as text, the way the kit's callers read them from
// crypt32: CertNameToStrA's forms and CertGetNameString's simple display
// name.
#pragma once

#include <cstddef>
#include <cstdint>
#include <openssl/x509.h>
#include <string>

namespace vela5::platform::CertStore {

// CertNameToStrA string types and flags, with their Windows values.
enum NameStrType : uint32_t {
    SimpleNameStr = 1, // CERT_SIMPLE_NAME_STR: values only
    OidNameStr = 2, // CERT_OID_NAME_STR: "2.5.4.3=value"
    X500NameStr = 3, // CERT_X500_NAME_STR: "CN=value"
    NameStrSemicolonFlag = 0x40000000, // "; " between parts
    NameStrNoQuotingFlag = 0x10000000,
    NameStrNoPlusFlag = 0x20000000, // " " in place of " + " inside one part
    NameStrCrlfFlag = 0x08000000, // "\r\n" between parts
    NameStrReverseFlag = 0x02000000, // the most specific part first
};

// The text of a DER-encoded name; empty when the bytes are not a name.
std::string NameToStr(const uint8_t* encodedName, size_t size, uint32_t strType);
std::string NameToStr(const X509_NAME* name, uint32_t strType);

// CERT_NAME_SIMPLE_DISPLAY_TYPE of the subject: its common name, else the
// organizational unit, organization or e-mail address, else an e-mail, DNS
// name or URL of the subject's alternative names, else the first value of
// the name. Empty when the certificate has none of them.
std::string SimpleDisplayName(const X509* certificate);

} // namespace vela5::platform::CertStore
