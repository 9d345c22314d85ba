// vela5-cng sign, verify, encrypt, decrypt and export: one key of the
// provider used the way an application uses it, each output asked for its
// size first and then fetched.
#include "Client.h"
#include "ksp/RsaKeyBlob.h"
#include "platform/cng/WideText.h"

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <memory>
#include <openssl/bn.h>
#include <openssl/core_names.h>
#include <openssl/crypto.h>
#include <openssl/evp.h>
#include <openssl/param_build.h>
#include <openssl/pem.h>

using namespace vela5::platform;

namespace {

using Bytes = std::vector<unsigned char>;

bool ReadFile(const std::string& path, Bytes& data)
{
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        return false;
    }
    data.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    return !in.bad();
}

bool WriteFile(const std::string& path, const unsigned char* data, std::size_t size)
{
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
    out.close();
    return !out.fail();
}

// The hash the provider is given: computed here, as an application does.
bool HashFile(const std::string& hashName, const Bytes& data, Bytes& hash)
{
    static const char* const kHashes[] = { "md5", "sha1", "sha256", "sha384", "sha512" };
    if (std::find(std::begin(kHashes), std::end(kHashes), hashName) == std::end(kHashes)) {
        return false;
    }
    const EVP_MD* md = EVP_get_digestbyname(hashName.c_str());
    unsigned int length = 0;
    hash.resize(EVP_MAX_MD_SIZE);
    if (md == nullptr || EVP_Digest(data.data(), data.size(), hash.data(), &length, md, nullptr) != 1) {
        return false;
    }
    hash.resize(length);
    return true;
}

// A key of an opened provider, freed when it goes.
class OpenedKey final {
public:
    explicit OpenedKey(const OpenedProvider& provider)
        : m_provider(provider)
    {
    }
    ~OpenedKey()
    {
        if (m_key != 0) {
            m_provider.Table().FreeKey(m_provider.Handle(), m_key);
        }
    }
    SECURITY_STATUS Open(const std::string& name, DWORD flags)
    {
        return m_provider.Table().OpenKey(m_provider.Handle(), &m_key, Cng::Widen(name).c_str(), 0, flags);
    }
    NCRYPT_KEY_HANDLE Handle() const { return m_key; }

private:
    const OpenedProvider& m_provider;
    NCRYPT_KEY_HANDLE m_key = 0;
};

std::string HexText(const Bytes& data)
{
    std::string text;
    char pair[3];
    for (unsigned char byte : data) {
        std::snprintf(pair, sizeof pair, "%02x", byte);
        text += pair;
    }
    return text;
}

// The PEM public key of an RSAPUBLICBLOB.
bool BlobToPem(const Bytes& blob, const std::string& path, std::string& failure)
{
    Bytes exponent;
    Bytes modulus;
    if (!RsaKeyBlob::ReadPublic(blob.data(), blob.size(), exponent, modulus)) {
        failure = "the provider's blob is not an RSA key blob";
        return false;
    }
    std::unique_ptr<BIGNUM, decltype(&BN_free)> n(
        BN_bin2bn(modulus.data(), static_cast<int>(modulus.size()), nullptr), BN_free);
    std::unique_ptr<BIGNUM, decltype(&BN_free)> e(
        BN_bin2bn(exponent.data(), static_cast<int>(exponent.size()), nullptr), BN_free);
    std::unique_ptr<OSSL_PARAM_BLD, decltype(&OSSL_PARAM_BLD_free)> build(
        OSSL_PARAM_BLD_new(), OSSL_PARAM_BLD_free);
    if (!n || !e || !build || OSSL_PARAM_BLD_push_BN(build.get(), OSSL_PKEY_PARAM_RSA_N, n.get()) != 1
        || OSSL_PARAM_BLD_push_BN(build.get(), OSSL_PKEY_PARAM_RSA_E, e.get()) != 1) {
        failure = "cannot build the public key";
        return false;
    }
    std::unique_ptr<OSSL_PARAM, decltype(&OSSL_PARAM_free)> params(
        OSSL_PARAM_BLD_to_param(build.get()), OSSL_PARAM_free);
    std::unique_ptr<EVP_PKEY_CTX, decltype(&EVP_PKEY_CTX_free)> context(
        EVP_PKEY_CTX_new_from_name(nullptr, "RSA", nullptr), EVP_PKEY_CTX_free);
    EVP_PKEY* made = nullptr;
    if (!params || !context || EVP_PKEY_fromdata_init(context.get()) != 1
        || EVP_PKEY_fromdata(context.get(), &made, EVP_PKEY_PUBLIC_KEY, params.get()) != 1) {
        failure = "cannot build the public key";
        return false;
    }
    std::unique_ptr<EVP_PKEY, decltype(&EVP_PKEY_free)> key(made, EVP_PKEY_free);
    std::unique_ptr<BIO, decltype(&BIO_free)> out(BIO_new_file(path.c_str(), "w"), BIO_free);
    if (!out || PEM_write_bio_PUBKEY(out.get(), key.get()) != 1) {
        failure = "cannot write " + path;
        return false;
    }
    return true;
}

