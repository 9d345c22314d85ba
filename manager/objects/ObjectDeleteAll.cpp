#include "ObjectDeleteAll.h"

#include <algorithm>
#include <utility>

ObjectDeleteAll::ObjectDeleteAll(Lister lister, Destroyer destroyer)
    : m_lister(std::move(lister))
    , m_destroyer(std::move(destroyer))
{
}

CK_RV ObjectDeleteAll::Run()
{
    m_deleted.clear();
    for (;;) {
        std::vector<CK_OBJECT_HANDLE> handles;
        const CK_RV listed = m_lister(handles);
        if (listed != CKR_OK) {
            return listed;
        }
        if (handles.empty()) {
            return CKR_OK;
        }
        for (const CK_OBJECT_HANDLE handle : handles) {
            if (std::find(m_deleted.begin(), m_deleted.end(), handle) != m_deleted.end()) {
                return CKR_GENERAL_ERROR;
            }
            const CK_RV rv = m_destroyer(handle);
            if (rv != CKR_OK) {
                return rv;
            }
            m_deleted.push_back(handle);
        }
    }
}
