// Remembers the reader of the last provider opened, so a burst of opens with
// no other provider call between them does not ask for a reader again. It
// keeps its own copy of the reader name and slot, under a lock: a provider
// freed on another thread leaves nothing behind that could dangle.
#pragma once

#include "pkcs11/pkcs11.h"

#include <mutex>
#include <string>

class ProviderCache final {
public:
    void Clear();
    void Remember(const std::u16string& readerName, CK_SLOT_ID slot);
    // False when nothing is remembered.
    bool Recall(std::u16string& readerName, CK_SLOT_ID& slot) const;

private:
    mutable std::mutex m_lock;
    bool m_set = false;
    std::u16string m_readerName;
    CK_SLOT_ID m_slot = 0;
};
