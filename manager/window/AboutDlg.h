// The About dialog: the product title, the middleware version read from the
// registry, the manager's own version and the support contacts, drawn on the
// dialog's background image.
#pragma once

#include <string>
#include <wx/bitmap.h>
#include <wx/dialog.h>

class AboutDlg final : public wxDialog {
public:
    static constexpr const char* kManagerVersion = "1.0.5.1";

    explicit AboutDlg(wxWindow* parent);

    const wxString& GetMiddlewareVersionText() const { return m_middlewareVersion; }

    // " v%s" of the installed middleware version (its first 16 bytes as
    // ASCII), cut to 9 characters.
    static wxString FormatMiddlewareVersion(const std::string& msiVersion);
    // MSIVER under HKLM "SOFTWARE\Nurvon Ltd.\VELA5 SDK", formatted; empty
    // when the key or the value cannot be read.
    static wxString ReadMiddlewareVersion();

private:
    void OnPaint(wxPaintEvent& event);

    wxBitmap m_background;
    wxString m_middlewareVersion;
};
