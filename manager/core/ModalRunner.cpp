#include "ModalRunner.h"

#include <mutex>
#include <utility>
#include <wx/dialog.h>
#include <wx/msgdlg.h>

namespace {
std::mutex g_hookMutex;
ModalRunner::DialogHook g_dialogHook;
ModalRunner::MessageHook g_messageHook;

template <typename Hook>
Hook CopyHook(const Hook& hook)
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
    return wxMessageBox(message, caption, style, parent);
}

void ModalRunner::SetDialogHook(DialogHook hook)
{
    const std::lock_guard<std::mutex> lock(g_hookMutex);
    g_dialogHook = std::move(hook);
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
}
