#include "platform/registry/Registry.h"

#include "platform/files/AtomicFile.h"
#include "platform/registry/HiveFile.h"

#include <cstdlib>
#include <cstring>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>

namespace vela5::platform::Registry {
namespace {

std::filesystem::path HiveFilePath(Hive hive)
{
    return StoreFolder() / (hive == Hive::LocalMachine ? "HKLM.reg" : "HKCU.reg");
}

// Splits on '\', drops empty parts, and applies the view: the 32-bit view of
// HKLM\Software lives under Software\WOW6432Node, as on 64-bit Windows.
std::string NormalizePath(Hive hive, std::string_view path, View view)
{
    std::vector<std::string_view> parts;
    size_t start = 0;
    while (start <= path.size()) {
        size_t end = path.find('\\', start);
        if (end == std::string_view::npos) {
            end = path.size();
        }
        if (end > start) {
            parts.push_back(path.substr(start, end - start));
        }
        start = end + 1;
    }
    const bool redirect = hive == Hive::LocalMachine && view == View::Wow32 && !parts.empty()
        && SameName(parts[0], "Software") && !(parts.size() > 1 && SameName(parts[1], "WOW6432Node"));
    std::string out;
    for (size_t i = 0; i < parts.size(); ++i) {
        if (i > 0) {
            out += '\\';
        }
        out += parts[i];
        if (i == 0 && redirect) {
            out += "\\WOW6432Node";
        }
    }
    return out;
}

// Keys every Windows installation has, so callers that only open them (the
// Run key) work on a fresh machine root too.
HiveData LoadHive(Hive hive)
{
    HiveData data = HiveData::Load(HiveFilePath(hive));
    data.CreateKey("Software\\Microsoft\\Windows\\CurrentVersion\\Run");
    if (hive == Hive::LocalMachine) {
        data.CreateKey("Software\\WOW6432Node\\Microsoft\\Windows\\CurrentVersion\\Run");
    }
    return data;
}

// Write permission by the mode bits as well as access(): the superuser passes
// access() on a read-only file, yet a read-only hive must refuse changes.
bool IsWritable(const std::filesystem::path& path)
{
    struct stat info { };
    if (::stat(path.c_str(), &info) != 0) {
        return false;
    }
    return (info.st_mode & 0222) != 0 && ::access(path.c_str(), W_OK) == 0;
}

bool CanChange(Hive hive)
{
    const std::filesystem::path folder = StoreFolder();
    const std::filesystem::path file = HiveFilePath(hive);
    std::error_code error;
    if (!std::filesystem::exists(folder, error)) {
        std::filesystem::create_directories(folder, error);
    }
    if (!IsWritable(folder)) {
        return false;
    }
    return !std::filesystem::exists(file, error) || IsWritable(file);
}

// Runs change() on the hive under the store lock and stores the result when
// it answers Success.
template <typename Change> long ChangeHive(Hive hive, Change&& change)
{
    if (!CanChange(hive)) {
        return AccessDenied;
    }
    const Files::FolderLock lock(StoreFolder(), 0644);
    if (!lock.IsHeld()) {
        return AccessDenied;
    }
    const std::filesystem::path file = HiveFilePath(hive);
    HiveData data = LoadHive(hive);
    const long result = change(data);
    if (result != Success) {
        return result;
    }
    return data.Save(file) ? Success : WriteFault;
}

void AppendUtf16(std::vector<uint8_t>& out, uint32_t unit)
{
    out.push_back(static_cast<uint8_t>(unit & 0xFF));
    out.push_back(static_cast<uint8_t>(unit >> 8));
}

} // namespace

std::filesystem::path StoreFolder()
{
    if (const char* root = std::getenv("VELA5_ROOT"); root != nullptr && *root != '\0') {
        return std::filesystem::path(root) / "registry";
    }
    if (const char* data = std::getenv("XDG_DATA_HOME"); data != nullptr && *data != '\0') {
        return std::filesystem::path(data) / "vela5" / "registry";
    }
    const char* home = std::getenv("HOME");
    return std::filesystem::path(home != nullptr ? home : ".") / ".local" / "share" / "vela5" / "registry";
}

std::vector<uint8_t> ToUtf16Le(std::string_view text)
{
    std::vector<uint8_t> out;
    out.reserve(text.size() * 2);
    size_t i = 0;
    while (i < text.size()) {
        const auto lead = static_cast<unsigned char>(text[i]);
        uint32_t code = 0xFFFD;
        size_t length = 1;
        if (lead < 0x80) {
            code = lead;
        } else if ((lead & 0xE0) == 0xC0) {
            length = 2;
            code = lead & 0x1F;
        } else if ((lead & 0xF0) == 0xE0) {
            length = 3;
            code = lead & 0x0F;
        } else if ((lead & 0xF8) == 0xF0) {
            length = 4;
            code = lead & 0x07;
        } else {
            length = 0;
        }
        bool valid = length > 0 && i + length <= text.size();
        for (size_t k = 1; valid && k < length; ++k) {
            const auto next = static_cast<unsigned char>(text[i + k]);
            valid = (next & 0xC0) == 0x80;
            code = (code << 6) | (next & 0x3F);
        }
        static const uint32_t minimum[] = { 0, 0, 0x80, 0x800, 0x10000 };
        if (valid && length > 1
            && (code < minimum[length] || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF))) {
            valid = false;
        }
        if (!valid) {
            AppendUtf16(out, 0xFFFD);
            i += 1;
            continue;
        }
        if (code >= 0x10000) {
            code -= 0x10000;
            AppendUtf16(out, 0xD800 + (code >> 10));
            AppendUtf16(out, 0xDC00 + (code & 0x3FF));
        } else {
            AppendUtf16(out, code);
        }
        i += length;
    }
    return out;
}

