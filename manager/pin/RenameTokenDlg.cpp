#include "RenameTokenDlg.h"

#include <algorithm>
#include <wx/button.h>
#include <wx/intl.h>
#include <wx/statbox.h>
#include <wx/stattext.h>
#include <wx/textctrl.h>

namespace {
constexpr int kLabelWidth = 32; // the token label field of the module
} // namespace

RenameTokenDlg::RenameTokenDlg(wxWindow* parent, const wxString& currentLabel)
    : PinDialogBase(parent, ManagerTitle(_("Rename Token")), "NRVCMU_DLG_RENAME_TOKEN", "RenameTokenDlg")
    , m_currentLabel(currentLabel)
{
    new wxStaticBox(this, ID_SBX_TOKEN_NAME, wxString(), wxPoint(8, 4), wxSize(452, 106));
    auto* currentCaption
        = new wxStaticText(this, ID_LBE_CURRENT_TOKEN_LABEL, _("Current Token Label:"), wxPoint(20, 26));
    auto* newCaption = new wxStaticText(this, ID_LBE_NEW_TOKEN_LABEL, _("New Token Label:"), wxPoint(20, 58));
    const int fieldX = 20 + std::max(currentCaption->GetSize().x, newCaption->GetSize().x) + 10;
    const int fieldWidth = std::max(448 - fieldX, 120);
    auto* currentField = new wxTextCtrl(
        this, ID_TXT_CURRENT_TOKEN_NAME, currentLabel, wxPoint(fieldX, 22), wxSize(fieldWidth, 25));
    m_newField = new wxTextCtrl(
        this, ID_TXT_NEW_TOKEN_NAME, wxString(), wxPoint(fieldX, 54), wxSize(fieldWidth, 25));
    m_errorLine = CreateErrorLine(ID_LBL_ERROR, wxString(), wxPoint(20, 86), wxSize(428, 18));
    auto* change = new wxButton(this, ID_BTN_CHANGE, _("OK"), wxPoint(294, 118), wxSize(80, 25));
    new wxButton(this, ID_BTN_CANCEL, _("Cancel"), wxPoint(380, 118), wxSize(80, 25));
    SetClientSize(std::max(468, fieldX + fieldWidth + 20), 151);

    currentField->SetMaxLength(kLabelWidth);
    currentField->Disable();
    m_newField->SetMaxLength(kLabelWidth);
    m_newField->SetFocus();

    change->SetDefault();
    SetEscapeId(ID_BTN_CANCEL);
    Bind(wxEVT_BUTTON, &RenameTokenDlg::OnChange, this, ID_BTN_CHANGE);
    Bind(wxEVT_BUTTON, &RenameTokenDlg::OnCancelButton, this, ID_BTN_CANCEL);
    CentreOnParent();
}

void RenameTokenDlg::OnChange(wxCommandEvent&)
{
    const wxString label = m_newField->GetValue();
    const PinCheckResult result = CheckRenameToken(m_currentLabel, label);
    if (!ApplyCheck(result, m_errorLine, m_newField)) {
        return;
    }
    m_newLabel = label;
    EndIfModal(wxID_OK);
}
