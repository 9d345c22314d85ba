// vela5-token: readers, tokens and failure switches of the software token.
#include "CkError.h"
#include "Database.h"
#include "Model.h"
#include "ObjectStore.h"
#include "SwitchableCall.h"
#include "TokenStore.h"
#include "TokenToolObjects.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <map>
#include <stdexcept>
#include <string>
#include <vector>

using namespace velatoken;

namespace {

constexpr const char* kHelp = R"(usage: vela5-token COMMAND ...

Controls the software token's shared state under $VELA5_ROOT/tokens
(default $XDG_DATA_HOME/vela5/tokens, i.e. ~/.local/share/vela5/tokens).

  reader add NAME                    add an empty reader
  reader remove NAME                 remove a reader (its token stays known)
  reader fail NAME FUNCTION [CODE|off]
                                     make FUNCTION fail on this reader's slot with
                                     CODE (hex or decimal, default 0x30), or stop
  token create --model MODEL [--serial SERIAL]
               [--blank | --label LABEL --user-pin PIN --so-pin PIN
                [--min-pin N] [--max-pin N] [--so-min-pin N] [--so-max-pin N]
                [--error-limit N] [--so-error-limit N] [--max-keypairs N]
                [--no-clear-card]] [--test-pin-rounds N]
                                     create a token and print its serial number;
                                     MODEL is VELA5-32, VELA5-64, SGL32, SGL64 or
                                     UNKNOWN; blank is the default; limits default
                                     to PIN lengths 4-8, error limits 8, 10 key pairs;
                                     --test-pin-rounds N is for tests only: it
                                     hashes the PINs with N PBKDF2 rounds instead
                                     of 600000, which makes them easy to guess
  token insert SERIAL READER         put a token into an empty reader
  token eject READER                 take the token out of a reader
  token fail SERIAL FUNCTION [CODE|off]
                                     make FUNCTION fail for this token with CODE
  object import SERIAL FILE --password P --pin PIN
                                     load a PKCS#12 file onto the token in a
                                     reader as C_NRV_LoadCert does: certificate,
                                     private and public key under one ID
  object add-cert SERIAL FILE --id HEX --pin PIN [--label LABEL]
                                     put a certificate (DER or PEM) on the token
                                     with that CKA_ID; the label defaults to the
                                     certificate's simple display name; prints
                                     the new object's handle
  object add-key SERIAL KEY.pem --class private|public --id HEX|- --pin PIN
                [--label LABEL]      put one half of an RSA key (a PEM private
                                     key file) on the token with C_CreateObject,
                                     with that CKA_ID ("-" for none); prints the
                                     new object's handle
  object list SERIAL                 the token's objects, one a line: handle,
                                     class, ID in hex ("-" for none), label in
                                     quotes and key-pair index (0 for none),
                                     separated by tabs
  list                               readers, and the token in each
  show SERIAL                        token details and objects
  --help                             this text

FUNCTION is a module entry name such as C_GetSlotInfo, C_GetTokenInfo,
C_OpenSession, C_NRV_Login; a name no switch can take is refused. A reader
switch on C_GetSlotList fails the whole slot list. C_CreateObject:certificate
(or :public-key, :private-key, :other) fails the creation of that class of
object only. Errors print one line on stderr and exit with status 1 (2 for a
wrong command line).
)";

class UsageError final : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

long Number(const std::string& text, const std::string& option)
{
    char* end = nullptr;
    const long value = std::strtol(text.c_str(), &end, 0);
    if (text.empty() || *end != '\0') {
        throw UsageError(option + " needs a number, not \"" + text + "\"");
    }
    return value;
}

CK_RV FailureCode(const std::vector<std::string>& args, size_t index)
{
    if (args.size() <= index) {
        return CKR_DEVICE_ERROR;
    }
    // A code that does not parse whole, or 0, would make the function
    // "fail" with CKR_OK and answer without doing its work.
    const std::string& text = args[index];
    char* end = nullptr;
    errno = 0;
    const unsigned long long value = std::strtoull(text.c_str(), &end, 0);
    if (text.empty() || text.find('-') != std::string::npos || *end != '\0' || errno == ERANGE || value == 0
        || value > 0xFFFFFFFFULL) {
        throw UsageError("CODE is a nonzero result code from 1 to 0xFFFFFFFF, or off; not \"" + text + "\"");
    }
    return static_cast<CK_RV>(value);
}

