// vela5-cng's key creation, import and property commands. Each parses its
// own arguments; the provider is opened by main's opener, which takes the
// common --silent and --pin options.
#pragma once

#include "platform/cng/Cng.h"
#include "platform/secure_memory/SecretBytes.h"

#include <functional>
#include <string>
#include <vector>

namespace CngKeyCommands {

using Body = std::function<int(const NCRYPT_KEY_STORAGE_FUNCTION_TABLE& table, NCRYPT_PROV_HANDLE provider)>;
// Opens the provider, runs body, frees the provider; pin null: no --pin.
using Opener = std::function<int(
    const std::string& name, bool silent, const vela5::platform::SecretBytes* pin, const Body& body)>;

// Their usage and help, which --help prints after the other commands.
extern const char* const kHelp;

// True when args (without the program name) name one of these commands.
bool Handles(const std::vector<std::string>& args);
// The command's exit status: 0, 1 for a failure, 2 for a wrong command line.
// argv is the program's argument vector past the program name, so a --pin
// given on the command line is wiped there once it is read.
int Run(const std::vector<std::string>& args, char** argv, const Opener& open);

} // namespace CngKeyCommands
