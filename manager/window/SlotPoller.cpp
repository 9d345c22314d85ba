#include "SlotPoller.h"

#include "manager/core/CryptokiResultText.h"
#include "manager/core/NRVCMUCryptoki.h"

#include <algorithm>
#include <cstring>
#include <wx/intl.h>

SlotPoller::SlotPoller(NRVCMUCryptoki& cryptoki, PollingTarget& target)
    : m_cryptoki(cryptoki)
    , m_target(target)
{
}

void SlotPoller::RunStep()
{
    CK_ULONG slots = 0;
    CK_RV rv = m_cryptoki.GetSlotList(CK_FALSE, nullptr, &slots);
    if (rv != CKR_OK) {
        m_target.PostStepError(GetResultMessage(rv, _("Failed to get total number of slots.")));
        return;
    }
    if (slots == 0 && m_slotCount != 0) {
        m_slotCount = 0;
        m_tokenCount = 0;
        m_target.PostReadersGone();
        return;
    }

    CK_ULONG tokens = 0;
    rv = m_cryptoki.GetSlotList(CK_TRUE, nullptr, &tokens);
    if (rv != CKR_OK) {
        m_target.PostStepError(GetResultMessage(rv, _("Failed to get total number of tokens.")));
        return;
    }
    if (static_cast<long>(slots) == m_slotCount && static_cast<long>(tokens) == m_tokenCount) {
        return;
    }

    m_target.SetBusy(true);
    m_target.PostBeginRebuild();
    m_slotCount = static_cast<long>(slots);
    m_tokenCount = static_cast<long>(tokens);
    if (!Enumerate(slots)) {
        m_target.SetBusy(false);
    }
}

bool SlotPoller::Enumerate(CK_ULONG slots)
{
    // The whole list is fetched, then cut to the table's 16 entries: a module
    // with more slots must not write past the list.
    std::vector<CK_SLOT_ID> allIds(slots);
    CK_ULONG count = slots;
    const CK_RV listed = m_cryptoki.GetSlotList(CK_FALSE, allIds.data(), &count);
    if (listed != CKR_OK) {
        if (listed == CKR_BUFFER_TOO_SMALL) {
            // A reader arrived between the count and the list: look again next step.
            m_slotCount = -1;
            m_tokenCount = -1;
        }
        m_target.PostStepError(GetResultMessage(listed, _("Failed to update slot list.")));
        return false;
    }
    const std::size_t used = std::min<std::size_t>({ count, slots, kSlotTableSize });

    SlotEnumeration enumeration;
    enumeration.slotIds.assign(allIds.begin(), allIds.begin() + static_cast<std::ptrdiff_t>(used));
    for (std::size_t p = 0; p < used; ++p) {
        wxString serial;
        const CK_RV rv = ReadSerial(p, enumeration.slotIds[p], serial);
        if (rv == CKR_OK) {
            enumeration.serials.push_back(serial);
        } else if (rv == CKR_DEVICE_ERROR) {
            enumeration.serials.emplace_back();
        } else {
            m_target.PostStepError(GetResultMessage(rv, _("Failed to get token serial number.")));
            return false;
        }
    }
    for (std::size_t p = 0; p < used; ++p) {
        SlotInfoEntry entry;
        entry.rv = m_cryptoki.GetSlotInfo(enumeration.slotIds[p], &entry.info);
        enumeration.slotInfos.push_back(entry);
    }
    m_target.PostRebuild(std::move(enumeration));
    return true;
}

CK_RV SlotPoller::ReadSerial(std::size_t position, CK_SLOT_ID slot, wxString& serial)
{
    if (m_cryptoki.HasVendorEntries()) {
        CK_BYTE buffer[NRV_SERIAL_BUFFER_SIZE + 1] = {};
        const CK_RV rv = m_cryptoki.GetTokenSerial(static_cast<CK_ULONG>(position), buffer);
        buffer[NRV_SERIAL_BUFFER_SIZE] = 0;
        serial = wxString::FromAscii(reinterpret_cast<const char*>(buffer));
        return rv;
    }
    // Any other module: the serial of the token info, and no serial for an
    // empty slot or a token that does not answer.
    CK_TOKEN_INFO info {};
    if (m_cryptoki.GetTokenInfo(slot, &info) == CKR_OK) {
        serial
            = wxString::FromAscii(reinterpret_cast<const char*>(info.serialNumber), sizeof info.serialNumber);
        serial.Trim();
    }
    return CKR_OK;
}
