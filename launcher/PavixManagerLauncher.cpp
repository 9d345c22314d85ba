// PavixManagerLauncher: starts the token manager lying beside it and exits at
// once with 0. No window of its own; only a failure shows one message box.
#include "launcher/LauncherLogic.h"

#include <cstdio>
#include <wx/app.h>
#include <wx/init.h>
#include <wx/msgdlg.h>

using namespace vela5::platform;

namespace {

void ShowMessage(int argc, char** argv, const std::string& message)
{
    // Also on standard error: started without a desktop, that is all there is.
    std::fprintf(stderr, "%s: %s\n", Launcher::kCaption, message.c_str());
    wxApp::SetInstance(new wxApp());
    // The command line is ignored: wx must not parse it either.
    int wxArgc = argc > 0 ? 1 : 0;
    if (!wxEntryStart(wxArgc, argv) || !wxTheApp->CallOnInit()) {
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
    const std::optional<std::string> message
        = Launcher::Launch(Process::OwnProgramPath(), Launcher::StartProgram);
    if (message) {
        ShowMessage(argc, argv, *message);
    }
    return 0;
}
