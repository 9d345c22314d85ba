// The settings that shape one kind of PIN (User or SO) in the initialization
// dialog and its panels, read from the settings store in one place.
#pragma once

#include "PINRandomizer.h"
#include "PinKind.h"

#include <wx/string.h>

class NRVCMUSettings;

struct PinPolicy {
    long type = 0;
    wxString defaultValue;
    long minLength = 4;
    long maxLength = 8;
    long randomLength = 8;
    PINRandomizer::ClassFlags classFlags;
};

// The values of UserPIN... or SOPIN... by kind.
PinPolicy ReadPinPolicy(const NRVCMUSettings& settings, PinKind kind);
