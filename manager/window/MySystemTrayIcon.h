// The main window's tray icon with its menu (Restore, Exit), and the rules
// of minimizing to the tray.
#pragma once

#include <wx/taskbar.h>

class wxFrame;
class wxMenu;

class MySystemTrayIcon final : public wxTaskBarIcon {
public:
    enum { ID_MENU_RESTORE = wxID_HIGHEST + 300, ID_MENU_EXIT };

    explicit MySystemTrayIcon(wxFrame* frame);

    // "Restore" is offered only while the window is out of sight.
    static bool IsRestoreEnabled(bool shown, bool minimized);
    // The window hides on minimizing only when the setting asks for it and a
    // tray host shows the icon: without one it could not be brought back.
    static bool ShouldHideOnMinimize(bool minimized, bool minimizeToTray, bool trayAvailable);

    // The tray's menu, as the toolkit asks for it on a click.
    wxMenu* CreatePopupMenu() override;

    // Centres the window, shows it and brings it out of the minimized state.
    void Restore();

private:
    void OnRestore(wxCommandEvent& event);
    void OnExit(wxCommandEvent& event);

    wxFrame* m_frame;
};
