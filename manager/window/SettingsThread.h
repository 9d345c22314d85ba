// The worker started after the settings dialog closes: it applies the
// settings that live outside the store (start-up entry, PIN cache, logging
// switches) and starts, restarts or stops the certificate propagation agent
// when its options changed, then resumes the window's polling.
#pragma once

#include "manager/host/CertPropControl.h"

#include <atomic>
#include <functional>
#include <memory>
#include <wx/string.h>
#include <wx/thread.h>
#include <wx/weakref.h>
#include <wx/window.h>

class NRVCMUSettings;

class SettingsThread final : public wxThread {
public:
    // The certificate options as they were before the dialog.
    struct Request {
        wxString programFolder;
        bool wasInstallCertificate = false;
        bool wasRemoveCertificate = false;
    };
    // Runs on the GUI thread when the steps are done, only while the window lives.
    using Completion = std::function<void()>;

    // Created on the GUI thread; the thread deletes itself when it ends.
    SettingsThread(wxWindow* window, NRVCMUSettings& settings, CertPropControl::AgentRecord& agent,
        Request request, Completion completion);
    ~SettingsThread() override;

    // The steps themselves, without threads (the settings handler runs them
    // itself when no worker can be had).
    static void ApplySettings(
        NRVCMUSettings& settings, CertPropControl::AgentRecord& agent, const Request& request);

    // Blocks until every worker of this kind has ended.
    static void WaitUntilAllEnded();

protected:
    ExitCode Entry() override;

private:
    struct WindowGuard {
        wxWeakRef<wxWindow> window;
    };

    NRVCMUSettings& m_settings;
    CertPropControl::AgentRecord& m_agent;
    Request m_request;
    Completion m_completion;
    std::unique_ptr<WindowGuard> m_guard;

    static std::atomic<int> s_alive;
};
