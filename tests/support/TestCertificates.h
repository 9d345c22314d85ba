// Keys, certificates and PKCS#12 files made with OpenSSL for tests, so no
// suite carries binary fixtures or shells out to the openssl program.
#pragma once

#include <cstdint>
#include <filesystem>
#include <memory>
#include <openssl/evp.h>
#include <string>
#include <vector>

using TestKey = std::shared_ptr<EVP_PKEY>;

// A fresh RSA key.
TestKey MakeRsaKey(int bits = 1024);

struct TestCertificateFields {
    // As openssl's -subj: "/C=US/O=Acme/CN=Alice"; "+" joins attributes of
    // one part ("/OU=Dev+CN=Alice"). Empty: an empty name.
    std::string subject = "/CN=Test";
    long serial = 1;
    int days = 30;
    // Subject alternative names, e-mail addresses.
    std::vector<std::string> emails;
};

// A number of the key (OSSL_PKEY_PARAM_RSA_N, ...), big-endian as PKCS #11
// holds it; throws when the key has no such number.
std::vector<uint8_t> KeyNumber(const TestKey& key, const char* name);

// A certificate for key, signed by that key; DER.
std::vector<uint8_t> MakeCertificate(const TestCertificateFields& fields, const TestKey& key);

// The key as a PEM private key file (PKCS #8, unencrypted).
void WritePrivateKeyPem(const std::filesystem::path& file, const TestKey& key);

void WriteBytes(const std::filesystem::path& file, const std::vector<uint8_t>& bytes);
std::vector<uint8_t> ReadBytes(const std::filesystem::path& file);

// A PKCS#12 file holding key and certificate under friendlyName.
void WritePkcs12(const std::filesystem::path& file, const std::vector<uint8_t>& certificate,
    const TestKey& key, const std::string& password, const std::string& friendlyName);

// A PKCS #7 structure of type (NID_pkcs7_signed holding the certificates, or
// another type holding none); DER.
std::vector<uint8_t> MakePkcs7(int type, const std::vector<std::vector<uint8_t>>& certificates);
