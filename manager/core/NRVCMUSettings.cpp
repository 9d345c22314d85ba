#include "NRVCMUSettings.h"

#include "AutostartEntry.h"
#include "NRVCMULog.h"
#include "platform/registry/Registry.h"
#include "platform/system/System.h"

#include <cerrno>
#include <fcntl.h>
#include <openssl/sha.h>
#include <unistd.h>
#include <wx/fileconf.h>
#include <wx/filefn.h>
#include <wx/filename.h>
#include <wx/intl.h>
#include <wx/log.h>
#include <wx/mstream.h>

using namespace vela5::platform;

namespace {

enum class KeyType { Bool, Long, Text };
enum class KeyDefault { Value, LogFile };

struct KeyInfo {
    const char* name;
    KeyType type;
    const char* fallback; // the default; for log locations, the file name after the log folder
    bool isLogLocation;
};

#define VELA5_SETTING_INFO(type, name, fallback, where)                                                      \
    { #name, KeyType::type, fallback, KeyDefault::where == KeyDefault::LogFile },
constexpr KeyInfo kKeys[] = { VELA5_SETTINGS_KEYS(VELA5_SETTING_INFO) };
#undef VELA5_SETTING_INFO
static_assert(std::size(kKeys) == 45);

const KeyInfo* FindKeyInfo(const wxString& key)
{
    for (const KeyInfo& info : kKeys) {
        if (key == info.name) {
            return &info;
        }
    }
    return nullptr;
}

const char* const kHashKey = "Hash";
const char* const kRunKey = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Run";
const char* const kRunValue = "NRV Certificate Management Tool";
const char* const kSdkKey = "Software\\Nurvon Ltd.\\VELA5 SDK";
const char* const kSdkKey32BitWindows = "SOFTWARE\\Nurvon Ltd.\\VELA5 SDK";

// The manager writes its middleware values as "text length x 2 bytes, no
// terminating NUL"; the readers take the stored length.
void SetRegistryText(Registry::Key& key, const char* name, const wxString& text)
{
    key.SetString(name, text.utf8_string(), false);
}

// Runs write() on the SDK key of each view that can be opened for setting
// values: both views on a 64-bit system (32-bit first), the one key otherwise.
template <typename Write> void ForEachSdkView(Write&& write)
{
    if (System::Is64BitSystem()) {
        for (const Registry::View view : { Registry::View::Wow32, Registry::View::Wow64 }) {
            Registry::Key key;
            if (Registry::Key::Open(Registry::Hive::LocalMachine, kSdkKey, Registry::Access::Write, view, key)
                == Registry::Success) {
                write(key, view == Registry::View::Wow64);
            }
        }
        return;
    }
    Registry::Key key;
    if (Registry::Key::Open(Registry::Hive::LocalMachine, kSdkKey32BitWindows, Registry::Access::Write,
            Registry::View::Native, key)
        == Registry::Success) {
        write(key, false);
    }
}

} // namespace

NRVCMUSettings::NRVCMUSettings(const wxString& programFolder)
    : m_programFolder(programFolder)
{
    wxFileName logFolder = wxFileName::DirName(programFolder);
    if (logFolder.GetDirCount() > 0) {
        logFolder.RemoveLastDir();
    }
    logFolder.AppendDir("Middleware");
    logFolder.AppendDir("Logs");
    m_logFolder = logFolder.GetPath(wxPATH_GET_VOLUME | wxPATH_GET_SEPARATOR);

    // A damaged file must never reach the user as a log window: it is
    // rejected below by its digest instead.
    const wxLogNull quiet;
    if (!NRVCMULog::MakePrivateFolder(GetFolder())) {
        // Someone else's folder (or a link) is neither read nor written: the
        // defaults hold for this run only.
        wxMemoryInputStream nothing("", 0);
        m_config = std::make_unique<wxFileConfig>(nothing, wxConvAuto());
        m_config->SetExpandEnvVars(false);
        WriteDefaults();
        SaveHash();
        return;
    }
    const wxString file = GetFilePath();
    bool existed = wxFileExists(file);
    m_tampered = false;
    {
        // A link in place of the file is never followed: it is removed and
        // the settings start over, as for any rejected file.
        const int fd = open(file.fn_str().data(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
        if (fd >= 0) {
            close(fd);
        } else if (errno == ELOOP) {
            wxRemoveFile(file);
            existed = false;
            m_tampered = true;
        }
    }
    m_config = std::make_unique<wxFileConfig>(
        wxEmptyString, wxEmptyString, file, wxEmptyString, wxCONFIG_USE_LOCAL_FILE, wxConvAuto());
    // Values are kept literally: a "$" in a log path is not an environment variable.
    m_config->SetExpandEnvVars(false);
    if (existed) {
        if (!CheckIntegrity()) {
            // Nothing of the rejected file may be written back when this object goes.
            m_config->DisableAutoSave();
            wxRemoveFile(file);
            m_tampered = true;
        }
        return;
    }
    WriteDefaults();
    SaveHash();
}

NRVCMUSettings::~NRVCMUSettings()
{
    const wxLogNull quiet;
    m_config.reset();
}

wxString NRVCMUSettings::GetFolder()
{
    return NRVCMULog::Folder();
}

wxString NRVCMUSettings::GetFilePath()
{
    wxString title = "Pavix Manager";
    title.Replace(" ", "");
    return GetFolder() + wxFileName::GetPathSeparator() + title + ".CFG";
}

wxString NRVCMUSettings::ComputeHash() const
{
    wxString text;
    for (const KeyInfo& info : kKeys) {
        wxString value;
        m_config->Read(info.name, &value);
        text << info.name << value;
    }
    const wxCharBuffer ascii = text.ToAscii('?');
    unsigned char digest[SHA_DIGEST_LENGTH];
    SHA1(reinterpret_cast<const unsigned char*>(ascii.data()), ascii.length(), digest);
    wxString hex;
    for (const unsigned char byte : digest) {
        hex << wxString::Format("%02x", byte);
    }
    return hex;
}

wxString NRVCMUSettings::GetDefaultValue(const wxString& key) const
{
    const KeyInfo* info = FindKeyInfo(key);
    if (info == nullptr) {
        return wxString();
    }
    return info->isLogLocation ? m_logFolder + info->fallback : wxString(info->fallback);
}

bool NRVCMUSettings::CheckIntegrity() const
{
    wxString stored;
    m_config->Read(kHashKey, &stored);
    return ComputeHash() == stored;
}

void NRVCMUSettings::SaveHash()
{
    const wxLogNull quiet;
    m_config->Write(kHashKey, ComputeHash());
    m_config->Flush();
}

void NRVCMUSettings::WriteDefaults()
{
    // The second write stays: a fresh start is in Bulgarian.
    SetDefaultLanguage(_("English"));
    SetDefaultLanguage(_("Bulgarian"));
    for (const KeyInfo& info : kKeys) {
        if (wxString(info.name) == "DefaultLanguage") {
            continue;
        }
        switch (info.type) {
        case KeyType::Bool:
            WriteBool(info.name, wxString(info.fallback) == "1");
            break;
        case KeyType::Long:
            WriteLong(info.name, wxAtol(info.fallback));
            break;
        case KeyType::Text:
            WriteText(info.name, info.isLogLocation ? m_logFolder + info.fallback : wxString(info.fallback));
            break;
        }
    }
}

bool NRVCMUSettings::ReadBool(const wxString& key, bool fallback) const
{
    bool value = fallback;
    return m_config->Read(key, &value) ? value : fallback;
}

long NRVCMUSettings::ReadLong(const wxString& key, long fallback) const
{
    long value = fallback;
    return m_config->Read(key, &value) ? value : fallback;
}

wxString NRVCMUSettings::ReadText(const wxString& key, const wxString& fallback) const
{
    wxString value;
    return m_config->Read(key, &value) ? value : fallback;
}

void NRVCMUSettings::WriteBool(const wxString& key, bool value)
{
    m_config->Write(key, value);
}

void NRVCMUSettings::WriteLong(const wxString& key, long value)
{
    m_config->Write(key, value);
}

void NRVCMUSettings::WriteText(const wxString& key, const wxString& value)
{
    m_config->Write(key, value);
}

void NRVCMUSettings::ApplyLaunchAtStartup(bool enabled)
{
    // The Run value is what the kit's other parts read; the login session
    // starts what the autostart entry names, so both follow the setting.
    const wxString launcher = m_programFolder + wxFileName::GetPathSeparator() + "PavixManagerLauncher";
    if (enabled) {
        AutostartEntry::Write(launcher.utf8_string());
    } else {
        AutostartEntry::Remove();
    }
    Registry::Key key;
    if (Registry::Key::Open(
            Registry::Hive::LocalMachine, kRunKey, Registry::Access::Write, Registry::View::Native, key)
        != Registry::Success) {
        return;
    }
    wxString command;
    if (enabled) {
        command << '"' << m_programFolder << wxFileName::GetPathSeparator() << "PavixManagerLauncher" << '"';
    }
    SetRegistryText(key, kRunValue, command);
}

void NRVCMUSettings::ApplyPINCache(bool enabled)
{
    ForEachSdkView([enabled](Registry::Key& key, bool) {
        SetRegistryText(key, "PINCACHE", enabled ? "00000001" : "00000000");
    });
}

void NRVCMUSettings::ApplyLogging(int component)
{
    struct Component {
        const char* logValue;
        const char* dirValue;
        const char* settingPrefix;
    };
    static const Component components[] = {
        { "CSPLOG", "CSPDIR", "CSP" },
        { "KSPLOG", "KSPDIR", "KSP" },
        { "PKCLOG", "PKCDIR", "PKCS11" },
    };
    if (component < 0 || component > 2) {
        return;
    }
    if (component == 1 && !System::IsVistaSP1OrLater()) {
        return;
    }
    const Component& names = components[component];
    bool resetLocation = false;
    ForEachSdkView([&](Registry::Key& key, bool is64BitView) {
        const wxString bitness = is64BitView ? "x64" : "x86";
        const wxString enabledKey = wxString("Is") + names.settingPrefix + bitness + "LogEnabled";
        const wxString locationKey = wxString(names.settingPrefix) + bitness + "LogLocation";
        const bool enabled = ReadBool(enabledKey, false);
        if (!enabled) {
            const wxString fallback = m_logFolder + FindKeyInfo(locationKey)->fallback;
            if (ReadText(locationKey, fallback) != fallback) {
                WriteText(locationKey, fallback);
                resetLocation = true;
            }
        }
        SetRegistryText(key, names.logValue, enabled ? "00000001" : "00000000");
        SetRegistryText(key, names.dirValue, ReadText(locationKey, wxEmptyString));
    });
    // The reset changed a covered value: store the digest now, or a start
    // after an abnormal exit would reject the whole file.
    if (resetLocation) {
        SaveHash();
    }
}

// One getter and one setter per key, reading with the table's default.
#define VELA5_SETTING_Bool(Name, fallback, where)                                                            \
    bool NRVCMUSettings::Name() const                                                                        \
    {                                                                                                        \
        return ReadBool(#Name, wxString(fallback) == "1");                                                   \
    }                                                                                                        \
    void NRVCMUSettings::Set##Name(bool value)                                                               \
    {                                                                                                        \
        WriteBool(#Name, value);                                                                             \
    }
#define VELA5_SETTING_Long(Name, fallback, where)                                                            \
    long NRVCMUSettings::Get##Name() const                                                                   \
    {                                                                                                        \
        return ReadLong(#Name, wxAtol(fallback));                                                            \
    }                                                                                                        \
    void NRVCMUSettings::Set##Name(long value)                                                               \
    {                                                                                                        \
        WriteLong(#Name, value);                                                                             \
    }
#define VELA5_SETTING_Text(Name, fallback, where)                                                            \
    wxString NRVCMUSettings::Get##Name() const                                                               \
    {                                                                                                        \
        return ReadText(                                                                                     \
            #Name, KeyDefault::where == KeyDefault::LogFile ? m_logFolder + fallback : wxString(fallback));  \
    }                                                                                                        \
    void NRVCMUSettings::Set##Name(const wxString& value)                                                    \
    {                                                                                                        \
        WriteText(#Name, value);                                                                             \
    }

#define VELA5_SETTING_DEFINITIONS(type, name, fallback, where) VELA5_SETTING_##type(name, fallback, where)
VELA5_SETTINGS_KEYS(VELA5_SETTING_DEFINITIONS)
