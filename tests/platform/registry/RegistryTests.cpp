// The registry layer: exact value bytes and lengths, the two HKLM views,
// refused changes, damaged hive files, and writers in several processes.
#include "platform/registry/Registry.h"
#include "tests/support/ScopedTestRoot.h"

#include <fstream>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

using namespace vela5::platform;

namespace {

constexpr const char* kSdk = "Software\\Nurvon Ltd.\\VELA5 SDK";

std::vector<uint8_t> RawValue(const Registry::Key& key, const std::string& name, uint32_t& type)
{
    uint32_t size = 0;
    EXPECT_EQ(Registry::Success, key.QueryValue(name, &type, nullptr, &size));
    std::vector<uint8_t> data(size);
    EXPECT_EQ(Registry::Success, key.QueryValue(name, &type, data.data(), &size));
    return data;
}

class RegistryTest : public testing::Test {
protected:
    ScopedTestRoot m_root;
};

TEST_F(RegistryTest, ValuesKeepTheirTypeAndExactByteLength)
{
    Registry::Key key;
    ASSERT_EQ(Registry::Success,
        Registry::Key::Create(Registry::Hive::LocalMachine, kSdk, Registry::View::Native, key));
    ASSERT_EQ(Registry::Success, key.SetString("PINCACHE", "00000001", false));
    ASSERT_EQ(Registry::Success, key.SetString("KSPDIR", "C:\\Logs\\KSP.LOG"));
    ASSERT_EQ(Registry::Success, key.SetDWord("dwUseProviderCache", 0x01020304));
    ASSERT_EQ(Registry::Success, key.SetMultiString("Readers", { "A", "Ω" }));

    Registry::Key reader;
    ASSERT_EQ(Registry::Success,
        Registry::Key::Open(
            Registry::Hive::LocalMachine, kSdk, Registry::Access::Read, Registry::View::Native, reader));
    uint32_t type = 0;
    std::vector<uint8_t> data = RawValue(reader, "PINCACHE", type);
    EXPECT_EQ(Registry::TypeString, type);
    EXPECT_EQ(16u, data.size()) << "a text stored without its NUL must not gain one";
    EXPECT_EQ(Registry::ToUtf16Le("00000001"), data);

    data = RawValue(reader, "KSPDIR", type);
    EXPECT_EQ(2 * (std::string("C:\\Logs\\KSP.LOG").size() + 1), data.size());

    data = RawValue(reader, "dwUseProviderCache", type);
    EXPECT_EQ(Registry::TypeDWord, type);
    EXPECT_EQ((std::vector<uint8_t> { 4, 3, 2, 1 }), data);

    data = RawValue(reader, "Readers", type);
    EXPECT_EQ(Registry::TypeMultiString, type);
    EXPECT_EQ((std::vector<uint8_t> { 'A', 0, 0, 0, 0xA9, 0x03, 0, 0, 0, 0 }), data);

    std::string text;
    EXPECT_EQ(Registry::Success, reader.GetString("pincache", text)) << "value names ignore case";
    EXPECT_EQ("00000001", text);
    uint32_t number = 0;
    EXPECT_EQ(Registry::Success, reader.GetDWord("DWUSEPROVIDERCACHE", number));
    EXPECT_EQ(0x01020304u, number);
    std::vector<std::string> texts;
    EXPECT_EQ(Registry::Success, reader.GetMultiString("Readers", texts));
    EXPECT_EQ((std::vector<std::string> { "A", "Ω" }), texts);
    EXPECT_EQ(Registry::InvalidParameter, reader.GetDWord("PINCACHE", number)) << "type mismatch";
}

TEST_F(RegistryTest, QueryFollowsTheWindowsBufferContract)
{
    Registry::Key key;
    ASSERT_EQ(Registry::Success,
        Registry::Key::Create(Registry::Hive::CurrentUser, "Software\\T", Registry::View::Native, key));
    ASSERT_EQ(Registry::Success, key.SetString("V", "abc"));
    uint8_t buffer[4] = {};
    uint32_t size = sizeof buffer;
    EXPECT_EQ(Registry::MoreData, key.QueryValue("V", nullptr, buffer, &size));
    EXPECT_EQ(8u, size);
    EXPECT_EQ(Registry::InvalidParameter, key.QueryValue("V", nullptr, buffer, nullptr));
    EXPECT_EQ(Registry::NotFound, key.QueryValue("missing", nullptr, nullptr, &size));
    EXPECT_EQ(Registry::Success, key.DeleteValue("v"));
    EXPECT_EQ(Registry::NotFound, key.QueryValue("V", nullptr, nullptr, &size));
    EXPECT_EQ(Registry::NotFound, key.DeleteValue("V"));
}

TEST_F(RegistryTest, ThirtyTwoBitViewOfSoftwareIsSeparate)
{
    Registry::Key key32;
    Registry::Key key64;
    ASSERT_EQ(Registry::Success,
        Registry::Key::Create(Registry::Hive::LocalMachine, kSdk, Registry::View::Wow32, key32));
    ASSERT_EQ(Registry::Success,
        Registry::Key::Create(Registry::Hive::LocalMachine, kSdk, Registry::View::Wow64, key64));
    EXPECT_EQ("Software\\WOW6432Node\\Nurvon Ltd.\\VELA5 SDK", key32.Path());
    EXPECT_EQ(kSdk, key64.Path());
    ASSERT_EQ(Registry::Success, key32.SetString("KSPLOG", "00000001", false));
    ASSERT_EQ(Registry::Success, key64.SetString("KSPLOG", "00000000", false));

    std::string value;
    Registry::Key native;
    ASSERT_EQ(Registry::Success,
        Registry::Key::Open(
            Registry::Hive::LocalMachine, kSdk, Registry::Access::Read, Registry::View::Native, native));
    EXPECT_EQ(Registry::Success, native.GetString("KSPLOG", value));
    EXPECT_EQ("00000000", value) << "the native view of a 64-bit machine is the 64-bit view";
    EXPECT_EQ(Registry::Success, key32.GetString("KSPLOG", value));
    EXPECT_EQ("00000001", value);

    // Only HKLM\Software is split; HKCU is the same in both views.
    Registry::Key user;
    ASSERT_EQ(Registry::Success,
        Registry::Key::Create(Registry::Hive::CurrentUser, kSdk, Registry::View::Wow32, user));
    EXPECT_EQ(kSdk, user.Path());
}

TEST_F(RegistryTest, OpeningForChangesFailsWithoutKeyOrRight)
{
    Registry::Key key;
    // Keys every Windows has exist on a fresh machine root, in both views.
    for (const Registry::View view : { Registry::View::Wow32, Registry::View::Wow64 }) {
        EXPECT_EQ(Registry::Success,
            Registry::Key::Open(Registry::Hive::LocalMachine,
                "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Run", Registry::Access::Write, view, key));
    }
    EXPECT_EQ(Registry::NotFound,
        Registry::Key::Open(
            Registry::Hive::LocalMachine, kSdk, Registry::Access::Write, Registry::View::Native, key));
    EXPECT_FALSE(key.IsOpen());
    ASSERT_EQ(Registry::Success,
        Registry::Key::Create(Registry::Hive::LocalMachine, kSdk, Registry::View::Native, key));

    Registry::Key readOnly;
    ASSERT_EQ(Registry::Success,
        Registry::Key::Open(
            Registry::Hive::LocalMachine, kSdk, Registry::Access::Read, Registry::View::Native, readOnly));
    EXPECT_EQ(Registry::AccessDenied, readOnly.SetString("A", "x"))
        << "a key opened for reading refuses changes";

    const std::filesystem::path file = Registry::StoreFolder() / "HKLM.reg";
    ASSERT_EQ(0, ::chmod(file.c_str(), 0444));
    Registry::Key writer;
    EXPECT_EQ(Registry::AccessDenied,
        Registry::Key::Open(
            Registry::Hive::LocalMachine, kSdk, Registry::Access::Write, Registry::View::Native, writer));
    EXPECT_EQ(Registry::AccessDenied, key.SetString("A", "x")) << "an already open key is refused too";
    ASSERT_EQ(0, ::chmod(file.c_str(), 0644));

    ASSERT_EQ(0, ::chmod(Registry::StoreFolder().c_str(), 0555));
    EXPECT_EQ(Registry::AccessDenied,
        Registry::Key::Open(
            Registry::Hive::LocalMachine, kSdk, Registry::Access::Write, Registry::View::Native, writer));
    EXPECT_EQ(Registry::AccessDenied,
        Registry::Key::Create(Registry::Hive::CurrentUser, "Software\\X", Registry::View::Native, writer));
    ASSERT_EQ(0, ::chmod(Registry::StoreFolder().c_str(), 0755));
    EXPECT_EQ(Registry::Success,
        Registry::Key::Open(
            Registry::Hive::LocalMachine, kSdk, Registry::Access::Write, Registry::View::Native, writer));
}

TEST_F(RegistryTest, DamagedHiveFilesReadAsMissingValues)
{
    Registry::Key key;
    ASSERT_EQ(Registry::Success,
        Registry::Key::Create(Registry::Hive::LocalMachine, kSdk, Registry::View::Native, key));
    ASSERT_EQ(Registry::Success, key.SetString("First", "one"));
    ASSERT_EQ(Registry::Success, key.SetString("Second", "two"));
    const std::filesystem::path file = Registry::StoreFolder() / "HKLM.reg";

    // Cut in the middle of the last value's data: that value is lost, the rest reads.
    std::string content;
    {
        std::ifstream in(file, std::ios::binary);
        content.assign(std::istreambuf_iterator<char>(in), {});
    }
    {
        std::ofstream out(file, std::ios::binary | std::ios::trunc);
        out << content.substr(0, content.size() - 5);
    }
    std::string value;
    EXPECT_EQ(Registry::Success, key.GetString("First", value));
    EXPECT_EQ("one", value);
    EXPECT_EQ(Registry::NotFound, key.GetString("Second", value));

    const std::vector<std::string> damaged = { std::string("\0\x01\xff\xfe garbage\n\tV\t%", 17),
        "VELA5 registry 1\nV\tName\t1\t6100\nK\t%zz\nK\tSoftware\nV\tA\tnot-a-number\t00\nV\tB\t1\t6", "" };
    for (const std::string& bytes : damaged) {
        {
            std::ofstream out(file, std::ios::binary | std::ios::trunc);
            out << bytes;
        }
        EXPECT_EQ(Registry::NotFound, key.GetString("First", value));
        Registry::Key probe;
        EXPECT_EQ(Registry::NotFound,
            Registry::Key::Open(
                Registry::Hive::LocalMachine, kSdk, Registry::Access::Read, Registry::View::Native, probe));
        // Writing over a damaged hive starts it afresh.
        Registry::Key fresh;
        ASSERT_EQ(Registry::Success,
            Registry::Key::Create(Registry::Hive::LocalMachine, kSdk, Registry::View::Native, fresh));
        ASSERT_EQ(Registry::Success, fresh.SetString("Third", "three"));
        EXPECT_EQ(Registry::Success, fresh.GetString("Third", value));
    }
}

TEST_F(RegistryTest, DeleteTreeRemovesSubkeysAndEnumerationListsChildren)
{
    Registry::Key key;
    ASSERT_EQ(Registry::Success,
        Registry::Key::Create(Registry::Hive::CurrentUser, "Software\\A\\B\\C", Registry::View::Native, key));
    ASSERT_EQ(Registry::Success,
        Registry::Key::Create(Registry::Hive::CurrentUser, "Software\\A\\D", Registry::View::Native, key));
    ASSERT_EQ(Registry::Success,
        Registry::Key::Create(Registry::Hive::CurrentUser, "Software\\AB", Registry::View::Native, key));
    Registry::Key parent;
    ASSERT_EQ(Registry::Success,
        Registry::Key::Open(Registry::Hive::CurrentUser, "software\\a", Registry::Access::Read,
            Registry::View::Native, parent));
    std::vector<std::string> names;
    ASSERT_EQ(Registry::Success, parent.EnumSubKeyNames(names));
    EXPECT_EQ((std::vector<std::string> { "B", "D" }), names);

    EXPECT_EQ(Registry::Success,
        Registry::Key::DeleteTree(Registry::Hive::CurrentUser, "Software\\A", Registry::View::Native));
    EXPECT_EQ(Registry::NotFound,
        Registry::Key::Open(Registry::Hive::CurrentUser, "Software\\A\\B\\C", Registry::Access::Read,
            Registry::View::Native, key));
    EXPECT_EQ(Registry::Success,
        Registry::Key::Open(
            Registry::Hive::CurrentUser, "Software\\AB", Registry::Access::Read, Registry::View::Native, key))
        << "a sibling sharing the name's start survives";
    EXPECT_EQ(Registry::NotFound,
        Registry::Key::DeleteTree(Registry::Hive::CurrentUser, "Software\\A", Registry::View::Native));
}

TEST_F(RegistryTest, WritersInSeveralProcessesLoseNothingAndReadersSeeWholeValues)
{
    Registry::Key key;
    ASSERT_EQ(Registry::Success,
        Registry::Key::Create(Registry::Hive::CurrentUser, "Software\\Race", Registry::View::Native, key));
    const std::string big(4000, 'x');
    constexpr int kWriters = 4;
    constexpr int kValuesEach = 20;
    std::vector<pid_t> children;
    for (int writer = 0; writer < kWriters; ++writer) {
        const pid_t pid = ::fork();
        ASSERT_GE(pid, 0);
        if (pid == 0) {
            Registry::Key own;
            int failures = Registry::Key::Open(Registry::Hive::CurrentUser, "Software\\Race",
                               Registry::Access::Write, Registry::View::Native, own)
                != Registry::Success;
            for (int i = 0; i < kValuesEach; ++i) {
                const std::string name = "w" + std::to_string(writer) + "-" + std::to_string(i);
                failures += own.SetString(name, big) != Registry::Success;
            }
            ::_exit(failures == 0 ? 0 : 1);
        }
        children.push_back(pid);
    }
    // While the writers run, every value that is there is whole.
    int partial = 0;
    for (int round = 0; round < 50; ++round) {
        std::vector<std::string> names;
        if (key.EnumValueNames(names) != Registry::Success) {
            ++partial;
            continue;
        }
        for (const std::string& name : names) {
            std::string value;
            if (key.GetString(name, value) == Registry::Success && value != big) {
                ++partial;
            }
        }
    }
    for (const pid_t pid : children) {
        int status = 0;
        ASSERT_EQ(pid, ::waitpid(pid, &status, 0));
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    }
    EXPECT_EQ(0, partial);
    std::vector<std::string> names;
    ASSERT_EQ(Registry::Success, key.EnumValueNames(names));
    EXPECT_EQ(static_cast<size_t>(kWriters * kValuesEach), names.size());
}

TEST(RegistryStore, FolderFollowsTheMachineRoot)
{
    const ScopedTestRoot root;
    EXPECT_EQ(root.Root() / "registry", Registry::StoreFolder());
}

TEST(RegistryText, Utf16ConversionRoundTripsAndReplacesInvalidInput)
{
    const std::string text = "a\xC3\xA9\xE2\x82\xAC\xF0\x9F\x94\x91";
    const std::vector<uint8_t> utf16 = Registry::ToUtf16Le(text);
    EXPECT_EQ(10u, utf16.size()) << "the key emoji needs a surrogate pair";
    EXPECT_EQ(text, Registry::FromUtf16Le(utf16.data(), utf16.size()));
    EXPECT_EQ(Registry::ToUtf16Le("\xEF\xBF\xBD"), Registry::ToUtf16Le("\xC3"));
    const uint8_t lone[] = { 0x00, 0xD8 };
    EXPECT_EQ("\xEF\xBF\xBD", Registry::FromUtf16Le(lone, sizeof lone));
}

} // namespace
