// The certificate details dialog: a "General" page with who the certificate
// is for, who issued it, its validity and fingerprints, and a "Details" page
// with every field and extension; copy to the clipboard and save as PEM.
#pragma once

#include "CertificateDetails.h"

#include <wx/dialog.h>

class wxListCtrl;
class wxListEvent;
class wxNotebook;
class wxTextCtrl;

namespace certlens {

class CertlensDlg final : public wxDialog {
public:
    enum {
        ID_BTN_COPY = 1701,
        ID_BTN_SAVE_PEM,
        ID_LIST_FIELDS,
        ID_TEXT_VALUE,
    };
    static constexpr const char* kName = "CERTLENS_DLG_CERTIFICATE_DETAILS";

    CertlensDlg(wxWindow* parent, const CertificateDetails& details);

    // What the copy button puts on the clipboard: the selected field of the
    // details page, else the whole description.
    wxString GetCopyText() const;
    wxNotebook* GetNotebook() const { return m_notebook; }
    wxListCtrl* GetFieldList() const { return m_fields; }

private:
    wxWindow* CreateGeneralPage(wxWindow* parent);
    wxWindow* CreateDetailsPage(wxWindow* parent);
    void AddField(const wxString& label, const wxString& value);
    void OnFieldSelected(wxListEvent& event);
    void OnCopy();
    void OnSavePem();

    const CertificateDetails m_details;
    wxNotebook* m_notebook = nullptr;
    wxListCtrl* m_fields = nullptr;
    wxTextCtrl* m_value = nullptr;
    std::vector<wxString> m_fieldValues;
};

} // namespace certlens
