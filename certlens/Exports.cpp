// The library's one export and its three entries. Nothing thrown inside
// crosses back into the caller.
#include "CertlensDlg.h"
#include "certlens/Certlens.h"

#include <wx/app.h>
#include <wx/thread.h>
#include <wx/toplevel.h>

namespace {

unsigned long GetVersion()
{
    return CERTLENS_VERSION;
}

// The dialog needs the caller's running toolkit, on its GUI thread.
unsigned long IsReady()
{
    return wxTheApp != nullptr && wxThread::IsMain() ? 0 : CERTLENS_RESULT_NOT_READY;
}

wxWindow* ActiveParent()
{
    for (wxWindow* window : wxTopLevelWindows) {
        auto* topLevel = wxDynamicCast(window, wxTopLevelWindow);
        if (topLevel != nullptr && topLevel->IsShown() && topLevel->IsActive()) {
            return topLevel;
        }
    }
    return wxTheApp->GetTopWindow();
}

unsigned long ViewCertificate(unsigned long encoding, const unsigned char* der, unsigned long length)
{
    try {
        if (IsReady() != 0) {
            return CERTLENS_RESULT_NOT_READY;
        }
        if (encoding != 1) {
            return CERTLENS_RESULT_INVALID_PARAMETER;
        }
        const auto details = certlens::ReadCertificateDetails(der, length);
        if (!details) {
            return CERTLENS_RESULT_INVALID_PARAMETER;
        }
        certlens::CertlensDlg dialog(ActiveParent(), *details);
        return dialog.ShowModal() == wxID_OK ? 0 : CERTLENS_RESULT_CANCELLED;
    } catch (...) {
        return CERTLENS_RESULT_NOT_READY;
    }
}

} // namespace

extern "C" __attribute__((visibility("default"))) unsigned long GetFunctionList(CERTLENS_FUNCTION_LIST* list)
{
    if (list == nullptr) {
        return CERTLENS_RESULT_INVALID_PARAMETER;
    }
    list->GetVersion = &GetVersion;
    list->IsReady = &IsReady;
    list->ViewCertificate = &ViewCertificate;
    return 0;
}
