#include "ksp/ProviderCache.h"

void ProviderCache::Clear()
{
    const std::lock_guard guard(m_lock);
    m_set = false;
    m_readerName.clear();
    m_slot = 0;
}

void ProviderCache::Remember(const std::u16string& readerName, CK_SLOT_ID slot)
{
    const std::lock_guard guard(m_lock);
    m_set = true;
    m_readerName = readerName;
    m_slot = slot;
}

bool ProviderCache::Recall(std::u16string& readerName, CK_SLOT_ID& slot) const
{
    const std::lock_guard guard(m_lock);
    if (!m_set) {
        return false;
    }
    readerName = m_readerName;
    slot = m_slot;
    return true;
}