std::string FromUtf16Le(const uint8_t* data, size_t size)
{
    std::string out;
    const size_t units = size / 2;
    for (size_t i = 0; i < units; ++i) {
        uint32_t code = data[2 * i] | (data[2 * i + 1] << 8);
        if (code >= 0xD800 && code <= 0xDBFF && i + 1 < units) {
            const uint32_t low = data[2 * i + 2] | (data[2 * i + 3] << 8);
            if (low >= 0xDC00 && low <= 0xDFFF) {
                code = 0x10000 + ((code - 0xD800) << 10) + (low - 0xDC00);
                ++i;
            } else {
                code = 0xFFFD;
            }
        } else if (code >= 0xD800 && code <= 0xDFFF) {
            code = 0xFFFD;
        }
        if (code < 0x80) {
            out += static_cast<char>(code);
        } else if (code < 0x800) {
            out += static_cast<char>(0xC0 | (code >> 6));
            out += static_cast<char>(0x80 | (code & 0x3F));
        } else if (code < 0x10000) {
            out += static_cast<char>(0xE0 | (code >> 12));
            out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (code & 0x3F));
        } else {
            out += static_cast<char>(0xF0 | (code >> 18));
            out += static_cast<char>(0x80 | ((code >> 12) & 0x3F));
            out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (code & 0x3F));
        }
    }
    return out;
}

Key::Key(Key&& other) noexcept
    : m_hive(other.m_hive)
    , m_path(std::move(other.m_path))
    , m_access(other.m_access)
    , m_open(std::exchange(other.m_open, false))
{
}

Key& Key::operator=(Key&& other) noexcept
{
    if (this != &other) {
        m_hive = other.m_hive;
        m_path = std::move(other.m_path);
        m_access = other.m_access;
        m_open = std::exchange(other.m_open, false);
    }
    return *this;
}

