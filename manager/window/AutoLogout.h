// Auto-logout: remembers when the user last gave the manager any input (keys,
// mouse buttons, movement, wheel) in any of its windows, and tells whether a
// logged-in token is due to be logged out.
#pragma once

#include <atomic>
#include <chrono>
#include <wx/eventfilter.h>

class AutoLogout final : public wxEventFilter {
public:
    using Clock = std::chrono::steady_clock;

    // Registers itself as an application-wide event filter.
    AutoLogout();
    ~AutoLogout() override;
    AutoLogout(const AutoLogout&) = delete;
    AutoLogout& operator=(const AutoLogout&) = delete;

    int FilterEvent(wxEvent& event) override;

    // Treats now as the last input (a login, a settings change).
    void Touch();
    Clock::time_point GetLastInput() const { return m_lastInput.load(); }
    // How long a "minute" of the setting lasts (tests shorten it).
    void SetMinuteLength(Clock::duration length) { m_minute = length; }
    Clock::duration GetMinuteLength() const { return m_minute; }

    // The decision itself: on, with minutes of the setting, and that long
    // without input since lastInput.
    static bool IsDue(bool enabled, long minutes, Clock::duration minute, Clock::time_point lastInput,
        Clock::time_point now);

private:
    std::atomic<Clock::time_point> m_lastInput;
    Clock::duration m_minute = std::chrono::minutes(1);
};
