#include "ksp/DebugClass.h"

#include "platform/cng/WideText.h"
#include "platform/registry/Registry.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <mutex>

using namespace vela5::platform;

namespace {

constexpr const char* kSdkKey = "Software\\Nurvon Ltd.\\VELA5 SDK";

// Lines of different writers and threads are kept whole.
std::mutex& FileLock()
{
    static std::mutex lock;
    return lock;
}

// Read once: a line nobody receives is not even formatted.
bool DebuggerOn()
{
    static const bool on = [] {
        const char* debug = std::getenv("VELA5_KSP_DEBUG");
        return debug != nullptr && std::strcmp(debug, "1") == 0;
    }();
    return on;
}

// A REG_SZ value read into a buffer of bufferSize bytes, as UTF-16 units.
bool ReadString(const Registry::Key& key, const char* name, uint32_t bufferSize, std::u16string& text)
{
    std::string buffer(bufferSize, '\0');
    uint32_t type = 0;
    uint32_t size = bufferSize;
    if (key.QueryValue(name, &type, buffer.data(), &size) != Registry::Success
        || type != Registry::TypeString) {
        return false;
    }
    text.clear();
    for (uint32_t i = 0; i + 1 < size; i += 2) {
        text.push_back(static_cast<char16_t>(
            static_cast<unsigned char>(buffer[i]) | (static_cast<unsigned char>(buffer[i + 1]) << 8)));
    }
    return true;
}

std::string Hex32(std::uint64_t value)
{
    char text[16];
    std::snprintf(text, sizeof text, "0x%08X", static_cast<unsigned>(value & 0xFFFFFFFFu));
    return text;
}

} // namespace

void DebuggerOutput(const std::string& text)
{
    if (DebuggerOn()) {
        std::fprintf(stderr, "%s\n", text.c_str());
    }
}

DebugClass::DebugClass(bool withBanner)
{
    DebuggerOutput("DebugClass ctor - Enter");
    Registry::Key key;
    if (Registry::Key::Open(
            Registry::Hive::LocalMachine, kSdkKey, Registry::Access::Read, Registry::View::Native, key)
        == Registry::Success) {
        std::u16string logSwitch;
        std::u16string path;
        // "00000000" with its terminator: nine units compared.
        const bool off = !ReadString(key, "KSPLOG", 32, logSwitch)
            || std::u16string_view(logSwitch.c_str()) == u"00000000";
        if (!off && ReadString(key, "KSPDIR", 4096, path)) {
            m_path = Cng::Narrow(std::u16string_view(path.c_str()));
            m_fileLogging = !m_path.empty();
        }
    }
    if (m_fileLogging && withBanner) {
        const std::lock_guard lock(FileLock());
        if (FILE* file = std::fopen(m_path.c_str(), "a")) {
            const std::time_t now = std::time(nullptr);
            char when[64] = "";
            ctime_r(&now, when);
            std::fprintf(file,
                "\n\n****************************************************************** LOG START - %s\n",
                when);
            std::fclose(file);
        }
    }
    DebuggerOutput("DebugClass ctor - Exit");
}

bool DebugClass::Heard() const
{
    return m_fileLogging || DebuggerOn();
}

void DebugClass::Write(const std::string& text) const
{
    DebuggerOutput(text);
    if (!m_fileLogging) {
        return;
    }
    const std::lock_guard lock(FileLock());
    // A file that cannot be opened simply receives nothing.
    if (FILE* file = std::fopen(m_path.c_str(), "a")) {
        std::fprintf(file, "%s\n", text.c_str());
        std::fclose(file);
    }
}

void DebugClass::WriteHex(const char* label, std::uint64_t value) const
{
    if (!Heard()) {
        return;
    }
    Write(std::string(label) + Hex32(value));
}

void DebugClass::WriteHex(const char* label, const void* pointer) const
{
    WriteHex(label, static_cast<std::uint64_t>(reinterpret_cast<std::uintptr_t>(pointer)));
}

void DebugClass::WriteInt(const char* label, long value) const
{
    if (!Heard()) {
        return;
    }
    Write(std::string(label) + std::to_string(value));
}

void DebugClass::WriteDump(const char* label, const void* data, std::size_t size) const
{
    if (!Heard()) {
        return;
    }
    if (data == nullptr || size == 0) {
        Write(std::string(label) + "NULL");
        return;
    }
    const auto* bytes = static_cast<const unsigned char*>(data);
    std::string text;
    const std::size_t shown = size < 500 ? size : 500;
    text.reserve(shown * 3);
    for (std::size_t i = 0; i < shown; ++i) {
        char hex[4];
        std::snprintf(hex, sizeof hex, "%02X ", bytes[i]);
        text += hex;
    }
    Write(std::string(label) + text);
}

void DebugClass::WriteWide(const char* label, LPCWSTR text) const
{
    if (!Heard()) {
        return;
    }
    if (text == nullptr) {
        Write(std::string(label) + "NULL");
        return;
    }
    // Only as much of the text as can show: a huge name costs no more than a short one.
    std::string converted = Cng::Narrow(std::u16string_view(text, Cng::WideLength(text, 511)));
    if (converted.size() > 511) {
        converted.resize(511);
    }
    Write(std::string(label) + converted);
}
