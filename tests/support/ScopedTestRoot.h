// Gives one test its own machine root ($VELA5_ROOT), temporary folder
// ($TMPDIR) and configuration folder ($XDG_CONFIG_HOME, where the autostart
// entry goes) and removes them afterwards.
#pragma once

#include <filesystem>
#include <optional>
#include <string>

class ScopedTestRoot final {
public:
    ScopedTestRoot();
    ~ScopedTestRoot();
    ScopedTestRoot(const ScopedTestRoot&) = delete;
    ScopedTestRoot& operator=(const ScopedTestRoot&) = delete;

    const std::filesystem::path& Base() const { return m_base; }
    std::filesystem::path Root() const { return m_base / "root"; }
    std::filesystem::path Temp() const { return m_base / "tmp"; }
    std::filesystem::path Config() const { return m_base / "config"; }

private:
    std::filesystem::path m_base;
    // What the variables held before, restored on destruction; empty optional = unset.
    std::optional<std::string> m_previousRoot;
    std::optional<std::string> m_previousTemp;
    std::optional<std::string> m_previousConfig;
};
