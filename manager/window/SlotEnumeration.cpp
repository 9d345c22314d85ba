#include "SlotEnumeration.h"

SlotTable BuildSlotRecords(const SlotTable& oldTable, const std::vector<wxString>& serials)
{
    SlotTable table;
    for (std::size_t p = 0; p < serials.size() && p < table.size(); ++p) {
        SlotRecord& record = table[p];
        record.slot = static_cast<std::uint32_t>(p);
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
