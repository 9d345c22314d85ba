#include "AutoLogout.h"

#include <wx/event.h>

AutoLogout::AutoLogout()
    : m_lastInput(Clock::now())
{
    wxEvtHandler::AddFilter(this);
}

AutoLogout::~AutoLogout()
{
    wxEvtHandler::RemoveFilter(this);
}

int AutoLogout::FilterEvent(wxEvent& event)
{
    const wxEventType type = event.GetEventType();
    if (type == wxEVT_KEY_DOWN || type == wxEVT_LEFT_DOWN || type == wxEVT_RIGHT_DOWN
        || type == wxEVT_MIDDLE_DOWN || type == wxEVT_MOTION || type == wxEVT_MOUSEWHEEL) {
        Touch();
    }
    return Event_Skip;
}

void AutoLogout::Touch()
{
    m_lastInput = Clock::now();
}

bool AutoLogout::IsDue(
    bool enabled, long minutes, Clock::duration minute, Clock::time_point lastInput, Clock::time_point now)
{
    if (!enabled || minutes < 1) {
        return false;
    }
    return now - lastInput >= minute * minutes;
}