void Need(const std::vector<std::string>& args, size_t count)
{
    if (args.size() < count) {
        throw UsageError("missing arguments (see --help)");
    }
}

std::string CreateToken(TokenStore& store, const std::vector<std::string>& args)
{
    std::map<std::string, std::string> options;
    bool blank = false;
    bool clearCard = true;
    for (size_t i = 2; i < args.size(); ++i) {
        const std::string& option = args[i];
        if (option == "--blank") {
            blank = true;
        } else if (option == "--no-clear-card") {
            clearCard = false;
        } else if (option.rfind("--", 0) == 0 && i + 1 < args.size()) {
            options[option] = args[++i];
        } else {
            throw UsageError("unknown or incomplete option \"" + option + "\"");
        }
    }
    if (!options.count("--model")) {
        throw UsageError("token create needs --model (" + ModelNames() + ")");
    }
    const bool initialized
        = options.count("--label") || options.count("--user-pin") || options.count("--so-pin");
    if (blank && initialized) {
        throw UsageError("--blank cannot go with --label, --user-pin or --so-pin");
    }
    InitParams params;
    if (initialized) {
        if (!options.count("--label") || !options.count("--user-pin") || !options.count("--so-pin")) {
            throw UsageError("an initialized token needs --label, --user-pin and --so-pin");
        }
        params.label = options["--label"];
        params.userPin.Assign(options["--user-pin"].data(), options["--user-pin"].size());
        params.soPin.Assign(options["--so-pin"].data(), options["--so-pin"].size());
        params.clearCard = clearCard;
        const std::pair<const char*, int64_t*> numbers[] = {
            { "--min-pin", &params.userMin },
            { "--max-pin", &params.userMax },
            { "--so-min-pin", &params.soMin },
            { "--so-max-pin", &params.soMax },
            { "--error-limit", &params.userLimit },
            { "--so-error-limit", &params.soLimit },
            { "--max-keypairs", &params.maxKeyPairs },
        };
        for (const auto& [name, target] : numbers) {
            if (options.count(name)) {
                *target = Number(options[name], name);
                options.erase(name);
            }
        }
        options.erase("--label");
        options.erase("--user-pin");
        options.erase("--so-pin");
    }
    const std::string model = options["--model"];
    const std::string serial = options.count("--serial") ? options["--serial"] : std::string();
    int64_t pinRounds = kDefaultPinRounds;
    if (options.count("--test-pin-rounds")) {
        pinRounds = Number(options["--test-pin-rounds"], "--test-pin-rounds");
        options.erase("--test-pin-rounds");
    }
    options.erase("--model");
    options.erase("--serial");
    if (!options.empty()) {
        throw UsageError("unknown option \"" + options.begin()->first + "\"");
    }
    return store.CreateToken(model, serial, initialized ? &params : nullptr, pinRounds);
}

void List(TokenStore& store)
{
    const auto readers = store.Readers();
    if (readers.empty()) {
        std::cout << "no readers\n";
    }
    for (size_t slot = 0; slot < readers.size(); ++slot) {
        std::cout << "slot " << slot << ": \"" << readers[slot].name << "\": ";
        if (readers[slot].tokenId == 0) {
            std::cout << "empty\n";
            continue;
        }
        const auto token = store.Token(readers[slot].tokenId);
        std::cout << token->model << " " << token->serial << " "
                  << (token->initialized ? "\"" + token->label + "\"" : std::string("blank")) << "\n";
    }
}

