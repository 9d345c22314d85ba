// What the slot poller needs from the main window. Every Post call runs its
// update later on the GUI thread; the poller itself never touches a widget.
#pragma once

#include "SlotEnumeration.h"

#include <mutex>
#include <wx/string.h>

class PollingTarget {
public:
    virtual ~PollingTarget() = default;

    // Held around every module call of a poll step and of the window's own
    // status step, so the two never talk to the module at the same time.
    virtual std::mutex& GetModuleMutex() = 0;
    virtual void SetBusy(bool busy) = 0;

    // The last reader went away.
    virtual void PostReadersGone() = 0;
    // The counts changed: close dialogs, clear the list, show "Updating".
    virtual void PostBeginRebuild() = 0;
    // The new enumeration: rebuild the slot table, tree and selection.
    virtual void PostRebuild(SlotEnumeration enumeration) = 0;
    // A step ended with this error text.
    virtual void PostStepError(const wxString& text) = 0;

    // The polling thread is going away; the window drops its reference.
    virtual void OnPollingThreadGone() = 0;
};
