// The object commands go through the module's own calls (open a session,
// log the User in, C_NRV_LoadCert or C_CreateObject), so an object made here
// is made exactly as a program using the token would make it.
#include "TokenToolObjects.h"

#include "CkError.h"
#include "Database.h"
#include "Module.h"
#include "ObjectStore.h"
#include "ObjectTemplate.h"
#include "TokenStore.h"
#include "platform/certstore/Certificate.h"
#include "platform/openssl/OpenSslPtr.h"
#include "platform/secure_memory/SecureMemory.h"

#include <cstdio>
#include <cstring>
#include <fstream>
#include <iostream>
#include <iterator>
#include <map>
#include <memory>
#include <openssl/core_names.h>
#include <openssl/pem.h>
#include <stdexcept>

using namespace vela5::platform;

namespace velatoken {
namespace {

std::string ResultText(CK_RV rv)
{
    static const std::map<CK_RV, const char*> kNames = {
        { CKR_PIN_INCORRECT, "wrong PIN" },
        { CKR_PIN_LOCKED, "PIN locked" },
        { CKR_PIN_LEN_RANGE, "PIN length outside the token's limits" },
        { CKR_USER_PIN_NOT_INITIALIZED, "the token is blank" },
        { CKR_TOKEN_NOT_RECOGNIZED, "token not recognized" },
        { CKR_DATA_INVALID, "wrong password" },
        { CKR_DEVICE_MEMORY, "the token is full" },
        { CKR_ATTRIBUTE_VALUE_INVALID, "not a certificate the token accepts" },
        { NRV_CKR_FILE_OPEN_FAILED, "the file cannot be read" },
        { NRV_CKR_CERT_DATA_INVALID, "not a PKCS#12 file" },
        { NRV_CKR_CERT_NOT_FOUND, "no certificate in the file" },
        { NRV_CKR_PRIVATE_KEY_NOT_FOUND, "no private key in the file" },
        { NRV_CKR_CERT_FILE_ATTRIBUTES_INVALID, "not an RSA key" },
        { NRV_CKR_MATCHING_PRIVATE_KEY_MISSING, "no certificate matches the key" },
    };
    char code[32];
    std::snprintf(code, sizeof code, "0x%08lX", static_cast<unsigned long>(rv));
    const auto found = kNames.find(rv);
    return found == kNames.end() ? std::string(code) : std::string(code) + " (" + found->second + ")";
}

// Runs one module call; a failure names the call and its result.
template <typename Call> void Step(const char* function, Call&& call)
{
    try {
        call();
    } catch (const CkError& error) {
        throw std::runtime_error(std::string(function) + " failed: " + ResultText(error.Result()));
    }
}

// The module for one command: initialized, a read/write session on the
// token's slot, the User logged in; all of it undone on the way out.
class TokenSession final {
public:
    TokenSession()
        : m_module(Module::Instance())
    {
    }
    ~TokenSession()
    {
        try {
            if (m_session != 0) {
                m_module.CloseSession(m_session);
            }
            if (m_initialized) {
                m_module.Finalize(nullptr);
            }
        } catch (...) {
            // Nothing to add to the command's own result.
        }
    }
    TokenSession(const TokenSession&) = delete;
    TokenSession& operator=(const TokenSession&) = delete;

    // Outside the constructor, so a failing step still closes what it opened.
    void Open(const std::string& serial, const SecretBytes& pin)
    {
        Step("C_Initialize", [&] { m_module.Initialize(nullptr); });
        m_initialized = true;
        const CK_SLOT_ID slot = FindSlot(serial);
        Step("C_OpenSession",
            [&] { m_module.OpenSession(slot, CKF_SERIAL_SESSION | CKF_RW_SESSION, &m_session); });
        // The module only reads the PIN.
        Step("C_Login", [&] {
            m_module.Login(m_session, CKU_USER, const_cast<CK_BYTE_PTR>(pin.Data()),
                static_cast<CK_ULONG>(pin.Size()), false);
        });
    }

    Module& M() { return m_module; }
    CK_SESSION_HANDLE Handle() const { return m_session; }

private:
    CK_SLOT_ID FindSlot(const std::string& serial)
    {
        CK_ULONG count = 0;
        Step("C_GetSlotList", [&] { m_module.GetSlotList(CK_TRUE, nullptr, &count); });
        std::vector<CK_SLOT_ID> slots(count);
        Step("C_GetSlotList", [&] { m_module.GetSlotList(CK_TRUE, slots.data(), &count); });
        for (CK_ULONG i = 0; i < count; ++i) {
            CK_BYTE found[NRV_SERIAL_BUFFER_SIZE] = {};
            Step("C_NRV_GetSerialNumber", [&] { m_module.GetSerialNumber(slots[i], found); });
            if (serial == reinterpret_cast<const char*>(found)) {
                return slots[i];
            }
        }
        throw std::runtime_error("no token with serial " + serial + " is in a reader (see vela5-token list)");
    }

