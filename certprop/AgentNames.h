// The names and values by which the token manager and the propagation agent
// meet: the shared word's name and layout, and the agent's single-instance
// lock. Header only, so the manager needs none of the agent's code.
#pragma once

#include <cstdint>

namespace CertProp {

inline constexpr const char* kAgentProgramName = "VELA5 CertProp Svc";
inline constexpr const char* kNoRemoveArgument = "NREMOVE";
inline constexpr const char* kFlagName = "VCPSFLAG";
inline constexpr const char* kMutexName = "{D1FC8220-3DC3-4546-8002-76946ED4DC35}";
// High half: the manager's command; low half: the agent's acknowledgement.
inline constexpr uint32_t kFlagAtCreation = 0x10000000;
inline constexpr uint16_t kCommandContinue = 0x1000;
inline constexpr uint16_t kCommandPause = 0x1001;
inline constexpr uint16_t kCommandStop = 0x1100;
inline constexpr uint16_t kAcknowledged = 1;

} // namespace CertProp
