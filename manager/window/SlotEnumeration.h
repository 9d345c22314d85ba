// One full enumeration of the module's slots, gathered by the poller off the
// GUI thread and handed to the main window to apply, and the rule that builds
// the new slot table from it.
#pragma once

#include "manager/host/SlotRecord.h"
#include "pkcs11/pkcs11.h"

#include <vector>
#include <wx/string.h>

struct SlotInfoEntry {
    CK_RV rv = CKR_OK;
    CK_SLOT_INFO info {};
};

struct SlotEnumeration {
    // Slot IDs of the module's list, at most kSlotTableSize of them.
    std::vector<CK_SLOT_ID> slotIds;
    // Serial number per slot position; empty when the slot has no token.
    std::vector<wxString> serials;
    // C_GetSlotInfo per slot position.
    std::vector<SlotInfoEntry> slotInfos;

    std::size_t SlotCount() const { return serials.size(); }
};

// Record p takes slot value p and has a card when its serial is non-empty. A
// present card carries over the logged-in mark and cached PIN of the old
// record with the same serial number; every other record starts clean.
// Positions past the serials are free.
SlotTable BuildSlotRecords(
    const SlotTable& oldTable, const std::vector<CK_SLOT_ID>& slotIds, const std::vector<wxString>& serials);
