#include "Client.h"

#include "platform/cng/WideText.h"
#include "platform/secure_memory/SecureMemory.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

using namespace vela5::platform;

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

bool ParseOptions(const std::vector<std::string>& args, char** argv, std::size_t from, unsigned allowed,
    Options& options, std::vector<std::string>* positional)
{
    for (std::size_t i = from; i < args.size(); ++i) {
        const bool hasValue = i + 1 < args.size();
        if (args[i] == "--silent") {
            options.silent = true;
        } else if (args[i] == "--pin" && hasValue) {
            options.hasPin = true;
            ++i;
            options.pin.Assign(args[i].data(), args[i].size());
            // The command line's copy is not needed any more.
            explicit_bzero(argv[i], std::strlen(argv[i]));
        } else if ((allowed & kSpecOption) != 0 && args[i] == "--spec" && hasValue) {
            const std::string& value = args[++i];
            if (value.size() != 1 || value[0] < '0' || value[0] > '9') {
                std::fprintf(stderr, "vela5-cng: --spec takes a number from 0 to 9\n");
                return false;
            }
            options.spec = static_cast<DWORD>(value[0] - '0');
        } else if ((allowed & kHashOption) != 0 && args[i] == "--hash" && hasValue) {
            options.hash = args[++i];
        } else if ((allowed & kOutOption) != 0 && args[i] == "--out" && hasValue) {
            options.out = args[++i];
        } else if ((allowed & kExportOptions) != 0 && args[i] == "--pem" && hasValue) {
            options.pem = args[++i];
        } else if ((allowed & kExportOptions) != 0 && args[i] == "--blob" && hasValue) {
            options.blob = args[++i];
        } else if (positional != nullptr && args[i].rfind("--", 0) != 0) {
            positional->push_back(args[i]);
        } else {
            std::fprintf(stderr, "vela5-cng: unknown option %s\n%s", args[i].c_str(), kUsage);
            return false;
        }
    }
    return true;
}

SECURITY_STATUS OpenedProvider::Open(const std::string& name, const Options& options, std::string& failure)
{
    std::string error;
    if (const SECURITY_STATUS loaded = m_provider.Load(name, error); loaded != ERROR_SUCCESS) {
        failure = error + " (" + Hex(loaded) + ")";
        return loaded;
    }
    const SECURITY_STATUS opened
        = m_provider.Open(&m_handle, Cng::Widen(name), options.silent ? NCRYPT_SILENT_FLAG : 0);
    if (opened != ERROR_SUCCESS) {
        failure = "opening \"" + name + "\" failed: " + Hex(opened);
        m_handle = 0;
        return opened;
    }
    if (options.hasPin) {
        // The provider logs in with the PIN in its PIN buffer instead of
        // asking; it wipes and releases the buffer when it is freed.
        std::u16string pin = Cng::Widen(options.pin.Text());
        auto* buffer = new char16_t[pin.size() + 1]();
        std::copy(pin.begin(), pin.end(), buffer);
        reinterpret_cast<ProviderContext*>(m_handle)->pszPin = buffer;
        SecureMemory::Wipe(pin.data(), pin.size() * sizeof(char16_t));
    }
    return ERROR_SUCCESS;
}

OpenedProvider::~OpenedProvider()
{
    if (m_handle != 0) {
        m_provider.Free(m_handle);
    }
}
