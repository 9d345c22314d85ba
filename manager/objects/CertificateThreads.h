// The certificate manager's workers: one thread per changing operation, so
// the window stays responsive during card work. A worker touches no control:
// its progress texts and its outcome are posted to the GUI thread and applied
// there only while the window still exists.
#pragma once

#include "CertificateOperations.h"
#include "ObjectManagerWorker.h"
#include "manager/core/SecretString.h"

// The shared worker mechanism with the certificate manager's token link.
class CertificateWorkerThread : public ObjectManagerWorker<CertificateOperations::Outcome> {
public:
    // Both run on the GUI thread, only while the window lives.
    using Completion = std::function<void(const CertificateOperations::Outcome& outcome)>;

    struct Link {
        wxWindow* window = nullptr;
        NRVCMUCryptoki* cryptoki = nullptr;
        CK_SESSION_HANDLE session = CK_INVALID_HANDLE;
        CK_SLOT_ID slot = 0;
        Progress progress;
        Completion completion;
    };

protected:
    explicit CertificateWorkerThread(Link link);
    virtual CertificateOperations::Outcome Operate(const CertificateOperations::Context& context) = 0;

private:
    CertificateOperations::Outcome Work() final;

    NRVCMUCryptoki& m_cryptoki;
    CK_SESSION_HANDLE m_session;
    CK_SLOT_ID m_slot;
};

class CertificateImportThread final : public CertificateWorkerThread {
public:
    CertificateImportThread(Link link, int fileType, const wxString& path, const wxString& password);
    ~CertificateImportThread() override;

private:
    CertificateOperations::Outcome Operate(const CertificateOperations::Context& context) override;

    int m_fileType;
    wxString m_path;
    SecretString m_password;
};

class CertificateDeleteThread final : public CertificateWorkerThread {
public:
    CertificateDeleteThread(Link link, const CertificateOperations::DeleteTarget& target);

private:
    CertificateOperations::Outcome Operate(const CertificateOperations::Context& context) override;

    CertificateOperations::DeleteTarget m_target;
};

class CertificateDeleteAllThread final : public CertificateWorkerThread {
public:
    CertificateDeleteAllThread(Link link, bool all);

private:
    CertificateOperations::Outcome Operate(const CertificateOperations::Context& context) override;

    bool m_all;
};

class CertificateSetDefaultThread final : public CertificateWorkerThread {
public:
    CertificateSetDefaultThread(Link link, CK_OBJECT_HANDLE certificate);

private:
    CertificateOperations::Outcome Operate(const CertificateOperations::Context& context) override;

    CK_OBJECT_HANDLE m_certificate;
};
