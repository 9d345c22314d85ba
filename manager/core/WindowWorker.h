// A worker thread for a window, so long card work leaves the window
// responsive. The worker touches no control: every call it posts runs on the
// GUI thread, in the order posted, and only while the window still exists.
// Workers derive from WindowWorkerOf, whose outcome is the last call posted.
#pragma once

#include <functional>
#include <memory>
#include <wx/thread.h>
#include <wx/weakref.h>
#include <wx/window.h>

class WindowWorker {
public:
    virtual ~WindowWorker();
    WindowWorker(const WindowWorker&) = delete;
    WindowWorker& operator=(const WindowWorker&) = delete;

    // Starts a worker on a thread of its own, which destroys the worker when
    // the work is done; one that cannot start is destroyed here. On the GUI
    // thread.
    static wxThreadError Start(std::unique_ptr<WindowWorker> worker);

    // Blocks until the thread of every worker started has ended, not only
    // its work, so no window closes its session, and the application does
    // not finalize the module or the toolkit, under one. On the GUI thread.
    static void WaitUntilAllEnded();

protected:
    // The work, on the worker's thread.
    virtual void Entry() = 0;

    // Posts a call to run on the GUI thread while the window lives.
    void Post(std::function<void()> call);
    // Posts the last call; nothing is posted after it.
    void Finish(std::function<void()> call);

private:
    template <typename Outcome> friend class WindowWorkerOf;
    // On the GUI thread.
    explicit WindowWorker(wxWindow* window);

    struct WindowGuard {
        wxWeakRef<wxWindow> window;
    };
    // The weak reference lives on the GUI thread only: owned here until
    // Finish hands it to the last posted call, which destroys it there.
    // Calls posted earlier run before that one.
    std::unique_ptr<WindowGuard> m_guard;
    WindowGuard* m_guardView = nullptr;
};

// A worker whose work gives one Outcome, applied on the GUI thread by its
// completion.
template <typename Outcome> class WindowWorkerOf : public WindowWorker {
public:
    // Runs on the GUI thread with the outcome, only while the window lives.
    using Completion = std::function<void(Outcome& outcome)>;

protected:
    WindowWorkerOf(wxWindow* window, Completion completion)
        : WindowWorker(window)
        , m_completion(std::move(completion))
    {
    }

    // The work itself, on the worker.
    virtual Outcome Work() = 0;

private:
    void Entry() final
    {
        auto outcome = std::make_shared<Outcome>(Work());
        Finish([completion = std::move(m_completion), outcome] {
            if (completion) {
                completion(*outcome);
            }
        });
    }

    Completion m_completion;
};
