#include "CertPropControl.h"

#include "certprop/AgentNames.h"
#include "manager/core/NRVCMULog.h"
#include "platform/named_mutex/NamedMutex.h"
#include "platform/shared_word/SharedWord.h"

#include <condition_variable>
#include <thread>
#include <wx/filename.h>

using namespace vela5::platform;

namespace CertPropControl {
namespace {

constexpr std::chrono::milliseconds kProbeInterval { 20 };

bool WaitUntil(const std::function<bool()>& condition, std::chrono::milliseconds timeout)
{
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    for (;;) {
        if (condition()) {
            return true;
        }
        if (std::chrono::steady_clock::now() >= deadline) {
            return false;
        }
        std::this_thread::sleep_for(kProbeInterval);
    }
}

} // namespace

long SetCertPropFlag(uint32_t value)
{
    SharedWord::Half half;
    uint16_t part;
    if (value == kFlagAcknowledged || value == kFlagAcknowledgedAlt) {
        half = SharedWord::Half::Low;
        part = static_cast<uint16_t>(value);
    } else if (value == kFlagContinue || value == kFlagPause || value == kFlagStop) {
        half = SharedWord::Half::High;
        part = static_cast<uint16_t>(value >> 16);
    } else {
        return kErrorInvalidParameter;
    }
    SharedWord::Word word;
    const long opened = SharedWord::Word::Open(CertProp::kFlagName, SharedWord::Access::ReadWrite, word);
    if (opened != SharedWord::Success) {
        return opened;
    }
    // Replacing the half is the "clear, then OR in" of the word, done in one
    // atomic step so the agent's half is never lost to a concurrent write.
    return word.WriteHalf(half, part);
}

bool IsAgentRunning()
{
    // The lock, not the word, tells: a crashed agent leaves its word behind,
    // while the system frees its lock whatever way it ended.
    NamedMutex::Mutex probe;
    const long status = NamedMutex::Mutex::Create(CertProp::kMutexName, probe);
    probe.Release();
    return status == NamedMutex::AlreadyExists;
}

bool RequestAgentStop(std::chrono::milliseconds timeout)
{
    // A starting agent holds its lock a moment before it creates the word.
    return WaitUntil(
        [] { return SetCertPropFlag(kFlagStop) == SharedWord::Success || !IsAgentRunning(); }, timeout);
}

bool WaitUntilAgentGone(std::chrono::milliseconds timeout)
{
    return WaitUntil([] { return !IsAgentRunning(); }, timeout);
}

std::string AgentPath(const wxString& programFolder)
{
    return (programFolder + wxFileName::GetPathSeparator() + CertProp::kAgentProgramName).utf8_string();
}

std::vector<std::string> AgentArguments(bool removeCertificate)
{
    if (removeCertificate) {
        return {};
    }
    return { CertProp::kNoRemoveArgument };
}

struct AgentRecord::Watch {
    pid_t pid = 0;
    std::mutex mutex;
    std::condition_variable changed;
    bool ended = false;
};

AgentRecord::AgentRecord() = default;
// A running agent is left alone: its watcher keeps the child until it ends.
AgentRecord::~AgentRecord() = default;

std::shared_ptr<AgentRecord::Watch> AgentRecord::Current() const
{
    const std::lock_guard<std::mutex> lock(m_mutex);
    return m_watch;
}

Process::ErrorCode AgentRecord::Run(const wxString& programFolder, bool removeCertificate)
{
    Process::Child child;
    const Process::ErrorCode result = Process::Start(AgentPath(programFolder),
        AgentArguments(removeCertificate), Process::StartOptions { .hidden = true }, child);
    NRVCMULog& log = NRVCMULog::Get();
    if (result != Process::kSuccess) {
        log.WriteValue("NRVCMUFrm::RunCertProp() - ShellExecuteEx Error = ", "%08X", result, true);
        log.WriteLine("NRVCMUFrm::RunCertProp() - Run certificate propagation... FAILED");
        return result;
    }
    auto watch = std::make_shared<Watch>();
    watch->pid = child.Pid();
    try {
        std::thread([watch, owned = std::move(child)]() mutable {
            owned.WaitWhile(nullptr, std::chrono::seconds(1));
            const std::lock_guard<std::mutex> lock(watch->mutex);
            watch->ended = true;
            watch->changed.notify_all();
        }).detach();
    } catch (const std::system_error&) {
        // No thread to be had: the child was moved into the failed lambda's
        // capture and let go there, reaped in the background all the same.
    }
    {
        const std::lock_guard<std::mutex> lock(m_mutex);
        m_watch = watch;
    }
    log.WriteLine("NRVCMUFrm::RunCertProp() - Run certificate propagation... OK");
    return result;
}

bool AgentRecord::HasStarted() const
{
    return Current() != nullptr;
}

pid_t AgentRecord::Pid() const
{
    const auto watch = Current();
    return watch != nullptr ? watch->pid : 0;
}

bool AgentRecord::IsRunning() const
{
    const auto watch = Current();
    if (watch == nullptr) {
        return false;
    }
    const std::lock_guard<std::mutex> lock(watch->mutex);
    return !watch->ended;
}

bool AgentRecord::WaitForExit(std::chrono::milliseconds timeout) const
{
    const auto watch = Current();
    if (watch == nullptr) {
        return true;
    }
    std::unique_lock<std::mutex> lock(watch->mutex);
    return watch->changed.wait_for(lock, timeout, [&] { return watch->ended; });
}

} // namespace CertPropControl
