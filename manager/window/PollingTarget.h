// What the slot poller needs from the main window. Every Post call runs its
// update later on the GUI thread; the poller itself never touches a widget.
#pragma once

#include "SlotEnumeration.h"

#include <wx/string.h>

class PollingTarget {
public:
    virtual ~PollingTarget() = default;

    // The poller rebuilds the slot list (true) or gave up rebuilding it.
    // It never steps while the window holds a module access, so the two
    // never talk to the module at the same time.
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
