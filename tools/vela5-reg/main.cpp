// vela5-reg: reads and writes the registry layer from the command line the
// way reg.exe does, so administrators and tests can set what the kit reads.
//   vela5-reg query KEY [/v NAME | /ve] [/reg:32|/reg:64]
//   vela5-reg add KEY [/v NAME | /ve] [/t TYPE] [/d DATA] [/s SEP] [/f] [/reg:32|/reg:64]
//   vela5-reg delete KEY [/v NAME | /ve] [/f] [/reg:32|/reg:64]
#include "platform/registry/Registry.h"

#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <iostream>
#include <optional>
#include <string>
#include <vector>

using namespace vela5::platform;

namespace {

struct Options {
    std::string command;
    Registry::Hive hive = Registry::Hive::LocalMachine;
    std::string rootName;
    std::string path;
    std::optional<std::string> valueName;
    std::string type = "REG_SZ";
    std::string data;
    std::string separator = "\\0";
    Registry::View view = Registry::View::Native;
};

struct UsageError {
    std::string message;
};

bool Same(const std::string& a, const std::string& b)
{
    if (a.size() != b.size()) {
        return false;
    }
    for (size_t i = 0; i < a.size(); ++i) {
        if (std::tolower(static_cast<unsigned char>(a[i]))
            != std::tolower(static_cast<unsigned char>(b[i]))) {
            return false;
        }
    }
    return true;
}

void SplitKey(const std::string& key, Options& options)
{
    const size_t slash = key.find('\\');
    const std::string root = key.substr(0, slash);
    options.path = slash == std::string::npos ? std::string() : key.substr(slash + 1);
    if (Same(root, "HKLM") || Same(root, "HKEY_LOCAL_MACHINE")) {
        options.hive = Registry::Hive::LocalMachine;
        options.rootName = "HKEY_LOCAL_MACHINE";
    } else if (Same(root, "HKCU") || Same(root, "HKEY_CURRENT_USER")) {
        options.hive = Registry::Hive::CurrentUser;
        options.rootName = "HKEY_CURRENT_USER";
    } else {
        throw UsageError { "ERROR: Invalid key name." };
    }
}

Options Parse(int argc, char** argv)
{
    if (argc < 3) {
        throw UsageError { "ERROR: Invalid syntax. Use: vela5-reg query|add|delete KEY [/v NAME] ..." };
    }
    Options options;
    options.command = argv[1];
    if (!Same(options.command, "query") && !Same(options.command, "add")
        && !Same(options.command, "delete")) {
        throw UsageError { "ERROR: Invalid syntax. Unknown operation " + options.command + "." };
    }
    SplitKey(argv[2], options);
    bool typeGiven = false;
    bool dataGiven = false;
    for (int i = 3; i < argc; ++i) {
        const std::string option = argv[i];
        const auto next = [&]() -> std::string {
            if (i + 1 >= argc) {
                throw UsageError { "ERROR: Invalid syntax. " + option + " needs a value." };
            }
            return argv[++i];
        };
        if (Same(option, "/v")) {
            options.valueName = next();
        } else if (Same(option, "/ve")) {
            options.valueName = std::string();
        } else if (Same(option, "/t") && Same(options.command, "add")) {
            options.type = next();
            typeGiven = true;
        } else if (Same(option, "/d") && Same(options.command, "add")) {
            options.data = next();
            dataGiven = true;
        } else if (Same(option, "/s") && Same(options.command, "add")) {
            options.separator = next();
        } else if (Same(option, "/f") && !Same(options.command, "query")) {
            // Changes are never confirmed interactively; /f is accepted as reg.exe accepts it.
        } else if (Same(option, "/reg:32")) {
            options.view = Registry::View::Wow32;
        } else if (Same(option, "/reg:64")) {
            options.view = Registry::View::Wow64;
        } else {
            throw UsageError { "ERROR: Invalid syntax. Unknown option " + option + "." };
        }
    }
    if ((typeGiven || dataGiven) && !options.valueName) {
        throw UsageError { "ERROR: Invalid syntax. /t and /d need /v NAME or /ve." };
    }
    return options;
}

std::string TypeName(uint32_t type)
{
    switch (type) {
    case Registry::TypeString:
        return "REG_SZ";
    case Registry::TypeBinary:
        return "REG_BINARY";
    case Registry::TypeDWord:
        return "REG_DWORD";
    case Registry::TypeMultiString:
        return "REG_MULTI_SZ";
    default:
        return "REG_UNKNOWN(" + std::to_string(type) + ")";
    }
}

std::string ShowData(const Registry::Key& key, const std::string& name, uint32_t type)
{
    char text[16];
    if (type == Registry::TypeDWord) {
        uint32_t value = 0;
        if (key.GetDWord(name, value) == Registry::Success) {
            std::snprintf(text, sizeof text, "0x%x", value);
            return text;
        }
    } else if (type == Registry::TypeString) {
        std::string value;
        if (key.GetString(name, value) == Registry::Success) {
            return value;
        }
    } else if (type == Registry::TypeMultiString) {
        std::vector<std::string> values;
        if (key.GetMultiString(name, values) == Registry::Success) {
            std::string joined;
            for (size_t i = 0; i < values.size(); ++i) {
                joined += (i > 0 ? "\\0" : "") + values[i];
            }
            return joined;
        }
    }
    uint32_t size = 0;
    key.QueryValue(name, nullptr, nullptr, &size);
    std::vector<uint8_t> data(size);
    key.QueryValue(name, nullptr, data.data(), &size);
    std::string hex;
    for (const uint8_t byte : data) {
        std::snprintf(text, sizeof text, "%02X", byte);
        hex += text;
    }
    return hex;
}

void ShowValue(const Registry::Key& key, const std::string& name)
{
    uint32_t type = 0;
    key.QueryValue(name, &type, nullptr, nullptr);
    std::cout << "    " << (name.empty() ? "(Default)" : name) << "    " << TypeName(type) << "    "
              << ShowData(key, name, type) << "\n";
}

const char* const kNotFound = "ERROR: The system was unable to find the specified registry key or value.";

int Query(const Options& options)
{
    Registry::Key key;
    if (Registry::Key::Open(options.hive, options.path, Registry::Access::Read, options.view, key)
        != Registry::Success) {
        throw UsageError { kNotFound };
    }
    const std::string shown = options.rootName + (options.path.empty() ? "" : "\\" + options.path);
    if (options.valueName) {
        if (key.QueryValue(*options.valueName, nullptr, nullptr, nullptr) != Registry::Success) {
            throw UsageError { kNotFound };
        }
        // Shown under its stored spelling, whatever case the command used.
        std::string name = *options.valueName;
        std::vector<std::string> names;
        key.EnumValueNames(names);
        for (const std::string& stored : names) {
            if (Same(stored, name)) {
                name = stored;
            }
        }
        std::cout << "\n" << shown << "\n";
        ShowValue(key, name);
        std::cout << "\n";
        return 0;
    }
    std::vector<std::string> names;
    key.EnumValueNames(names);
    std::cout << "\n" << shown << "\n";
    for (const std::string& name : names) {
        ShowValue(key, name);
    }
    std::cout << "\n";
    std::vector<std::string> subKeys;
    key.EnumSubKeyNames(subKeys);
    for (const std::string& subKey : subKeys) {
        std::cout << shown << "\\" << subKey << "\n";
    }
    return 0;
}

std::vector<std::string> SplitMulti(const std::string& data, const std::string& separator)
{
    std::vector<std::string> parts;
    if (data.empty()) {
        return parts;
    }
    size_t start = 0;
    for (;;) {
        const size_t at = separator.empty() ? std::string::npos : data.find(separator, start);
        parts.push_back(data.substr(start, at == std::string::npos ? std::string::npos : at - start));
        if (at == std::string::npos) {
            return parts;
        }
        start = at + separator.size();
    }
}

uint32_t ParseDWord(const std::string& data)
{
    char* end = nullptr;
    errno = 0;
    const unsigned long long value = std::strtoull(data.c_str(), &end, 0);
    if (data.empty() || data[0] == '-' || *end != '\0' || errno != 0 || value > 0xFFFFFFFFull) {
        throw UsageError { "ERROR: Invalid syntax. REG_DWORD data must be a number from 0 to 0xFFFFFFFF." };
    }
    return static_cast<uint32_t>(value);
}

// Checked before anything is created, so a rejected command changes nothing.
void CheckValue(const Options& options)
{
    if (Same(options.type, "REG_DWORD")) {
        ParseDWord(options.data);
    } else if (!Same(options.type, "REG_SZ") && !Same(options.type, "REG_MULTI_SZ")) {
        throw UsageError { "ERROR: Invalid syntax. Type must be REG_SZ, REG_DWORD or REG_MULTI_SZ." };
    }
}

long StoreValue(Registry::Key& key, const Options& options)
{
    const std::string& name = *options.valueName;
    if (Same(options.type, "REG_DWORD")) {
        return key.SetDWord(name, ParseDWord(options.data));
    }
    if (Same(options.type, "REG_MULTI_SZ")) {
        return key.SetMultiString(name, SplitMulti(options.data, options.separator));
    }
    return key.SetString(name, options.data);
}

std::string FailureText(long result)
{
    if (result == Registry::AccessDenied) {
        return "ERROR: Access is denied.";
    }
    if (result == Registry::NotFound) {
        return kNotFound;
    }
    return "ERROR: The registry could not be changed (error " + std::to_string(result) + ").";
}

int Add(const Options& options)
{
    if (options.valueName) {
        CheckValue(options);
    }
    Registry::Key key;
    long result = Registry::Key::Create(options.hive, options.path, options.view, key);
    if (result == Registry::Success && options.valueName) {
        result = StoreValue(key, options);
    }
    if (result != Registry::Success) {
        throw UsageError { FailureText(result) };
    }
    std::cout << "The operation completed successfully.\n";
    return 0;
}

int Delete(const Options& options)
{
    long result = Registry::Success;
    if (options.valueName) {
        Registry::Key key;
        result = Registry::Key::Open(options.hive, options.path, Registry::Access::Write, options.view, key);
        if (result == Registry::Success) {
            result = key.DeleteValue(*options.valueName);
        }
    } else {
        result = Registry::Key::DeleteTree(options.hive, options.path, options.view);
    }
    if (result != Registry::Success) {
        throw UsageError { FailureText(result) };
    }
    std::cout << "The operation completed successfully.\n";
    return 0;
}

} // namespace

int main(int argc, char** argv)
{
    try {
        const Options options = Parse(argc, argv);
        if (Same(options.command, "query")) {
            return Query(options);
        }
        if (Same(options.command, "add")) {
            return Add(options);
        }
        return Delete(options);
    } catch (const UsageError& error) {
        std::cerr << error.message << "\n";
        return 1;
    } catch (const std::exception& error) {
        std::cerr << "ERROR: " << error.what() << "\n";
        return 1;
    }
}
