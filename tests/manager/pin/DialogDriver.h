// Drives real dialogs from tests: presses buttons with events, finds fields
// by id, and runs a dialog modally while a queued action answers it.
#pragma once

#include <cstdlib>
#include <functional>
#include <gtest/gtest.h>
#include <optional>
#include <string>
#include <wx/app.h>
#include <wx/button.h>
#include <wx/dialog.h>
#include <wx/textctrl.h>
#include <wx/window.h>

namespace DialogDriver {

// Puts $TMPDIR and $VELA5_ROOT back as they were, so several tests can run in
// one process; declare it before the ScopedTestRoot it outlives.
class EnvironmentRestorer final {
public:
    EnvironmentRestorer()
        : m_tmp(Save("TMPDIR"))
        , m_root(Save("VELA5_ROOT"))
    {
    }
    ~EnvironmentRestorer()
    {
        Restore("TMPDIR", m_tmp);
        Restore("VELA5_ROOT", m_root);
    }

private:
    static std::optional<std::string> Save(const char* name)
    {
        const char* value = std::getenv(name);
        return value ? std::optional<std::string>(value) : std::nullopt;
    }
    static void Restore(const char* name, const std::optional<std::string>& value)
    {
        if (value) {
            setenv(name, value->c_str(), 1);
        } else {
            unsetenv(name);
        }
    }

    std::optional<std::string> m_tmp;
    std::optional<std::string> m_root;
};

template <typename T = wxTextCtrl> T* Find(wxWindow& parent, int id)
{
    T* window = dynamic_cast<T*>(parent.FindWindow(id));
    EXPECT_NE(window, nullptr) << "no control " << id;
    return window;
}

inline void Press(wxWindow& parent, int id)
{
    wxWindow* button = parent.FindWindow(id);
    ASSERT_NE(button, nullptr) << "no button " << id;
    wxCommandEvent event(wxEVT_BUTTON, id);
    event.SetEventObject(button);
    button->GetEventHandler()->ProcessEvent(event);
}

inline void Type(wxWindow& parent, int id, const wxString& text)
{
    if (wxTextCtrl* field = Find(parent, id)) {
        field->SetValue(text);
    }
}

// Shows the dialog modally and runs action inside its loop; a dialog the
// action did not end is ended with -1 so a fault cannot hang the test.
inline int RunModal(wxDialog& dialog, std::function<void()> action)
{
    wxTheApp->CallAfter([&dialog, action] {
        action();
        if (dialog.IsModal()) {
            dialog.EndModal(-1);
        }
    });
    return dialog.ShowModal();
}

// Lets the dialog be shown and its focus changes arrive.
inline void ShowAndSettle(wxDialog& dialog)
{
    dialog.Show();
    for (int i = 0; i < 5; ++i) {
        wxTheApp->Yield(true);
    }
}

inline int FocusedId()
{
    wxTheApp->Yield(true);
    const wxWindow* focus = wxWindow::FindFocus();
    return focus ? focus->GetId() : wxID_NONE;
}

} // namespace DialogDriver
