// The token manager's side of the certificate propagation agent: starting it
// from the program's folder (the launch record), writing commands into its
// shared word VCPSFLAG, and telling whether one runs, whoever started it.
#pragma once

#include "platform/process/Process.h"

#include <chrono>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <sys/types.h>
#include <vector>
#include <wx/string.h>

namespace CertPropControl {

// The 32-bit values SetCertPropFlag takes: a command for the high half
// (shifted up) or an acknowledgement for the low half.
constexpr uint32_t kFlagContinue = 0x10000000;
constexpr uint32_t kFlagPause = 0x10010000;
constexpr uint32_t kFlagStop = 0x11000000;
constexpr uint32_t kFlagAcknowledged = 0x0001;
constexpr uint32_t kFlagAcknowledgedAlt = 0x0011;
constexpr long kErrorInvalidParameter = 87;

// How long a stopped agent gets to obey: it reads the word once per poll
// interval (1.3 s on a small machine) and then removes what it propagated.
constexpr std::chrono::milliseconds kStopTimeout { 5000 };

// Writes value into VCPSFLAG, replacing only the half it belongs to; a
// Windows error code (the word's absence when no agent created it, 87 for a
// value that is neither a command nor an acknowledgement).
long SetCertPropFlag(uint32_t value);

// True while an agent holds its single-instance lock, started by this
// manager, an earlier one or the desktop's login.
bool IsAgentRunning();

// Writes the stop command into the running agent's word, waiting (at most
// timeout) for a starting agent to create it. True when the command was
// written or no agent runs.
bool RequestAgentStop(std::chrono::milliseconds timeout);

// Waits until no agent holds the lock, at most timeout; true when none does.
bool WaitUntilAgentGone(std::chrono::milliseconds timeout);

// The agent's file in the program's folder, and its arguments.
std::string AgentPath(const wxString& programFolder);
std::vector<std::string> AgentArguments(bool removeCertificate);

// The launch record: the last agent this window started. The child is kept
// and reaped by a watcher as soon as it ends, so it never lingers as a
// zombie and the window can still tell whether its agent runs.
class AgentRecord final {
public:
    AgentRecord();
    ~AgentRecord();
    AgentRecord(const AgentRecord&) = delete;
    AgentRecord& operator=(const AgentRecord&) = delete;

    // RunCertProp: starts the agent hidden and logs the outcome.
    vela5::platform::Process::ErrorCode Run(const wxString& programFolder, bool removeCertificate);

    // An agent was started by this record (its process handle is held).
    bool HasStarted() const;
    pid_t Pid() const;
    // The agent this record started still runs.
    bool IsRunning() const;
    // Waits at most timeout for that agent to end; true when it has (or none was started).
    bool WaitForExit(std::chrono::milliseconds timeout) const;

private:
    struct Watch;
    std::shared_ptr<Watch> Current() const;

    // The settings worker and the GUI thread both reach the record.
    mutable std::mutex m_mutex;
    std::shared_ptr<Watch> m_watch;
};

} // namespace CertPropControl
