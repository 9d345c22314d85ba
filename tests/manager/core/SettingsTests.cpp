// The settings store: the digest over the 45 keys (a known answer), every way
// a file is rejected and what comes back after, and the registry values the
// Apply calls leave in both views.
#include "manager/core/NRVCMUSettings.h"
#include "platform/registry/Registry.h"
#include "tests/support/ScopedTestRoot.h"

#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <openssl/sha.h>
#include <sstream>
#include <sys/stat.h>
#include <unistd.h>
#include <wx/filefn.h>

using namespace vela5::platform;

namespace {

const wxString kProgramFolder = "/opt/vela5/bin";
const std::string kLogFolder = "/opt/vela5/Middleware/Logs/";
constexpr const char* kSdk = "Software\\Nurvon Ltd.\\VELA5 SDK";

std::string ReadFile(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

void WriteFile(const std::string& path, const std::string& content)
{
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << content;
}

std::string Sha1Hex(const std::string& text)
{
    unsigned char digest[SHA_DIGEST_LENGTH];
    SHA1(reinterpret_cast<const unsigned char*>(text.data()), text.size(), digest);
    std::string hex;
    char pair[3];
    for (const unsigned char byte : digest) {
        std::snprintf(pair, sizeof pair, "%02x", byte);
        hex += pair;
    }
    return hex;
}

std::string ReplaceLine(const std::string& content, const std::string& prefix, const std::string& line)
{
    std::istringstream in(content);
    std::string out;
    std::string current;
    while (std::getline(in, current)) {
        out += (current.rfind(prefix, 0) == 0 ? line : current);
        if (!line.empty() || current.rfind(prefix, 0) != 0) {
            out += "\n";
        }
    }
    return out;
}

std::vector<uint8_t> RegistryBytes(Registry::View view, const char* key, const char* name, uint32_t& type)
{
    Registry::Key opened;
    std::vector<uint8_t> data;
    if (Registry::Key::Open(Registry::Hive::LocalMachine, key, Registry::Access::Read, view, opened)
        != Registry::Success) {
        return data;
    }
    uint32_t size = 0;
    if (opened.QueryValue(name, &type, nullptr, &size) != Registry::Success) {
        return data;
    }
    data.resize(size);
    opened.QueryValue(name, &type, data.data(), &size);
    return data;
}

std::vector<uint8_t> Utf16NoNul(const std::string& text)
{
    return Registry::ToUtf16Le(text);
}

class SettingsTest : public testing::Test {
protected:
    std::string FilePath() const { return NRVCMUSettings::GetFilePath().utf8_string(); }

    ScopedTestRoot m_root;
};

TEST_F(SettingsTest, FreshStartWritesDefaultsWithTheDocumentedDigest)
{
    {
        const NRVCMUSettings settings(kProgramFolder);
        EXPECT_FALSE(settings.IsTampered());
        EXPECT_EQ("Bulgarian", settings.GetDefaultLanguage());
        EXPECT_EQ("NRV Card OS 5", settings.GetTokenLabel());
        EXPECT_EQ("73920518", settings.GetSOPINDefaultValue());
        EXPECT_EQ(10, settings.GetMaxRSAKeyPairs());
        EXPECT_TRUE(settings.IsPINCacheEnabled());
        EXPECT_FALSE(settings.IsLaunchAtStartup());
        EXPECT_EQ(kLogFolder + "PKCS_x64.LOG", settings.GetPKCS11x64LogLocation().utf8_string());
    }
    EXPECT_EQ((m_root.Temp() / "nrvcme" / "PavixManager.CFG").string(), FilePath());
    struct stat info { };
    ASSERT_EQ(0, ::stat((m_root.Temp() / "nrvcme").c_str(), &info));
    EXPECT_EQ(0700u, info.st_mode & 0777u) << "the folder is the user's alone";

    // Independently of the store: key names and stored texts in table order, no separators.
    const std::string L = kLogFolder;
    const std::string expected = "DefaultLanguageBulgarian"
                                 "IsLaunchAtStartup0"
                                 "IsMinimizeToTray0"
                                 "IsAskOnExit1"
                                 "IsAskChangeDefaultPin1"
                                 "IsAutoLogout0"
                                 "AutoLogoutTime1"
                                 "IsInstallCertificate1"
                                 "IsRemoveCertificate1"
                                 "TokenLabelNRV Card OS 5"
                                 "IsAppendSerialNumberToLabel0"
                                 "UserPINType0"
                                 "UserPINDefaultValue73920518"
                                 "UserPINMinLength4"
                                 "UserPINMaxLength8"
                                 "UserPINErrorLimit8"
                                 "RandomUserPINLength8"
                                 "IsRandomUserPINUseNumbers1"
                                 "IsRandomUserPINUseUppercaseLetters1"
                                 "IsRandomUserPINUseLowercaseLetters1"
                                 "IsRandomUserPINUseSymbols1"
                                 "SOPINType0"
                                 "SOPINDefaultValue73920518"
                                 "SOPINMinLength4"
                                 "SOPINMaxLength8"
                                 "SOPINErrorLimit8"
                                 "RandomSOPINLength8"
                                 "IsRandomSOPINUseNumbers1"
                                 "IsRandomSOPINUseUppercaseLetters1"
                                 "IsRandomSOPINUseLowercaseLetters1"
                                 "IsRandomSOPINUseSymbols1"
                                 "MaxRSAKeyPairs10"
                                 "IsCSPx86LogEnabled0"
                                 "CSPx86LogLocation"
        + L
        + "CSP_x86.LOG"
          "IsCSPx64LogEnabled0"
          "CSPx64LogLocation"
        + L
        + "CSP_x64.LOG"
          "IsKSPx86LogEnabled0"
          "KSPx86LogLocation"
        + L
        + "KSP_x86.LOG"
          "IsKSPx64LogEnabled0"
          "KSPx64LogLocation"
        + L
        + "KSP_x64.LOG"
          "IsPKCS11x86LogEnabled0"
          "PKCS11x86LogLocation"
        + L
        + "PKCS_x86.LOG"
          "IsPKCS11x64LogEnabled0"
          "PKCS11x64LogLocation"
        + L
        + "PKCS_x64.LOG"
          "IsPINCacheEnabled1";
    const std::string content = ReadFile(FilePath());
    EXPECT_NE(std::string::npos, content.find("Hash=" + Sha1Hex(expected) + "\n")) << content;
    EXPECT_NE(std::string::npos, content.find("DefaultLanguage=Bulgarian\n"));
}

// What another user of the machine can plant where the settings live.
TEST_F(SettingsTest, PlantedFoldersAndLinksAreNeitherReadNorWritten)
{
    const std::filesystem::path folder = m_root.Temp() / "nrvcme";
    const std::filesystem::path victim = m_root.Base() / "victim.txt";
    WriteFile(victim.string(), "keep me\n");

    // A folder made open to everyone by an earlier version is narrowed.
    std::filesystem::create_directories(folder);
    ::chmod(folder.c_str(), 0777);
    {
        const NRVCMUSettings settings(kProgramFolder);
    }
    struct stat info { };
    ASSERT_EQ(0, ::stat(folder.c_str(), &info));
    EXPECT_EQ(0700u, info.st_mode & 0777u);

    // A link in place of the settings file is removed, not followed.
    std::filesystem::remove(FilePath());
    std::filesystem::create_symlink(victim, FilePath());
    {
        const NRVCMUSettings settings(kProgramFolder);
        EXPECT_TRUE(settings.IsTampered());
        EXPECT_EQ("NRV Card OS 5", settings.GetTokenLabel());
    }
    EXPECT_EQ("keep me\n", ReadFile(victim.string()));
    EXPECT_FALSE(std::filesystem::is_symlink(FilePath()));

    // A folder of someone else's is left alone: defaults for this run only.
    std::filesystem::remove_all(folder);
    std::filesystem::create_directories(folder);
    WriteFile(FilePath(), "[Settings]\nTokenLabel=Planted\n");
    if (::geteuid() == 0) {
        ASSERT_EQ(0, ::chown(folder.c_str(), 65534, 65534));
    } else {
        // Without the right to give it away, a link to a folder stands in.
        std::filesystem::rename(folder, m_root.Base() / "elsewhere");
        std::filesystem::create_directory_symlink(m_root.Base() / "elsewhere", folder);
    }
    {
        const NRVCMUSettings settings(kProgramFolder);
        EXPECT_EQ("NRV Card OS 5", settings.GetTokenLabel());
    }
    EXPECT_EQ("[Settings]\nTokenLabel=Planted\n", ReadFile(FilePath()));
}

TEST_F(SettingsTest, SavedChangesSurviveARestartAndUnknownKeysAreAccepted)
{
    {
        NRVCMUSettings settings(kProgramFolder);
        settings.SetDefaultLanguage("Spanish");
        settings.SetAutoLogoutTime(15);
        settings.SetIsMinimizeToTray(true);
        settings.SetTokenLabel(wxString::FromUTF8("Ключ № 5"));
        settings.SaveHash();
    }
    WriteFile(FilePath(), ReadFile(FilePath()) + "SomethingElse=added by hand\n");
    const NRVCMUSettings settings(kProgramFolder);
    EXPECT_FALSE(settings.IsTampered());
    EXPECT_EQ("Spanish", settings.GetDefaultLanguage());
    EXPECT_EQ(15, settings.GetAutoLogoutTime());
    EXPECT_TRUE(settings.IsMinimizeToTray());
    EXPECT_EQ(wxString::FromUTF8("Ключ № 5"), settings.GetTokenLabel())
        << "non-ASCII text hashes alike both ways";
}

TEST_F(SettingsTest, RejectedFilesAreDeletedAndTheNextStartHasDefaults)
{
    std::string pristine;
    {
        const NRVCMUSettings settings(kProgramFolder);
        pristine = ReadFile(FilePath());
    }
    const struct {
        const char* fault;
        std::string content;
    } cases[] = {
        { "one value edited by hand", ReplaceLine(pristine, "UserPINMinLength=", "UserPINMinLength=1") },
        { "Hash missing", ReplaceLine(pristine, "Hash=", "") },
        { "Hash upper-cased",
            [&] {
                std::string upper = pristine;
                const size_t at = upper.find("Hash=") + 5;
                for (size_t i = at; i < at + 40; ++i) {
                    upper[i] = static_cast<char>(std::toupper(static_cast<unsigned char>(upper[i])));
                }
                return upper;
            }() },
        { "keys moved into a group", "[Moved]\n" + pristine },
        { "garbage text", "this is not a settings file\n=\n[[[\n" },
        { "binary bytes", std::string("\x00\xff\xfe\x01\x80\x90Hash\x00=\n", 14) },
        { "cut in half", pristine.substr(0, pristine.size() / 2) },
        { "empty", "" },
    };
    for (const auto& test : cases) {
        WriteFile(FilePath(), test.content);
        {
            const NRVCMUSettings settings(kProgramFolder);
            EXPECT_TRUE(settings.IsTampered()) << test.fault;
            EXPECT_FALSE(wxFileExists(NRVCMUSettings::GetFilePath()))
                << test.fault << ": deleted before the message";
        }
        EXPECT_FALSE(wxFileExists(NRVCMUSettings::GetFilePath()))
            << test.fault << ": nothing written back at exit";
        const NRVCMUSettings fresh(kProgramFolder);
        EXPECT_FALSE(fresh.IsTampered()) << test.fault;
        EXPECT_EQ(4, fresh.GetUserPINMinLength()) << test.fault;
        EXPECT_EQ(pristine, ReadFile(FilePath())) << test.fault;
    }
}

TEST_F(SettingsTest, SetterWithoutSaveHashIsRejectedAtTheNextStart)
{
    {
        NRVCMUSettings settings(kProgramFolder);
        settings.SetIsAutoLogout(true);
        settings.SetUserPINMaxLength(12);
    }
    {
        const NRVCMUSettings settings(kProgramFolder);
        EXPECT_TRUE(settings.IsTampered());
    }
    const NRVCMUSettings settings(kProgramFolder);
    EXPECT_FALSE(settings.IsTampered());
    EXPECT_FALSE(settings.IsAutoLogout());
    EXPECT_EQ(8, settings.GetUserPINMaxLength());
}

class SettingsRegistryTest : public SettingsTest {
protected:
    void CreateSdkKey(Registry::View view)
    {
        Registry::Key key;
        ASSERT_EQ(Registry::Success, Registry::Key::Create(Registry::Hive::LocalMachine, kSdk, view, key));
    }
};

TEST_F(SettingsRegistryTest, PinCacheGoesToEachViewThatHasTheKeyAsTextWithoutNul)
{
    NRVCMUSettings settings(kProgramFolder);
    settings.ApplyPINCache(true);
    uint32_t type = 0;
    EXPECT_TRUE(RegistryBytes(Registry::View::Wow64, kSdk, "PINCACHE", type).empty())
        << "no key, nothing written";

    CreateSdkKey(Registry::View::Wow64);
    settings.ApplyPINCache(true);
    EXPECT_EQ(Utf16NoNul("00000001"), RegistryBytes(Registry::View::Wow64, kSdk, "PINCACHE", type));
    EXPECT_EQ(Registry::TypeString, type);
    EXPECT_TRUE(RegistryBytes(Registry::View::Wow32, kSdk, "PINCACHE", type).empty())
        << "the 32-bit view is skipped";

    CreateSdkKey(Registry::View::Wow32);
    settings.ApplyPINCache(false);
    for (const Registry::View view : { Registry::View::Wow32, Registry::View::Wow64 }) {
        const std::vector<uint8_t> data = RegistryBytes(view, kSdk, "PINCACHE", type);
        EXPECT_EQ(16u, data.size());
        EXPECT_EQ(Utf16NoNul("00000000"), data);
    }
}

TEST_F(SettingsRegistryTest, LaunchAtStartupSetsTheQuotedLauncherPathOrAnEmptyText)
{
    NRVCMUSettings settings(kProgramFolder);
    const char* run = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Run";
    uint32_t type = 0;
    settings.ApplyLaunchAtStartup(true);
    EXPECT_EQ(Utf16NoNul("\"/opt/vela5/bin/PavixManagerLauncher\""),
        RegistryBytes(Registry::View::Native, run, "NRV Certificate Management Tool", type));
    settings.ApplyLaunchAtStartup(false);
    Registry::Key key;
    ASSERT_EQ(Registry::Success,
        Registry::Key::Open(
            Registry::Hive::LocalMachine, run, Registry::Access::Read, Registry::View::Native, key));
    uint32_t size = 99;
    EXPECT_EQ(Registry::Success, key.QueryValue("NRV Certificate Management Tool", &type, nullptr, &size))
        << "disabling keeps the value";
    EXPECT_EQ(0u, size);
    EXPECT_EQ(Registry::TypeString, type);
}

TEST_F(SettingsRegistryTest, LoggingUsesX86SettingsFor32BitViewAndResetsDisabledLocations)
{
    CreateSdkKey(Registry::View::Wow32);
    CreateSdkKey(Registry::View::Wow64);
    {
        NRVCMUSettings settings(kProgramFolder);
        settings.SetIsKSPx86LogEnabled(true);
        settings.SetKSPx86LogLocation("/var/log/ksp32.log");
        settings.SetIsKSPx64LogEnabled(false);
        settings.SetKSPx64LogLocation("/var/log/ksp64.log");
        settings.SetIsPKCS11x64LogEnabled(true);
        settings.SaveHash();

        settings.ApplyLogging(1);
        settings.ApplyLogging(2);
        uint32_t type = 0;
        EXPECT_EQ(Utf16NoNul("00000001"), RegistryBytes(Registry::View::Wow32, kSdk, "KSPLOG", type));
        EXPECT_EQ(
            Utf16NoNul("/var/log/ksp32.log"), RegistryBytes(Registry::View::Wow32, kSdk, "KSPDIR", type));
        EXPECT_EQ(Utf16NoNul("00000000"), RegistryBytes(Registry::View::Wow64, kSdk, "KSPLOG", type));
        EXPECT_EQ(Utf16NoNul(kLogFolder + "KSP_x64.LOG"),
            RegistryBytes(Registry::View::Wow64, kSdk, "KSPDIR", type));
        EXPECT_EQ(kLogFolder + "KSP_x64.LOG", settings.GetKSPx64LogLocation().utf8_string());
        EXPECT_EQ(Utf16NoNul("00000000"), RegistryBytes(Registry::View::Wow32, kSdk, "PKCLOG", type));
        EXPECT_EQ(Utf16NoNul("00000001"), RegistryBytes(Registry::View::Wow64, kSdk, "PKCLOG", type));
        EXPECT_EQ(Utf16NoNul(kLogFolder + "PKCS_x64.LOG"),
            RegistryBytes(Registry::View::Wow64, kSdk, "PKCDIR", type));
        EXPECT_TRUE(RegistryBytes(Registry::View::Wow64, kSdk, "CSPLOG", type).empty());
        settings.ApplyLogging(3);
    }
    // The reset location was stored with its digest: no rejection after an abnormal exit.
    const NRVCMUSettings restarted(kProgramFolder);
    EXPECT_FALSE(restarted.IsTampered());
    EXPECT_EQ(kLogFolder + "KSP_x64.LOG", restarted.GetKSPx64LogLocation().utf8_string());
    EXPECT_EQ("/var/log/ksp32.log", restarted.GetKSPx86LogLocation());
}

} // namespace
