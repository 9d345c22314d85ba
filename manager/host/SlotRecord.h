// One reader of the main window's 16-entry slot table: what the window knows
// about the slot, its token and the User's login through this window.
#pragma once

#include "CachedPin.h"
#include "pkcs11/pkcs11.h"

#include <array>
#include <cstdint>
#include <wx/string.h>

struct SlotRecord {
    static constexpr CK_SLOT_ID kFree = ~CK_SLOT_ID { 0 };

    // The slot's ID as the module listed it (the maker's module lists
    // positions); kFree marks a free record.
    CK_SLOT_ID slot = kFree;
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
