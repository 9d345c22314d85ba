#include "RenameTokenDlg.h"

#include "manager/core/DialogIdentity.h"

#include <wx/button.h>
#include <wx/intl.h>
#include <wx/sizer.h>
#include <wx/statbox.h>
#include <wx/stattext.h>
#include <wx/textctrl.h>

namespace {
constexpr int kLabelWidth = 32; // the token label field of the module
} // namespace

RenameTokenDlg::RenameTokenDlg(wxWindow* parent, const wxString& currentLabel)
    : PinDialogBase(
        parent, DialogIdentity::ID_DLG_RENAME_TOKEN, ManagerTitle(_("Rename Token")), "RenameTokenDlg")
    , m_currentLabel(currentLabel)
{
    const int gap = FromDIP(6);
    auto* group = new wxStaticBoxSizer(new wxStaticBox(this, ID_SBX_TOKEN_NAME, wxString()), wxVERTICAL);
    wxWindow* box = group->GetStaticBox();
    // The fields stand 10 pixels right of the wider caption.
    auto* grid = new wxFlexGridSizer(2, gap, 10);
    grid->AddGrowableCol(1);
    const wxSize fieldSize(FromDIP(260), -1);
    grid->Add(new wxStaticText(box, ID_LBE_CURRENT_TOKEN_LABEL, _("Current Token Label:")),
        wxSizerFlags().CenterVertical());
    auto* currentField
        = new wxTextCtrl(box, ID_TXT_CURRENT_TOKEN_NAME, currentLabel, wxDefaultPosition, fieldSize);
    grid->Add(currentField, wxSizerFlags().Expand());
    grid->Add(new wxStaticText(box, ID_LBE_NEW_TOKEN_LABEL, _("New Token Label:")),
        wxSizerFlags().CenterVertical());
    m_newField = new wxTextCtrl(box, ID_TXT_NEW_TOKEN_NAME, wxString(), wxDefaultPosition, fieldSize);
    grid->Add(m_newField, wxSizerFlags().Expand());
    m_errorLine = CreateErrorLine(box, ID_LBL_ERROR, wxString());
    group->Add(grid, wxSizerFlags().Expand().Border(wxALL, gap));
    group->Add(m_errorLine, wxSizerFlags().Expand().Border(wxLEFT | wxRIGHT | wxBOTTOM, gap));

    auto* column = new wxBoxSizer(wxVERTICAL);
    column->Add(group, wxSizerFlags(1).Expand());
    column->Add(
        CreateButtonRow(ID_BTN_CHANGE, _("OK"), ID_BTN_CANCEL), wxSizerFlags().Expand().Border(wxTOP, gap));

    currentField->SetMaxLength(kLabelWidth);
    currentField->Disable();
    m_newField->SetMaxLength(kLabelWidth);

    Bind(wxEVT_BUTTON, &RenameTokenDlg::OnChange, this, ID_BTN_CHANGE);
    Bind(wxEVT_BUTTON, &RenameTokenDlg::OnCancelButton, this, ID_BTN_CANCEL);
    FinishLayout(column);
    m_newField->SetFocus();
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
