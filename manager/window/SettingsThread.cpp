#include "SettingsThread.h"

#include "manager/core/NRVCMUSettings.h"

#include <utility>
#include <wx/app.h>
#include <wx/utils.h>

std::atomic<int> SettingsThread::s_alive { 0 };

SettingsThread::SettingsThread(wxWindow* window, NRVCMUSettings& settings,
    CertPropControl::AgentRecord& agent, Request request, Completion completion)
    : wxThread(wxTHREAD_DETACHED)
    , m_settings(settings)
    , m_agent(agent)
    , m_request(std::move(request))
    , m_completion(std::move(completion))
    , m_guard(std::make_unique<WindowGuard>())
{
    m_guard->window = window;
    ++s_alive;
}

SettingsThread::~SettingsThread()
{
    --s_alive;
}

void SettingsThread::WaitUntilAllEnded()
{
    while (s_alive.load() > 0) {
        wxMilliSleep(10);
    }
}

void SettingsThread::ApplySettings(
    NRVCMUSettings& settings, CertPropControl::AgentRecord& agent, const Request& request)
{
    settings.ApplyLaunchAtStartup(settings.IsLaunchAtStartup());
    settings.ApplyPINCache(settings.IsPINCacheEnabled());
    settings.ApplyLogging(0);
    settings.ApplyLogging(1);
    settings.ApplyLogging(2);

    const bool install = settings.IsInstallCertificate();
    const bool remove = settings.IsRemoveCertificate();
    if (install == request.wasInstallCertificate && remove == request.wasRemoveCertificate) {
        return;
    }
    // The stop goes to whichever agent runs, not only one this window
    // started: an agent of an earlier run or of the login would otherwise
    // go on in the mode the user just left.
    if (install) {
        if (remove != request.wasRemoveCertificate && CertPropControl::IsAgentRunning()) {
            // The new agent would find the old one's lock and leave at once,
            // and the old one would then obey the stop: none would run.
            CertPropControl::RequestAgentStop(CertPropControl::kStopTimeout);
            CertPropControl::WaitUntilAgentGone(CertPropControl::kStopTimeout);
        }
        agent.Run(request.programFolder, remove);
        return;
    }
    if (CertPropControl::IsAgentRunning()) {
        CertPropControl::RequestAgentStop(CertPropControl::kStopTimeout);
    }
}

wxThread::ExitCode SettingsThread::Entry()
{
    ApplySettings(m_settings, m_agent, m_request);
    // The weak reference must only be touched on the GUI thread: the posted
    // call takes it over and destroys it there, once it has run.
    WindowGuard* const guard = m_guard.release();
    wxTheApp->CallAfter([guard, completion = std::move(m_completion)]() {
        const std::unique_ptr<WindowGuard> owned(guard);
        if (owned->window) {
            completion();
        }
    });
    return nullptr;
}
