// What a user cannot read in a window: a label, check box, button, group
// title or list column header narrower than its text, or two controls on top
// of each other. Shared by the layout tests of the main window's dialogs and
// of the object managers.
#pragma once

#include "manager/core/LanguageCatalog.h"

#include <vector>
#include <wx/button.h>
#include <wx/checkbox.h>
#include <wx/listctrl.h>
#include <wx/statbox.h>
#include <wx/stattext.h>
#include <wx/statusbr.h>
#include <wx/translation.h>

namespace layout_check {

inline const char* const kLanguages[] = { "English", "Bulgarian", "Portuguese", "Spanish" };

// Switches the texts to language from the catalogs in folder; English is the
// texts of the code. False when the catalog is missing.
inline bool UseLanguage(const wxString& language, const wxString& folder)
{
    if (language == "English") {
        wxTranslations::Set(nullptr);
        return true;
    }
    wxTranslations::Set(LanguageCatalog::Create(language, folder));
    return wxTranslations::Get()->IsLoaded(language);
}

// Controls whose whole job is to show their text.
inline bool ShowsText(const wxWindow* window)
{
    return dynamic_cast<const wxStaticText*>(window) != nullptr
        || dynamic_cast<const wxCheckBox*>(window) != nullptr
        || dynamic_cast<const wxButton*>(window) != nullptr;
}

inline wxString Describe(const wxWindow* window)
{
    return wxString::Format(
        "%s %d \"%s\"", window->GetClassInfo()->GetClassName(), window->GetId(), window->GetLabel());
}

// A header takes its text and the header button's padding, 6 pixels each side
// in the toolkit's theme.
inline void CheckListHeaders(const wxListCtrl* list, std::vector<wxString>& faults)
{
    if (!list->InReportView()) {
        return;
    }
    for (int column = 0; column < list->GetColumnCount(); ++column) {
        wxListItem item;
        item.SetMask(wxLIST_MASK_TEXT | wxLIST_MASK_WIDTH);
        list->GetColumn(column, item);
        const int text = list->GetTextExtent(item.GetText()).x;
        if (list->GetColumnWidth(column) < text + 12) {
            faults.push_back(Describe(list)
                + wxString::Format(" column \"%s\" is %d wide, its title %d", item.GetText(),
                    list->GetColumnWidth(column), text));
        }
    }
}

// Collects every fault of window and its shown descendants.
inline void CheckLayout(const wxWindow* window, std::vector<wxString>& faults)
{
    std::vector<const wxWindow*> shown;
    for (const wxWindow* child : window->GetChildren()) {
        if (child->IsShown() && !child->IsTopLevel()) {
            shown.push_back(child);
        }
    }
    for (const wxWindow* child : shown) {
        const wxSize size = child->GetSize();
        if (ShowsText(child)) {
            const wxSize best = child->GetBestSize();
            if (size.x < best.x || size.y < best.y) {
                faults.push_back(Describe(child)
                    + wxString::Format(" is %dx%d, needs %dx%d", size.x, size.y, best.x, best.y));
            }
        }
        if (const auto* box = dynamic_cast<const wxStaticBox*>(child);
            box != nullptr && !box->GetLabel().empty()) {
            const int title = box->GetTextExtent(box->GetLabel()).x;
            if (size.x < title + 16) {
                faults.push_back(
                    Describe(child) + wxString::Format(" is %d wide, its title %d", size.x, title));
            }
        }
        if (const auto* list = dynamic_cast<const wxListCtrl*>(child)) {
            CheckListHeaders(list, faults);
        }
        // A child must lie inside its parent's client area (the frame's
        // status bar lies below it by design).
        const wxRect inside(wxPoint(0, 0), window->GetClientSize());
        if (!child->IsKindOf(wxCLASSINFO(wxStatusBar)) && !inside.Contains(child->GetRect())) {
            faults.push_back(Describe(child) + " reaches outside " + Describe(window));
        }
    }
    for (std::size_t i = 0; i < shown.size(); ++i) {
        for (std::size_t j = i + 1; j < shown.size(); ++j) {
            if (shown[i]->GetRect().Intersects(shown[j]->GetRect())) {
                faults.push_back(Describe(shown[i]) + " overlaps " + Describe(shown[j]));
            }
        }
    }
    for (const wxWindow* child : shown) {
        CheckLayout(child, faults);
    }
}

} // namespace layout_check
