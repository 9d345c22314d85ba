// vela5-token's "object" commands: put objects on a token the way a client
// of the module does, and list a token's objects.
#pragma once

#include <string>
#include <vector>

namespace velatoken {

// args starts with "object". Prints the result; throws std::invalid_argument
// for a wrong command line and std::runtime_error for a failure.
int RunObjectCommand(const std::vector<std::string>& args);

} // namespace velatoken
