// VELA5 CertProp Svc: keeps the certificates of every present token in the
// user's "MY" store, bound to the maker's provider, while the token is there.
// Windowless; steered by the token manager through VCPSFLAG.
#include "certprop/Agent.h"
#include "certprop/ModuleLibrary.h"
#include "pkcs11/ModuleFileName.h"
#include "platform/named_mutex/NamedMutex.h"

#include <atomic>
#include <csignal>
#include <cstdlib>
#include <string>
#include <sys/resource.h>
#include <unistd.h>

using namespace vela5::platform;

namespace {

std::atomic<bool> g_exit { false };
static_assert(std::atomic<bool>::is_always_lock_free, "the exit flag is set from a signal handler");

// Interrupt, terminal hang-up and termination stand for the console's
// Ctrl-C, close, logoff and shutdown events.
void OnConsoleEvent(int)
{
    g_exit = true;
}

void InstallConsoleHandler()
{
    struct sigaction action { };
    action.sa_handler = OnConsoleEvent;
    sigemptyset(&action.sa_mask);
    // No SA_RESTART: the main thread's sleep ends at once.
    for (const int signal : { SIGINT, SIGTERM, SIGHUP }) {
        sigaction(signal, &action, nullptr);
    }
}

// For tests only: a shorter poll interval than any machine gets, so test
// runs stay short. Ignored unless it is a number of milliseconds from 10 to
// 60000.
void ApplyTestPollInterval(CertProp::PollSettings& settings)
{
    const char* text = std::getenv("VELA5_CERTPROP_TEST_POLL_INTERVAL_MS");
    if (text == nullptr || *text == '\0') {
        return;
    }
    char* end = nullptr;
    const long value = std::strtol(text, &end, 10);
    if (*end == '\0' && value >= 10 && value <= 60000) {
        settings.interval = std::chrono::milliseconds(value);
    }
}

} // namespace

int main(int argc, char** argv)
{
    const bool removeCertificates = CertProp::RemoveFlagFromArguments(argc, argv);
    CertProp::PollSettings settings = CertProp::PollSettingsFor(::sysconf(_SC_NPROCESSORS_ONLN));
    ApplyTestPollInterval(settings);
    ::setpriority(PRIO_PROCESS, 0, settings.nice);

    NamedMutex::Mutex instance;
    if (NamedMutex::Mutex::Create(CertProp::kMutexName, instance) != NamedMutex::Success) {
        return 0;
    }

    CertProp::ModuleLibrary module;
    if (!module.Load(Vela5ModuleFileName())) {
        return 0;
    }
    auto* const getFunctionList = reinterpret_cast<CK_C_GetFunctionList>(module.Symbol("C_GetFunctionList"));
    if (getFunctionList == nullptr) {
        return 0;
    }
    CK_FUNCTION_LIST* p11 = nullptr;
    if (getFunctionList(&p11) != CKR_OK || p11 == nullptr || p11->C_Initialize(nullptr) != CKR_OK) {
        return 0;
    }
    // The vendor entries exist only in the maker's module; another module's
    // list ends before them.
    CK_INFO info {};
    const bool vendorEntries = p11->C_GetInfo(&info) == CKR_OK && NRV_IsMakersModule(&info);

    InstallConsoleHandler();
    {
        CertProp::CertPropAgent agent(p11, vendorEntries, removeCertificates, settings.interval, g_exit);
        if (agent.CreateFlag() != SharedWord::Success) {
            return 0;
        }
        agent.Run();
        // Removals happen while this instance still holds the lock, so a new
        // instance never propagates what this one is about to remove.
        agent.DestroyAllContexts();
        agent.CloseFlag();
    }
    instance.Release();
    // C_Finalize is never called: the sessions end with the process.
    module.Free();
    return 0;
}