long Key::Open(Hive hive, std::string_view path, Access access, View view, Key& out)
{
    out.Close();
    const std::string mapped = NormalizePath(hive, path, view);
    if (!LoadHive(hive).HasKey(mapped)) {
        return NotFound;
    }
    if (access == Access::Write && !CanChange(hive)) {
        return AccessDenied;
    }
    out.m_hive = hive;
    out.m_path = mapped;
    out.m_access = access;
    out.m_open = true;
    return Success;
}

long Key::Create(Hive hive, std::string_view path, View view, Key& out)
{
    out.Close();
    const std::string mapped = NormalizePath(hive, path, view);
    const long result = ChangeHive(hive, [&mapped](HiveData& data) {
        data.CreateKey(mapped);
        return Success;
    });
    if (result != Success) {
        return result;
    }
    out.m_hive = hive;
    out.m_path = mapped;
    out.m_access = Access::Write;
    out.m_open = true;
    return Success;
}

long Key::DeleteTree(Hive hive, std::string_view path, View view)
{
    const std::string mapped = NormalizePath(hive, path, view);
    if (mapped.empty()) {
        return AccessDenied;
    }
    if (!LoadHive(hive).HasKey(mapped)) {
        return NotFound;
    }
    return ChangeHive(
        hive, [&mapped](HiveData& data) { return data.DeleteTree(mapped) ? Success : NotFound; });
}

void Key::Close()
{
    m_open = false;
    m_path.clear();
}

long Key::QueryValue(std::string_view name, uint32_t* type, void* data, uint32_t* size) const
{
    if (!m_open) {
        return InvalidHandle;
    }
    if (data != nullptr && size == nullptr) {
        return InvalidParameter;
    }
    const HiveData hive = LoadHive(m_hive);
    const HiveKey* key = hive.FindKey(m_path);
    if (key == nullptr && !m_path.empty()) {
        return NotFound;
    }
    const HiveValue* value = key != nullptr ? HiveData::FindValue(*key, name) : nullptr;
    if (value == nullptr) {
        return NotFound;
    }
    if (type != nullptr) {
        *type = value->type;
    }
    if (size == nullptr) {
        return Success;
    }
    const auto needed = static_cast<uint32_t>(value->data.size());
    if (data != nullptr && *size < needed) {
        *size = needed;
        return MoreData;
    }
    if (data != nullptr && needed > 0) {
        std::memcpy(data, value->data.data(), needed);
    }
    *size = needed;
    return Success;
}

long Key::SetValue(std::string_view name, uint32_t type, const void* data, uint32_t size)
{
    if (!m_open) {
        return InvalidHandle;
    }
    if (m_access != Access::Write) {
        return AccessDenied;
    }
    if (data == nullptr && size > 0) {
        return InvalidParameter;
    }
    const auto* bytes = static_cast<const uint8_t*>(data);
    return ChangeHive(m_hive, [&](HiveData& hive) {
        if (!hive.HasKey(m_path)) {
            return static_cast<long>(NotFound);
        }
        HiveKey& key = hive.CreateKey(m_path);
        std::vector<uint8_t> stored(bytes, bytes + size);
        for (HiveValue& value : key.values) {
            if (SameName(value.name, name)) {
                value.type = type;
                value.data = std::move(stored);
                return static_cast<long>(Success);
            }
        }
        key.values.push_back(HiveValue { std::string(name), type, std::move(stored) });
        return static_cast<long>(Success);
    });
}

long Key::DeleteValue(std::string_view name)
{
    if (!m_open) {
        return InvalidHandle;
    }
    if (m_access != Access::Write) {
        return AccessDenied;
    }
    return ChangeHive(m_hive, [&](HiveData& hive) {
        HiveKey* key = hive.FindKey(m_path);
        if (key == nullptr) {
            return static_cast<long>(NotFound);
        }
        const size_t removed = std::erase_if(
            key->values, [name](const HiveValue& value) { return SameName(value.name, name); });
        return static_cast<long>(removed > 0 ? Success : NotFound);
    });
}

