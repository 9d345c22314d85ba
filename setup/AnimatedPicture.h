// A window that shows a picture file, animated when it is a GIF of several
// frames: the frames advance on a timer of the GUI thread at each frame's
// delay (100 ms for a delay of 4 or less) and go round until stopped.
#pragma once

#include "setup/GifAnimation.h"

#include <wx/bitmap.h>
#include <wx/timer.h>
#include <wx/window.h>

class AnimatedPicture final : public wxWindow {
public:
    AnimatedPicture(wxWindow* parent, wxWindowID id = wxID_ANY);
    ~AnimatedPicture() override;

    // False when the file gives no picture; the window then stays empty.
    bool Load(const wxString& path);
    // Starts the animation (a still picture is only shown).
    void Draw();
    // Stops the animation; the frame shown stays.
    void Stop();
    bool IsRunning() const { return m_timer.IsRunning(); }
    const GifAnimation& Animation() const { return m_animation; }

private:
    void OnPaint(wxPaintEvent& event);
    void OnTimer(wxTimerEvent& event);
    void ShowNext();

    GifAnimation m_animation;
    wxBitmap m_shown;
    wxTimer m_timer;
    bool m_stopped = true;
};
