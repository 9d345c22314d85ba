// The provider's plain parts: result mapping, the log writer's switch and
// line formats, and the provider cache.
#include "ksp/DebugClass.h"
#include "ksp/ProviderCache.h"
#include "ksp/ResultCodes.h"
#include "platform/registry/Registry.h"
#include "tests/support/ScopedTestRoot.h"

#include <fstream>
#include <gtest/gtest.h>
#include <iterator>
#include <vector>

using namespace vela5::platform;

TEST(MapCryptokiResultTest, EveryListedResultAndTheRest)
{
    const std::vector<std::pair<CK_RV, SECURITY_STATUS>> table = {
        { 0x0, ERROR_SUCCESS },
        { 0x1, ERROR_CANCELLED },
        { 0x2, NTE_NO_MEMORY },
        { 0x31, NTE_NO_MEMORY },
        { 0x3, NTE_INVALID_PARAMETER },
        { 0x12, NTE_INVALID_PARAMETER },
        { 0x13, NTE_INVALID_PARAMETER },
        { 0x20, NTE_INVALID_PARAMETER },
        { 0x21, NTE_INVALID_PARAMETER },
        { 0x70, NTE_INVALID_PARAMETER },
        { 0x71, NTE_INVALID_PARAMETER },
        { 0xA1, NTE_INVALID_PARAMETER },
        { 0xA2, NTE_INVALID_PARAMETER },
        { 0xD0, NTE_INVALID_PARAMETER },
        { 0xD1, NTE_INVALID_PARAMETER },
        { 0x6, ERROR_FUNCTION_FAILED },
        { 0x7, ERROR_BAD_ARGUMENTS },
        { 0x10, NTE_PERM },
        { 0x11, NTE_PERM },
        { 0x101, NTE_PERM },
        { 0x30, NTE_INTERNAL_ERROR },
        { 0x54, NTE_NOT_SUPPORTED },
        { 0x60, NTE_INVALID_HANDLE },
        { 0x82, NTE_INVALID_HANDLE },
        { 0xB3, NTE_INVALID_HANDLE },
        { 0xA0, ERROR_LOGON_FAILURE },
        { 0xA4, ERROR_ACCOUNT_DISABLED },
        { 0x5, NTE_FAIL },
        { 0x191, NTE_FAIL },
        { 0xFFFFFFFF, NTE_FAIL },
    };
    for (const auto& [rv, expected] : table) {
        EXPECT_EQ(MapCryptokiResult(rv), expected) << std::hex << rv;
    }
    EXPECT_EQ(ERROR_FUNCTION_FAILED, 1627);
    EXPECT_EQ(ERROR_LOGON_FAILURE, 1326);
}

TEST(MapNtStatusTest, EveryListedStatusAndTheRest)
{
    const std::vector<std::pair<uint32_t, uint32_t>> table = {
        { 0, 0 },
        { 0xC0000008, 0x80090026 },
        { 0xC000000D, 0x80090027 },
        { 0xC0000017, 0x8009000E },
        { 0xC000009A, 0x8009000E },
        { 0xC0000023, 0x80090028 },
        { 0xC00000BB, 0x80090029 },
        { 0xC000A000, 0x80090006 },
        { 0xC0000001, 0x8009002D },
        { 1, 0x8009002D },
    };
    for (const auto& [status, expected] : table) {
        EXPECT_EQ(static_cast<uint32_t>(MapNtStatus(static_cast<NTSTATUS>(status))), expected)
            << std::hex << status;
    }
}

TEST(CngWidthsTest, ContractSizesHold)
{
    static_assert(
        sizeof(WCHAR) == 2 && sizeof(DWORD) == 4 && sizeof(ULONG) == 4 && sizeof(SECURITY_STATUS) == 4);
    // 26 entry points and the 4-byte version, padded to pointer alignment.
    EXPECT_EQ(sizeof(NCRYPT_KEY_STORAGE_FUNCTION_TABLE), 8 + 26 * sizeof(void*));
    EXPECT_EQ(sizeof(u"Nurvon KSP v1.0"), 32U); // (15 + 1) x 2
}

