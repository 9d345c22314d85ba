// Objects on the software token for any suite, made with vela5-token's
// object commands as a user would make them: import a PKCS#12 identity, add
// a certificate, list what the token holds. A failing command fails the
// test that asked for it.
#pragma once

#include "TestCertificates.h"

#include <filesystem>
#include <string>
#include <vector>

struct TokenObjectRow {
    unsigned long handle = 0;
    std::string objectClass; // "certificate", "public-key", "private-key", "data", "secret-key"
    std::string id; // upper-case hex, "-" for none
    std::string label;
    int keyPairIndex = 0;
};

// A key and its self-signed certificate, written as FOLDER/NAME.p12 and
// FOLDER/NAME.cer (DER).
struct TestIdentity {
    TestKey key;
    std::vector<uint8_t> certificate;
    std::filesystem::path pkcs12;
    std::filesystem::path cer;
};
TestIdentity MakeTestIdentity(const std::filesystem::path& folder, const std::string& name,
    const std::string& subject, const std::string& password);

namespace TokenObjects {
// vela5-token object import SERIAL FILE --password P --pin PIN
void Import(const std::string& serial, const std::filesystem::path& pkcs12, const std::string& password,
    const std::string& pin);
// vela5-token object add-cert SERIAL FILE --id HEX --pin PIN; the new handle.
unsigned long AddCertificate(const std::string& serial, const std::filesystem::path& cer,
    const std::string& idHex, const std::string& pin);
// vela5-token object add-key SERIAL FILE --class private|public --id HEX|- --pin PIN;
// the new handle. FILE is a PEM private key (WritePrivateKeyPem).
unsigned long AddKey(const std::string& serial, const std::filesystem::path& pem, bool privateHalf,
    const std::string& idHex, const std::string& pin);
// vela5-token object list SERIAL
std::vector<TokenObjectRow> List(const std::string& serial);
} // namespace TokenObjects
