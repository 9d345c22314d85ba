#include "SlotEnumeration.h"

SlotTable BuildSlotRecords(
    const SlotTable& oldTable, const std::vector<CK_SLOT_ID>& slotIds, const std::vector<wxString>& serials)
{
    SlotTable table;
    for (std::size_t p = 0; p < serials.size() && p < slotIds.size() && p < table.size(); ++p) {
        SlotRecord& record = table[p];
        record.slot = slotIds[p];
        record.serialNumber = serials[p];
        record.cardPresent = !serials[p].empty();
        if (!record.cardPresent) {
            continue;
        }
        for (const SlotRecord& old : oldTable) {
            if (!old.IsFree() && old.serialNumber == record.serialNumber) {
                record.loggedIn = old.loggedIn;
                record.cachedPIN = old.cachedPIN;
                break;
            }
        }
    }
    return table;
}
