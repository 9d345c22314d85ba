// Renders one window or dialog of the manager to <folder>/<window>.png, for
// the documentation: ManagerGallery <folder> <language> <window>, and
// ManagerGallery --list names them all. One window per process: the
// toolkit's screen picture is taken once per process and then repeated.
// Runs on a display of its own (tools/gallery.sh starts one) with a private
// machine root and the software token, so a user's state is never touched.
#include "TokenActionsTestHost.h"
#include "WindowCatalogue.h"
#include "certlens/Certlens.h"
#include "manager/core/LanguageCatalog.h"
#include "manager/core/NRVCMUCryptoki.h"
#include "manager/core/NRVCMULog.h"
#include "manager/objects/CertificateManagerDlg.h"
#include "manager/objects/DataObjectManagerDlg.h"
#include "manager/objects/SecretKeyManagerDlg.h"
#include "manager/objects/SecretKeyPropertiesDlg.h"
#include "manager/window/MySystemTrayIcon.h"
#include "tests/support/RunTokenTool.h"
#include "tests/support/ScopedTestRoot.h"
#include "tests/support/TokenObjects.h"

#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <dlfcn.h>
#include <filesystem>
#include <functional>
#include <thread>
#include <wx/app.h>
#include <wx/dcmemory.h>
#include <wx/dcscreen.h>
#include <wx/dialog.h>
#include <wx/image.h>
#include <wx/init.h>
#include <wx/listctrl.h>
#include <wx/menu.h>
#include <wx/timer.h>
#include <wx/translation.h>
#include <wx/uiaction.h>

