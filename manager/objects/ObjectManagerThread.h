// The worker of one operation of a manager window (certificates, secret keys,
// data objects). It touches no control: its progress texts and its outcome are posted to the GUI thread
// and applied there only while the window still exists, in the order they
// were posted.
#pragma once

#include "pkcs11/pkcs11.h"

#include <atomic>
#include <functional>
#include <memory>
#include <wx/string.h>
#include <wx/thread.h>
#include <wx/weakref.h>
#include <wx/window.h>

class NRVCMUCryptoki;

// The token a worker acts on: the window's session and its slot.
struct ManagerTarget {
    NRVCMUCryptoki* cryptoki = nullptr;
    CK_SESSION_HANDLE session = CK_INVALID_HANDLE;
    CK_SLOT_ID slot = 0;
};

class ObjectManagerThread : public wxThread {
public:
    // Runs on the GUI thread with each progress text.
    using Progress = std::function<void(const wxString& text)>;

    ~ObjectManagerThread() override;

    // Blocks until every manager worker has ended, so a window never closes
    // its session under one.
    static void WaitUntilAllEnded();

protected:
    // Created on the GUI thread; the thread deletes itself when it ends.
    ObjectManagerThread(wxWindow* window, Progress progress);

    // Posts a progress text.
    void Report(const wxString& text);
    // Posts the last call; nothing is posted after it.
    void Finish(std::function<void()> completion);

private:
    struct WindowGuard {
        wxWeakRef<wxWindow> window;
    };

    Progress m_progress;
    // Owned here until Finish hands it to the last posted call, which
    // destroys it on the GUI thread; earlier calls run before that one.
    std::unique_ptr<WindowGuard> m_guard;
    WindowGuard* m_guardView = nullptr;

    static std::atomic<int> s_alive;
};

// A worker whose outcome is an Outcome value, applied by a completion.
template <typename Outcome> class ObjectManagerWorker : public ObjectManagerThread {
public:
    using Completion = std::function<void(Outcome& outcome)>;

protected:
    ObjectManagerWorker(wxWindow* window, Progress progress, Completion completion)
        : ObjectManagerThread(window, std::move(progress))
        , m_completion(std::move(completion))
    {
    }

    // The operation itself, on the worker.
    virtual Outcome Work() = 0;

private:
    ExitCode Entry() override
    {
        auto outcome = std::make_shared<Outcome>(Work());
        Finish([completion = std::move(m_completion), outcome] { completion(*outcome); });
        return nullptr;
    }

    Completion m_completion;
};
