// The agent's process-wide state and its polling step: it watches the number
// of slots holding a token, keeps one slot context per such slot, runs one
// propagation thread at a time, and obeys the token manager's commands in the
// shared word VCPSFLAG (pause, continue, stop).
#pragma once

#include "certprop/AgentNames.h"
#include "certprop/SlotContext.h"
#include "pkcs11/pkcs11.h"
#include "platform/shared_word/SharedWord.h"

#include <array>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <thread>
#include <vector>

namespace CertProp {

inline constexpr std::size_t kMaxSlots = 255;

// Main thread priority as a nice value, and the poll interval, by the number
// of processors: the fewer there are, the more the agent stays out of the way.
struct PollSettings {
    int nice = 0;
    std::chrono::milliseconds interval { 1000 };
};
PollSettings PollSettingsFor(long processors);
// The propagation threads' "below normal" priority.
inline constexpr int kPropagationNice = 5;

// True unless the first argument is exactly "NREMOVE".
bool RemoveFlagFromArguments(int argc, const char* const* argv);

class CertPropAgent final {
public:
    // exitFlag is set by the signal handlers and by the stop command.
    CertPropAgent(CK_FUNCTION_LIST* p11, bool vendorEntries, bool removeCertificates,
        std::chrono::milliseconds interval, std::atomic<bool>& exitFlag,
        std::filesystem::path logFile = AgentLog::DefaultPath());
    ~CertPropAgent();
    CertPropAgent(const CertPropAgent&) = delete;
    CertPropAgent& operator=(const CertPropAgent&) = delete;

    // Creates VCPSFLAG holding 0x10000000; kept until the agent is gone.
    long CreateFlag();
    // Polls until the exit flag is set.
    void Run();
    long PollingStep();
    // Waits for the propagation thread and destroys every context, with
    // their removals.
    void DestroyAllContexts();
    void CloseFlag() { m_flag.Close(); }

    std::size_t ContextCount() const { return m_contexts.size(); }

private:
    void Sleep() const;
    long ReadFlag(uint32_t& value) const;
    void Acknowledge() const;
    long SlotDescription(CK_SLOT_ID slot, std::string& description) const;
    void CreateContext(CK_SLOT_ID slot);
    void StartPropagation(CSlotContext& context);
    void WaitForPropagation();

    CK_FUNCTION_LIST* m_p11;
    bool m_vendorEntries;
    bool m_removeCertificates;
    std::chrono::milliseconds m_interval;
    std::atomic<bool>& m_exit;
    std::filesystem::path m_logFile;
    bool m_paused = false;
    CK_ULONG m_currentCount = 0;
    CK_ULONG m_previousCount = 0;
    std::array<CK_SLOT_ID, kMaxSlots> m_slots {};
    std::vector<std::unique_ptr<CSlotContext>> m_contexts;
    std::thread m_propagationThread;
    vela5::platform::SharedWord::Word m_flag;
};

} // namespace CertProp
