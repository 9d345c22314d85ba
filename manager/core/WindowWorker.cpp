#include "WindowWorker.h"

#include <condition_variable>
#include <mutex>
#include <utility>
#include <wx/app.h>

namespace {

// The workers created and not yet destroyed.
struct Census {
    std::mutex mutex;
    std::condition_variable ended;
    int alive = 0;
};

Census& Workers()
{
    static Census census;
    return census;
}

} // namespace

WindowWorker::WindowWorker(wxWindow* window)
    : wxThread(wxTHREAD_DETACHED)
    , m_guard(std::make_unique<WindowGuard>())
{
    m_guard->window = window;
    m_guardView = m_guard.get();
    const std::lock_guard<std::mutex> lock(Workers().mutex);
    ++Workers().alive;
}

WindowWorker::~WindowWorker()
{
    {
        const std::lock_guard<std::mutex> lock(Workers().mutex);
        --Workers().alive;
    }
    Workers().ended.notify_all();
}

wxThreadError WindowWorker::Start(std::unique_ptr<WindowWorker> worker)
{
    const wxThreadError error = worker->Run();
    if (error == wxTHREAD_NO_ERROR) {
        // Detached: from here on it deletes itself.
        static_cast<void>(worker.release());
    }
    return error;
}

void WindowWorker::WaitUntilAllEnded()
{
    std::unique_lock<std::mutex> lock(Workers().mutex);
    Workers().ended.wait(lock, [] { return Workers().alive == 0; });
}

void WindowWorker::Post(std::function<void()> call)
{
    WindowGuard* const guard = m_guardView;
    wxTheApp->CallAfter([guard, call = std::move(call)] {
        if (guard->window) {
            call();
        }
    });
}

void WindowWorker::Finish(std::function<void()> call)
{
    WindowGuard* const guard = m_guard.release();
    wxTheApp->CallAfter([guard, call = std::move(call)] {
        const std::unique_ptr<WindowGuard> owned(guard);
        if (owned->window) {
            call();
        }
    });
}
