#include "ProviderFixture.h"

#include "platform/registry/Registry.h"
#include "tests/support/RunTokenTool.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>

using namespace vela5::platform;

namespace {

std::unique_ptr<ScopedTestRoot> g_root;
constexpr const char* kSdkKey = "Software\\Nurvon Ltd.\\VELA5 SDK";

std::string Slurp(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

} // namespace

void ProviderEnvironment::SetUp()
{
    g_root = std::make_unique<ScopedTestRoot>();
    Cng::RegisteredProvider provider;
    provider.name = "Nurvon KSP v1.0";
    provider.image = ProviderTest::BinDir() + "/velaksp.so";
    provider.aliases = { "Nurvon KSP v1.0" };
    provider.defaultKeyLength = 2048;
    ASSERT_EQ(Cng::RegisterProvider(provider), Registry::Success);
    Registry::Key key;
    ASSERT_EQ(Registry::Key::Create(Registry::Hive::LocalMachine, kSdkKey, Registry::View::Native, key),
        Registry::Success);
    ASSERT_EQ(key.SetString("KSPLOG", "00000001"), Registry::Success);
    ASSERT_EQ(key.SetString("KSPDIR", LogPath()), Registry::Success);
}

void ProviderEnvironment::TearDown()
{
    g_root.reset();
}

const ScopedTestRoot& ProviderEnvironment::Root()
{
    return *g_root;
}

std::string ProviderEnvironment::LogPath()
{
    return (g_root->Temp() / "ksp.log").string();
}

namespace {
[[maybe_unused]] testing::Environment* const g_environment
    = testing::AddGlobalTestEnvironment(new ProviderEnvironment);
}

Cng::Provider& ProviderTest::Router()
{
    static Cng::Provider provider;
    static const bool loaded = [] {
        std::string error;
        const SECURITY_STATUS status = provider.Load("Nurvon KSP v1.0", error);
        EXPECT_EQ(status, ERROR_SUCCESS) << error;
        return status == ERROR_SUCCESS;
    }();
    if (!loaded) {
        throw std::runtime_error("the provider could not be loaded");
    }
    return provider;
}

std::string ProviderTest::BinDir()
{
    const char* bin = std::getenv("VELA5_BIN_DIR");
    return bin != nullptr ? bin : ".";
}

void ProviderTest::SetUp()
{
    Router();
    std::error_code error;
    m_logStart = std::filesystem::file_size(ProviderEnvironment::LogPath(), error);
    if (error) {
        m_logStart = 0;
    }
    ClearUseProviderCache();
}

void ProviderTest::TearDown()
{
    for (const std::string& reader : m_readers) {
        TokenTool("reader remove '" + reader + "'");
    }
    ClearUseProviderCache();
}

void ProviderTest::AddReader(const std::string& name, bool withToken)
{
    TokenTool("reader add '" + name + "'");
    m_readers.push_back(name);
    if (withToken) {
        const std::string serial
            = RunTokenTool(BinDir(), "token create --test-pin-rounds 1000 --model VELA5-64 --blank");
        TokenTool("token insert " + serial + " '" + name + "'");
    }
}

void ProviderTest::TokenTool(const std::string& arguments)
{
    RunTokenTool(BinDir(), arguments);
}

std::string ProviderTest::NewLog() const
{
    const std::string all = Slurp(ProviderEnvironment::LogPath());
    return all.size() > m_logStart ? all.substr(m_logStart) : std::string();
}

bool ProviderTest::Contains(const std::string& log, const std::string& line)
{
    return log.find("\n" + line + "\n") != std::string::npos || log.rfind(line + "\n", 0) == 0;
}

std::string ProviderTest::LastCall(const std::string& log, const std::string& entry)
{
    const std::size_t at = log.rfind(entry + " - Entry\n");
    return at == std::string::npos ? std::string() : log.substr(at);
}

std::u16string ProviderTest::ReaderOf(NCRYPT_PROV_HANDLE handle)
{
    const auto* record = reinterpret_cast<const ProviderContext*>(handle);
    return record->pszReaderName != nullptr ? std::u16string(record->pszReaderName) : std::u16string();
}

void ProviderTest::SetUseProviderCache(uint32_t value)
{
    Registry::Key key;
    ASSERT_EQ(Registry::Key::Create(Registry::Hive::LocalMachine, kSdkKey, Registry::View::Native, key),
        Registry::Success);
    ASSERT_EQ(key.SetDWord("dwUseProviderCache", value), Registry::Success);
}

void ProviderTest::ClearUseProviderCache()
{
    Registry::Key key;
    if (Registry::Key::Open(
            Registry::Hive::LocalMachine, kSdkKey, Registry::Access::Write, Registry::View::Native, key)
        == Registry::Success) {
        key.DeleteValue("dwUseProviderCache");
    }
}
