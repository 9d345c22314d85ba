// vela5-cng: a CNG client over the router, the way an application reaches a
// key storage provider. Errors: one line on stderr, status 1 (2 for a wrong
// command line).
#include "ksp/Records.h"
#include "platform/cng/Router.h"
#include "platform/cng/WideText.h"

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

namespace {

const char* const kUsage
    = "usage: vela5-cng providers\n"
      "       vela5-cng open NAME [--silent]\n"
      "       vela5-cng --help\n"
      "\n"
      "providers        lists the key storage providers registered in the registry layer\n"
      "open NAME        opens the provider NAME through the router, prints the reader it is\n"
      "                 bound to, and frees it; --silent forbids asking for a reader\n";

int Fail(const std::string& line)
{
    std::fprintf(stderr, "vela5-cng: %s\n", line.c_str());
    return 1;
}

std::string Hex(SECURITY_STATUS status)
{
    char text[16];
    std::snprintf(text, sizeof text, "0x%08X", static_cast<unsigned>(status));
    return text;
}

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

} // namespace

int main(int argc, char** argv)
{
    const std::vector<std::string> args(argv + 1, argv + argc);
    if (args.size() == 1 && (args[0] == "--help" || args[0] == "-h")) {
        std::fputs(kUsage, stdout);
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
    std::fputs(kUsage, stderr);
    return 2;
}
