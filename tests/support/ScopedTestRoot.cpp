#include "ScopedTestRoot.h"

#include <cstdlib>
#include <stdexcept>
#include <string>

namespace {
std::optional<std::string> ReadVariable(const char* name)
{
    const char* value = std::getenv(name);
    return value != nullptr ? std::optional<std::string>(value) : std::nullopt;
}

void RestoreVariable(const char* name, const std::optional<std::string>& value)
{
    if (value) {
        setenv(name, value->c_str(), 1);
    } else {
        unsetenv(name);
    }
}
} // namespace

ScopedTestRoot::ScopedTestRoot()
    : m_previousRoot(ReadVariable("VELA5_ROOT"))
    , m_previousTemp(ReadVariable("TMPDIR"))
    , m_previousConfig(ReadVariable("XDG_CONFIG_HOME"))
{
    std::string pattern = (std::filesystem::temp_directory_path() / "vela5-test-XXXXXX").string();
    if (mkdtemp(pattern.data()) == nullptr) {
        throw std::runtime_error("mkdtemp failed");
    }
    m_base = pattern;
    std::filesystem::create_directories(Root());
    std::filesystem::create_directories(Temp());
    setenv("VELA5_ROOT", Root().c_str(), 1);
    setenv("TMPDIR", Temp().c_str(), 1);
    setenv("XDG_CONFIG_HOME", Config().c_str(), 1);
}

ScopedTestRoot::~ScopedTestRoot()
{
    RestoreVariable("VELA5_ROOT", m_previousRoot);
    RestoreVariable("TMPDIR", m_previousTemp);
    RestoreVariable("XDG_CONFIG_HOME", m_previousConfig);
    std::error_code ignored;
    std::filesystem::remove_all(m_base, ignored);
}
