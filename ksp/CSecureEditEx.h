// The PIN field: a text control that never holds the PIN in its text. Each
// change of the text moves the new characters into SecureCells and puts a
// row of "*" of the same length back; no part of the field can be selected,
// and Shift+Home or Shift+End erase it all.
#pragma once

#include "ksp/SecureCells.h"

#include <functional>
#include <wx/textctrl.h>

class CSecureEditEx final : public wxTextCtrl {
public:
    // Throws std::runtime_error when the pad cannot be drawn.
    CSecureEditEx(wxWindow* parent, wxWindowID id);
    ~CSecureEditEx() override;

    // Called after every change, with the number of characters held.
    void OnChanged(std::function<void(std::size_t)> changed) { m_changed = std::move(changed); }
    std::size_t PinLength() const { return m_cells.Size(); }
    // The typed characters, for the caller to wipe.
    std::u16string Pin() const { return m_cells.Decode(); }
    const SecureCells& Cells() const { return m_cells; }
    // Erases the cells and the visible text.
    void Erase();

private:
    void OnText(wxCommandEvent& event);
    void OnKey(wxKeyEvent& event);
    void CollapseSelection();
    void ShowStars(long caret);

    SecureCells m_cells;
    bool m_updating = false;
    std::function<void(std::size_t)> m_changed;
};
