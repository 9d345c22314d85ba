#include "tools/vela5-cng/KeyCommands.h"

#include "ksp/KeyNames.h"
#include "ksp/RsaKeyBlob.h"
#include "ksp/abi/HandleRecords.h"
#include "platform/cng/WideText.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <memory>
#include <openssl/bio.h>
#include <openssl/core_names.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/x509.h>

using namespace vela5::platform;

namespace CngKeyCommands {

const char* const kHelp
    = "\n"
      "Key creation, import and properties:\n"
      "       vela5-cng create NAME KEY [--length N] [--spec sign|exchange] [--overwrite] [--silent] [--pin "
      "PIN]\n"
      "       vela5-cng import NAME (--blob FILE | --pem FILE) [--key KEY] [--silent] [--pin PIN]\n"
      "       vela5-cng property get NAME PROPERTY [--key KEY] [--silent] [--pin PIN]\n"
      "       vela5-cng property set NAME PROPERTY (--dword N | --text TEXT | --file FILE) [--key KEY]\n"
      "                 [--silent] [--pin PIN]\n"
      "\n"
      "create NAME KEY  generates the key pair KEY on the token (--length in bits, default the\n"
      "                 registered Default Key Length; --spec makes it a signature or an exchange\n"
      "                 key; --overwrite replaces a key of that name) and prints its CKA_ID, by\n"
      "                 which it opens\n"
      "import NAME      puts a key on the token: a key blob file (RSAPUBLICBLOB or\n"
      "                 RSAPRIVATEBLOB, told apart by its magic), or an RSA key in PEM or DER,\n"
      "                 private or public; --key names it (a token key), else it lives only\n"
      "                 as long as the command\n"
      "property get|set reads or writes a property of the provider, or with --key of that key;\n"
      "                 --file reads the value from a file (a certificate for\n"
      "                 SmartCardKeyCertificate, DER or PEM)\n";

namespace {

int Fail(const std::string& line)
{
    std::fprintf(stderr, "vela5-cng: %s\n", line.c_str());
    return 1;
}

int Usage(const std::string& line)
{
    std::fprintf(stderr, "vela5-cng: %s\n", line.c_str());
    return 2;
}

std::string Hex(SECURITY_STATUS status)
{
    char text[16];
    std::snprintf(text, sizeof text, "0x%08X", static_cast<unsigned>(status));
    return text;
}

struct Arguments {
    std::vector<std::string> positional;
    bool silent = false;
    bool hasPin = false;
    vela5::platform::SecretBytes pin;
    bool overwrite = false;
    std::string length, spec, blob, pem, key, dword, text, file;
};

// Options after the command word; false (with the line written) for a mistake.
bool Parse(const std::vector<std::string>& args, char** argv, std::size_t from,
    const std::vector<std::string>& valued, bool allowOverwrite, Arguments& out)
{
    for (std::size_t i = from; i < args.size(); ++i) {
        const std::string& arg = args[i];
        if (arg == "--silent") {
            out.silent = true;
        } else if (arg == "--overwrite" && allowOverwrite) {
            out.overwrite = true;
        } else if (arg == "--pin" && i + 1 < args.size()) {
            out.hasPin = true;
            ++i;
            out.pin.Assign(args[i].data(), args[i].size());
            explicit_bzero(argv[i], std::strlen(argv[i]));
        } else if (arg.rfind("--", 0) == 0 && i + 1 < args.size()
            && std::find(valued.begin(), valued.end(), arg) != valued.end()) {
            const std::string& value = args[++i];
            std::string* slot = arg == "--length" ? &out.length
                : arg == "--spec"                 ? &out.spec
                : arg == "--blob"                 ? &out.blob
                : arg == "--pem"                  ? &out.pem
                : arg == "--key"                  ? &out.key
                : arg == "--dword"                ? &out.dword
                : arg == "--text"                 ? &out.text
                                                  : &out.file;
            *slot = value;
        } else if (arg.rfind("--", 0) == 0) {
            Usage("unknown option " + arg);
            return false;
        } else {
            out.positional.push_back(arg);
        }
    }
    return true;
}

bool ReadFile(const std::string& path, std::vector<BYTE>& bytes)
{
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        return false;
    }
    bytes.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    return true;
}

bool Number(const std::string& text, DWORD& value)
{
    if (text.empty()) {
        return false;
    }
    char* end = nullptr;
    const unsigned long long parsed = std::strtoull(text.c_str(), &end, 0);
    if (*end != 0 || parsed > 0xFFFFFFFFULL) {
        return false;
    }
    value = static_cast<DWORD>(parsed);
    return true;
}

std::string IdOf(NCRYPT_KEY_HANDLE key)
{
    const auto* record = reinterpret_cast<const KeyContext*>(key);
    return KeyNames::Hex(record->ckaId, record->cbCkaId);
}

// --- key files to blobs ---

struct PkeyFree {
    void operator()(EVP_PKEY* key) const { EVP_PKEY_free(key); }
};
using Pkey = std::unique_ptr<EVP_PKEY, PkeyFree>;

struct BnFree {
    void operator()(BIGNUM* number) const { BN_clear_free(number); }
};

// A PEM or DER RSA key, private or public.
Pkey ReadKey(const std::vector<BYTE>& file, bool& isPrivate)
{
    const auto read = [&](auto reader) {
        std::unique_ptr<BIO, decltype(&BIO_free)> bio(
            BIO_new_mem_buf(file.data(), static_cast<int>(file.size())), BIO_free);
        return Pkey(reader(bio.get()));
    };
    isPrivate = true;
    Pkey key = read([](BIO* bio) { return PEM_read_bio_PrivateKey(bio, nullptr, nullptr, nullptr); });
    if (!key) {
        key = read([](BIO* bio) { return d2i_PrivateKey_bio(bio, nullptr); });
    }
    if (!key) {
        isPrivate = false;
        key = read([](BIO* bio) { return PEM_read_bio_PUBKEY(bio, nullptr, nullptr, nullptr); });
    }
    if (!key) {
        key = read([](BIO* bio) { return d2i_PUBKEY_bio(bio, nullptr); });
    }
    if (key && EVP_PKEY_get_base_id(key.get()) != EVP_PKEY_RSA) {
        key.reset();
    }
    return key;
}

bool Component(const EVP_PKEY* key, const char* name, std::vector<BYTE>& out)
{
    BIGNUM* number = nullptr;
    if (EVP_PKEY_get_bn_param(key, name, &number) != 1) {
        return false;
    }
    std::unique_ptr<BIGNUM, BnFree> owned(number);
    out.assign(static_cast<std::size_t>(BN_num_bytes(number)), 0);
    BN_bn2bin(number, out.data());
    return true;
}

// The key as an RSA key blob; false when a component cannot be read.
bool ToBlob(const EVP_PKEY* key, bool isPrivate, std::vector<BYTE>& blob)
{
    std::vector<BYTE> e, n, p, q;
    if (!Component(key, OSSL_PKEY_PARAM_RSA_E, e) || !Component(key, OSSL_PKEY_PARAM_RSA_N, n)) {
        return false;
    }
    if (isPrivate
        && (!Component(key, OSSL_PKEY_PARAM_RSA_FACTOR1, p)
            || !Component(key, OSSL_PKEY_PARAM_RSA_FACTOR2, q))) {
        return false;
    }
    RsaBlobHeader header;
    header.magic = isPrivate ? kRsaPrivateMagic : kRsaPublicMagic;
    header.bitLength = static_cast<std::uint32_t>(EVP_PKEY_get_bits(key));
    header.cbPublicExp = static_cast<std::uint32_t>(e.size());
    header.cbModulus = static_cast<std::uint32_t>(n.size());
    header.cbPrime1 = static_cast<std::uint32_t>(p.size());
    header.cbPrime2 = static_cast<std::uint32_t>(q.size());
    blob.assign(RsaKeyBlob::kHeaderSize, 0);
    RsaKeyBlob::WriteWords(header, blob.data());
    for (const std::vector<BYTE>* part : { &e, &n, &p, &q }) {
        blob.insert(blob.end(), part->begin(), part->end());
    }
    explicit_bzero(p.data(), p.size());
    explicit_bzero(q.data(), q.size());
    return true;
}

// A PEM certificate as DER; other bytes as they are.
std::vector<BYTE> CertificateBytes(const std::vector<BYTE>& file)
{
    static const char begin[] = "-----BEGIN";
    if (file.size() < sizeof begin - 1 || std::memcmp(file.data(), begin, sizeof begin - 1) != 0) {
        return file;
    }
    std::unique_ptr<BIO, decltype(&BIO_free)> bio(
        BIO_new_mem_buf(file.data(), static_cast<int>(file.size())), BIO_free);
    std::unique_ptr<X509, decltype(&X509_free)> certificate(
        PEM_read_bio_X509(bio.get(), nullptr, nullptr, nullptr), X509_free);
    if (!certificate) {
        return file;
    }
    unsigned char* der = nullptr;
    const int size = i2d_X509(certificate.get(), &der);
    std::vector<BYTE> out(der, der + (size > 0 ? size : 0));
    OPENSSL_free(der);
    return out;
}

// --- the commands ---

int Create(const Arguments& a, const Opener& open)
{
    DWORD length = 0;
    if (!a.length.empty() && !Number(a.length, length)) {
        return Usage("--length takes a number of bits");
    }
    DWORD spec = 0;
    if (a.spec == "exchange") {
        spec = 1;
    } else if (a.spec == "sign") {
        spec = 2;
    } else if (!a.spec.empty()) {
        return Usage("--spec takes sign or exchange");
    }
    const std::string& keyName = a.positional[1];
    return open(a.positional[0], a.silent, a.hasPin ? &a.pin : nullptr,
        [&](const NCRYPT_KEY_STORAGE_FUNCTION_TABLE& table, NCRYPT_PROV_HANDLE provider) {
            const DWORD silent = a.silent ? NCRYPT_SILENT_FLAG : 0;
            NCRYPT_KEY_HANDLE key = 0;
            const std::u16string name = Cng::Widen(keyName);
            SECURITY_STATUS status = table.CreatePersistedKey(provider, &key, u"RSA", name.c_str(), spec,
                silent | (a.overwrite ? NCRYPT_OVERWRITE_KEY_FLAG : 0));
            if (status == NTE_EXISTS) {
                return Fail("a key named \"" + keyName + "\" exists; --overwrite replaces it");
            }
            if (status != ERROR_SUCCESS) {
                return Fail("creating key \"" + keyName + "\" failed: " + Hex(status));
            }
            if (length != 0) {
                status
                    = table.SetKeyProperty(provider, key, u"Length", reinterpret_cast<PBYTE>(&length), 4, 0);
            }
            if (status == ERROR_SUCCESS) {
                status = table.FinalizeKey(provider, key, silent);
            }
            int result = 0;
            if (status != ERROR_SUCCESS) {
                result = Fail("creating key \"" + keyName + "\" failed: " + Hex(status));
            } else {
                std::printf("Created key \"%s\" (CKA_ID %s, %u bits)\n", keyName.c_str(), IdOf(key).c_str(),
                    static_cast<unsigned>(reinterpret_cast<const KeyContext*>(key)->dwKeyLength));
            }
            table.FreeKey(provider, key);
            return result;
        });
}

int Import(const Arguments& a, const Opener& open)
{
    if (a.blob.empty() == a.pem.empty()) {
        return Usage("import takes one of --blob FILE and --pem FILE");
    }
    std::vector<BYTE> file;
    if (!ReadFile(a.blob.empty() ? a.pem : a.blob, file)) {
        return Fail("cannot read " + (a.blob.empty() ? a.pem : a.blob));
    }
    std::vector<BYTE> blob;
    bool isPrivate = false;
    if (!a.blob.empty()) {
        blob = file;
        DWORD magic = 0;
        if (blob.size() >= 4) {
            std::memcpy(&magic, blob.data(), 4);
        }
        // Anything but a private magic is offered as a public blob; the
        // provider judges it.
        isPrivate = magic == kRsaPrivateMagic;
    } else {
        const Pkey key = ReadKey(file, isPrivate);
        if (!key || !ToBlob(key.get(), isPrivate, blob)) {
            return Fail(a.pem + " holds no RSA key in PEM or DER");
        }
    }
    explicit_bzero(file.data(), file.size());
    const int status = open(a.positional[0], a.silent, a.hasPin ? &a.pin : nullptr,
        [&](const NCRYPT_KEY_STORAGE_FUNCTION_TABLE& table, NCRYPT_PROV_HANDLE provider) {
            std::u16string name = Cng::Widen(a.key);
            NCryptBuffer buffer
                = { static_cast<ULONG>((name.size() + 1) * sizeof(char16_t)), 45, name.data() };
            NCryptBufferDesc list = { 0, 1, &buffer };
            NCRYPT_KEY_HANDLE key = 0;
            const SECURITY_STATUS imported = table.ImportKey(provider, 0,
                isPrivate ? u"RSAPRIVATEBLOB" : u"RSAPUBLICBLOB", a.key.empty() ? nullptr : &list, &key,
                blob.data(), static_cast<DWORD>(blob.size()), a.silent ? NCRYPT_SILENT_FLAG : 0);
            if (imported != ERROR_SUCCESS) {
                return Fail("importing the key failed: " + Hex(imported));
            }
            const auto* record = reinterpret_cast<const KeyContext*>(key);
            std::printf("Imported %s key \"%s\" (CKA_ID %s, %u bits): public key %s, private key %s\n",
                isPrivate ? "private" : "public", a.key.c_str(), IdOf(key).c_str(),
                static_cast<unsigned>(record->dwKeyLength), record->hPublicKey != 0 ? "yes" : "no",
                record->hPrivateKey != 0 ? "yes" : "no");
            table.FreeKey(provider, key);
            return 0;
        });
    explicit_bzero(blob.data(), blob.size());
    return status;
}

bool IsText(const std::string& property)
{
    for (const char* name : { "Name", "Unique Name", "Use Context", "Algorithm Name", "Algorithm Group" }) {
        if (property == name) {
            return true;
        }
    }
    return false;
}

void Print(const std::string& property, const std::vector<BYTE>& value)
{
    if (IsText(property)) {
        std::u16string text(value.size() / 2, 0);
        std::memcpy(text.data(), value.data(), text.size() * 2);
        text.resize(Cng::WideLength(text.c_str(), text.size()));
        std::printf("%s\n", Cng::Narrow(text).c_str());
    } else if (value.size() % 4 == 0 && !value.empty() && value.size() <= 16) {
        for (std::size_t i = 0; i < value.size(); i += 4) {
            DWORD number = 0;
            std::memcpy(&number, value.data() + i, 4);
            std::printf("%s%u (0x%08X)", i == 0 ? "" : " ", static_cast<unsigned>(number),
                static_cast<unsigned>(number));
        }
        std::printf("\n");
    } else {
        for (const BYTE byte : value) {
            std::printf("%02X", byte);
        }
        std::printf("\n");
    }
}

int Property(const std::string& action, const Arguments& a, const Opener& open)
{
    const std::string& property = a.positional[1];
    std::vector<BYTE> input;
    if (action == "set") {
        const int given = !a.dword.empty() + !a.text.empty() + !a.file.empty();
        if (given != 1) {
            return Usage("property set takes one of --dword N, --text TEXT and --file FILE");
        }
        DWORD number = 0;
        if (!a.dword.empty()) {
            if (!Number(a.dword, number)) {
                return Usage("--dword takes a number");
            }
            input.resize(4);
            std::memcpy(input.data(), &number, 4);
        } else if (!a.text.empty()) {
            const std::u16string text = Cng::Widen(a.text);
            input.resize((text.size() + 1) * 2);
            std::memcpy(input.data(), text.c_str(), input.size());
        } else if (!ReadFile(a.file, input)) {
            return Fail("cannot read " + a.file);
        } else {
            input = CertificateBytes(input);
        }
    }
    return open(a.positional[0], a.silent, a.hasPin ? &a.pin : nullptr,
        [&](const NCRYPT_KEY_STORAGE_FUNCTION_TABLE& table, NCRYPT_PROV_HANDLE provider) {
            NCRYPT_KEY_HANDLE key = 0;
            if (!a.key.empty()) {
                const SECURITY_STATUS opened = table.OpenKey(provider, &key, Cng::Widen(a.key).c_str(), 0, 0);
                if (opened != ERROR_SUCCESS) {
                    return Fail("opening key \"" + a.key + "\" failed: " + Hex(opened));
                }
            }
            const std::u16string name = Cng::Widen(property);
            int result = 0;
            if (action == "set") {
                const SECURITY_STATUS set = key != 0 ? table.SetKeyProperty(provider, key, name.c_str(),
                                                input.data(), static_cast<DWORD>(input.size()), 0)
                                                     : table.SetProviderProperty(provider, name.c_str(),
                                                         input.data(), static_cast<DWORD>(input.size()), 0);
                if (set != ERROR_SUCCESS) {
                    result = Fail("setting \"" + property + "\" failed: " + Hex(set));
                } else {
                    std::printf("Set \"%s\"\n", property.c_str());
                }
            } else {
                DWORD size = 0;
                auto get = [&](PBYTE out, DWORD cb) {
                    return key != 0 ? table.GetKeyProperty(provider, key, name.c_str(), out, cb, &size, 0)
                                    : table.GetProviderProperty(provider, name.c_str(), out, cb, &size, 0);
                };
                SECURITY_STATUS got = get(nullptr, 0);
                std::vector<BYTE> value(size);
                if (got == ERROR_SUCCESS) {
                    got = get(value.data(), static_cast<DWORD>(value.size()));
                }
                if (got != ERROR_SUCCESS) {
                    result = Fail("reading \"" + property + "\" failed: " + Hex(got));
                } else {
                    value.resize(size);
                    Print(property, value);
                }
            }
            if (key != 0) {
                table.FreeKey(provider, key);
            }
            return result;
        });
}

} // namespace