namespace {

void Settle(std::chrono::milliseconds time)
{
    const auto end = std::chrono::steady_clock::now() + time;
    while (std::chrono::steady_clock::now() < end) {
        wxTheApp->ProcessPendingEvents();
        wxTheApp->Yield(true);
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
}

bool Capture(wxWindow* window, const std::filesystem::path& file)
{
    const wxRect rect = window->GetScreenRect();
    wxScreenDC screen;
    wxBitmap bitmap(rect.width, rect.height);
    {
        wxMemoryDC memory(bitmap);
        memory.Blit(0, 0, rect.width, rect.height, &screen, rect.x, rect.y);
    }
    return bitmap.SaveFile(wxString::FromUTF8(file.string()), wxBITMAP_TYPE_PNG);
}

// The tray's menu, popped up over the empty top-left corner of the screen
// and pictured while open, cut to what is not the empty screen. The
// toolkit's screen picture leaves popup menus out; the server's does not.
constexpr const char* kTrayMenu = "MySystemTrayIcon-menu";

wxImage GrabScreen(const wxRect& area)
{
    wxImage out;
    Display* display = XOpenDisplay(nullptr);
    if (display == nullptr) {
        return out;
    }
    XImage* image = XGetImage(display, DefaultRootWindow(display), area.x, area.y,
        static_cast<unsigned>(area.width), static_cast<unsigned>(area.height), AllPlanes, ZPixmap);
    if (image != nullptr) {
        const auto channel = [](unsigned long pixel, unsigned long mask) {
            int shift = 0;
            while (mask != 0 && (mask & 1) == 0) {
                mask >>= 1;
                ++shift;
            }
            return static_cast<unsigned char>(((pixel >> shift) & mask) * 255 / (mask == 0 ? 1 : mask));
        };
        out.Create(area.width, area.height);
        for (int y = 0; y < area.height; ++y) {
            for (int x = 0; x < area.width; ++x) {
                const unsigned long pixel = XGetPixel(image, x, y);
                out.SetRGB(x, y, channel(pixel, image->red_mask), channel(pixel, image->green_mask),
                    channel(pixel, image->blue_mask));
            }
        }
        XDestroyImage(image);
    }
    XCloseDisplay(display);
    return out;
}

bool CaptureTrayMenu(NRVCMUFrm* frame, const std::filesystem::path& file)
{
    // A window of its own shows the menu, so the main window can be hidden
    // as when the tray's menu is wanted, and "Restore" is offered.
    auto* anchor = new wxFrame(nullptr, wxID_ANY, wxString(), wxPoint(600, 600), wxSize(10, 10));
    anchor->Show();
    frame->Hide();
    Settle(std::chrono::milliseconds(300));
    const wxRect area(0, 0, 400, 300);
    bool saved = false;
    wxTimer timer;
    timer.Bind(wxEVT_TIMER, [&](wxTimerEvent&) {
        const wxImage open = GrabScreen(area);
        wxRect box;
        for (int y = 0; open.IsOk() && y < area.height; ++y) {
            for (int x = 0; x < area.width; ++x) {
                if (open.GetRed(x, y) != 0 || open.GetGreen(x, y) != 0 || open.GetBlue(x, y) != 0) {
                    box.Union(wxRect(x, y, 1, 1));
                }
            }
        }
        if (!box.IsEmpty()) {
            saved = open.GetSubImage(box).SaveFile(wxString::FromUTF8(file.string()), wxBITMAP_TYPE_PNG);
        }
        wxUIActionSimulator().Char(WXK_ESCAPE);
    });
    timer.StartOnce(600);
    const std::unique_ptr<wxMenu> menu(frame->GetTrayIcon()->CreatePopupMenu());
    anchor->PopupMenu(menu.get(), anchor->ScreenToClient(wxPoint(area.x, area.y)));
    anchor->Destroy();
    return saved;
}

class GalleryApp final : public wxApp {
public:
    bool OnInit() override
    {
        wxInitAllImageHandlers();
        // The main window goes first; the dialogs still need a running toolkit.
        SetExitOnFrameDelete(false);
        return true;
    }
};

// The windows that need objects on the token, pictured beside the catalogue's.
const char* const kObjectWindows[] = { "CertificateManagerDlg", "CertlensDlg", "DataObjectManagerDlg",
    "SecretKeyManagerDlg", "SecretKeyPropertiesDlg" };

// Two secret keys and two data objects for the managers' pictures.
void AddManagerObjects(NRVCMUCryptoki& cryptoki, CK_SESSION_HANDLE session)
{
    CK_OBJECT_CLASS keyClass = CKO_SECRET_KEY;
    CK_OBJECT_CLASS dataClass = CKO_DATA;
    CK_BBOOL yes = CK_TRUE;
    const struct {
        CK_KEY_TYPE type;
        std::vector<uint8_t> id;
        size_t length;
        const char* label;
    } keys[] = { { CKK_DES, { 0x0A, 0x1B, 0x2C }, 8, "Door key" },
        { CKK_AES, { 0x7F, 0x00, 0x01 }, 16, "Backup" } };
    for (const auto& key : keys) {
        CK_KEY_TYPE type = key.type;
        std::vector<uint8_t> value(key.length, 0x42);
        std::vector<uint8_t> id = key.id;
        CK_ATTRIBUTE attributes[] = {
            { CKA_CLASS, &keyClass, sizeof keyClass },
            { CKA_KEY_TYPE, &type, sizeof type },
            { CKA_TOKEN, &yes, 1 },
            { CKA_LABEL, const_cast<char*>(key.label), static_cast<CK_ULONG>(std::strlen(key.label)) },
            { CKA_ID, id.data(), static_cast<CK_ULONG>(id.size()) },
            { CKA_VALUE, value.data(), static_cast<CK_ULONG>(value.size()) },
        };
        CK_OBJECT_HANDLE handle = 0;
        cryptoki.CreateCryptoObject(session, attributes, std::size(attributes), &handle);
    }
    for (const char* label : { "Settings", "" }) {
        char application[] = "Reader app";
        CK_ATTRIBUTE attributes[] = {
            { CKA_CLASS, &dataClass, sizeof dataClass },
            { CKA_TOKEN, &yes, 1 },
            { CKA_LABEL, const_cast<char*>(label), static_cast<CK_ULONG>(std::strlen(label)) },
            { CKA_APPLICATION, application, static_cast<CK_ULONG>(std::strlen(label) == 0 ? 0 : 10) },
        };
        CK_OBJECT_HANDLE handle = 0;
        cryptoki.CreateCryptoObject(session, attributes, std::size(attributes), &handle);
    }
}

template <typename Dialog>
void CaptureManager(TokenActionsTestHost& host, const std::function<void(wxDialog*)>& capture)
{
    wxArrayString slots;
    slots.Add("VELA5 Virtual Reader 1 " + _("[Card Present]"));
    slots.Add("VELA5 Virtual Reader 2 " + _("[No Card Present]"));
    Dialog dialog(nullptr, host, 0, slots);
    dialog.CallAfter([&] {
        dialog.SelectRow(0);
        capture(&dialog);
        dialog.Close();
    });
    dialog.ShowModal();
}

// Puts a certificate with its keys, and a key of its own, on the token.
void AddObjects(const std::string& serial, const std::filesystem::path& temp)
{
    std::filesystem::create_directories(temp);
    const TestIdentity alice
        = MakeTestIdentity(temp, "alice", "/C=US/O=Acme/OU=Sales/CN=Alice Example", "secret");
    TokenObjects::Import(serial, alice.pkcs12, "secret", "1234");
    const TestIdentity bob = MakeTestIdentity(temp, "bob", "/O=Acme/CN=Bob Example", "secret");
    TokenObjects::AddCertificate(serial, bob.cer, "0B0B", "1234");
    WritePrivateKeyPem(temp / "loose.pem", MakeRsaKey(512));
    TokenObjects::AddKey(serial, temp / "loose.pem", true, "-", "1234");
}

int RenderObjectWindow(const std::filesystem::path& folder, const std::string& name,
    const std::string& programFolder, NRVCMUCryptoki& cryptoki, NRVCMUSettings& settings)
{
    int failures = 0;
    TokenActionsTestHost host(cryptoki, settings);
    host.Enumerate();
    CK_SESSION_HANDLE& session = host.GetSlotSession(0);
    if (host.OpenSlotSession(0) != CKR_OK || cryptoki.LogIn(CKU_USER, session, "1234") != CKR_OK) {
        return 1;
    }
    host.GetSlotRecord(0).loggedIn = true;
    host.GetSlotRecord(0).cachedPIN.Keep("1234");
    const auto capture = [&](wxDialog* dialog) {
        dialog->Move(0, 0);
        Settle(std::chrono::milliseconds(400));
        if (!Capture(dialog, folder / (name + ".png"))) {
            ++failures;
        }
    };
    if (name == "DataObjectManagerDlg" || name == "SecretKeyManagerDlg" || name == "SecretKeyPropertiesDlg") {
        AddManagerObjects(cryptoki, session);
    }
    if (name == "DataObjectManagerDlg") {
        CaptureManager<DataObjectManagerDlg>(host, capture);
    } else if (name == "SecretKeyManagerDlg") {
        CaptureManager<SecretKeyManagerDlg>(host, capture);
    } else if (name == "SecretKeyPropertiesDlg") {
        SecretKeyPropertiesDlg form(nullptr, {}, -1, nullptr);
        form.Randomize();
        form.CallAfter([&] {
            capture(&form);
            form.EndModal(wxID_NO);
        });
        form.ShowModal();
    } else if (name == "CertificateManagerDlg") {
        wxArrayString slots;
        slots.Add("VELA5 Virtual Reader 1 " + _("[Card Present]"));
        slots.Add("VELA5 Virtual Reader 2 " + _("[No Card Present]"));
        CertificateManagerDlg dialog(nullptr, host, 0, slots);
        dialog.CallAfter([&] {
            capture(&dialog);
            dialog.Close();
        });
        dialog.ShowModal();
    } else {
        void* library = dlopen((programFolder + "/Certlens.so").c_str(), RTLD_NOW);
        auto getList = library != nullptr
            ? reinterpret_cast<CERTLENS_GET_FUNCTION_LIST>(dlsym(library, "GetFunctionList"))
            : nullptr;
        CERTLENS_FUNCTION_LIST functions {};
        if (getList == nullptr || getList(&functions) != 0) {
            return 1;
        }
        TestCertificateFields fields;
        fields.subject = "/C=US/O=Acme/OU=Sales/CN=Alice Example";
        fields.serial = 0x5A17;
        fields.emails = { "alice@example.com" };
        const std::vector<uint8_t> der = MakeCertificate(fields, MakeRsaKey(2048));
        wxTheApp->CallAfter([&] {
            for (wxWindow* window : wxTopLevelWindows) {
                auto* dialog = dynamic_cast<wxDialog*>(window);
                if (dialog != nullptr && dialog->GetName() == "CERTLENS_DLG_CERTIFICATE_DETAILS") {
                    capture(dialog);
                    dialog->EndModal(wxID_OK);
                }
            }
        });
        functions.ViewCertificate(1, der.data(), static_cast<unsigned long>(der.size()));
        dlclose(library);
    }
    cryptoki.CloseSession(session);
    return failures;
}

int Render(const std::filesystem::path& folder, const wxString& language, const std::string& name)
{
    const char* binDir = std::getenv("VELA5_BIN_DIR");
    if (binDir == nullptr) {
        std::fprintf(stderr, "VELA5_BIN_DIR must name the program's folder\n");
        return 2;
    }
    const std::string programFolder = binDir;
    ScopedTestRoot root;
    NRVCMULog::Relocate();
    if (language != "English") {
        wxTranslations::Set(
            LanguageCatalog::Create(language, wxString::FromUTF8(programFolder) + "/Language"));
    }
    NRVCMUCryptoki cryptoki(wxString::FromUTF8(programFolder + "/velapkcs11.so"));
    if (!cryptoki.CheckCryptokiLibrary() || cryptoki.CheckFunctionList() != CKR_OK
        || cryptoki.Initialize() != CKR_OK) {
        std::fprintf(stderr, "the software token module did not load from %s\n", programFolder.c_str());
        return 1;
    }
    RunTokenTool(programFolder, "reader add 'VELA5 Virtual Reader 1'");
    RunTokenTool(programFolder, "reader add 'VELA5 Virtual Reader 2'");
    const std::string serial = RunTokenTool(programFolder,
        "token create --test-pin-rounds 1000 --model VELA5-64 --label Mine --user-pin 1234 --so-pin "
        "87654321");
    RunTokenTool(programFolder, "token insert " + serial + " 'VELA5 Virtual Reader 1'");
    NRVCMUSettings settings(wxString::FromUTF8(programFolder));
    settings.SetIsAskOnExit(false);
    // No propagation agent: only the window is pictured.
    settings.SetIsInstallCertificate(false);
    // The settings pictures show the log folder of an installed kit, not the build's.
    const wxString logs = "/usr/lib/Middleware/Logs/";
    settings.SetCSPx86LogLocation(logs + "CSP_x86.LOG");
    settings.SetCSPx64LogLocation(logs + "CSP_x64.LOG");
    settings.SetKSPx86LogLocation(logs + "KSP_x86.LOG");
    settings.SetKSPx64LogLocation(logs + "KSP_x64.LOG");
    settings.SetPKCS11x86LogLocation(logs + "PKCS_x86.LOG");
    settings.SetPKCS11x64LogLocation(logs + "PKCS_x64.LOG");
    settings.SaveHash();

    std::filesystem::create_directories(folder);
    int failures = 0;
    for (const char* objectWindow : kObjectWindows) {
        if (name == objectWindow) {
            AddObjects(serial, root.Temp() / "gallery");
            failures += RenderObjectWindow(folder, name, programFolder, cryptoki, settings);
        }
    }
    window_catalogue::Context context { &settings, &cryptoki, nullptr, 0 };
    if (name == window_catalogue::MainWindow().name) {
        auto* frame = static_cast<NRVCMUFrm*>(window_catalogue::MainWindow().create(context));
        frame->Show();
        frame->Move(0, 0);
        Settle(std::chrono::milliseconds(1500));
        if (!Capture(frame, folder / (name + ".png"))) {
            ++failures;
        }
        frame->Destroy();
        wxTheApp->ProcessIdle();
    }
    if (name == kTrayMenu) {
        auto* frame = static_cast<NRVCMUFrm*>(window_catalogue::MainWindow().create(context));
        frame->Show();
        Settle(std::chrono::milliseconds(500));
        if (!CaptureTrayMenu(frame, folder / (name + ".png"))) {
            ++failures;
        }
        frame->Destroy();
        wxTheApp->ProcessIdle();
    }
    for (const window_catalogue::Entry& entry : window_catalogue::AllDialogs()) {
        if (entry.name != name) {
            continue;
        }
        auto* dialog = static_cast<wxDialog*>(entry.create(context));
        // Without a window manager the toolkit maps it at the corner anyway.
        dialog->Move(0, 0);
        // Shown modally, as the manager shows it, and pictured from inside its loop.
        dialog->CallAfter([&, dialog] {
            Settle(std::chrono::milliseconds(400));
            if (!Capture(dialog, folder / (entry.name + ".png"))) {
                ++failures;
            }
            dialog->EndModal(wxID_CANCEL);
        });
        dialog->ShowModal();
        dialog->Destroy();
        wxTheApp->ProcessIdle();
    }
    cryptoki.Finalize();
    wxTranslations::Set(nullptr);
    return failures == 0 ? 0 : 1;
}

} // namespace

int main(int argc, char** argv)
{
    if (argc == 2 && std::string(argv[1]) == "--list") {
        std::printf("%s\n", window_catalogue::MainWindow().name.c_str());
        std::printf("%s\n", kTrayMenu);
        for (const char* objectWindow : kObjectWindows) {
            std::printf("%s\n", objectWindow);
        }
        for (const window_catalogue::Entry& entry : window_catalogue::AllDialogs()) {
            std::printf("%s\n", entry.name.c_str());
        }
        return 0;
    }
    if (argc != 4) {
        std::fprintf(stderr, "usage: ManagerGallery --list | <folder> <language> <window>\n");
        return 2;
    }
    wxApp::SetInstance(new GalleryApp());
    int wxArgc = 1;
    if (!wxEntryStart(wxArgc, argv) || !wxTheApp->CallOnInit()) {
        return 2;
    }
    const int result = Render(argv[1], wxString::FromUTF8(argv[2]), argv[3]);
    wxTheApp->OnExit();
    wxEntryCleanup();
    return result;
}
