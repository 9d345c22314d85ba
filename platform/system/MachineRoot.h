// Where the kit's emulated machine state lives, and a short tag naming that
// machine, so programs that share one state also share their named objects
// (the propagation flag, the single-instance lock) and those on another
// state, such as parallel tests, never meet them.
#pragma once

#include <filesystem>
#include <string>

namespace vela5::platform::System {

// $VELA5_ROOT, else $XDG_DATA_HOME/vela5, else ~/.local/share/vela5.
std::filesystem::path MachineRoot();

// Eight hex digits derived from MachineRoot() as an absolute path.
std::string MachineTag();

} // namespace vela5::platform::System
