// The certificate manager's workers: one thread per changing operation, so
// the window stays responsive during card work. A worker touches no control:
// its progress texts and its outcome are posted to the GUI thread and applied
// there only while the window still exists.
#pragma once

#include "CertificateOperations.h"
#include "manager/core/SecretString.h"

#include <atomic>
#include <functional>
#include <memory>
#include <wx/thread.h>
#include <wx/weakref.h>
#include <wx/window.h>

class CertificateWorkerThread : public wxThread {
public:
    // Both run on the GUI thread, only while the window lives.
    using Progress = std::function<void(const wxString& text)>;
    using Completion = std::function<void(const CertificateOperations::Outcome& outcome)>;

    struct Link {
        wxWindow* window = nullptr;
        NRVCMUCryptoki* cryptoki = nullptr;
        CK_SESSION_HANDLE session = CK_INVALID_HANDLE;
        CK_SLOT_ID slot = 0;
        Progress progress;
        Completion completion;
    };

    ~CertificateWorkerThread() override;

    // Blocks until every certificate worker has ended, so the window never
    // closes its session under one.
    static void WaitUntilAllEnded();
    static bool AnyRunning() { return s_alive.load() > 0; }

protected:
    // Created on the GUI thread; the thread deletes itself when it ends.
    explicit CertificateWorkerThread(Link link);
    virtual CertificateOperations::Outcome Work(const CertificateOperations::Context& context) = 0;

private:
    ExitCode Entry() final;

    // Lives on the GUI thread only: every posted call holds a share, and the
    // worker gives its own away with the last post.
    struct WindowGuard {
        wxWeakRef<wxWindow> window;
        Progress progress;
        Completion completion;
    };

    NRVCMUCryptoki& m_cryptoki;
    CK_SESSION_HANDLE m_session;
    CK_SLOT_ID m_slot;
    std::shared_ptr<WindowGuard> m_guard;

    static std::atomic<int> s_alive;
};

class CertificateImportThread final : public CertificateWorkerThread {
public:
    CertificateImportThread(Link link, int fileType, const wxString& path, const wxString& password);
    ~CertificateImportThread() override;

private:
    CertificateOperations::Outcome Work(const CertificateOperations::Context& context) override;

    int m_fileType;
    wxString m_path;
    SecretString m_password;
};

class CertificateDeleteThread final : public CertificateWorkerThread {
public:
    CertificateDeleteThread(Link link, const CertificateOperations::DeleteTarget& target);

private:
    CertificateOperations::Outcome Work(const CertificateOperations::Context& context) override;

    CertificateOperations::DeleteTarget m_target;
};

class CertificateDeleteAllThread final : public CertificateWorkerThread {
public:
    CertificateDeleteAllThread(Link link, bool all);

private:
    CertificateOperations::Outcome Work(const CertificateOperations::Context& context) override;

    bool m_all;
};

class CertificateSetDefaultThread final : public CertificateWorkerThread {
public:
    CertificateSetDefaultThread(Link link, CK_OBJECT_HANDLE certificate);

private:
    CertificateOperations::Outcome Work(const CertificateOperations::Context& context) override;

    CK_OBJECT_HANDLE m_certificate;
};
