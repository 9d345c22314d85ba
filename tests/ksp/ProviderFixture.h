// The provider as an application meets it: registered in the registry layer
// of a machine root, loaded through the router, with its file log switched
// on. The token module and the provider are loaded once per process, so the
// root is the process's too; each test adds its own readers and tokens and
// removes them again.
#pragma once

#include "ksp/abi/HandleRecords.h"
#include "platform/cng/Router.h"
#include "tests/support/ScopedTestRoot.h"

#include <gtest/gtest.h>
#include <string>
#include <vector>

inline constexpr const char16_t* kProviderName = u"Nurvon KSP v1.0";

class ProviderEnvironment final : public testing::Environment {
public:
    void SetUp() override;
    void TearDown() override;
    static const ScopedTestRoot& Root();
    static std::string LogPath();
};

class ProviderTest : public testing::Test {
public:
    static std::string BinDir();

protected:
    void SetUp() override;
    void TearDown() override;

    static vela5::platform::Cng::Provider& Router();
    static const NCRYPT_KEY_STORAGE_FUNCTION_TABLE& Table() { return *Router().Table(); }

    // A reader, with a blank token in it when withToken.
    void AddReader(const std::string& name, bool withToken = true);
    void TokenTool(const std::string& arguments);
    // What the provider logged since this test began.
    std::string NewLog() const;
    static bool Contains(const std::string& log, const std::string& line);
    // Lines from the last "<entry> - Entry" on.
    static std::string LastCall(const std::string& log, const std::string& entry);
    static std::u16string ReaderOf(NCRYPT_PROV_HANDLE handle);
    static void SetUseProviderCache(uint32_t value);
    static void ClearUseProviderCache();

private:
    std::vector<std::string> m_readers;
    std::size_t m_logStart = 0;
};
