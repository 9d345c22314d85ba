#include "CertificateThreads.h"

#include <utility>

CertificateWorkerThread::CertificateWorkerThread(Link link)
    : ObjectManagerWorker(link.window, std::move(link.progress),
        [completion = std::move(link.completion)](CertificateOperations::Outcome& outcome) {
            if (completion) {
                completion(outcome);
            }
        })
    , m_cryptoki(*link.cryptoki)
    , m_session(link.session)
    , m_slot(link.slot)
{
}

CertificateOperations::Outcome CertificateWorkerThread::Work()
{
    const CertificateOperations::Context context { m_cryptoki, m_session, m_slot,
        [this](const wxString& text) { Report(text); } };
    return Operate(context);
}

CertificateImportThread::CertificateImportThread(
    Link link, int fileType, const wxString& path, const wxString& password)
    : CertificateWorkerThread(std::move(link))
    , m_fileType(fileType)
    , m_path(path)
    , m_password(password)
{
}

CertificateImportThread::~CertificateImportThread() = default;

CertificateOperations::Outcome CertificateImportThread::Operate(const CertificateOperations::Context& context)
{
    return CertificateOperations::Import(context, m_fileType, m_path, m_password);
}

CertificateDeleteThread::CertificateDeleteThread(Link link, const CertificateOperations::DeleteTarget& target)
    : CertificateWorkerThread(std::move(link))
    , m_target(target)
{
}

CertificateOperations::Outcome CertificateDeleteThread::Operate(const CertificateOperations::Context& context)
{
    return CertificateOperations::Delete(context, m_target);
}

CertificateDeleteAllThread::CertificateDeleteAllThread(Link link, bool all)
    : CertificateWorkerThread(std::move(link))
    , m_all(all)
{
}

CertificateOperations::Outcome CertificateDeleteAllThread::Operate(
    const CertificateOperations::Context& context)
{
    return CertificateOperations::DeleteAll(context, m_all);
}

CertificateSetDefaultThread::CertificateSetDefaultThread(Link link, CK_OBJECT_HANDLE certificate)
    : CertificateWorkerThread(std::move(link))
    , m_certificate(certificate)
{
}

CertificateOperations::Outcome CertificateSetDefaultThread::Operate(
    const CertificateOperations::Context& context)
{
    return CertificateOperations::SetDefault(context, m_certificate);
}
