#include "certprop/Agent.h"

#include "certprop/ResultMapping.h"

#include <algorithm>
#include <csignal>
#include <cstring>
#include <ctime>
#include <pthread.h>
#include <sys/resource.h>
#include <unistd.h>

using namespace vela5::platform;

namespace CertProp {

PollSettings PollSettingsFor(long processors)
{
    // Lowest, below normal and normal thread priority.
    if (processors <= 2) {
        return { 10, std::chrono::milliseconds(1300) };
    }
    if (processors == 3) {
        return { 5, std::chrono::milliseconds(1150) };
    }
    return { 0, std::chrono::milliseconds(1000) };
}

bool RemoveFlagFromArguments(int argc, const char* const* argv)
{
    return !(argc > 1 && argv[1] != nullptr && std::strcmp(argv[1], kNoRemoveArgument) == 0);
}

CertPropAgent::CertPropAgent(CK_FUNCTION_LIST* p11, bool vendorEntries, bool removeCertificates,
    std::chrono::milliseconds interval, std::atomic<bool>& exitFlag, std::filesystem::path logFile)
    : m_p11(p11)
    , m_vendorEntries(vendorEntries)
    , m_removeCertificates(removeCertificates)
    , m_interval(interval)
    , m_exit(exitFlag)
    , m_logFile(std::move(logFile))
{
}

CertPropAgent::~CertPropAgent()
{
    DestroyAllContexts();
}

long CertPropAgent::CreateFlag()
{
    return SharedWord::Word::Create(kFlagName, kFlagAtCreation, m_flag);
}

void CertPropAgent::Run()
{
    while (!m_exit) {
        PollingStep();
        Sleep();
    }
}

// One plain sleep: a signal cuts it short, so the agent leaves promptly.
void CertPropAgent::Sleep() const
{
    const auto seconds = std::chrono::duration_cast<std::chrono::seconds>(m_interval);
    const timespec wanted { static_cast<time_t>(seconds.count()),
        static_cast<long>(
            std::chrono::duration_cast<std::chrono::nanoseconds>(m_interval - seconds).count()) };
    ::nanosleep(&wanted, nullptr);
}

long CertPropAgent::ReadFlag(uint32_t& value) const
{
    SharedWord::Word word;
    const long opened = SharedWord::Word::Open(kFlagName, SharedWord::Access::Read, word);
    if (opened != SharedWord::Success) {
        return opened;
    }
    value = word.Read();
    return ErrorSuccess;
}

// Only the low half is ours; the layer replaces it without touching the
// manager's command in the high half.
void CertPropAgent::Acknowledge() const
{
    SharedWord::Word word;
    if (SharedWord::Word::Open(kFlagName, SharedWord::Access::ReadWrite, word) == SharedWord::Success) {
        word.WriteHalf(SharedWord::Half::Low, kAcknowledged);
    }
}

long CertPropAgent::SlotDescription(CK_SLOT_ID slot, std::string& description) const
{
    CK_SLOT_INFO info {};
    const CK_RV rv = m_p11->C_GetSlotInfo(slot, &info);
    if (rv != CKR_OK) {
        return MapCkResult(rv);
    }
    description = CSlotContext::DescriptionOf(info);
    return ErrorSuccess;
}

long CertPropAgent::PollingStep()
{
    if (m_currentCount == m_previousCount) {
        for (;;) {
            Sleep();
            if (m_exit) {
                return ErrorCancelled;
            }
            uint32_t value = 0;
            const long read = ReadFlag(value);
            if (read != ErrorSuccess) {
                return read;
            }
            const uint16_t command = static_cast<uint16_t>(value >> 16);
            if (command == kCommandPause) {
                if (!m_paused) {
                    m_paused = true;
                    Acknowledge();
                }
                continue;
            }
            if (command == kCommandStop) {
                m_exit = true;
                Acknowledge();
                continue;
            }
            m_paused = false;
            CK_ULONG count = kMaxSlots;
            const CK_RV rv = m_p11->C_GetSlotList(CK_TRUE, m_slots.data(), &count);
            if (rv != CKR_OK) {
                return MapCkResult(rv);
            }
            m_currentCount = std::min<CK_ULONG>(count, kMaxSlots);
            if (m_currentCount != m_previousCount) {
                break;
            }
        }
    }

    if (m_currentCount <= m_previousCount) {
        std::vector<std::string> present;
        for (CK_ULONG i = 0; i < m_currentCount; ++i) {
            std::string description;
            const long status = SlotDescription(m_slots[i], description);
            if (status != ErrorSuccess) {
                return status;
            }
            present.push_back(description);
        }
        WaitForPropagation();
        std::erase_if(m_contexts, [&](const std::unique_ptr<CSlotContext>& context) {
            return m_currentCount == 0
                || std::find(present.begin(), present.end(), context->Description()) == present.end();
        });
    } else {
        for (CK_ULONG i = 0; i < m_currentCount; ++i) {
            std::string description;
            const long status = SlotDescription(m_slots[i], description);
            if (status != ErrorSuccess) {
                return status;
            }
            const bool known = std::any_of(
                m_contexts.begin(), m_contexts.end(), [&](const std::unique_ptr<CSlotContext>& context) {
                    return context->Description() == description;
                });
            if (!known) {
                CreateContext(m_slots[i]);
            }
        }
    }
    m_previousCount = m_currentCount;
    return ErrorSuccess;
}

void CertPropAgent::CreateContext(CK_SLOT_ID slot)
{
    auto context = std::make_unique<CSlotContext>(m_removeCertificates, m_vendorEntries, m_logFile);
    if (context->Initialize(m_p11, slot) != ErrorSuccess) {
        return;
    }
    const long retrieved = context->RetrieveCerts();
    if (retrieved != ErrorSuccess && retrieved != NteNoMoreItems) {
        return;
    }
    StartPropagation(*context);
    m_contexts.push_back(std::move(context));
}

void CertPropAgent::StartPropagation(CSlotContext& context)
{
    WaitForPropagation();
    // The thread must not take the console signals: the main thread's sleep
    // is what they cut short.
    sigset_t blocked;
    sigset_t previous;
    sigemptyset(&blocked);
    sigaddset(&blocked, SIGINT);
    sigaddset(&blocked, SIGTERM);
    sigaddset(&blocked, SIGHUP);
    pthread_sigmask(SIG_BLOCK, &blocked, &previous);
    m_propagationThread = std::thread([&context] {
        // Below normal; an unprivileged process cannot go back up, so on a
        // machine where the main thread already runs lower, this fails and
        // the thread keeps the main thread's priority.
        ::setpriority(PRIO_PROCESS, static_cast<id_t>(::gettid()), kPropagationNice);
        long result = context.PropagateCert(PropFirst);
        while (result == ErrorSuccess) {
            result = context.PropagateCert(PropNext);
        }
    });
    pthread_sigmask(SIG_SETMASK, &previous, nullptr);
}

void CertPropAgent::WaitForPropagation()
{
    if (m_propagationThread.joinable()) {
        m_propagationThread.join();
    }
}

void CertPropAgent::DestroyAllContexts()
{
    WaitForPropagation();
    m_contexts.clear();
}

} // namespace CertProp