bool Handles(const std::vector<std::string>& args)
{
    return !args.empty() && (args[0] == "create" || args[0] == "import" || args[0] == "property");
}

int Run(const std::vector<std::string>& args, char** argv, const Opener& open)
{
    Arguments a;
    if (args[0] == "create") {
        if (!Parse(args, argv, 1, { "--length", "--spec" }, true, a)) {
            return 2;
        }
        if (a.positional.size() != 2) {
            return Usage("create takes a provider name and a key name");
        }
        return Create(a, open);
    }
    if (args[0] == "import") {
        if (!Parse(args, argv, 1, { "--blob", "--pem", "--key" }, false, a)) {
            return 2;
        }
        if (a.positional.size() != 1) {
            return Usage("import takes a provider name");
        }
        return Import(a, open);
    }
    if (args.size() < 2 || (args[1] != "get" && args[1] != "set")) {
        return Usage("property takes get or set");
    }
    const std::vector<std::string> valued = args[1] == "get"
        ? std::vector<std::string> { "--key" }
        : std::vector<std::string> { "--key", "--dword", "--text", "--file" };
    if (!Parse(args, argv, 2, valued, false, a)) {
        return 2;
    }
    if (a.positional.size() != 2) {
        return Usage("property " + args[1] + " takes a provider name and a property name");
    }
    return Property(args[1], a, open);
}

} // namespace CngKeyCommands
