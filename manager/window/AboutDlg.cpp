#include "AboutDlg.h"

#include "manager/res/EmbeddedImages.h"
#include "platform/registry/Registry.h"

#include <wx/button.h>
#include <wx/dcbuffer.h>
#include <wx/intl.h>
#include <wx/sizer.h>

using namespace vela5::platform;

namespace {
constexpr int kTextLeft = 112;
const char kVelaKeyPath[] = "SOFTWARE\\Nurvon Ltd.\\VELA5 SDK";
} // namespace

AboutDlg::AboutDlg(wxWindow* parent)
    : wxDialog(parent, wxID_ANY, wxString::Format(_("Pavix Manager - %s"), _("About")))
    , m_background(LoadEmbeddedBitmap("DlgAboutBackground"))
    , m_middlewareVersion(ReadMiddlewareVersion())
{
    SetBackgroundStyle(wxBG_STYLE_PAINT);
    const wxSize size = m_background.IsOk() ? m_background.GetSize() : wxSize(420, 240);
    auto* sizer = new wxBoxSizer(wxVERTICAL);
    sizer->AddSpacer(size.GetHeight() - 44);
    sizer->Add(new wxButton(this, wxID_OK, _("OK")), 0, wxALIGN_RIGHT | wxRIGHT | wxBOTTOM, 10);
    sizer->SetMinSize(size);
    SetSizerAndFit(sizer);
    Bind(wxEVT_PAINT, &AboutDlg::OnPaint, this);
    CentreOnParent();
}

wxString AboutDlg::FormatMiddlewareVersion(const std::string& msiVersion)
{
    std::string ascii = msiVersion.substr(0, 16);
    for (char& c : ascii) {
        if (static_cast<unsigned char>(c) > 127) {
            c = '?';
        }
    }
    const std::size_t nul = ascii.find('\0');
    if (nul != std::string::npos) {
        ascii.erase(nul);
    }
    return wxString::FromAscii((" v" + ascii).substr(0, 9).c_str());
}

wxString AboutDlg::ReadMiddlewareVersion()
{
    // The manager ran as a 32-bit program, so it saw the 32-bit view first.
    for (const Registry::View view : { Registry::View::Wow32, Registry::View::Native }) {
        Registry::Key key;
        if (Registry::Key::Open(Registry::Hive::LocalMachine, kVelaKeyPath, Registry::Access::Read, view, key)
            != Registry::Success) {
            continue;
        }
        std::string value;
        if (key.GetString("MSIVER", value) == Registry::Success) {
            return FormatMiddlewareVersion(value);
        }
    }
    return wxString();
}

void AboutDlg::OnPaint(wxPaintEvent&)
{
    wxAutoBufferedPaintDC dc(this);
    dc.SetBackground(*wxWHITE_BRUSH);
    dc.Clear();
    if (m_background.IsOk()) {
        dc.DrawBitmap(m_background, 0, 0, true);
    }
    dc.SetTextForeground(wxColour(30, 40, 60));
    dc.SetFont(wxFont(wxFontInfo(14).FaceName("Arial").Bold()));
    dc.DrawText(_("Pavix Manager"), kTextLeft, 24);

    dc.SetFont(wxFont(wxFontInfo(9).FaceName("Arial")));
    int y = 64;
    const int step = 20;
    dc.DrawText(_("VELA5 Middleware") + m_middlewareVersion, kTextLeft, y);
    y += step;
    // TRANSLATORS: %s is the manager's version number, such as 1.0.5.1.
    dc.DrawText(wxString::Format(_("Manager version %s"), kManagerVersion), kTextLeft, y);
    y += 2 * step;
    dc.DrawText(_("Support: support@vela5-kit.example"), kTextLeft, y);
    y += step;
    dc.DrawText(_("Web: https://vela5-kit.example/support"), kTextLeft, y);
}
