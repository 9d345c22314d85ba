#include "ksp/WxHost.h"

#include <wx/app.h>
#include <wx/init.h>

bool EnsureWx()
{
    // Decided once: either the host runs wx, or we started it (or failed to).
    static const bool ready = [] {
        if (wxTheApp != nullptr) {
            return true;
        }
        static int argc = 1;
        static char name[] = "velaksp";
        static char* argv[] = { name, nullptr };
        wxApp::SetInstance(new wxApp());
        return wxEntryStart(argc, argv) && wxTheApp->CallOnInit();
    }();
    return ready;
}
