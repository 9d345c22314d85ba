// One reader of the main window's 16-entry slot table: what the window knows
// about the slot, its token and the User's login through this window.
#pragma once

#include "CachedPin.h"

#include <array>
#include <cstdint>
#include <wx/string.h>

struct SlotRecord {
    static constexpr std::uint32_t kFree = 255;

    // Position in the module's slot list, used as the slot ID; kFree marks a free record.
    std::uint32_t slot = kFree;
    bool cardPresent = false;
    bool tokenSupported = false;
    bool loggedIn = false;
    wxString serialNumber;
    // The User PIN of a logged-in token, scrambled and encrypted; empty otherwise.
    CachedPin cachedPIN;
    wxString slotDescription;
    wxString slotManufacturer;
    wxString slotFlags;
    wxString slotHardwareVersion;
    wxString slotFirmwareVersion;

    bool IsFree() const { return slot == kFree; }
};

constexpr std::size_t kSlotTableSize = 16;
using SlotTable = std::array<SlotRecord, kSlotTableSize>;
