// setup: shows the please-wait dialog, installs the reader driver package
// quietly and starts the interactive user kit package for this platform, then
// brings the kit installer's window forward and ends with 0.
#include "platform/desktop/Desktop.h"
#include "platform/system/System.h"
#include "setup/SetupDlg.h"
#include "setup/SetupLogic.h"

#include <cstdio>
#include <wx/app.h>
#include <wx/image.h>
#include <wx/init.h>

using namespace vela5::platform;

int main(int argc, char** argv)
{
    const std::string folder = Setup::OwnFolder();
    const Setup::Packages packages = Setup::PackagesFor(folder, System::Is64BitSystem());

    wxApp::SetInstance(new wxApp());
    // No command line is used: wx must not parse one either.
    int wxArgc = argc > 0 ? 1 : 0;
    if (!wxEntryStart(wxArgc, argv) || !wxTheApp->CallOnInit()) {
        // No desktop to show the dialog on: install all the same.
        std::fprintf(stderr, "setup: no display; installing without the wait dialog\n");
        Setup::RunInstallation(packages, nullptr);
        return 0;
    }
    wxInitAllImageHandlers();
    {
        SetupDlg dialog(nullptr, folder,
            [&packages](const std::function<void()>& tick) { Setup::RunInstallation(packages, tick); });
        dialog.ShowModal();
    }
    if (const Desktop::WindowHandle installer = Desktop::FindTopLevelWindow(Setup::kInstallerCaption)) {
        Desktop::RestoreAndRaise(installer);
    }
    wxTheApp->OnExit();
    wxEntryCleanup();
    return 0;
}
