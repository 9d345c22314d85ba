#include "CertificateManagerRules.h"

#include <wx/intl.h>

namespace CertificateManagerRules {

wxString CountMessage(size_t certificates, size_t keys)
{
    if (certificates == 1) {
        return _("There is only 1 certificate found in the token.");
    }
    if (certificates > 1) {
        // TRANSLATORS: %d is the number of certificates
        return wxString::Format(
            _("There are %d certificates found in the token."), static_cast<int>(certificates));
    }
    if (keys == 1) {
        return _("There is only 1 key found in the token.");
    }
    if (keys > 1) {
        // TRANSLATORS: %d is the number of keys, private and public
        return wxString::Format(_("There are %d keys found in the token."), static_cast<int>(keys));
    }
    return _("There is no certificate found in the token.");
}

ButtonStates ForSelection(const Selection& selection)
{
    ButtonStates states;
    states.tree = true;
    states.import = true;
    states.removeAll = true;
    if (selection.isCertificate) {
        states.view = true;
        states.exportCertificate = true;
        states.remove = true;
        states.setAsDefault = selection.hasBothKeys && !selection.isDefault;
    } else {
        states.remove = selection.isRootKey;
    }
    return states;
}

ButtonStates AfterOperation(
    const Selection& selection, bool lastWasCertificate, size_t certificates, size_t keys)
{
    ButtonStates states;
    states.tree = true;
    states.view = true;
    states.remove = true;
    states.removeAll = true;
    states.exportCertificate = true;
    states.import = true;
    states.setAsDefault = selection.isCertificate && selection.hasBothKeys && !selection.isDefault;
    if (!lastWasCertificate) {
        states.view = false;
        states.exportCertificate = false;
        states.setAsDefault = false;
        states.remove = false;
    }
    if (certificates == 0) {
        states.setAsDefault = false;
        if (keys == 0) {
            states.view = false;
            states.exportCertificate = false;
            states.remove = false;
            states.removeAll = false;
        }
    }
    return states;
}

wxString ExportFileName(const wxString& subjectName)
{
    wxString name = subjectName;
    for (const wxUniChar forbidden : wxString("\"/:*\\<>?|")) {
        name.Replace(wxString(forbidden), " ");
    }
    return name + ".cer";
}

} // namespace CertificateManagerRules
