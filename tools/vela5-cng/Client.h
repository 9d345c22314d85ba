// What the commands of vela5-cng share: the failure line, the command-line
// options, and a provider opened through the router for one command.
#pragma once

#include "ksp/abi/HandleRecords.h"
#include "platform/cng/Router.h"
#include "platform/secure_memory/SecretBytes.h"

#include <string>
#include <vector>

int Fail(const std::string& line);
std::string Hex(SECURITY_STATUS status);

// Options beyond --silent and --pin that a command accepts.
enum OptionSet : unsigned {
    kSpecOption = 1,
    kHashOption = 2,
    kOutOption = 4,
    kExportOptions = 8, // --pem FILE, --blob FILE
};

struct Options {
    bool silent = false;
    bool hasPin = false;
    vela5::platform::SecretBytes pin;
    DWORD spec = 0;
    std::string hash;
    std::string out;
    std::string pem;
    std::string blob;
};

// Parses the options from index from on; positional arguments left over go
// to positional (when given, else they are a mistake). False for a mistake,
// after printing it.
bool ParseOptions(const std::vector<std::string>& args, char** argv, std::size_t from, unsigned allowed,
    Options& options, std::vector<std::string>* positional = nullptr);

// An opened provider, freed when it goes.
class OpenedProvider final {
public:
    SECURITY_STATUS Open(const std::string& name, const Options& options, std::string& failure);
    ~OpenedProvider();
    const NCRYPT_KEY_STORAGE_FUNCTION_TABLE& Table() const { return *m_provider.Table(); }
    NCRYPT_PROV_HANDLE Handle() const { return m_handle; }

private:
    vela5::platform::Cng::Provider m_provider;
    NCRYPT_PROV_HANDLE m_handle = 0;
};

extern const char* const kUsage;

// sign, verify, encrypt, decrypt and export (KeyOperations.cpp); the
// command's arguments from its name on. Exit status.
int KeyOperation(const std::vector<std::string>& args, char** argv);
