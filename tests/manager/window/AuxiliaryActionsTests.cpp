// The main window's auxiliary duties in plain code: the report's tab rule,
// header and failed writes, the autostart entry, the flag word's value rules
// and the tray's rules.
#include "certprop/AgentNames.h"
#include "manager/core/AutostartEntry.h"
#include "manager/core/NRVCMUSettings.h"
#include "manager/host/CertPropControl.h"
#include "manager/window/MySystemTrayIcon.h"
#include "manager/window/SaveDetailsReport.h"
#include "platform/shared_word/SharedWord.h"
#include "tests/support/ScopedTestRoot.h"

#include <cerrno>
#include <fstream>
#include <gtest/gtest.h>
#include <sstream>
#include <sys/stat.h>
#include <unistd.h>

using namespace vela5::platform;

namespace {

std::string ReadAll(const std::filesystem::path& file)
{
    std::ifstream in(file, std::ios::binary);
    std::ostringstream out;
    out << in.rdbuf();
    return out.str();
}

} // namespace

TEST(SaveDetailsReportTests, LabelsAreFollowedByTabsByTheirLengthInCharacters)
{
    struct Case {
        const char* label;
        const char* tabs;
    };
    const Case cases[] = {
        { "", "\t\t\t" },
        { "Model", "\t\t\t" },
        { "Firmware", "\t\t\t" }, // 8
        { "Max PIN L", "\t\t" }, // 9
        { "Token Label", "\t\t" }, // 11
        { "Manufacturer ID", "\t\t" }, // 15
        { "Slot Description", "\t" }, // 16
        { "Total Private Memory Space", "\t" },
        // Eight letters in sixteen bytes: counted as characters.
        { "\xd0\x9e\xd0\xbf\xd0\xb8\xd1\x81\xd0\xb0\xd0\xbd\xd0\xb8\xd0\xb5", "\t\t\t" },
    };
    for (const Case& test : cases) {
        EXPECT_EQ(SaveDetailsReport::TabsAfterLabel(wxString::FromUTF8(test.label)), test.tabs) << test.label;
    }
}

TEST(SaveDetailsReportTests, ReportHasTheFramedHeaderAndOneCrlfLinePerRowInUtf8)
{
    const std::vector<SaveDetailsReport::Row> rows {
        { "Slot Description", "Reader A" },
        { "Token Label", wxString::FromUTF8("\xd0\xa2\xd0\xbe\xd0\xba\xd0\xb5\xd0\xbd") },
        { "Model", "VELA5-64" },
    };
    const std::string report = SaveDetailsReport::Format(rows, "Pavix Manager", "12/09/26 03:00:00");
    const std::string rule = "========================================================\r\n";
    EXPECT_EQ(report,
        rule + "Pavix Manager Log created at 12/09/26 03:00:00\r\n" + rule + "\r\n"
            + "Slot Description\tReader A\r\n" + "Token Label\t\t\xd0\xa2\xd0\xbe\xd0\xba\xd0\xb5\xd0\xbd\r\n"
            + "Model\t\t\tVELA5-64\r\n");
}

TEST(SaveDetailsReportTests, WriteReplacesAWholeLongerFile)
{
    const ScopedTestRoot root;
    const std::filesystem::path file = root.Temp() / "details.txt";
    std::ofstream(file) << std::string(500, 'x');
    ASSERT_EQ(SaveDetailsReport::Write(file, "short\r\n"), 0);
    EXPECT_EQ(ReadAll(file), "short\r\n");
}

TEST(SaveDetailsReportTests, FailedCreationOrWriteGivesTheSystemsReason)
{
    const ScopedTestRoot root;
    const std::filesystem::path readOnly = root.Temp() / "read-only.txt";
    std::ofstream(readOnly) << "kept";
    std::filesystem::permissions(readOnly, std::filesystem::perms::owner_read);
    struct Case {
        std::filesystem::path file;
        int error;
    };
    std::vector<Case> cases {
        { root.Temp() / "missing" / "details.txt", ENOENT },
        { root.Temp(), EISDIR },
        // The device that is always full: the file opens, the write fails.
        { "/dev/full", ENOSPC },
    };
    if (::geteuid() != 0) {
        cases.push_back({ readOnly, EACCES });
    }
    for (const Case& test : cases) {
        EXPECT_EQ(SaveDetailsReport::Write(test.file, "report\r\n"), test.error) << test.file;
    }
    // A refused file keeps what it held.
    EXPECT_EQ(ReadAll(readOnly), "kept");
}

