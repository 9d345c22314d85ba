#include "MySystemTrayIcon.h"

#include "manager/res/EmbeddedImages.h"

#include <wx/frame.h>
#include <wx/icon.h>
#include <wx/intl.h>
#include <wx/menu.h>

MySystemTrayIcon::MySystemTrayIcon(wxFrame* frame)
    : m_frame(frame)
{
    wxIcon icon;
    icon.CopyFromBitmap(LoadEmbeddedBitmap("NRVLogo2"));
    SetIcon(icon, _("Pavix Manager"));
    Bind(wxEVT_MENU, &MySystemTrayIcon::OnRestore, this, ID_MENU_RESTORE);
    Bind(wxEVT_MENU, &MySystemTrayIcon::OnExit, this, ID_MENU_EXIT);
}

bool MySystemTrayIcon::IsRestoreEnabled(bool shown, bool minimized)
{
    return !shown || minimized;
}

bool MySystemTrayIcon::ShouldHideOnMinimize(bool minimized, bool minimizeToTray, bool trayAvailable)
{
    return minimized && minimizeToTray && trayAvailable;
}

wxMenu* MySystemTrayIcon::CreatePopupMenu()
{
    auto* menu = new wxMenu;
    menu->Append(ID_MENU_RESTORE, _("Restore"));
    menu->AppendSeparator();
    menu->Append(ID_MENU_EXIT, _("Exit"));
    menu->Enable(ID_MENU_RESTORE, IsRestoreEnabled(m_frame->IsShown(), m_frame->IsIconized()));
    return menu;
}

void MySystemTrayIcon::Restore()
{
    m_frame->Centre();
    m_frame->Show();
    m_frame->Iconize(false);
    m_frame->Raise();
}

void MySystemTrayIcon::OnRestore(wxCommandEvent&)
{
    Restore();
}

void MySystemTrayIcon::OnExit(wxCommandEvent&)
{
    // A request the window may refuse (the exit question).
    m_frame->Close(false);
}
