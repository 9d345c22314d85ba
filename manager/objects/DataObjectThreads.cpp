#include "DataObjectThreads.h"

#include "ObjectDeleteAll.h"
#include "manager/core/CryptokiResultText.h"
#include "manager/core/NRVCMUCryptoki.h"

#include <wx/intl.h>

CK_RV RefreshDataObjects(const ManagerTarget& target, std::vector<DataObjectEntry>& objects)
{
    objects.clear();
    const CK_RV rv = target.cryptoki->RefreshBeforeListing(target.slot);
    return rv != CKR_OK ? rv : ListDataObjects(*target.cryptoki, target.session, objects);
}

DataObjectDeleteThread::DataObjectDeleteThread(wxWindow* window, const ManagerTarget& target,
    CK_OBJECT_HANDLE object, Progress progress, Completion completion)
    : ObjectManagerWorker(window, std::move(progress), std::move(completion))
    , m_target(target)
    , m_object(object)
{
}

DataObjectOutcome DataObjectDeleteThread::Work()
{
    DataObjectOutcome outcome;
    Report(_("Deleting the data object . . ."));
    const CK_RV rv = m_target.cryptoki->DestroyObject(m_target.session, m_object);
    if (rv != CKR_OK) {
        outcome.text = GetResultMessage(rv, _("Failed to delete the data object."));
        return outcome;
    }
    Report(_("Refreshing data object list . . ."));
    // The listing starts empty: a failed refresh leaves an empty list, not
    // one that still shows the deleted object.
    outcome.listRead = true;
    if (RefreshDataObjects(m_target, outcome.objects) != CKR_OK) {
        outcome.objects.clear();
        outcome.text
            = _("The data object has been deleted successfully but failed to refresh data object list.");
        return outcome;
    }
    outcome.succeeded = true;
    outcome.text = _("The data object has been deleted successfully.");
    return outcome;
}

DataObjectDeleteAllThread::DataObjectDeleteAllThread(
    wxWindow* window, const ManagerTarget& target, Progress progress, Completion completion)
    : ObjectManagerWorker(window, std::move(progress), std::move(completion))
    , m_target(target)
{
}

DataObjectOutcome DataObjectDeleteAllThread::Work()
{
    DataObjectOutcome outcome;
    ObjectDeleteAll deleteAll(
        [this](std::vector<CK_OBJECT_HANDLE>& handles) {
            return FindDataObjects(*m_target.cryptoki, m_target.session, handles);
        },
        [this](
            CK_OBJECT_HANDLE handle) { return m_target.cryptoki->DestroyObject(m_target.session, handle); });
    const CK_RV rv = deleteAll.Run();
    if (rv != CKR_OK) {
        outcome.text = GetResultMessage(rv, _("Failed to delete all data objects."));
        // Some may be gone: show what is left rather than a stale list.
        outcome.listRead = RefreshDataObjects(m_target, outcome.objects) == CKR_OK;
        return outcome;
    }
    // Nothing is left: the list is cleared without reading the token again.
    outcome.listRead = true;
    outcome.succeeded = true;
    outcome.text = _("All data objects have been deleted successfully.");
    return outcome;
}
