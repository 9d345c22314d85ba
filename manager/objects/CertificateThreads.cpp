#include "CertificateThreads.h"


#include <utility>
#include <wx/app.h>
#include <wx/utils.h>

std::atomic<int> CertificateWorkerThread::s_alive { 0 };

CertificateWorkerThread::CertificateWorkerThread(Link link)
    : wxThread(wxTHREAD_DETACHED)
    , m_cryptoki(*link.cryptoki)
    , m_session(link.session)
    , m_slot(link.slot)
    , m_guard(std::make_shared<WindowGuard>())
{
    m_guard->window = link.window;
    m_guard->progress = std::move(link.progress);
    m_guard->completion = std::move(link.completion);
    ++s_alive;
}

CertificateWorkerThread::~CertificateWorkerThread()
{
    --s_alive;
}

void CertificateWorkerThread::WaitUntilAllEnded()
{
    while (s_alive.load() > 0) {
        wxMilliSleep(10);
    }
}

wxThread::ExitCode CertificateWorkerThread::Entry()
{
    // Progress posts share the guard; m_guard keeps a share until the end,
    // so none of those copies is ever the last one on this thread.
    CertificateOperations::Context context { m_cryptoki, m_session, m_slot, {} };
    context.progress = [guard = m_guard](const wxString& text) {
        wxTheApp->CallAfter([guard, text] {
            if (guard->window && guard->progress) {
                guard->progress(text);
            }
        });
    };
    auto outcome = std::make_shared<CertificateOperations::Outcome>(Work(context));
    context.progress = nullptr;
    // The last share this thread holds travels inside the completion post
    // and is released there, so the weak reference dies on the GUI thread.
    auto* const last = new std::shared_ptr<WindowGuard>(std::move(m_guard));
    wxTheApp->CallAfter([last, outcome]() {
        const std::unique_ptr<std::shared_ptr<WindowGuard>> owned(last);
        const WindowGuard& guard = **owned;
        if (guard.window && guard.completion) {
            guard.completion(*outcome);
        }
    });
    return nullptr;
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

CertificateOperations::Outcome CertificateImportThread::Work(const CertificateOperations::Context& context)
{
    return CertificateOperations::Import(context, m_fileType, m_path, m_password);
}

CertificateDeleteThread::CertificateDeleteThread(Link link, const CertificateOperations::DeleteTarget& target)
    : CertificateWorkerThread(std::move(link))
    , m_target(target)
{
}

CertificateOperations::Outcome CertificateDeleteThread::Work(const CertificateOperations::Context& context)
{
    return CertificateOperations::Delete(context, m_target);
}

CertificateDeleteAllThread::CertificateDeleteAllThread(Link link, bool all)
    : CertificateWorkerThread(std::move(link))
    , m_all(all)
{
}

CertificateOperations::Outcome CertificateDeleteAllThread::Work(const CertificateOperations::Context& context)
{
    return CertificateOperations::DeleteAll(context, m_all);
}

CertificateSetDefaultThread::CertificateSetDefaultThread(Link link, CK_OBJECT_HANDLE certificate)
    : CertificateWorkerThread(std::move(link))
    , m_certificate(certificate)
{
}

CertificateOperations::Outcome CertificateSetDefaultThread::Work(
    const CertificateOperations::Context& context)
{
    return CertificateOperations::SetDefault(context, m_certificate);
}
