// The worker of one operation of a manager window (certificates, secret keys,
// data objects): a window worker that also posts progress texts for the
// window's message line.
#pragma once

#include "manager/core/WindowWorker.h"
#include "pkcs11/pkcs11.h"

#include <functional>
#include <utility>
#include <wx/string.h>

class NRVCMUCryptoki;

// The token a worker acts on: the window's session and its slot.
struct ManagerTarget {
    NRVCMUCryptoki* cryptoki = nullptr;
    CK_SESSION_HANDLE session = CK_INVALID_HANDLE;
    CK_SLOT_ID slot = 0;
};

template <typename Outcome> class ObjectManagerWorker : public WindowWorkerOf<Outcome> {
public:
    // Runs on the GUI thread with each progress text, only while the window lives.
    using Progress = std::function<void(const wxString& text)>;
    using typename WindowWorkerOf<Outcome>::Completion;

protected:
    ObjectManagerWorker(wxWindow* window, Progress progress, Completion completion)
        : WindowWorkerOf<Outcome>(window, std::move(completion))
        , m_progress(std::move(progress))
    {
    }

    // Posts a progress text.
    void Report(const wxString& text)
    {
        if (m_progress) {
            this->Post([progress = m_progress, text = text.Clone()] { progress(text); });
        }
    }

private:
    Progress m_progress;
};