long Key::EnumValueNames(std::vector<std::string>& names) const
{
    names.clear();
    if (!m_open) {
        return InvalidHandle;
    }
    const HiveData hive = LoadHive(m_hive);
    if (!hive.HasKey(m_path)) {
        return NotFound;
    }
    if (const HiveKey* key = hive.FindKey(m_path)) {
        for (const HiveValue& value : key->values) {
            names.push_back(value.name);
        }
    }
    return Success;
}

long Key::EnumSubKeyNames(std::vector<std::string>& names) const
{
    names.clear();
    if (!m_open) {
        return InvalidHandle;
    }
    const HiveData hive = LoadHive(m_hive);
    if (!hive.HasKey(m_path)) {
        return NotFound;
    }
    names = hive.SubKeyNames(m_path);
    return Success;
}

long Key::SetString(std::string_view name, std::string_view text, bool withNul)
{
    std::vector<uint8_t> data = ToUtf16Le(text);
    if (withNul) {
        data.push_back(0);
        data.push_back(0);
    }
    return SetValue(name, TypeString, data.data(), static_cast<uint32_t>(data.size()));
}

long Key::SetDWord(std::string_view name, uint32_t value)
{
    const uint8_t data[4] = { static_cast<uint8_t>(value), static_cast<uint8_t>(value >> 8),
        static_cast<uint8_t>(value >> 16), static_cast<uint8_t>(value >> 24) };
    return SetValue(name, TypeDWord, data, sizeof data);
}

long Key::SetMultiString(std::string_view name, const std::vector<std::string>& texts)
{
    std::vector<uint8_t> data;
    for (const std::string& text : texts) {
        const std::vector<uint8_t> part = ToUtf16Le(text);
        data.insert(data.end(), part.begin(), part.end());
        data.push_back(0);
        data.push_back(0);
    }
    data.push_back(0);
    data.push_back(0);
    return SetValue(name, TypeMultiString, data.data(), static_cast<uint32_t>(data.size()));
}

namespace {
long ReadTyped(const Key& key, std::string_view name, uint32_t wanted, std::vector<uint8_t>& data)
{
    uint32_t type = 0;
    uint32_t size = 0;
    long result = key.QueryValue(name, &type, nullptr, &size);
    if (result != Success) {
        return result;
    }
    if (type != wanted) {
        return InvalidParameter;
    }
    data.resize(size);
    result = key.QueryValue(name, &type, data.data(), &size);
    data.resize(size);
    return result;
}

size_t UnitsToNul(const std::vector<uint8_t>& data, size_t from)
{
    size_t at = from;
    while (at + 1 < data.size() && (data[at] != 0 || data[at + 1] != 0)) {
        at += 2;
    }
    return at;
}
} // namespace

long Key::GetString(std::string_view name, std::string& text) const
{
    std::vector<uint8_t> data;
    const long result = ReadTyped(*this, name, TypeString, data);
    if (result == Success) {
        text = FromUtf16Le(data.data(), UnitsToNul(data, 0));
    }
    return result;
}

long Key::GetDWord(std::string_view name, uint32_t& value) const
{
    std::vector<uint8_t> data;
    const long result = ReadTyped(*this, name, TypeDWord, data);
    if (result != Success) {
        return result;
    }
    if (data.size() != 4) {
        return InvalidParameter;
    }
    value = data[0] | (data[1] << 8) | (data[2] << 16) | (static_cast<uint32_t>(data[3]) << 24);
    return Success;
}

long Key::GetMultiString(std::string_view name, std::vector<std::string>& texts) const
{
    std::vector<uint8_t> data;
    const long result = ReadTyped(*this, name, TypeMultiString, data);
    if (result != Success) {
        return result;
    }
    texts.clear();
    size_t at = 0;
    while (at + 1 < data.size()) {
        const size_t end = UnitsToNul(data, at);
        if (end == at) {
            break;
        }
        texts.push_back(FromUtf16Le(data.data() + at, end - at));
        at = end + 2;
    }
    return Success;
}

} // namespace vela5::platform::Registry
