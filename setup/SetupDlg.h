// The please-wait dialog of setup: the animated picture, the wait text, and
// the installation run once the dialog has first painted itself. Enter and
// Escape do not dismiss it; "&About Setup..." sits on its context menu, as GTK
// gives a program no system menu of its own.
#pragma once

#include "setup/AnimatedPicture.h"

#include <functional>
#include <string>
#include <wx/dialog.h>

class wxMenu;

class SetupDlg final : public wxDialog {
public:
    // Runs the installation; tick dispatches the dialog's events meanwhile.
    using Installer = std::function<void(const std::function<void()>& tick)>;

    static constexpr int kAboutCommand = 16;
    static constexpr int kLastAboutCommand = 31;
    static inline const wxColour kBackground { 0x93, 0x93, 0x93 };

    SetupDlg(wxWindow* parent, const std::string& setupFolder, Installer installer);

    // The menu the context click shows: a separator and the About entry.
    wxMenu* CreateSystemMenu() const;
    // Commands 16 to 31 open the about box; false for any other.
    bool HandleSystemCommand(int command);
    // Replaces the about box (tests answer it themselves).
    void SetAboutHandler(std::function<void()> about) { m_about = std::move(about); }

    AnimatedPicture* Picture() const { return m_picture; }
    bool PictureLoaded() const { return m_pictureLoaded; }
    bool IsInstalling() const { return m_installing; }

private:
    void OnCharHook(wxKeyEvent& event);
    void OnPaint(wxPaintEvent& event);
    void OnContextMenu(wxContextMenuEvent& event);
    void OnMenu(wxCommandEvent& event);
    void OnClose(wxCloseEvent& event);
    void Install();
    void ShowAbout();

    Installer m_installer;
    AnimatedPicture* m_picture = nullptr;
    bool m_pictureLoaded = false;
    bool m_started = false;
    bool m_installing = false;
    std::function<void()> m_about;
};
