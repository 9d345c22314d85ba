// The desktop's side of "launch at start-up": the Run value the settings
// store writes is mirrored as an XDG autostart entry, which is what a Linux
// session actually starts at login.
#pragma once

#include <filesystem>
#include <string>

namespace AutostartEntry {

inline constexpr const char* kFileName = "PavixManagerLauncher.desktop";

// $XDG_CONFIG_HOME/autostart (an absolute XDG_CONFIG_HOME only), else
// $HOME/.config/autostart; empty when neither is known.
std::filesystem::path Folder();
std::filesystem::path File();

// The Exec value that starts program, quoted as desktop entries require.
std::string ExecValue(const std::string& program);
// The whole entry that starts program.
std::string Contents(const std::string& program);

// Creates or replaces the entry (making the folder when needed); true on success.
bool Write(const std::string& program);
// Removes the entry; true when it is gone (or never was).
bool Remove();

} // namespace AutostartEntry
