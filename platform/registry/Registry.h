// The registry layer: keys under HKLM (with the 32-bit and 64-bit views of
// its Software branch) and HKCU holding typed values, kept in one file per
// hive under $VELA5_ROOT/registry. Calls answer with Windows error numbers,
// shaped like the advapi32 calls their callers were written against.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

namespace vela5::platform::Registry {

// Windows error numbers.
enum Status : long {
    Success = 0, // ERROR_SUCCESS
    NotFound = 2, // ERROR_FILE_NOT_FOUND: no such key or value
    AccessDenied = 5, // ERROR_ACCESS_DENIED: no right to change the key
    InvalidHandle = 6, // ERROR_INVALID_HANDLE: the key is not open
    WriteFault = 29, // ERROR_WRITE_FAULT: the change could not be stored
    InvalidParameter = 87, // ERROR_INVALID_PARAMETER
    MoreData = 234, // ERROR_MORE_DATA: the buffer is too small; the size says how much is needed
};

// Value types, numbered as Windows numbers them.
enum ValueType : uint32_t {
    TypeString = 1, // REG_SZ: UTF-16LE text, usually with its terminating NUL
    TypeBinary = 3, // REG_BINARY
    TypeDWord = 4, // REG_DWORD: 4 bytes, little-endian
    TypeMultiString = 7, // REG_MULTI_SZ: NUL-separated UTF-16LE texts, ended by an empty one
};

enum class Hive { LocalMachine, CurrentUser };

// Which view of HKLM\Software a key is opened in (KEY_WOW64_32KEY,
// KEY_WOW64_64KEY). This is a 64-bit machine: Native is the 64-bit view.
enum class View { Native, Wow32, Wow64 };

// Read: query and list. Write: also set and delete values.
enum class Access { Read, Write };

// An open key, like an HKEY. Each call reads the hive file afresh, so a
// change stored by another process is seen by the next call.
class Key final {
public:
    Key() = default;
    ~Key() = default;
    Key(Key&& other) noexcept;
    Key& operator=(Key&& other) noexcept;
    Key(const Key&) = delete;
    Key& operator=(const Key&) = delete;

    // RegOpenKeyEx: NotFound when the key does not exist, AccessDenied when
    // Write is asked for and the hive cannot be changed.
    static long Open(Hive hive, std::string_view path, Access access, View view, Key& out);
    // RegCreateKeyEx: opens for Write, creating the key and its parents.
    static long Create(Hive hive, std::string_view path, View view, Key& out);
    // RegDeleteTree on the key itself: the key, its values and its subkeys.
    static long DeleteTree(Hive hive, std::string_view path, View view);

    bool IsOpen() const { return m_open; }
    void Close();
    // The key's path inside its hive after view mapping (32-bit view of
    // HKLM\Software\X is Software\WOW6432Node\X).
    const std::string& Path() const { return m_path; }

    // RegQueryValueEx. type and data may be null; size (in/out, bytes) may be
    // null only when data is null. An empty name is the key's default value.
    long QueryValue(std::string_view name, uint32_t* type, void* data, uint32_t* size) const;
    // RegSetValueEx: stores exactly size bytes of data.
    long SetValue(std::string_view name, uint32_t type, const void* data, uint32_t size);
    long DeleteValue(std::string_view name);
    // Names in the order they were first created.
    long EnumValueNames(std::vector<std::string>& names) const;
    long EnumSubKeyNames(std::vector<std::string>& names) const;

    // Conveniences over the calls above; texts are UTF-8 on this side.
    // withNul false stores "length x 2 bytes", as some Windows writers do.
    long SetString(std::string_view name, std::string_view text, bool withNul = true);
    long SetDWord(std::string_view name, uint32_t value);
    long SetMultiString(std::string_view name, const std::vector<std::string>& texts);
    // REG_SZ read up to its first NUL (or its full length when it has none).
    long GetString(std::string_view name, std::string& text) const;
    long GetDWord(std::string_view name, uint32_t& value) const;
    long GetMultiString(std::string_view name, std::vector<std::string>& texts) const;

private:
    Hive m_hive = Hive::LocalMachine;
    std::string m_path;
    Access m_access = Access::Read;
    bool m_open = false;
};

// The folder holding the hive files: $VELA5_ROOT/registry, where $VELA5_ROOT
// defaults to $XDG_DATA_HOME/vela5 (~/.local/share/vela5).
std::filesystem::path StoreFolder();

// UTF-8 to UTF-16LE bytes and back (invalid input becomes U+FFFD).
std::vector<uint8_t> ToUtf16Le(std::string_view text);
std::string FromUtf16Le(const uint8_t* data, size_t size);

} // namespace vela5::platform::Registry
