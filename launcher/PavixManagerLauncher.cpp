// PavixManagerLauncher: starts the token manager lying beside it and exits at
// once with 0. No window of its own; only a failure shows one message box.
#include "launcher/LauncherLogic.h"

#include <climits>
#include <cstdio>
#include <unistd.h>
#include <wx/app.h>
#include <wx/init.h>
#include <wx/msgdlg.h>

namespace {

// The launcher's own full path, as the module-file-name service gives it.
std::string OwnPath()
{
    char buffer[PATH_MAX + 1];
    const ssize_t length = ::readlink("/proc/self/exe", buffer, sizeof buffer - 1);
    return length > 0 ? std::string(buffer, static_cast<size_t>(length)) : std::string();
}

void ShowMessage(int argc, char** argv, const std::string& message)
{
    // Also on standard error: started without a desktop, that is all there is.
    std::fprintf(stderr, "%s: %s\n", Launcher::kCaption, message.c_str());
    wxApp::SetInstance(new wxApp());
    if (!wxEntryStart(argc, argv) || !wxTheApp->CallOnInit()) {
        return;
    }
    wxMessageDialog box(nullptr, wxString::FromUTF8(message), wxString::FromUTF8(Launcher::kCaption),
        wxOK | wxICON_NONE | wxCENTRE);
    box.ShowModal();
    wxTheApp->OnExit();
    wxEntryCleanup();
}

} // namespace

int main(int argc, char** argv)
{
    const std::optional<std::string> message = Launcher::Launch(OwnPath(), Launcher::StartProgram);
    if (message) {
        ShowMessage(argc, argv, *message);
    }
    return 0;
}
