// vela5-cng: a CNG client over the router, the way an application reaches a
// key storage provider. Errors: one line on stderr, status 1 (2 for a wrong
// command line).
#include "Client.h"
#include "ksp/KeyNames.h"
#include "platform/cng/WideText.h"
#include "tools/vela5-cng/KeyCommands.h"

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

using namespace vela5::platform;

const char* const kUsage
    = "usage: vela5-cng providers\n"
      "       vela5-cng open NAME [--silent]\n"
      "       vela5-cng keys NAME [--silent] [--pin PIN]\n"
      "       vela5-cng key open NAME KEY [--spec N] [--silent] [--pin PIN]\n"
      "       vela5-cng key delete NAME KEY [--silent] [--pin PIN]\n"
      "       vela5-cng sign NAME KEY --hash HASH FILE [--out SIGNATURE] [--silent] [--pin PIN]\n"
      "       vela5-cng verify NAME KEY --hash HASH FILE SIGNATURE [--silent] [--pin PIN]\n"
      "       vela5-cng encrypt NAME KEY FILE --out FILE [--silent] [--pin PIN]\n"
      "       vela5-cng decrypt NAME KEY FILE --out FILE [--silent] [--pin PIN]\n"
      "       vela5-cng export NAME KEY (--pem FILE | --blob FILE) [--silent] [--pin PIN]\n"
      "       vela5-cng --help\n"
      "\n"
      "providers        lists the key storage providers registered in the registry layer\n"
      "open NAME        opens the provider NAME through the router, prints the reader it is\n"
      "                 bound to, and frees it; --silent forbids asking for a reader\n"
      "keys NAME        lists the keys of the token, one line each: the key name and its\n"
      "                 CKA_ID in hexadecimal (either opens the key)\n"
      "key open NAME KEY\n"
      "                 opens the key KEY (its name, its hexadecimal ID, or the reader name,\n"
      "                 a separator and the name) with legacy key spec N (0-3, default 0)\n"
      "                 and prints which of its halves the token holds\n"
      "key delete NAME KEY\n"
      "                 destroys the key's objects on the token\n"
      "sign NAME KEY --hash HASH FILE\n"
      "                 hashes FILE (md5, sha1, sha256, sha384 or sha512) and has the provider\n"
      "                 sign the hash (PKCS #1 v1.5); the signature goes to --out, else it is\n"
      "                 printed in hexadecimal\n"
      "verify NAME KEY --hash HASH FILE SIGNATURE\n"
      "                 has the provider verify the signature file over the hash of FILE\n"
      "encrypt, decrypt NAME KEY FILE --out FILE\n"
      "                 encrypts FILE with the key's public half, or decrypts it with the\n"
      "                 private half on the token (PKCS #1 v1.5)\n"
      "export NAME KEY  writes the public key as the provider exports it (RSAPUBLICBLOB) to\n"
      "                 --blob FILE, or converted to a PEM public key to --pem FILE\n"
      "\n"
      "The provider asks for the token's PIN in its dialog; --pin PIN gives it instead,\n"
      "for scripts.\n";

