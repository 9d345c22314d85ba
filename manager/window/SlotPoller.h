// One poll step: notices readers and tokens coming and going by their counts
// and, on a change, gathers a full enumeration for the main window.
#pragma once

#include "PollingTarget.h"

class NRVCMUCryptoki;

class SlotPoller final {
public:
    SlotPoller(NRVCMUCryptoki& cryptoki, PollingTarget& target);

    void RunStep();

    // The last seen number of slots and of slots with a token; -1 before the
    // first step so that it always enumerates.
    long GetSlotCount() const { return m_slotCount; }
    long GetTokenCount() const { return m_tokenCount; }

private:
    bool Enumerate(CK_ULONG slots);
    // The serial of the token in a slot, empty for none: the vendor call by
    // position on the maker's module, the token info elsewhere.
    CK_RV ReadSerial(std::size_t position, CK_SLOT_ID slot, wxString& serial);

    NRVCMUCryptoki& m_cryptoki;
    PollingTarget& m_target;
    long m_slotCount = -1;
    long m_tokenCount = -1;
};
