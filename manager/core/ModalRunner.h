// Every modal dialog and message box of the manager is shown through here, so
// tests can answer them (fill fields, press a button) without a person.
#pragma once

#include <functional>
#include <wx/string.h>

class wxDialog;
class wxFileDialog;
class wxWindow;

class ModalRunner final {
public:
    // Receives the dialog, ready to be shown; returns the end code it chose.
    using DialogHook = std::function<int(wxDialog& dialog)>;
    // Receives what wxMessageBox would show; returns the button pressed (wxOK, wxYES, ...).
    using MessageHook = std::function<int(const wxString& message, const wxString& caption, long style)>;

    // dialog.ShowModal(), or the hook's answer when one is set.
    static int ShowDialog(wxDialog& dialog);
    // Receives a file dialog, ready to be shown; returns the end code and the
    // chosen path (the toolkit's dialog knows its path only once shown).
    using FileHook = std::function<int(wxFileDialog& dialog, wxString& path)>;
    // dialog.ShowModal() and its path, or the file hook's answer; without a
    // file hook the dialog hook answers and the path is the dialog's.
    static int ShowFileDialog(wxFileDialog& dialog, wxString& path);
    // A message box like wxMessageBox(message, caption, style, parent) (and
    // answering like it), or the hook's answer.
    static int ShowMessage(
        const wxString& message, const wxString& caption, long style, wxWindow* parent = nullptr);

    // The message box itself, without the hook (tests of the box).
    static int ShowMessageBox(const wxString& message, const wxString& caption, long style, wxWindow* parent);

    static void SetDialogHook(DialogHook hook);
    static void SetMessageHook(MessageHook hook);
    static void SetFileHook(FileHook hook);
    static void ClearHooks();
};