namespace {

int Providers()
{
    std::vector<Cng::RegisteredProvider> providers;
    if (const long status = Cng::ListProviders(providers); status != 0) {
        return Fail("cannot read the registered providers (error " + std::to_string(status) + ")");
    }
    for (const Cng::RegisteredProvider& provider : providers) {
        std::string aliases;
        for (const std::string& alias : provider.aliases) {
            aliases += (aliases.empty() ? "" : ", ") + alias;
        }
        std::printf("%s\n  Image: %s\n  Aliases: %s\n  Default Key Length: %u\n", provider.name.c_str(),
            provider.image.c_str(), aliases.c_str(), static_cast<unsigned>(provider.defaultKeyLength));
    }
    return 0;
}

int Open(const std::string& name, bool silent)
{
    Cng::Provider provider;
    std::string error;
    if (const SECURITY_STATUS loaded = provider.Load(name, error); loaded != ERROR_SUCCESS) {
        return Fail(error + " (" + Hex(loaded) + ")");
    }
    NCRYPT_PROV_HANDLE handle = 0;
    const SECURITY_STATUS opened = provider.Open(&handle, Cng::Widen(name), silent ? NCRYPT_SILENT_FLAG : 0);
    if (opened != ERROR_SUCCESS) {
        return Fail("opening \"" + name + "\" failed: " + Hex(opened));
    }
    // The handle is the provider's own record, in this process.
    const auto* record = reinterpret_cast<const ProviderContext*>(handle);
    const std::string reader
        = record->pszReaderName != nullptr ? Cng::Narrow(std::u16string_view(record->pszReaderName)) : "";
    std::printf("Opened \"%s\" on reader \"%s\" (slot %lu)\n", name.c_str(), reader.c_str(),
        static_cast<unsigned long>(record->slotId));
    if (const SECURITY_STATUS freed = provider.Free(handle); freed != ERROR_SUCCESS) {
        return Fail("freeing the provider failed: " + Hex(freed));
    }
    return 0;
}

std::string HexId(std::u16string_view name)
{
    const auto id = KeyNames::ToId(name);
    return id ? KeyNames::Hex(id->data(), id->size()) : "-";
}

int Keys(const std::string& name, const Options& options)
{
    OpenedProvider provider;
    std::string failure;
    if (provider.Open(name, options, failure) != ERROR_SUCCESS) {
        return Fail(failure);
    }
    PVOID state = nullptr;
    int status = 0;
    for (;;) {
        NCryptKeyName* key = nullptr;
        const SECURITY_STATUS read = provider.Table().EnumKeys(provider.Handle(), nullptr, &key, &state, 0);
        if (read == NTE_NO_MORE_ITEMS) {
            break;
        }
        if (read != ERROR_SUCCESS) {
            status = Fail("listing the keys failed: " + Hex(read));
            break;
        }
        const std::u16string_view keyName(key->pszName);
        std::printf("%s\t%s\n", Cng::Narrow(keyName).c_str(), HexId(keyName).c_str());
        provider.Table().FreeBuffer(key);
    }
    provider.Table().FreeBuffer(state);
    return status;
}

int Key(
    const std::string& action, const std::string& name, const std::string& keyName, const Options& options)
{
    OpenedProvider provider;
    std::string failure;
    if (provider.Open(name, options, failure) != ERROR_SUCCESS) {
        return Fail(failure);
    }
    NCRYPT_KEY_HANDLE key = 0;
    const SECURITY_STATUS opened = provider.Table().OpenKey(provider.Handle(), &key,
        Cng::Widen(keyName).c_str(), options.spec, options.silent ? NCRYPT_SILENT_FLAG : 0);
    if (opened != ERROR_SUCCESS) {
        return Fail("opening key \"" + keyName + "\" failed: " + Hex(opened));
    }
    const auto* record = reinterpret_cast<const KeyContext*>(key);
    const std::u16string_view opensAs(record->pszKeyName != nullptr ? record->pszKeyName : u"");
    int status = 0;
    if (action == "open") {
        std::printf("Opened key \"%s\" (CKA_ID %s, %u bits): public key %s, private key %s\n",
            Cng::Narrow(opensAs).c_str(), KeyNames::Hex(record->ckaId, record->cbCkaId).c_str(),
            static_cast<unsigned>(record->dwKeyLength), record->hPublicKey != 0 ? "yes" : "no",
            record->hPrivateKey != 0 ? "yes" : "no");
    } else {
        const std::string shown = Cng::Narrow(opensAs);
        const SECURITY_STATUS deleted
            = provider.Table().DeleteKey(provider.Handle(), key, options.silent ? NCRYPT_SILENT_FLAG : 0);
        if (deleted != ERROR_SUCCESS) {
            status = Fail("deleting key \"" + keyName + "\" failed: " + Hex(deleted));
        } else {
            std::printf("Deleted key \"%s\"\n", shown.c_str());
        }
    }
    provider.Table().FreeKey(provider.Handle(), key);
    return status;
}

// Opens a provider for the key commands, with the common options.
int WithProvider(
    const std::string& name, bool silent, const SecretBytes* pin, const CngKeyCommands::Body& body)
{
    Options options;
    options.silent = silent;
    options.hasPin = pin != nullptr;
    if (pin != nullptr) {
        options.pin = *pin;
    }
    OpenedProvider provider;
    std::string failure;
    if (provider.Open(name, options, failure) != ERROR_SUCCESS) {
        return Fail(failure);
    }
    return body(provider.Table(), provider.Handle());
}

} // namespace

int main(int argc, char** argv)
{
    const std::vector<std::string> args(argv + 1, argv + argc);
    if (args.size() == 1 && (args[0] == "--help" || args[0] == "-h")) {
        std::fputs(kUsage, stdout);
        std::fputs(CngKeyCommands::kHelp, stdout);
        return 0;
    }
    if (args.size() == 1 && args[0] == "providers") {
        return Providers();
    }
    if ((args.size() == 2 || args.size() == 3) && args[0] == "open") {
        const bool silent = args.size() == 3;
        if (silent && args[2] != "--silent") {
            std::fprintf(stderr, "vela5-cng: unknown option %s\n%s", args[2].c_str(), kUsage);
            return 2;
        }
        return Open(args[1], silent);
    }
    if (args.size() >= 2 && args[0] == "keys") {
        Options options;
        if (!ParseOptions(args, argv + 1, 2, 0, options)) {
            return 2;
        }
        return Keys(args[1], options);
    }
    if (args.size() >= 4 && args[0] == "key" && (args[1] == "open" || args[1] == "delete")) {
        Options options;
        if (!ParseOptions(args, argv + 1, 4, args[1] == "open" ? unsigned { kSpecOption } : 0U, options)) {
            return 2;
        }
        return Key(args[1], args[2], args[3], options);
    }
    if (CngKeyCommands::Handles(args)) {
        return CngKeyCommands::Run(args, argv + 1, WithProvider);
    }
    if (!args.empty()
        && (args[0] == "sign" || args[0] == "verify" || args[0] == "encrypt" || args[0] == "decrypt"
            || args[0] == "export")) {
        return KeyOperation(args, argv + 1);
    }
    std::fputs(kUsage, stderr);
    return 2;
}
