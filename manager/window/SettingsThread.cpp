#include "SettingsThread.h"

#include "manager/core/NRVCMUSettings.h"

#include <utility>

SettingsThread::SettingsThread(wxWindow* window, NRVCMUSettings& settings,
    CertPropControl::AgentRecord& agent, Request request, Completion completion)
    : WindowWorkerOf(window, std::move(completion))
    , m_settings(settings)
    , m_agent(agent)
    , m_request(std::move(request))
{
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

std::monostate SettingsThread::Work()
{
    ApplySettings(m_settings, m_agent, m_request);
    return {};
}
