// The detached thread that runs a poll step every 250 ms for the life of the
// main window, and can be paused between steps while a command holds the module.
#pragma once

#include "SlotPoller.h"

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <wx/thread.h>

class MainPollingThread final : public wxThread {
public:
    static constexpr std::chrono::milliseconds kInterval { 250 };

    MainPollingThread(
        NRVCMUCryptoki& cryptoki, PollingTarget& target, std::chrono::milliseconds interval = kInterval);
    // Tells the window that its reference is gone.
    ~MainPollingThread() override;

    // Returns once the thread is between steps and will not start another
    // until ResumePolling; a step never stops halfway through its module calls.
    void PausePolling();
    void ResumePolling();

protected:
    ExitCode Entry() override;
    // Delete() on a detached thread does not wait; this wakes a sleeping or
    // paused loop so it ends at once.
    void OnDelete() override;

private:
    SlotPoller m_poller;
    PollingTarget& m_target;
    const std::chrono::milliseconds m_interval;
    std::mutex m_mutex;
    std::condition_variable m_changed;
    bool m_paused = false;
    bool m_inStep = false;
    bool m_stop = false;
};
