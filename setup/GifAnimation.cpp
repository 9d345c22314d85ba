#include "setup/GifAnimation.h"

#include <wx/ffile.h>
#include <wx/log.h>
#include <wx/mstream.h>

namespace {

wxImage Decode(const std::uint8_t* bytes, std::size_t size, wxBitmapType type)
{
    wxImage picture;
    wxMemoryInputStream stream(bytes, size);
    wxLogNull quiet; // a picture that does not load is only no picture
    if (!picture.LoadFile(stream, type)) {
        return wxImage();
    }
    return picture;
}

} // namespace

bool GifAnimation::LoadFile(const wxString& path)
{
    std::vector<std::uint8_t> bytes;
    {
        wxLogNull quiet;
        wxFFile file(path, "rb");
        if (!file.IsOpened()) {
            *this = GifAnimation();
            return false;
        }
        const wxFileOffset length = file.Length();
        if (length < 0 || length > 64 * 1024 * 1024) {
            *this = GifAnimation();
            return false;
        }
        bytes.resize(static_cast<std::size_t>(length));
        if (file.Read(bytes.data(), bytes.size()) != bytes.size()) {
            *this = GifAnimation();
            return false;
        }
    }
    return LoadBytes(bytes);
}

bool GifAnimation::LoadBytes(const std::vector<std::uint8_t>& bytes)
{
    *this = GifAnimation();
    Gif::Layout layout;
    m_walked = Gif::Walk(bytes.data(), bytes.size(), layout);
    if (m_walked == Gif::WalkResult::Ok && layout.frames.size() > 1) {
        const Gif::Rgb background = layout.background.value_or(Gif::Rgb {});
        m_background = wxColour(background.red, background.green, background.blue);
        for (std::size_t i = 0; i < layout.frames.size(); ++i) {
            const std::vector<std::uint8_t> file = Gif::FrameFile(bytes.data(), bytes.size(), layout, i);
            const Gif::Frame& found = layout.frames[i];
            Frame frame { Decode(file.data(), file.size(), wxBITMAP_TYPE_GIF), found.left, found.top,
                found.delay, found.disposal };
            // A frame wx cannot read stays in the sequence as a pause.
            m_frames.push_back(std::move(frame));
        }
        m_canvas = wxImage(
            static_cast<int>(std::max(1u, layout.width)), static_cast<int>(std::max(1u, layout.height)));
        Clear();
        return true;
    }
    // One frame, not a GIF, or a GIF that does not hold together: whatever wx
    // makes of the whole file, shown still.
    m_canvas = Decode(bytes.data(), bytes.size(), wxBITMAP_TYPE_ANY);
    return m_canvas.IsOk();
}

void GifAnimation::Clear()
{
    m_canvas.SetRGB(wxRect(0, 0, m_canvas.GetWidth(), m_canvas.GetHeight()), m_background.Red(),
        m_background.Green(), m_background.Blue());
}

void GifAnimation::Paste(const wxImage& picture, int left, int top)
{
    // wxImage::Paste clips to the canvas and leaves masked pixels alone.
    m_canvas.Paste(picture, left, top);
}

std::chrono::milliseconds GifAnimation::Advance()
{
    if (!IsAnimated()) {
        return std::chrono::milliseconds(100);
    }
    // What the previous frame asked to be done with its area.
    if (m_saved.IsOk()) {
        m_canvas.Paste(m_saved, m_savedAt.x, m_savedAt.y);
        m_saved = wxImage();
    }
    if (!m_toBackground.IsEmpty()) {
        m_canvas.SetRGB(m_toBackground.Intersect(wxRect(0, 0, m_canvas.GetWidth(), m_canvas.GetHeight())),
            m_background.Red(), m_background.Green(), m_background.Blue());
        m_toBackground = wxRect();
    }
    if (m_next == 0) {
        Clear();
    }
    const Frame& frame = m_frames[m_next];
    const wxRect area = wxRect(static_cast<int>(frame.left), static_cast<int>(frame.top),
        frame.picture.IsOk() ? frame.picture.GetWidth() : 0,
        frame.picture.IsOk() ? frame.picture.GetHeight() : 0)
                            .Intersect(wxRect(0, 0, m_canvas.GetWidth(), m_canvas.GetHeight()));
    if (frame.disposal == 3 && !area.IsEmpty()) {
        m_saved = m_canvas.GetSubImage(area);
        m_savedAt = area.GetPosition();
    }
    if (frame.disposal == 2) {
        m_toBackground = area;
    }
    if (frame.picture.IsOk()) {
        Paste(frame.picture, static_cast<int>(frame.left), static_cast<int>(frame.top));
    }
    m_next = (m_next + 1) % m_frames.size();
    return Gif::FrameInterval(frame.delay);
}
