#include "setup/AnimatedPicture.h"

#include <wx/dcbuffer.h>

AnimatedPicture::AnimatedPicture(wxWindow* parent, wxWindowID id)
    : wxWindow(parent, id, wxDefaultPosition, wxSize(0, 0), wxBORDER_NONE)
    , m_timer(this)
{
    SetBackgroundStyle(wxBG_STYLE_PAINT);
    Bind(wxEVT_PAINT, &AnimatedPicture::OnPaint, this);
    Bind(wxEVT_TIMER, &AnimatedPicture::OnTimer, this);
}

AnimatedPicture::~AnimatedPicture()
{
    Stop();
}

bool AnimatedPicture::Load(const wxString& path)
{
    Stop();
    const bool loaded = m_animation.LoadFile(path);
    m_shown = loaded ? wxBitmap(m_animation.Canvas()) : wxBitmap();
    const wxSize size = loaded ? m_shown.GetSize() : wxSize(0, 0);
    SetMinSize(size);
    SetSize(size);
    Refresh();
    return loaded;
}

void AnimatedPicture::Draw()
{
    if (!m_animation.IsLoaded()) {
        return;
    }
    m_stopped = false;
    ShowNext();
}

void AnimatedPicture::Stop()
{
    m_stopped = true;
    m_timer.Stop();
}

void AnimatedPicture::ShowNext()
{
    if (m_stopped || !m_animation.IsAnimated()) {
        return;
    }
    const std::chrono::milliseconds interval = m_animation.Advance();
    m_shown = wxBitmap(m_animation.Canvas());
    Refresh(false);
    m_timer.StartOnce(static_cast<int>(interval.count()));
}

void AnimatedPicture::OnTimer(wxTimerEvent&)
{
    ShowNext();
}

void AnimatedPicture::OnPaint(wxPaintEvent&)
{
    wxAutoBufferedPaintDC dc(this);
    dc.SetBackground(wxBrush(GetParent()->GetBackgroundColour()));
    dc.Clear();
    if (m_shown.IsOk()) {
        dc.DrawBitmap(m_shown, 0, 0, true);
    }
}
