// One hive as stored on disk: its keys (full paths inside the hive) and their
// typed values. Loading never fails: lines that do not parse are dropped, so a
// damaged file reads as missing values. Saving replaces the file atomically.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

namespace vela5::platform::Registry {

struct HiveValue {
    std::string name;
    uint32_t type = 0;
    std::vector<uint8_t> data;
};

struct HiveKey {
    std::string path; // components joined by '\', no leading or trailing '\'
    std::vector<HiveValue> values;
};

// Key and value names compare without regard to ASCII case, as in Windows.
bool SameName(std::string_view a, std::string_view b);

class HiveData final {
public:
    static HiveData Load(const std::filesystem::path& file);
    // Writes a temporary file beside the target, flushes it and renames it
    // over the target, so readers see either the old or the new hive.
    bool Save(const std::filesystem::path& file) const;

    // The root (empty path) always exists; other keys exist when stored.
    bool HasKey(std::string_view path) const;
    HiveKey* FindKey(std::string_view path);
    const HiveKey* FindKey(std::string_view path) const;
    // Creates the key and every missing parent.
    HiveKey& CreateKey(std::string_view path);
    // Removes the key and everything below it; false when it did not exist.
    bool DeleteTree(std::string_view path);
    std::vector<std::string> SubKeyNames(std::string_view path) const;

    static const HiveValue* FindValue(const HiveKey& key, std::string_view name);

private:
    std::vector<HiveKey> m_keys;
};

} // namespace vela5::platform::Registry