TEST(AutostartEntryTests, ExecValueQuotesThePathAsDesktopEntriesRequire)
{
    struct Case {
        const char* program;
        const char* exec;
    };
    const Case cases[] = {
        { "/usr/lib/vela5/PavixManagerLauncher", R"("/usr/lib/vela5/PavixManagerLauncher")" },
        { "/opt/my kit/PavixManagerLauncher", R"("/opt/my kit/PavixManagerLauncher")" },
        { "/opt/a\"b/L", R"("/opt/a\\"b/L")" },
        { "/opt/$HOME/L", R"("/opt/\\$HOME/L")" },
        { "/opt/`x`/L", R"("/opt/\\`x\\`/L")" },
        { "/opt/a\\b/L", R"("/opt/a\\\\b/L")" },
        { "/opt/100%/L", R"("/opt/100%%/L")" },
    };
    for (const Case& test : cases) {
        EXPECT_EQ(AutostartEntry::ExecValue(test.program), test.exec) << test.program;
    }
}

TEST(AutostartEntryTests, FolderFollowsAnAbsoluteXdgConfigHomeElseHome)
{
    const ScopedTestRoot root;
    EXPECT_EQ(AutostartEntry::File(), root.Config() / "autostart" / "PavixManagerLauncher.desktop");
    const std::string home = std::getenv("HOME") != nullptr ? std::getenv("HOME") : "";
    setenv("XDG_CONFIG_HOME", "relative/config", 1);
    if (!home.empty() && home[0] == '/') {
        EXPECT_EQ(AutostartEntry::Folder(), std::filesystem::path(home) / ".config" / "autostart");
    }
}

TEST(AutostartEntryTests, LaunchAtStartupCreatesAndRemovesTheEntry)
{
    const ScopedTestRoot root;
    const std::filesystem::path programFolder = root.Base() / "program folder";
    std::filesystem::create_directories(programFolder);
    NRVCMUSettings settings(wxString::FromUTF8(programFolder.string()));
    ASSERT_FALSE(settings.IsTampered());
    const std::filesystem::path entry = root.Config() / "autostart" / "PavixManagerLauncher.desktop";

    settings.ApplyLaunchAtStartup(true);
    ASSERT_TRUE(std::filesystem::exists(entry));
    const std::string text = ReadAll(entry);
    EXPECT_EQ(text.rfind("[Desktop Entry]\n", 0), 0u) << text;
    EXPECT_NE(text.find("Type=Application\n"), std::string::npos) << text;
    EXPECT_NE(text.find("\nExec=\"" + (programFolder / "PavixManagerLauncher").string() + "\"\n"),
        std::string::npos)
        << text;

    // Turned on again, it stays one entry.
    settings.ApplyLaunchAtStartup(true);
    EXPECT_EQ(ReadAll(entry), text);

    settings.ApplyLaunchAtStartup(false);
    EXPECT_FALSE(std::filesystem::exists(entry));
    // Off twice is not an error and creates nothing.
    settings.ApplyLaunchAtStartup(false);
    EXPECT_FALSE(std::filesystem::exists(entry));
}

class CertPropFlagTests : public testing::Test {
protected:
    ScopedTestRoot m_root;
};

TEST_F(CertPropFlagTests, WithoutAnAgentsWordNothingIsWrittenAndTheAbsenceIsReturned)
{
    EXPECT_EQ(CertPropControl::SetCertPropFlag(CertPropControl::kFlagStop), SharedWord::NotFound);
    EXPECT_FALSE(CertPropControl::IsAgentRunning());
}

