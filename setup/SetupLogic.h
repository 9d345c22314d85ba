// What setup installs and how: the package table, the two installer command
// lines and their runs.
#pragma once

#include "platform/process/Process.h"

#include <functional>
#include <string>

namespace Setup {

inline constexpr char kPictureName[] = "ajax-loader.gif";
inline constexpr char kInstallerCaption[] = "VELA5-Sigilonn Admin Client Kit Setup";

struct Packages {
    std::string driver;
    std::string userKit;
};

// setupFolder is the folder of setup with its trailing separator.
Packages PackagesFor(const std::string& setupFolder, bool is64Bit);

// "msiexec /i \"<package>\" /q" and the same without /q.
std::string QuietInstallCommand(const std::string& package);
std::string InstallCommand(const std::string& package);

// The folder of the running setup, with its trailing separator.
std::string OwnFolder();

// Runs the driver package quietly, waiting while tick dispatches the GUI's
// events every 100 ms, then starts the user kit package and waits for it at
// most 100 ms. A package that does not start is skipped; installer exit
// codes are not acted upon.
void RunInstallation(const Packages& packages, const std::function<void()>& tick);

} // namespace Setup
