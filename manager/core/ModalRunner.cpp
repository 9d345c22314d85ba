#include "ModalRunner.h"

#include "DialogIdentity.h"

#include <mutex>
#include <utility>
#include <wx/dialog.h>
#include <wx/filedlg.h>
#include <wx/intl.h>
#include <wx/msgdlg.h>
// After wx/msgdlg.h, which declares the base class.
#include <wx/generic/msgdlgg.h>

namespace {
std::mutex g_hookMutex;
ModalRunner::DialogHook g_dialogHook;
ModalRunner::MessageHook g_messageHook;
ModalRunner::FileHook g_fileHook;

// The box creates its window only when shown; the window ID and name that
// make it a known dialog can be set only then.
class ManagerMessageBox final : public wxGenericMessageDialog {
public:
    using wxGenericMessageDialog::wxGenericMessageDialog;

protected:
    void AddMessageDialogCheckBox(wxSizer*) override
    {
        SetId(DialogIdentity::ID_DLG_MESSAGE_BOX);
        SetName(DialogIdentity::NameOf(DialogIdentity::ID_DLG_MESSAGE_BOX));
    }
};

template <typename Hook> Hook CopyHook(const Hook& hook)
{
    const std::lock_guard<std::mutex> lock(g_hookMutex);
    return hook;
}
} // namespace

int ModalRunner::ShowDialog(wxDialog& dialog)
{
    if (const DialogHook hook = CopyHook(g_dialogHook)) {
        return hook(dialog);
    }
    return dialog.ShowModal();
}

int ModalRunner::ShowMessage(const wxString& message, const wxString& caption, long style, wxWindow* parent)
{
    if (const MessageHook hook = CopyHook(g_messageHook)) {
        return hook(message, caption, style);
    }
    return ShowMessageBox(message, caption, style, parent);
}

int ModalRunner::ShowMessageBox(
    const wxString& message, const wxString& caption, long style, wxWindow* parent)
{
    // The toolkit's own box on GTK 3 shows no icon and cannot be ended by
    // the window; this one draws the icon the style asks for and takes its
    // button texts from the manager's catalog.
    // A known dialog: a slot change closes it like the others.
    ManagerMessageBox box(parent, message, caption, style);
    box.SetYesNoCancelLabels(_("Yes"), _("No"), _("Cancel"));
    box.SetOKCancelLabels(_("OK"), _("Cancel"));
    switch (box.ShowModal()) {
    case wxID_YES:
        return wxYES;
    case wxID_NO:
        return wxNO;
    case wxID_OK:
        return wxOK;
    default:
        return wxCANCEL;
    }
}

void ModalRunner::SetDialogHook(DialogHook hook)
{
    const std::lock_guard<std::mutex> lock(g_hookMutex);
    g_dialogHook = std::move(hook);
}

int ModalRunner::ShowFileDialog(wxFileDialog& dialog, wxString& path)
{
    if (const FileHook hook = CopyHook(g_fileHook)) {
        return hook(dialog, path);
    }
    const int answer = ShowDialog(dialog);
    path = dialog.GetPath();
    return answer;
}

void ModalRunner::SetFileHook(FileHook hook)
{
    const std::lock_guard<std::mutex> lock(g_hookMutex);
    g_fileHook = std::move(hook);
}

void ModalRunner::SetMessageHook(MessageHook hook)
{
    const std::lock_guard<std::mutex> lock(g_hookMutex);
    g_messageHook = std::move(hook);
}

void ModalRunner::ClearHooks()
{
    const std::lock_guard<std::mutex> lock(g_hookMutex);
    g_dialogHook = nullptr;
    g_messageHook = nullptr;
    g_fileHook = nullptr;
}
