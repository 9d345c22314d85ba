#include "platform/registry/HiveFile.h"

#include "platform/files/AtomicFile.h"

#include <algorithm>
#include <cerrno>
#include <fcntl.h>
#include <fstream>
#include <sstream>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace vela5::platform::Registry {
namespace {

constexpr std::string_view kHeader = "VELA5 registry 1";

char Lower(char c)
{
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

// Names and paths may hold any byte; only the field and line separators and
// the escape character itself are escaped.
std::string Escape(std::string_view text)
{
    static const char* const hex = "0123456789ABCDEF";
    std::string out;
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if (c == '%' || c == '\t' || c == '\n' || c == '\r') {
            out += '%';
            out += hex[byte >> 4];
            out += hex[byte & 0x0F];
        } else {
            out += c;
        }
    }
    return out;
}

int HexDigit(char c)
{
    if (c >= '0' && c <= '9') {
        return c - '0';
    }
    if (c >= 'a' && c <= 'f') {
        return c - 'a' + 10;
    }
    if (c >= 'A' && c <= 'F') {
        return c - 'A' + 10;
    }
    return -1;
}

bool Unescape(std::string_view text, std::string& out)
{
    out.clear();
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '%') {
            out += text[i];
            continue;
        }
        if (i + 2 >= text.size()) {
            return false;
        }
        const int high = HexDigit(text[i + 1]);
        const int low = HexDigit(text[i + 2]);
        if (high < 0 || low < 0) {
            return false;
        }
        out += static_cast<char>(high * 16 + low);
        i += 2;
    }
    return true;
}

bool DecodeHex(std::string_view text, std::vector<uint8_t>& out)
{
    if (text.size() % 2 != 0) {
        return false;
    }
    out.clear();
    out.reserve(text.size() / 2);
    for (size_t i = 0; i < text.size(); i += 2) {
        const int high = HexDigit(text[i]);
        const int low = HexDigit(text[i + 1]);
        if (high < 0 || low < 0) {
            return false;
        }
        out.push_back(static_cast<uint8_t>(high * 16 + low));
    }
    return true;
}

std::vector<std::string_view> SplitTabs(std::string_view line)
{
    std::vector<std::string_view> fields;
    size_t start = 0;
    for (;;) {
        const size_t tab = line.find('\t', start);
        fields.push_back(
            line.substr(start, tab == std::string_view::npos ? std::string_view::npos : tab - start));
        if (tab == std::string_view::npos) {
            return fields;
        }
        start = tab + 1;
    }
}

bool IsBelow(std::string_view path, std::string_view ancestor)
{
    if (ancestor.empty()) {
        return !path.empty();
    }
    return path.size() > ancestor.size() && path[ancestor.size()] == '\\'
        && SameName(path.substr(0, ancestor.size()), ancestor);
}

} // namespace

bool SameName(std::string_view a, std::string_view b)
{
    return a.size() == b.size()
        && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) { return Lower(x) == Lower(y); });
}

HiveData HiveData::Load(const std::filesystem::path& file)
{
    HiveData hive;
    std::ifstream in(file, std::ios::binary);
    std::string line;
    if (!in || !std::getline(in, line) || line != kHeader) {
        return hive;
    }
    HiveKey* current = nullptr;
    std::string name;
    std::vector<uint8_t> data;
    while (std::getline(in, line)) {
        // Every stored line ends with a newline: one without it was cut short.
        if (in.eof()) {
            break;
        }
        const std::vector<std::string_view> fields = SplitTabs(line);
        if (fields.size() == 2 && fields[0] == "K") {
            current = Unescape(fields[1], name) ? &hive.CreateKey(name) : nullptr;
            continue;
        }
        if (fields.size() != 4 || fields[0] != "V" || current == nullptr) {
            continue;
        }
        uint32_t type = 0;
        const std::string typeText(fields[2]);
        char* end = nullptr;
        errno = 0;
        const unsigned long parsed = std::strtoul(typeText.c_str(), &end, 10);
        if (typeText.empty() || *end != '\0' || errno != 0 || parsed > UINT32_MAX) {
            continue;
        }
        type = static_cast<uint32_t>(parsed);
        if (!Unescape(fields[1], name) || !DecodeHex(fields[3], data)
            || FindValue(*current, name) != nullptr) {
            continue;
        }
        current->values.push_back(HiveValue { name, type, data });
    }
    return hive;
}

bool HiveData::Save(const std::filesystem::path& file) const
{
    std::ostringstream text;
    text << kHeader << '\n';
    static const char* const hex = "0123456789abcdef";
    for (const HiveKey& key : m_keys) {
        text << "K\t" << Escape(key.path) << '\n';
        for (const HiveValue& value : key.values) {
            text << "V\t" << Escape(value.name) << '\t' << value.type << '\t';
            for (const uint8_t byte : value.data) {
                text << hex[byte >> 4] << hex[byte & 0x0F];
            }
            text << '\n';
        }
    }
    const std::string bytes = text.str();

    return Files::WriteAtomically(file, bytes.data(), bytes.size(), 0644);
}

bool HiveData::HasKey(std::string_view path) const
{
    return path.empty() || FindKey(path) != nullptr;
}

HiveKey* HiveData::FindKey(std::string_view path)
{
    const auto found = std::find_if(
        m_keys.begin(), m_keys.end(), [path](const HiveKey& key) { return SameName(key.path, path); });
    return found == m_keys.end() ? nullptr : &*found;
}

const HiveKey* HiveData::FindKey(std::string_view path) const
{
    return const_cast<HiveData*>(this)->FindKey(path);
}

HiveKey& HiveData::CreateKey(std::string_view path)
{
    // Parents first, so every stored key's ancestors exist too.
    size_t slash = path.find('\\');
    while (slash != std::string_view::npos) {
        const std::string_view parent = path.substr(0, slash);
        if (FindKey(parent) == nullptr) {
            m_keys.push_back(HiveKey { std::string(parent), {} });
        }
        slash = path.find('\\', slash + 1);
    }
    if (HiveKey* existing = FindKey(path)) {
        return *existing;
    }
    m_keys.push_back(HiveKey { std::string(path), {} });
    return m_keys.back();
}

bool HiveData::DeleteTree(std::string_view path)
{
    if (!HasKey(path)) {
        return false;
    }
    std::erase_if(m_keys, [path](const HiveKey& key) {
        return (!path.empty() && SameName(key.path, path)) || IsBelow(key.path, path);
    });
    return true;
}

std::vector<std::string> HiveData::SubKeyNames(std::string_view path) const
{
    std::vector<std::string> names;
    const size_t skip = path.empty() ? 0 : path.size() + 1;
    for (const HiveKey& key : m_keys) {
        if (IsBelow(key.path, path) && key.path.find('\\', skip) == std::string::npos) {
            names.push_back(key.path.substr(skip));
        }
    }
    return names;
}

const HiveValue* HiveData::FindValue(const HiveKey& key, std::string_view name)
{
    const auto found = std::find_if(key.values.begin(), key.values.end(),
        [name](const HiveValue& value) { return SameName(value.name, name); });
    return found == key.values.end() ? nullptr : &*found;
}

} // namespace vela5::platform::Registry
