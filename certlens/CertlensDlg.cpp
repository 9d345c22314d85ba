#include "CertlensDlg.h"

#include "platform/files/AtomicFile.h"

#include <algorithm>
#include <memory>
#include <wx/button.h>
#include <wx/clipbrd.h>
#include <wx/dcmemory.h>
#include <wx/filedlg.h>
#include <wx/graphics.h>
#include <wx/listctrl.h>
#include <wx/msgdlg.h>
#include <wx/notebook.h>
#include <wx/panel.h>
#include <wx/settings.h>
#include <wx/sizer.h>
#include <wx/statbmp.h>
#include <wx/statline.h>
#include <wx/stattext.h>
#include <wx/textctrl.h>

using namespace vela5::platform;

namespace certlens {
namespace {

wxString U(const std::string& text)
{
    return wxString::FromUTF8(text);
}

// The value of a name part, or the text shown when the certificate has none.
wxString PartOf(const std::vector<Field>& fields, const char* label)
{
    wxString joined;
    for (const Field& field : fields) {
        if (field.first == label) {
            joined += (joined.empty() ? "" : ", ") + U(field.second);
        }
    }
    return joined.empty() ? wxString("<Not part of certificate>") : joined;
}

// Long hex values break into lines of 16 pairs.
wxString Wrapped(const std::string& pairs, size_t perLine)
{
    wxString text;
    size_t count = 0;
    for (size_t i = 0; i < pairs.size(); i += 3) {
        if (count != 0) {
            text += count % perLine == 0 ? "\n" : " ";
        }
        text += U(pairs.substr(i, 2));
        ++count;
    }
    return text;
}

// A certificate drawn for the headline: a sheet with text lines and a seal.
wxBitmap CertificateEmblem(int size)
{
    wxImage image(size, size);
    image.InitAlpha();
    std::fill_n(image.GetAlpha(), size * size, 0);
    wxBitmap bitmap(image);
    {
        wxMemoryDC dc(bitmap);
        std::unique_ptr<wxGraphicsContext> gc(wxGraphicsContext::Create(dc));
        if (gc) {
            const double unit = size / 48.0;
            gc->SetPen(wxPen(wxColour(77, 97, 128), static_cast<int>(2 * unit)));
            gc->SetBrush(wxBrush(wxColour(250, 248, 236)));
            gc->DrawRoundedRectangle(4 * unit, 6 * unit, 40 * unit, 30 * unit, 3 * unit);
            gc->SetPen(wxPen(wxColour(90, 115, 150), static_cast<int>(2 * unit)));
            for (const double y : { 14.0, 20.0, 26.0 }) {
                gc->StrokeLine(10 * unit, y * unit, (y == 26.0 ? 24 : 36) * unit, y * unit);
            }
            gc->SetPen(*wxTRANSPARENT_PEN);
            gc->SetBrush(wxBrush(wxColour(200, 40, 40)));
            wxGraphicsPath ribbon = gc->CreatePath();
            ribbon.MoveToPoint(30 * unit, 34 * unit);
            ribbon.AddLineToPoint(27 * unit, 46 * unit);
            ribbon.AddLineToPoint(33 * unit, 42 * unit);
            ribbon.AddLineToPoint(39 * unit, 46 * unit);
            ribbon.AddLineToPoint(36 * unit, 34 * unit);
            ribbon.CloseSubpath();
            gc->FillPath(ribbon);
            gc->SetBrush(wxBrush(wxColour(215, 55, 50)));
            gc->DrawEllipse(26 * unit, 24 * unit, 14 * unit, 14 * unit);
        }
    }
    return bitmap;
}

} // namespace

CertlensDlg::CertlensDlg(wxWindow* parent, const CertificateDetails& details)
    : wxDialog(parent, wxID_ANY,
        wxString::Format("Certificate Viewer: \"%s\"",
            U(details.commonName.empty() ? details.subjectLine : details.commonName)),
        wxDefaultPosition, wxDefaultSize, wxDEFAULT_DIALOG_STYLE | wxRESIZE_BORDER, kName)
    , m_details(details)
{
    auto* top = new wxBoxSizer(wxVERTICAL);
    m_notebook = new wxNotebook(this, wxID_ANY);
    m_notebook->AddPage(CreateGeneralPage(m_notebook), "General", true);
    m_notebook->AddPage(CreateDetailsPage(m_notebook), "Details");
    top->Add(m_notebook, 1, wxEXPAND | wxALL, 10);

    auto* buttons = new wxBoxSizer(wxHORIZONTAL);
    buttons->Add(new wxButton(this, ID_BTN_COPY, "&Copy to Clipboard"), 0, wxRIGHT, 6);
    buttons->Add(new wxButton(this, ID_BTN_SAVE_PEM, "&Save as PEM..."), 0);
    buttons->AddStretchSpacer();
    auto* close = new wxButton(this, wxID_OK, "C&lose");
    close->SetDefault();
    buttons->Add(close, 0);
    top->Add(buttons, 0, wxEXPAND | wxLEFT | wxRIGHT | wxBOTTOM, 10);
    SetSizerAndFit(top);
    SetMinSize(GetSize());
    SetEscapeId(wxID_CANCEL);

    Bind(
        wxEVT_BUTTON, [this](wxCommandEvent&) { OnCopy(); }, ID_BTN_COPY);
    Bind(
        wxEVT_BUTTON, [this](wxCommandEvent&) { OnSavePem(); }, ID_BTN_SAVE_PEM);
    close->SetFocus();
}

wxWindow* CertlensDlg::CreateGeneralPage(wxWindow* parent)
{
    auto* page = new wxPanel(parent);
    auto* sizer = new wxBoxSizer(wxVERTICAL);

    // Headline: who the certificate is for, who vouches for it, how long.
    auto* headline = new wxBoxSizer(wxHORIZONTAL);
    headline->Add(new wxStaticBitmap(page, wxID_ANY, CertificateEmblem(page->FromDIP(48))), 0,
        wxALIGN_TOP | wxRIGHT, 12);
    auto* heading = new wxBoxSizer(wxVERTICAL);
    auto* title = new wxStaticText(
        page, wxID_ANY, U(m_details.commonName.empty() ? m_details.subjectLine : m_details.commonName));
    wxFont big = title->GetFont();
    big.SetPointSize(big.GetPointSize() + 4);
    big.MakeBold();
    title->SetFont(big);
    heading->Add(title, 0, wxBOTTOM, 4);
    const wxString issuer
        = U(m_details.issuerCommonName.empty() ? m_details.issuerLine : m_details.issuerCommonName);
    heading->Add(new wxStaticText(page, wxID_ANY, "Issued by: " + issuer), 0, wxBOTTOM, 2);
    heading->Add(new wxStaticText(page, wxID_ANY, "Expires: " + U(m_details.notAfter)), 0);
    headline->Add(heading, 1, wxEXPAND);
    sizer->Add(headline, 0, wxEXPAND | wxALL, 12);
    sizer->Add(new wxStaticLine(page), 0, wxEXPAND | wxLEFT | wxRIGHT, 12);

    auto* grid = new wxFlexGridSizer(2, wxSize(16, 4));
    grid->AddGrowableCol(1, 1);
    const auto section = [&](const wxString& name) {
        auto* label = new wxStaticText(page, wxID_ANY, name);
        wxFont bold = label->GetFont();
        bold.MakeBold();
        label->SetFont(bold);
        grid->Add(label, 0, wxTOP, 10);
        grid->AddSpacer(0);
    };
    const auto row = [&](const wxString& name, const wxString& value) {
        auto* label = new wxStaticText(page, wxID_ANY, name);
        label->SetForegroundColour(wxSystemSettings::GetColour(wxSYS_COLOUR_GRAYTEXT));
        grid->Add(label, 0, wxLEFT, 12);
        grid->Add(new wxStaticText(page, wxID_ANY, value), 0, wxEXPAND);
    };
    section("Issued To");
    row("Common Name (CN)", PartOf(m_details.subject, "Common Name"));
    row("Organization (O)", PartOf(m_details.subject, "Organization"));
    row("Organizational Unit (OU)", PartOf(m_details.subject, "Organizational Unit"));
    row("Serial Number", Wrapped(m_details.serialNumber, 20));
    section("Issued By");
    row("Common Name (CN)", PartOf(m_details.issuer, "Common Name"));
    row("Organization (O)", PartOf(m_details.issuer, "Organization"));
    row("Organizational Unit (OU)", PartOf(m_details.issuer, "Organizational Unit"));
    section("Validity Period");
    row("Issued On", U(m_details.notBefore));
    row("Expires On", U(m_details.notAfter));
    section("Public Key");
    row("Algorithm",
        wxString::Format("%s, %d bits", U(m_details.publicKeyAlgorithm), m_details.publicKeyBits));
    section("Fingerprints");
    row("SHA-256 Fingerprint", Wrapped(m_details.sha256, 16));
    row("SHA-1 Fingerprint", Wrapped(m_details.sha1, 20));
    sizer->Add(grid, 1, wxEXPAND | wxLEFT | wxRIGHT | wxBOTTOM, 12);
    page->SetSizer(sizer);
    return page;
}

void CertlensDlg::AddField(const wxString& label, const wxString& value)
{
    const long item = m_fields->InsertItem(m_fields->GetItemCount(), label);
    wxString firstLine = value.BeforeFirst('\n');
    m_fields->SetItem(item, 1, firstLine);
    m_fieldValues.push_back(value);
}

wxWindow* CertlensDlg::CreateDetailsPage(wxWindow* parent)
{
    auto* page = new wxPanel(parent);
    auto* sizer = new wxBoxSizer(wxVERTICAL);
    m_fields = new wxListCtrl(
        page, ID_LIST_FIELDS, wxDefaultPosition, wxSize(-1, 220), wxLC_REPORT | wxLC_SINGLE_SEL);
    m_fields->AppendColumn("Field", wxLIST_FORMAT_LEFT, 200);
    m_fields->AppendColumn("Value", wxLIST_FORMAT_LEFT, 320);
    AddField("Version", wxString::Format("V%ld", m_details.version));
    AddField("Serial Number", U(m_details.serialNumber));
    AddField("Signature Algorithm", U(m_details.signatureAlgorithm));
    AddField("Issuer", U(m_details.issuerLine));
    AddField("Not Before", U(m_details.notBefore));
    AddField("Not After", U(m_details.notAfter));
    AddField("Subject", U(m_details.subjectLine));
    AddField("Public Key Algorithm",
        wxString::Format("%s (%d bits)", U(m_details.publicKeyAlgorithm), m_details.publicKeyBits));
    if (!m_details.modulus.empty()) {
        AddField("Modulus", Wrapped(m_details.modulus, 16));
        AddField("Public Exponent", U(m_details.exponent));
    }
    for (const Extension& extension : m_details.extensions) {
        AddField(U(extension.name) + (extension.critical ? " (critical)" : ""), U(extension.value));
    }
    AddField("SHA-256 Fingerprint", U(m_details.sha256));
    AddField("SHA-1 Fingerprint", U(m_details.sha1));
    sizer->Add(m_fields, 1, wxEXPAND | wxALL, 8);
    sizer->Add(new wxStaticText(page, wxID_ANY, "Field Value"), 0, wxLEFT | wxRIGHT, 8);
    m_value = new wxTextCtrl(page, ID_TEXT_VALUE, wxString(), wxDefaultPosition, wxSize(-1, 120),
        wxTE_MULTILINE | wxTE_READONLY | wxTE_DONTWRAP);
    m_value->SetFont(wxFont(wxFontInfo().Family(wxFONTFAMILY_TELETYPE)));
    sizer->Add(m_value, 0, wxEXPAND | wxALL, 8);
    page->SetSizer(sizer);
    m_fields->Bind(wxEVT_LIST_ITEM_SELECTED, &CertlensDlg::OnFieldSelected, this);
    return page;
}

void CertlensDlg::OnFieldSelected(wxListEvent& event)
{
    const long index = event.GetIndex();
    if (index >= 0 && static_cast<size_t>(index) < m_fieldValues.size()) {
        m_value->ChangeValue(m_fieldValues[static_cast<size_t>(index)]);
    }
}

wxString CertlensDlg::GetCopyText() const
{
    const long selected = m_fields->GetNextItem(-1, wxLIST_NEXT_ALL, wxLIST_STATE_SELECTED);
    if (m_notebook->GetSelection() == 1 && selected >= 0) {
        return m_fieldValues[static_cast<size_t>(selected)];
    }
    return U(DetailsText(m_details));
}

void CertlensDlg::OnCopy()
{
    wxClipboardLocker locker;
    if (!!locker) {
        wxTheClipboard->SetData(new wxTextDataObject(GetCopyText()));
    }
}

void CertlensDlg::OnSavePem()
{
    const wxString base = U(m_details.commonName.empty() ? std::string("certificate") : m_details.commonName);
    wxFileDialog save(this, "Save Certificate as PEM", wxString(), base + ".pem",
        "PEM Certificate (*.pem;*.crt)|*.pem;*.crt|All Files|*", wxFD_SAVE | wxFD_OVERWRITE_PROMPT);
    if (save.ShowModal() != wxID_OK) {
        return;
    }
    if (!Files::WriteAtomically(std::filesystem::path(save.GetPath().utf8_string()), m_details.pem.data(),
            m_details.pem.size(), 0644)) {
        wxMessageBox("The certificate could not be saved to " + save.GetPath() + ".", "Certificate Viewer",
            wxOK | wxICON_ERROR, this);
    }
}

} // namespace certlens
