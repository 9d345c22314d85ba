#include "MainPollingThread.h"

MainPollingThread::MainPollingThread(
    NRVCMUCryptoki& cryptoki, PollingTarget& target, std::chrono::milliseconds interval)
    : wxThread(wxTHREAD_DETACHED)
    , m_poller(cryptoki, target)
    , m_target(target)
    , m_interval(interval)
{
}

MainPollingThread::~MainPollingThread()
{
    m_target.OnPollingThreadGone();
}

void MainPollingThread::PausePolling()
{
    std::unique_lock<std::mutex> lock(m_mutex);
    m_paused = true;
    m_changed.wait(lock, [this] { return !m_inStep || m_stop; });
}

void MainPollingThread::ResumePolling()
{
    {
        const std::lock_guard<std::mutex> lock(m_mutex);
        m_paused = false;
    }
    m_changed.notify_all();
}

void MainPollingThread::OnDelete()
{
    {
        const std::lock_guard<std::mutex> lock(m_mutex);
        m_stop = true;
    }
    m_changed.notify_all();
}

wxThread::ExitCode MainPollingThread::Entry()
{
    while (!TestDestroy()) {
        {
            std::unique_lock<std::mutex> lock(m_mutex);
            m_changed.wait(lock, [this] { return m_stop || !m_paused; });
            if (m_stop) {
                break;
            }
            m_inStep = true;
        }
        m_poller.RunStep();
        {
            std::unique_lock<std::mutex> lock(m_mutex);
            m_inStep = false;
            m_changed.notify_all();
            if (m_changed.wait_for(lock, m_interval, [this] { return m_stop; })) {
                break;
            }
        }
    }
    return nullptr;
}