void Show(Database& db, TokenStore& store, const std::string& serial)
{
    const auto token = store.TokenBySerial(serial);
    if (!token) {
        throw std::runtime_error("no token with serial " + serial);
    }
    std::string reader = "none";
    for (const ReaderRow& row : store.Readers()) {
        if (row.tokenId == token->id) {
            reader = "\"" + row.name + "\"";
        }
    }
    std::cout << "serial: " << token->serial << "\nmodel: " << token->model << "\nreader: " << reader << "\n";
    if (!token->initialized) {
        std::cout << "state: blank\n";
    } else {
        std::cout << "state: initialized" << (token->clearCardDisabled ? " (clear card disabled)" : "")
                  << "\n";
        std::cout << "label: \"" << token->label << "\"\n";
        std::cout << "user PIN: length " << token->user.minLen << "-" << token->user.maxLen << ", "
                  << token->user.left << " of " << token->user.limit << " attempts left\n";
        std::cout << "SO PIN: length " << token->so.minLen << "-" << token->so.maxLen << ", "
                  << token->so.left << " of " << token->so.limit << " attempts left\n";
        std::cout << "maximum RSA key pairs: " << token->maxKeyPairs << "\n";
    }
    ObjectStore objects(db);
    static const std::map<CK_OBJECT_CLASS, const char*> kClasses = {
        { CKO_DATA, "data" },
        { CKO_CERTIFICATE, "certificate" },
        { CKO_PUBLIC_KEY, "public key" },
        { CKO_PRIVATE_KEY, "private key" },
        { CKO_SECRET_KEY, "secret key" },
    };
    const auto list = objects.TokenObjects(token->id);
    std::cout << "objects: " << list.size() << "\n";
    for (const StoredObject& object : list) {
        const auto name = kClasses.find(object.objectClass);
        const Blob* label = object.Find(CKA_LABEL);
        std::cout << "  " << object.id << ": " << (name != kClasses.end() ? name->second : "other")
                  << (object.isPrivate ? ", private" : "") << ", label \""
                  << (label != nullptr ? std::string(label->begin(), label->end()) : std::string()) << "\"";
        if (object.keyPairIndex != 0) {
            std::cout << ", key pair " << object.keyPairIndex;
        }
        std::cout << "\n";
    }
}

int Run(const std::vector<std::string>& args)
{
    if (args.empty() || args[0] == "--help" || args[0] == "-h" || args[0] == "help") {
        std::cout << kHelp;
        return args.empty() ? 2 : 0;
    }
    const std::string& command = args[0];
    if (command == "object") {
        try {
            return RunObjectCommand(args);
        } catch (const std::invalid_argument& error) {
            throw UsageError(error.what());
        }
    }
    Database db(StateDirectory() / "state.db");
    TokenStore store(db);
    const std::string sub = args.size() > 1 ? args[1] : std::string();
    if (command == "list") {
        List(store);
        return 0;
    }
    if (command == "show") {
        Need(args, 2);
        Show(db, store, args[1]);
        return 0;
    }
    Transaction transaction(db);
    if (command == "reader" && sub == "add") {
        Need(args, 3);
        store.AddReader(args[2]);
    } else if (command == "reader" && sub == "remove") {
        Need(args, 3);
        store.RemoveReader(args[2]);
    } else if ((command == "reader" || command == "token") && sub == "fail") {
        Need(args, 4);
        if (!FindSwitchableCall(args[3])) {
            throw UsageError("FUNCTION is one of " + SwitchableCallNames() + "; not \"" + args[3] + "\"");
        }
        if (args.size() > 4 && args[4] == "off") {
            store.ClearFailure(command, args[2], args[3]);
        } else {
            store.SetFailure({ command, args[2], args[3], FailureCode(args, 4) });
        }
    } else if (command == "token" && sub == "create") {
        const std::string serial = CreateToken(store, args);
        transaction.Commit();
        std::cout << serial << "\n";
        return 0;
    } else if (command == "token" && sub == "insert") {
        Need(args, 4);
        store.InsertToken(args[2], args[3]);
    } else if (command == "token" && sub == "eject") {
        Need(args, 3);
        store.EjectToken(args[2]);
    } else {
        throw UsageError("unknown command \"" + command + (sub.empty() ? "" : " " + sub) + "\" (see --help)");
    }
    transaction.Commit();
    return 0;
}

} // namespace

int main(int argc, char** argv)
{
    try {
        return Run(std::vector<std::string>(argv + 1, argv + argc));
    } catch (const UsageError& error) {
        std::cerr << "vela5-token: " << error.what() << "\n";
        return 2;
    } catch (const std::exception& error) {
        std::cerr << "vela5-token: " << error.what() << "\n";
        return 1;
    }
}
