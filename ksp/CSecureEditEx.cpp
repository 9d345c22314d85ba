#include "ksp/CSecureEditEx.h"

#include "platform/secure_memory/SecureMemory.h"

CSecureEditEx::CSecureEditEx(wxWindow* parent, wxWindowID id)
    : wxTextCtrl(parent, id, wxEmptyString, wxDefaultPosition, wxDefaultSize, wxTE_PASSWORD)
{
    Bind(wxEVT_TEXT, &CSecureEditEx::OnText, this);
    Bind(wxEVT_KEY_DOWN, &CSecureEditEx::OnKey, this);
    for (const auto type : { wxEVT_KEY_UP, wxEVT_CHAR }) {
        Bind(type, [this](wxKeyEvent& event) {
            event.Skip();
            CallAfter([this] { CollapseSelection(); });
        });
    }
    for (const auto type :
        { wxEVT_LEFT_DOWN, wxEVT_LEFT_UP, wxEVT_LEFT_DCLICK, wxEVT_MOTION, wxEVT_RIGHT_DOWN }) {
        Bind(type, [this](wxMouseEvent& event) {
            event.Skip();
            CallAfter([this] { CollapseSelection(); });
        });
    }
}

CSecureEditEx::~CSecureEditEx()
{
    m_cells.Clear();
}

void CSecureEditEx::Erase()
{
    m_cells.Clear();
    ShowStars(0);
    if (m_changed) {
        m_changed(0);
    }
}

void CSecureEditEx::OnText(wxCommandEvent& event)
{
    if (m_updating) {
        return;
    }
    event.Skip(false);
    wxString value = GetValue();
    std::u16string text;
    text.reserve(value.length());
    for (const wxUniChar c : value) {
        text.push_back(static_cast<char16_t>(c.GetValue()));
    }
    // The typed characters leave the visible text's copies at once.
    for (wxString::iterator it = value.begin(); it != value.end(); ++it) {
        *it = wxUniChar('\0');
    }
    const long caret = GetInsertionPoint();
    const std::size_t after = m_cells.ApplyChange(text, caret < 0 ? 0 : static_cast<std::size_t>(caret));
    WipeText(text);
    ShowStars(static_cast<long>(after));
    if (m_changed) {
        m_changed(m_cells.Size());
    }
}

void CSecureEditEx::ShowStars(long caret)
{
    m_updating = true;
    ChangeValue(wxString(m_cells.Size(), '*'));
    const long last = GetLastPosition();
    SetInsertionPoint(caret > last ? last : caret);
    ShowPosition(GetInsertionPoint());
    m_updating = false;
}

void CSecureEditEx::OnKey(wxKeyEvent& event)
{
    const int key = event.GetKeyCode();
    if (event.ShiftDown() && (key == WXK_HOME || key == WXK_END)) {
        Erase();
        return;
    }
    event.Skip();
    CallAfter([this] { CollapseSelection(); });
}

void CSecureEditEx::CollapseSelection()
{
    long from = 0;
    long to = 0;
    GetSelection(&from, &to);
    if (from != to) {
        SetSelection(from, from);
    }
}
