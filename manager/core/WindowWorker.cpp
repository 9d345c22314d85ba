#include "WindowWorker.h"

#include <atomic>
#include <mutex>
#include <system_error>
#include <thread>
#include <utility>
#include <vector>
#include <wx/app.h>

namespace {

// The threads started and not yet joined. Never destroyed: a thread may
// still reach it while the process exits.
struct Census {
    struct Running {
        std::thread thread;
        std::shared_ptr<std::atomic<bool>> done;
    };
    std::mutex mutex;
    std::vector<Running> threads;
};

Census& Workers()
{
    static Census* const census = new Census;
    return *census;
}

// Joins the threads whose work is done (all of them with everything), outside
// the lock: a thread ends without taking it.
void Join(bool everything)
{
    std::vector<Census::Running> ended;
    {
        const std::lock_guard<std::mutex> lock(Workers().mutex);
        auto& threads = Workers().threads;
        for (auto it = threads.begin(); it != threads.end();) {
            if (everything || it->done->load()) {
                ended.push_back(std::move(*it));
                it = threads.erase(it);
            } else {
                ++it;
            }
        }
    }
    for (Census::Running& running : ended) {
        running.thread.join();
    }
}

} // namespace

WindowWorker::WindowWorker(wxWindow* window)
    : m_guard(std::make_unique<WindowGuard>())
{
    m_guard->window = window;
    m_guardView = m_guard.get();
}

WindowWorker::~WindowWorker() = default;

wxThreadError WindowWorker::Start(std::unique_ptr<WindowWorker> worker)
{
    // Threads of earlier workers that are done are joined here, so they do
    // not pile up in a long session.
    Join(false);
    auto done = std::make_shared<std::atomic<bool>>(false);
    const std::lock_guard<std::mutex> lock(Workers().mutex);
    try {
        std::thread thread([worker = worker.get(), done] {
            worker->Entry();
            delete worker;
            done->store(true);
        });
        static_cast<void>(worker.release());
        Workers().threads.push_back({ std::move(thread), std::move(done) });
    } catch (const std::system_error&) {
        return wxTHREAD_NO_RESOURCE;
    }
    return wxTHREAD_NO_ERROR;
}

void WindowWorker::WaitUntilAllEnded()
{
    Join(true);
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
