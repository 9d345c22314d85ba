// What the certificate manager decides, in plain code: the count message,
// which buttons a selection enables, the proposed export file name.
#pragma once

#include <wx/string.h>

namespace CertificateManagerRules {

// The message after a listing.
wxString CountMessage(size_t certificates, size_t keys);

// What the tree's selection is.
struct Selection {
    bool isCertificate = false;
    // A key on its own (its parent is the root).
    bool isRootKey = false;
    // For a certificate: both halves paired, and its logon-default byte.
    bool hasBothKeys = false;
    bool isDefault = false;
};

struct ButtonStates {
    bool tree = false;
    bool view = false;
    bool exportCertificate = false;
    bool import = false;
    bool remove = false;
    bool removeAll = false;
    bool setAsDefault = false;
};

// The buttons for a selection that was just made.
ButtonStates ForSelection(const Selection& selection);
// The buttons after an operation. lastWasCertificate is whether the last
// selected item was a certificate (false when the window opens).
ButtonStates AfterOperation(
    const Selection& selection, bool lastWasCertificate, size_t certificates, size_t keys);

// The subject's display name with ".cer", every character a file name
// cannot hold (" / : * \ < > ? |) replaced by a space.
wxString ExportFileName(const wxString& subjectName);

} // namespace CertificateManagerRules
