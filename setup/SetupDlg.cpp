#include "setup/SetupDlg.h"

#include "setup/SetupLogic.h"

#include <wx/app.h>
#include <wx/dcclient.h>
#include <wx/menu.h>
#include <wx/msgdlg.h>
#include <wx/sizer.h>
#include <wx/stattext.h>

SetupDlg::SetupDlg(wxWindow* parent, const std::string& setupFolder, Installer installer)
    : wxDialog(parent, wxID_ANY, "Setup", wxDefaultPosition, wxDefaultSize, wxCAPTION | wxSYSTEM_MENU)
    , m_installer(std::move(installer))
{
    SetBackgroundColour(kBackground);
    m_picture = new AnimatedPicture(this);
    m_pictureLoaded = m_picture->Load(wxString::FromUTF8(setupFolder + Setup::kPictureName));
    auto* text = new wxStaticText(this, wxID_ANY, "Please wait...\n Preparing to install components...");

    auto* row = new wxBoxSizer(wxHORIZONTAL);
    row->Add(m_picture, 0, wxALIGN_CENTER_VERTICAL | wxRIGHT, m_pictureLoaded ? 15 : 0);
    row->Add(text, 1, wxALIGN_CENTER_VERTICAL);
    auto* frame = new wxBoxSizer(wxVERTICAL);
    frame->Add(row, 1, wxEXPAND | wxALL, 20);
    SetSizerAndFit(frame);
    CentreOnScreen();

    Bind(wxEVT_CHAR_HOOK, &SetupDlg::OnCharHook, this);
    Bind(wxEVT_PAINT, &SetupDlg::OnPaint, this);
    Bind(wxEVT_CONTEXT_MENU, &SetupDlg::OnContextMenu, this);
    Bind(wxEVT_MENU, &SetupDlg::OnMenu, this, kAboutCommand, kLastAboutCommand);
    Bind(wxEVT_CLOSE_WINDOW, &SetupDlg::OnClose, this);
    if (m_pictureLoaded) {
        m_picture->Draw();
    }
}

wxMenu* SetupDlg::CreateSystemMenu() const
{
    auto* menu = new wxMenu();
    menu->AppendSeparator();
    menu->Append(kAboutCommand, "&About Setup...");
    return menu;
}

bool SetupDlg::HandleSystemCommand(int command)
{
    if (command < kAboutCommand || command > kLastAboutCommand) {
        return false;
    }
    ShowAbout();
    return true;
}

void SetupDlg::ShowAbout()
{
    if (m_about) {
        m_about();
        return;
    }
    wxMessageDialog about(this, "Setup Version 1.0", "About Setup", wxOK | wxICON_INFORMATION | wxCENTRE);
    about.ShowModal();
}

void SetupDlg::OnCharHook(wxKeyEvent& event)
{
    // Swallowed: the dialog cannot be dismissed from the keyboard.
    switch (event.GetKeyCode()) {
    case WXK_RETURN:
    case WXK_NUMPAD_ENTER:
    case WXK_ESCAPE:
        return;
    default:
        event.Skip();
    }
}

void SetupDlg::OnPaint(wxPaintEvent&)
{
    wxPaintDC dc(this);
    if (!m_started) {
        m_started = true;
        // Once this paint is done: a nested event loop must not run inside it.
        CallAfter(&SetupDlg::Install);
    }
}

void SetupDlg::OnContextMenu(wxContextMenuEvent&)
{
    wxMenu* menu = CreateSystemMenu();
    PopupMenu(menu);
    delete menu;
}

void SetupDlg::OnMenu(wxCommandEvent& event)
{
    HandleSystemCommand(event.GetId());
}

void SetupDlg::OnClose(wxCloseEvent& event)
{
    // The installation ends the dialog itself; until then it stays.
    if (m_installing && event.CanVeto()) {
        event.Veto();
        return;
    }
    if (IsModal()) {
        EndModal(wxID_CANCEL);
    } else {
        Hide();
    }
}

void SetupDlg::Install()
{
    m_installing = true;
    if (m_installer) {
        m_installer([] {
            if (wxTheApp != nullptr) {
                wxTheApp->Yield(true);
            }
        });
    }
    m_installing = false;
    // The stop sequence: the animation first, then the dialog.
    m_picture->Stop();
    if (IsModal()) {
        EndModal(wxID_OK);
    } else {
        Hide();
    }
}
