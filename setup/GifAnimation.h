// The frames of a picture file and their composition, in wxImage terms and
// without a window: a GIF of several frames is cut into one GIF per frame by
// the walker, each decoded by wx; anything else (a one-frame GIF, a PNG, a
// broken GIF) is one still picture as wx reads the whole file.
#pragma once

#include "setup/GifWalker.h"

#include <chrono>
#include <vector>
#include <wx/colour.h>
#include <wx/image.h>
#include <wx/string.h>

class GifAnimation final {
public:
    struct Frame {
        wxImage picture;
        unsigned left = 0;
        unsigned top = 0;
        int delay = -1;
        int disposal = 0;
    };

    // False when nothing could be shown; Walked() tells how far the walk got.
    bool LoadFile(const wxString& path);
    bool LoadBytes(const std::vector<std::uint8_t>& bytes);

    bool IsLoaded() const { return m_canvas.IsOk(); }
    bool IsAnimated() const { return m_frames.size() > 1; }
    Gif::WalkResult Walked() const { return m_walked; }
    const std::vector<Frame>& Frames() const { return m_frames; }

    // The picture as it stands (logical-screen size for an animation).
    const wxImage& Canvas() const { return m_canvas; }
    // Draws the next frame onto the canvas and returns how long it stays.
    // After the last frame the canvas is cleared to the background first.
    std::chrono::milliseconds Advance();
    std::size_t CurrentFrame() const { return m_next == 0 ? m_frames.size() - 1 : m_next - 1; }

private:
    void Clear();
    void Paste(const wxImage& picture, int left, int top);

    std::vector<Frame> m_frames;
    wxImage m_canvas;
    wxColour m_background;
    Gif::WalkResult m_walked = Gif::WalkResult::NotGif;
    std::size_t m_next = 0;
    // The area under a frame with disposal 3, put back before the next one.
    wxImage m_saved;
    wxPoint m_savedAt;
    // A frame with disposal 2 gives its area back to the background.
    wxRect m_toBackground;
};
