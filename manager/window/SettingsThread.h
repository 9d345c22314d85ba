// The worker started after the settings dialog closes: it applies the
// settings that live outside the store (start-up entry, PIN cache, logging
// switches) and starts, restarts or stops the certificate propagation agent
// when its options changed, then resumes the window's polling.
#pragma once

#include "manager/core/WindowWorker.h"
#include "manager/host/CertPropControl.h"

#include <variant>
#include <wx/string.h>

class NRVCMUSettings;

// Its completion only learns that the steps are done.
class SettingsThread final : public WindowWorkerOf<std::monostate> {
public:
    // The certificate options as they were before the dialog.
    struct Request {
        wxString programFolder;
        bool wasInstallCertificate = false;
        bool wasRemoveCertificate = false;
    };
    // Created on the GUI thread; the thread deletes itself when it ends.
    SettingsThread(wxWindow* window, NRVCMUSettings& settings, CertPropControl::AgentRecord& agent,
        Request request, Completion completion);

    // The steps themselves, without threads (the settings handler runs them
    // itself when no worker can be had).
    static void ApplySettings(
        NRVCMUSettings& settings, CertPropControl::AgentRecord& agent, const Request& request);

private:
    std::monostate Work() override;

    NRVCMUSettings& m_settings;
    CertPropControl::AgentRecord& m_agent;
    Request m_request;
};