    Module& m_module;
    bool m_initialized = false;
    CK_SESSION_HANDLE m_session = 0;
};

// Options after the positional arguments: "--name value" pairs.
std::map<std::string, std::string> Options(const std::vector<std::string>& args, size_t first)
{
    std::map<std::string, std::string> options;
    for (size_t i = first; i < args.size(); ++i) {
        if (args[i].rfind("--", 0) != 0 || i + 1 >= args.size()) {
            throw std::invalid_argument("unknown or incomplete option \"" + args[i] + "\"");
        }
        options[args[i]] = args[i + 1];
        ++i;
    }
    return options;
}

std::string Take(
    std::map<std::string, std::string>& options, const std::string& name, const std::string& command)
{
    const auto found = options.find(name);
    if (found == options.end()) {
        throw std::invalid_argument(command + " needs " + name);
    }
    std::string value = found->second;
    options.erase(found);
    return value;
}

// A PIN or password, owned so it is wiped however the command ends.
SecretBytes TakeSecret(
    std::map<std::string, std::string>& options, const std::string& name, const std::string& command)
{
    std::string value = Take(options, name, command);
    SecretBytes secret(value.data(), value.size());
    SecureMemory::Wipe(value.data(), value.size());
    return secret;
}

void NoMore(const std::map<std::string, std::string>& options)
{
    if (!options.empty()) {
        throw std::invalid_argument("unknown option \"" + options.begin()->first + "\"");
    }
}

Blob ParseHex(const std::string& text)
{
    Blob bytes;
    if (text.empty() || text.size() % 2 != 0 || text.size() > 2 * 255) {
        throw std::invalid_argument("--id needs 1 to 255 bytes as hex digits, not \"" + text + "\"");
    }
    for (size_t i = 0; i < text.size(); i += 2) {
        const std::string pair = text.substr(i, 2);
        char* end = nullptr;
        const unsigned long value = std::strtoul(pair.c_str(), &end, 16);
        if (*end != '\0' || !std::isxdigit(static_cast<unsigned char>(pair[0]))) {
            throw std::invalid_argument("--id needs hex digits, not \"" + text + "\"");
        }
        bytes.push_back(static_cast<unsigned char>(value));
    }
    return bytes;
}

// A .cer file holds DER or, from many tools, PEM; the token gets DER.
Blob ReadCertificateFile(const std::string& file)
{
    std::ifstream in(file, std::ios::binary);
    if (!in) {
        throw std::runtime_error("cannot read " + file);
    }
    Blob bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    const std::string_view text(reinterpret_cast<const char*>(bytes.data()), bytes.size());
    if (text.find("-----BEGIN CERTIFICATE-----") != std::string_view::npos) {
        BioPtr bio(BIO_new_mem_buf(bytes.data(), static_cast<int>(bytes.size())));
        X509Ptr parsed(PEM_read_bio_X509(bio.get(), nullptr, nullptr, nullptr));
        unsigned char* der = nullptr;
        const int length = parsed ? i2d_X509(parsed.get(), &der) : -1;
        if (length <= 0) {
            throw std::runtime_error(file + " is not a certificate (PEM that OpenSSL refuses)");
        }
        bytes.assign(der, der + length);
        OPENSSL_free(der);
    }
    CertStore::Certificate certificate;
    if (CertStore::Certificate::Create(bytes.data(), bytes.size(), certificate) != CertStore::Success) {
        throw std::runtime_error(
            file + " is not a DER or PEM certificate (" + CertStore::Certificate::LastParseError() + ")");
    }
    return bytes;
}

void Import(const std::vector<std::string>& args)
{
    if (args.size() < 4) {
        throw std::invalid_argument("usage: object import SERIAL FILE --password P --pin PIN");
    }
    auto options = Options(args, 4);
    const SecretBytes password = TakeSecret(options, "--password", "object import");
    const SecretBytes pin = TakeSecret(options, "--pin", "object import");
    NoMore(options);
    if (password.Size() >= NRV_PASSWORD_BUFFER_SIZE) {
        throw std::invalid_argument(
            "the password is longer than " + std::to_string(NRV_PASSWORD_BUFFER_SIZE - 1) + " bytes");
    }
    // The path as the manager passes it: absolute, every backslash doubled.
    std::string path = std::filesystem::absolute(args[3]).string();
    std::string doubled;
    for (const char c : path) {
        doubled += c;
        if (c == '\\') {
            doubled += '\\';
        }
    }
    if (doubled.size() >= NRV_PATH_BUFFER_SIZE) {
        throw std::invalid_argument(
            "the path is longer than " + std::to_string(NRV_PATH_BUFFER_SIZE - 1) + " bytes");
    }
    CK_BYTE pathBuffer[NRV_PATH_BUFFER_SIZE] = {};
    std::memcpy(pathBuffer, doubled.c_str(), doubled.size() + 1);
    TokenSession session;
    session.Open(args[2], pin);
    Step("C_NRV_LoadCert", [&] {
        session.M().LoadCert(session.Handle(), pathBuffer, const_cast<CK_BYTE_PTR>(password.Data()),
            static_cast<CK_ULONG>(password.Size()));
    });
}

void AddCertificate(const std::vector<std::string>& args)
{
    if (args.size() < 4) {
        throw std::invalid_argument(
            "usage: object add-cert SERIAL FILE.cer --id HEX --pin PIN [--label LABEL]");
    }
    auto options = Options(args, 4);
    const Blob id = ParseHex(Take(options, "--id", "object add-cert"));
    const SecretBytes pin = TakeSecret(options, "--pin", "object add-cert");
    std::string label;
    const bool labelGiven = options.count("--label") != 0;
    if (labelGiven) {
        label = Take(options, "--label", "object add-cert");
    }
    NoMore(options);
    Blob value = ReadCertificateFile(args[3]);
    if (!labelGiven) {
        CertStore::Certificate certificate;
        CertStore::Certificate::Create(value.data(), value.size(), certificate);
        label = certificate.SimpleDisplayName();
    }
    TokenSession session;
    session.Open(args[2], pin);
    CK_OBJECT_CLASS objectClass = CKO_CERTIFICATE;
    CK_CERTIFICATE_TYPE type = CKC_X_509;
    CK_BBOOL yes = CK_TRUE;
    Blob idCopy = id;
    CK_ATTRIBUTE attributes[] = {
        { CKA_CLASS, &objectClass, sizeof objectClass },
        { CKA_TOKEN, &yes, sizeof yes },
        { CKA_CERTIFICATE_TYPE, &type, sizeof type },
        { CKA_ID, idCopy.data(), static_cast<CK_ULONG>(idCopy.size()) },
        { CKA_LABEL, label.data(), static_cast<CK_ULONG>(label.size()) },
        { CKA_VALUE, value.data(), static_cast<CK_ULONG>(value.size()) },
    };
    CK_OBJECT_HANDLE handle = 0;
    Step("C_CreateObject", [&] {
        session.M().CreateObject(
            session.Handle(), attributes, static_cast<CK_ULONG>(std::size(attributes)), &handle);
    });
    std::cout << handle << "\n";
}

// A big number's bytes, most significant first, as PKCS #11 stores them.
Blob KeyParameter(const EVP_PKEY* key, const char* name)
{
    BIGNUM* number = nullptr;
    if (EVP_PKEY_get_bn_param(key, name, &number) != 1) {
        return {};
    }
    Blob bytes(static_cast<size_t>(BN_num_bytes(number)));
    BN_bn2bin(number, bytes.data());
    BN_clear_free(number);
    return bytes;
}

// One half of an RSA key read from a PEM key file, stored with C_CreateObject
// as a program importing a key would store it.
void AddKey(const std::vector<std::string>& args)
{
    if (args.size() < 4) {
        throw std::invalid_argument(
            "usage: object add-key SERIAL KEY.pem --class private|public --id HEX|- --pin PIN [--label L]");
    }
    auto options = Options(args, 4);
    const std::string className = Take(options, "--class", "object add-key");
    const std::string idText = Take(options, "--id", "object add-key");
    const SecretBytes pin = TakeSecret(options, "--pin", "object add-key");
    std::string label;
    if (options.count("--label") != 0) {
        label = Take(options, "--label", "object add-key");
    }
    NoMore(options);
    if (className != "private" && className != "public") {
        throw std::invalid_argument("--class is private or public, not \"" + className + "\"");
    }
    const Blob id = idText == "-" ? Blob() : ParseHex(idText);
    BioPtr bio(BIO_new_file(args[3].c_str(), "rb"));
    if (!bio) {
        throw std::runtime_error("cannot read " + args[3]);
    }
    PkeyPtr key(PEM_read_bio_PrivateKey(bio.get(), nullptr, nullptr, nullptr));
    if (!key || EVP_PKEY_get_base_id(key.get()) != EVP_PKEY_RSA) {
        throw std::runtime_error(args[3] + " is not a PEM RSA private key");
    }
    const bool isPrivate = className == "private";
    const char* names[] = { "n", "e", "d", "rsa-factor1", "rsa-factor2", "rsa-exponent1", "rsa-exponent2",
        "rsa-coefficient1" };
    const CK_ATTRIBUTE_TYPE types[] = { CKA_MODULUS, CKA_PUBLIC_EXPONENT, CKA_PRIVATE_EXPONENT, CKA_PRIME_1,
        CKA_PRIME_2, CKA_EXPONENT_1, CKA_EXPONENT_2, CKA_COEFFICIENT };
    // The private parts are wiped however the command ends.
    std::vector<SecretBytes> values;
    for (const char* name : names) {
        values.emplace_back(KeyParameter(key.get(), name));
    }
    CK_OBJECT_CLASS objectClass = isPrivate ? CKO_PRIVATE_KEY : CKO_PUBLIC_KEY;
    CK_KEY_TYPE keyType = CKK_RSA;
    CK_BBOOL yes = CK_TRUE;
    Blob idCopy = id;
    std::vector<CK_ATTRIBUTE> attributes = {
        { CKA_CLASS, &objectClass, sizeof objectClass },
        { CKA_TOKEN, &yes, sizeof yes },
        { CKA_KEY_TYPE, &keyType, sizeof keyType },
        { CKA_ID, idCopy.data(), static_cast<CK_ULONG>(idCopy.size()) },
        { CKA_LABEL, label.data(), static_cast<CK_ULONG>(label.size()) },
    };
    const size_t parts = isPrivate ? values.size() : 2;
    for (size_t i = 0; i < parts; ++i) {
        // The module only reads the values.
        attributes.push_back({ types[i], const_cast<std::uint8_t*>(values[i].Data()),
            static_cast<CK_ULONG>(values[i].Size()) });
    }
    TokenSession session;
    session.Open(args[2], pin);
    CK_OBJECT_HANDLE handle = 0;
    Step("C_CreateObject", [&] {
        session.M().CreateObject(
            session.Handle(), attributes.data(), static_cast<CK_ULONG>(attributes.size()), &handle);
    });
    std::cout << handle << "\n";
}

std::string Hex(const Blob* bytes)
{
    if (bytes == nullptr || bytes->empty()) {
        return "-";
    }
    static const char* const digits = "0123456789ABCDEF";
    std::string text;
    for (const unsigned char byte : *bytes) {
        text += digits[byte >> 4];
        text += digits[byte & 0x0F];
    }
    return text;
}

void List(const std::vector<std::string>& args)
{
    if (args.size() != 3) {
        throw std::invalid_argument("usage: object list SERIAL");
    }
    Database db(StateDirectory() / "state.db");
    TokenStore tokens(db);
    const auto token = tokens.TokenBySerial(args[2]);
    if (!token) {
        throw std::runtime_error("no token with serial " + args[2]);
    }
    static const std::map<CK_OBJECT_CLASS, const char*> kClasses = {
        { CKO_DATA, "data" },
        { CKO_CERTIFICATE, "certificate" },
        { CKO_PUBLIC_KEY, "public-key" },
        { CKO_PRIVATE_KEY, "private-key" },
        { CKO_SECRET_KEY, "secret-key" },
    };
    ObjectStore objects(db);
    for (const StoredObject& object : objects.TokenObjects(token->id)) {
        const auto name = kClasses.find(object.objectClass);
        const Blob* label = object.Find(CKA_LABEL);
        std::cout << object.id << '\t' << (name != kClasses.end() ? name->second : "other") << '\t'
                  << Hex(object.Find(CKA_ID)) << "\t\""
                  << (label != nullptr ? std::string(label->begin(), label->end()) : std::string()) << "\"\t"
                  << object.keyPairIndex << "\n";
    }
}

} // namespace

int RunObjectCommand(const std::vector<std::string>& args)
{
    const std::string sub = args.size() > 1 ? args[1] : std::string();
    if (sub == "import") {
        Import(args);
    } else if (sub == "add-cert") {
        AddCertificate(args);
    } else if (sub == "add-key") {
        AddKey(args);
    } else if (sub == "list") {
        List(args);
    } else {
        throw std::invalid_argument(
            "unknown command \"object" + (sub.empty() ? "" : " " + sub) + "\" (see --help)");
    }
    return 0;
}

} // namespace velatoken