class DebugClassTest : public testing::Test {
protected:
    void SetLog(const char* kspLog, bool withDir)
    {
        Registry::Key key;
        ASSERT_EQ(Registry::Key::Create(Registry::Hive::LocalMachine, "Software\\Nurvon Ltd.\\VELA5 SDK",
                      Registry::View::Native, key),
            Registry::Success);
        if (kspLog != nullptr) {
            ASSERT_EQ(key.SetString("KSPLOG", kspLog), Registry::Success);
        } else {
            ASSERT_EQ(key.SetDWord("KSPLOG", 1), Registry::Success);
        }
        if (withDir) {
            ASSERT_EQ(key.SetString("KSPDIR", Path()), Registry::Success);
        }
    }
    std::string Path() const { return (m_root.Temp() / "debug.log").string(); }
    std::string Log() const
    {
        std::ifstream in(Path(), std::ios::binary);
        return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    }

    ScopedTestRoot m_root;
};

TEST_F(DebugClassTest, FileLoggingFollowsTheSwitch)
{
    const struct {
        const char* kspLog;
        bool withDir;
        bool on;
    } cases[] = {
        { "00000000", true, false }, { "00000001", true, true }, { "yes", true, true },
        { "00000001", false, false }, { nullptr, true, false }, // REG_DWORD
    };
    for (const auto& c : cases) {
        SetLog(c.kspLog, c.withDir);
        const DebugClass log(false);
        EXPECT_EQ(log.FileLogging(), c.on) << (c.kspLog ? c.kspLog : "REG_DWORD") << " " << c.withDir;
        Registry::Key::DeleteTree(
            Registry::Hive::LocalMachine, "Software\\Nurvon Ltd.\\VELA5 SDK", Registry::View::Native);
    }
}

TEST_F(DebugClassTest, BannerAndLineFormats)
{
    SetLog("00000001", true);
    const DebugClass log(true);
    std::vector<unsigned char> bytes(600);
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        bytes[i] = static_cast<unsigned char>(i);
    }
    log.WriteDump("dump: ", bytes.data(), bytes.size());
    log.WriteDump("empty: ", bytes.data(), 0);
    log.WriteHex("handle: ", 0x123456789ABCDEF0ULL);
    log.WriteInt("count = ", -5);
    log.WriteWide("name: ", u"Nurvon KSP v1.0");
    const std::string text = Log();
    EXPECT_EQ(
        text.rfind("\n\n****************************************************************** LOG START - ", 0),
        0U);
    std::string dump = "dump: ";
    for (int i = 0; i < 500; ++i) {
        char hex[4];
        std::snprintf(hex, sizeof hex, "%02X ", i & 0xFF);
        dump += hex;
    }
    EXPECT_NE(text.find("\n" + dump + "\n"), std::string::npos);
    EXPECT_NE(text.find("\nempty: NULL\n"), std::string::npos);
    EXPECT_NE(text.find("\nhandle: 0x9ABCDEF0\n"), std::string::npos);
    EXPECT_NE(text.find("\ncount = -5\n"), std::string::npos);
    EXPECT_NE(text.find("\nname: Nurvon KSP v1.0\n"), std::string::npos);
}

TEST(ProviderCacheTest, KeepsItsOwnCopyOfTheReader)
{
    ProviderCache cache;
    std::u16string reader;
    CK_SLOT_ID slot = 9;
    EXPECT_FALSE(cache.Recall(reader, slot));
    {
        std::u16string gone = u"VELA5 Reader B";
        cache.Remember(gone, 3);
        gone.assign(40, u'x'); // the provider's record changes or goes away
    }
    ASSERT_TRUE(cache.Recall(reader, slot));
    EXPECT_EQ(reader, u"VELA5 Reader B");
    EXPECT_EQ(slot, 3U);
    cache.Clear();
    EXPECT_FALSE(cache.Recall(reader, slot));
}