int Sign(OpenedProvider& provider, NCRYPT_KEY_HANDLE key, const Bytes& hash, const Options& options)
{
    const DWORD flags = NCRYPT_PAD_PKCS1_FLAG | (options.silent ? NCRYPT_SILENT_FLAG : 0);
    auto* hashBytes = const_cast<unsigned char*>(hash.data());
    const DWORD hashLength = static_cast<DWORD>(hash.size());
    DWORD length = 0;
    SECURITY_STATUS status = provider.Table().SignHash(
        provider.Handle(), key, nullptr, hashBytes, hashLength, nullptr, 0, &length, flags);
    if (status != ERROR_SUCCESS) {
        return Fail("signing failed: " + Hex(status));
    }
    Bytes signature(length);
    status = provider.Table().SignHash(
        provider.Handle(), key, nullptr, hashBytes, hashLength, signature.data(), length, &length, flags);
    if (status != ERROR_SUCCESS) {
        return Fail("signing failed: " + Hex(status));
    }
    signature.resize(length);
    if (options.out.empty()) {
        std::printf("%s\n", HexText(signature).c_str());
    } else if (!WriteFile(options.out, signature.data(), signature.size())) {
        return Fail("cannot write " + options.out);
    } else {
        std::printf("Signed %u bytes of hash into %u bytes of signature\n",
            static_cast<unsigned>(hash.size()), static_cast<unsigned>(signature.size()));
    }
    return 0;
}

int Verify(OpenedProvider& provider, NCRYPT_KEY_HANDLE key, const Bytes& hash, const Bytes& signature,
    const Options& options)
{
    const DWORD flags = NCRYPT_PAD_PKCS1_FLAG | (options.silent ? NCRYPT_SILENT_FLAG : 0);
    const SECURITY_STATUS status = provider.Table().VerifySignature(provider.Handle(), key, nullptr,
        const_cast<unsigned char*>(hash.data()), static_cast<DWORD>(hash.size()),
        const_cast<unsigned char*>(signature.data()), static_cast<DWORD>(signature.size()), flags);
    if (status != ERROR_SUCCESS) {
        return Fail("the signature does not verify: " + Hex(status));
    }
    std::printf("Signature verified\n");
    return 0;
}

int Crypt(OpenedProvider& provider, NCRYPT_KEY_HANDLE key, bool encrypt, Bytes& input, const Options& options)
{
    const auto call = encrypt ? provider.Table().Encrypt : provider.Table().Decrypt;
    const DWORD flags = NCRYPT_PAD_PKCS1_FLAG | (options.silent ? NCRYPT_SILENT_FLAG : 0);
    const char* what = encrypt ? "encryption failed: " : "decryption failed: ";
    DWORD length = 0;
    SECURITY_STATUS status = call(provider.Handle(), key, input.data(), static_cast<DWORD>(input.size()),
        nullptr, nullptr, 0, &length, flags);
    if (status != ERROR_SUCCESS) {
        return Fail(what + Hex(status));
    }
    Bytes output(length);
    status = call(provider.Handle(), key, input.data(), static_cast<DWORD>(input.size()), nullptr,
        output.data(), length, &length, flags);
    int result = 0;
    if (status != ERROR_SUCCESS) {
        result = Fail(what + Hex(status));
    } else if (!WriteFile(options.out, output.data(), length)) {
        result = Fail("cannot write " + options.out);
    } else {
        std::printf("%s %u bytes into %u bytes\n", encrypt ? "Encrypted" : "Decrypted",
            static_cast<unsigned>(input.size()), static_cast<unsigned>(length));
    }
    // A plaintext does not stay in this process's memory.
    OPENSSL_cleanse(output.data(), output.size());
    OPENSSL_cleanse(input.data(), input.size());
    return result;
}

