#include "ObjectManagerThread.h"

#include <utility>
#include <wx/app.h>
#include <wx/utils.h>

std::atomic<int> ObjectManagerThread::s_alive { 0 };

ObjectManagerThread::ObjectManagerThread(wxWindow* window, Progress progress)
    : wxThread(wxTHREAD_DETACHED)
    , m_progress(std::move(progress))
    , m_guard(std::make_unique<WindowGuard>())
{
    m_guard->window = window;
    m_guardView = m_guard.get();
    ++s_alive;
}

ObjectManagerThread::~ObjectManagerThread()
{
    --s_alive;
}

void ObjectManagerThread::WaitUntilAllEnded()
{
    while (s_alive.load() > 0) {
        wxMilliSleep(10);
    }
}

void ObjectManagerThread::Report(const wxString& text)
{
    WindowGuard* const guard = m_guardView;
    wxTheApp->CallAfter([guard, progress = m_progress, text = text.Clone()] {
        if (guard->window && progress) {
            progress(text);
        }
    });
}

void ObjectManagerThread::Finish(std::function<void()> completion)
{
    WindowGuard* const guard = m_guard.release();
    wxTheApp->CallAfter([guard, completion = std::move(completion)] {
        const std::unique_ptr<WindowGuard> owned(guard);
        if (owned->window) {
            completion();
        }
    });
}