TEST_F(CertPropFlagTests, EachValueReplacesOnlyItsOwnHalfAndOthersAreRefused)
{
    struct Case {
        uint32_t before;
        uint32_t value;
        long result;
        uint32_t after;
    };
    const Case cases[] = {
        // Commands: the high half changes, the agent's acknowledgement stays.
        { 0x10000001, 0x11000000, 0, 0x11000001 },
        { 0x10010001, 0x10000000, 0, 0x10000001 },
        { 0x10000000, 0x10010000, 0, 0x10010000 },
        { 0x11000011, 0x10010000, 0, 0x10010011 },
        // Acknowledgements: the low half is replaced, not ORed into.
        { 0x10010011, 0x00000001, 0, 0x10010001 },
        { 0x10010001, 0x00000011, 0, 0x10010011 },
        // Anything else writes nothing.
        { 0x10000001, 0x00000000, 87, 0x10000001 },
        { 0x10000001, 0x00000002, 87, 0x10000001 },
        { 0x10000001, 0x00001000, 87, 0x10000001 },
        { 0x10000001, 0x11000001, 87, 0x10000001 },
        { 0x10000001, 0x12000000, 87, 0x10000001 },
        { 0x10000001, 0x10020000, 87, 0x10000001 },
        { 0x10000001, 0xFFFFFFFF, 87, 0x10000001 },
    };
    for (const Case& test : cases) {
        SharedWord::Word word;
        ASSERT_EQ(SharedWord::Word::Create(CertProp::kFlagName, test.before, word), SharedWord::Success);
        EXPECT_EQ(CertPropControl::SetCertPropFlag(test.value), test.result) << std::hex << test.value;
        EXPECT_EQ(word.Read(), test.after) << std::hex << test.before << " <- " << test.value;
    }
}

TEST(CertPropLaunchTests, AgentIsStartedFromTheProgramsFolderWithNremoveOnlyWhenRemovalIsOff)
{
    EXPECT_EQ(CertPropControl::AgentPath("/opt/kit dir"), "/opt/kit dir/VELA5 CertProp Svc");
    EXPECT_TRUE(CertPropControl::AgentArguments(true).empty());
    EXPECT_EQ(CertPropControl::AgentArguments(false), std::vector<std::string> { "NREMOVE" });
}

TEST(CertPropLaunchTests, AFailedStartIsLoggedAndLeavesNoRecord)
{
    const ScopedTestRoot root;
    CertPropControl::AgentRecord record;
    EXPECT_EQ(record.Run(wxString::FromUTF8(root.Base().string()), true), Process::kErrorFileNotFound);
    EXPECT_FALSE(record.HasStarted());
    EXPECT_FALSE(record.IsRunning());
    EXPECT_TRUE(record.WaitForExit(std::chrono::milliseconds(0)));
}

TEST(TrayRulesTests, RestoreIsOfferedOnlyWhileTheWindowIsOutOfSight)
{
    struct Case {
        bool shown;
        bool minimized;
        bool restore;
    };
    const Case cases[] = {
        { true, false, false },
        { true, true, true },
        { false, false, true },
        { false, true, true },
    };
    for (const Case& test : cases) {
        EXPECT_EQ(MySystemTrayIcon::IsRestoreEnabled(test.shown, test.minimized), test.restore)
            << test.shown << test.minimized;
    }
}

TEST(TrayRulesTests, MinimizingHidesOnlyWithTheSettingAndATrayHost)
{
    struct Case {
        bool minimized;
        bool toTray;
        bool trayHost;
        bool hide;
    };
    const Case cases[] = {
        { true, true, true, true },
        { true, true, false, false },
        { true, false, true, false },
        { false, true, true, false },
        { false, false, false, false },
    };
    for (const Case& test : cases) {
        EXPECT_EQ(
            MySystemTrayIcon::ShouldHideOnMinimize(test.minimized, test.toTray, test.trayHost), test.hide)
            << test.minimized << test.toTray << test.trayHost;
    }
}