int Export(OpenedProvider& provider, NCRYPT_KEY_HANDLE key, const Options& options)
{
    const DWORD flags = options.silent ? NCRYPT_SILENT_FLAG : 0;
    const std::u16string type = u"RSAPUBLICBLOB";
    DWORD length = 0;
    SECURITY_STATUS status = provider.Table().ExportKey(
        provider.Handle(), key, 0, type.c_str(), nullptr, nullptr, 0, &length, flags);
    if (status != ERROR_SUCCESS) {
        return Fail("exporting the key failed: " + Hex(status));
    }
    Bytes blob(length);
    status = provider.Table().ExportKey(
        provider.Handle(), key, 0, type.c_str(), nullptr, blob.data(), length, &length, flags);
    if (status != ERROR_SUCCESS) {
        return Fail("exporting the key failed: " + Hex(status));
    }
    blob.resize(length);
    if (!options.blob.empty()) {
        if (!WriteFile(options.blob, blob.data(), blob.size())) {
            return Fail("cannot write " + options.blob);
        }
        std::printf("Wrote the %u-byte RSAPUBLICBLOB to %s\n", static_cast<unsigned>(blob.size()),
            options.blob.c_str());
    }
    if (!options.pem.empty()) {
        std::string failure;
        if (!BlobToPem(blob, options.pem, failure)) {
            return Fail(failure);
        }
        std::printf("Wrote the public key to %s\n", options.pem.c_str());
    }
    return 0;
}

int Usage(const std::string& line)
{
    std::fprintf(stderr, "vela5-cng: %s\n%s", line.c_str(), kUsage);
    return 2;
}

} // namespace

int KeyOperation(const std::vector<std::string>& args, char** argv)
{
    const std::string& command = args[0];
    unsigned allowed = 0;
    std::size_t files = 0; // positional arguments after NAME and KEY
    if (command == "sign") {
        allowed = kHashOption | kOutOption;
        files = 1;
    } else if (command == "verify") {
        allowed = kHashOption;
        files = 2;
    } else if (command == "encrypt" || command == "decrypt") {
        allowed = kOutOption;
        files = 1;
    } else {
        allowed = kExportOptions;
    }
    Options options;
    std::vector<std::string> positional;
    if (!ParseOptions(args, argv, 1, allowed, options, &positional)) {
        return 2;
    }
    if (positional.size() != 2 + files) {
        return Usage(command + " takes NAME KEY"
            + (files == 0        ? ""
                    : files == 1 ? " FILE"
                                 : " FILE SIGNATURE"));
    }
    if ((allowed & kHashOption) != 0 && options.hash.empty()) {
        return Usage(command + " needs --hash");
    }
    if ((command == "encrypt" || command == "decrypt") && options.out.empty()) {
        return Usage(command + " needs --out FILE");
    }
    if (command == "export" && options.pem.empty() && options.blob.empty()) {
        return Usage("export needs --pem FILE or --blob FILE");
    }
    Bytes input;
    Bytes hash;
    Bytes signature;
    if (files > 0 && !ReadFile(positional[2], input)) {
        return Fail("cannot read " + positional[2]);
    }
    if (files > 1 && !ReadFile(positional[3], signature)) {
        return Fail("cannot read " + positional[3]);
    }
    if (!options.hash.empty() && !HashFile(options.hash, input, hash)) {
        return Usage("unknown hash " + options.hash + " (md5, sha1, sha256, sha384 or sha512)");
    }

    OpenedProvider provider;
    std::string failure;
    if (provider.Open(positional[0], options, failure) != ERROR_SUCCESS) {
        return Fail(failure);
    }
    OpenedKey key(provider);
    if (const SECURITY_STATUS opened = key.Open(positional[1], options.silent ? NCRYPT_SILENT_FLAG : 0);
        opened != ERROR_SUCCESS) {
        return Fail("opening key \"" + positional[1] + "\" failed: " + Hex(opened));
    }
    if (command == "sign") {
        return Sign(provider, key.Handle(), hash, options);
    }
    if (command == "verify") {
        return Verify(provider, key.Handle(), hash, signature, options);
    }
    if (command == "export") {
        return Export(provider, key.Handle(), options);
    }
    return Crypt(provider, key.Handle(), command == "encrypt", input, options);
}
