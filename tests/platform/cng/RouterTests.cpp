// The router: registrations in the registry layer, finding a provider by
// name or alias, the failures of loading one, and BCrypt's "RSA".
#include "platform/cng/BCrypt.h"
#include "platform/cng/Router.h"
#include "platform/registry/Registry.h"
#include "tests/support/ScopedTestRoot.h"

#include <cstdlib>
#include <gtest/gtest.h>

using namespace vela5::platform;

namespace {

std::string BinDir()
{
    const char* bin = std::getenv("VELA5_BIN_DIR");
    return bin != nullptr ? bin : ".";
}

Cng::RegisteredProvider Registration(
    const std::string& name, const std::string& image, std::vector<std::string> aliases = {})
{
    Cng::RegisteredProvider provider;
    provider.name = name;
    provider.image = image;
    provider.aliases = std::move(aliases);
    provider.defaultKeyLength = 2048;
    return provider;
}

} // namespace

class RouterTest : public testing::Test {
protected:
    ScopedTestRoot m_root;
};

TEST_F(RouterTest, RegisteredProvidersAreListedAndFoundByNameOrAlias)
{
    std::vector<Cng::RegisteredProvider> providers;
    ASSERT_EQ(Cng::ListProviders(providers), Registry::Success);
    EXPECT_TRUE(providers.empty());
    ASSERT_EQ(
        Cng::RegisterProvider(Registration("First KSP", "/nowhere/first.so", { "First KSP", "Old KSP" })),
        Registry::Success);
    ASSERT_EQ(Cng::RegisterProvider(Registration("Second KSP", "second.so")), Registry::Success);
    ASSERT_EQ(Cng::ListProviders(providers), Registry::Success);
    ASSERT_EQ(providers.size(), 2U);
    EXPECT_EQ(providers[0].aliases, (std::vector<std::string> { "First KSP", "Old KSP" }));
    EXPECT_EQ(providers[1].defaultKeyLength, 2048U);

    Cng::RegisteredProvider found;
    ASSERT_EQ(Cng::FindProvider("Old KSP", found), Registry::Success);
    EXPECT_EQ(found.name, "First KSP");
    EXPECT_EQ(Cng::FindProvider("old ksp", found), Registry::NotFound);
    EXPECT_EQ(Cng::UnregisterProvider("First KSP"), Registry::Success);
    EXPECT_EQ(Cng::FindProvider("Old KSP", found), Registry::NotFound);
}

TEST_F(RouterTest, LoadFailuresNameTheirCause)
{
    Cng::Provider provider;
    std::string error;
    EXPECT_EQ(provider.Load("Absent KSP", error), NTE_BAD_PROVIDER);
    EXPECT_EQ(error, "no key storage provider is registered as \"Absent KSP\"");

    ASSERT_EQ(Cng::RegisterProvider(Registration("Broken KSP", "/nowhere/broken.so")), Registry::Success);
    EXPECT_EQ(provider.Load("Broken KSP", error), NTE_PROV_DLL_NOT_FOUND);
    EXPECT_EQ(error.rfind("cannot load /nowhere/broken.so: ", 0), 0U) << error;
    EXPECT_EQ(provider.Table(), nullptr);

    // A library that is no provider.
    ASSERT_EQ(Cng::RegisterProvider(Registration("Plain KSP", "libc.so.6")), Registry::Success);
    EXPECT_EQ(provider.Load("Plain KSP", error), NTE_PROV_DLL_NOT_FOUND);
    EXPECT_EQ(error, "libc.so.6 has no GetKeyStorageInterface");

    // The provider refuses a name other than its own.
    ASSERT_EQ(Cng::RegisterProvider(Registration("Other KSP", BinDir() + "/velaksp.so")), Registry::Success);
    EXPECT_EQ(provider.Load("Other KSP", error), STATUS_INVALID_PARAMETER);
    EXPECT_EQ(error, "GetKeyStorageInterface failed: 0xC000000D");
    NCRYPT_PROV_HANDLE handle = 0;
    EXPECT_EQ(provider.Open(&handle, u"Other KSP", 0), NTE_PROV_DLL_NOT_FOUND);
}

TEST(BCryptTest, OnlyRsaOpens)
{
    BCRYPT_ALG_HANDLE first = nullptr;
    BCRYPT_ALG_HANDLE second = nullptr;
    ASSERT_EQ(BCryptOpenAlgorithmProvider(&first, u"RSA", nullptr, 0), STATUS_SUCCESS);
    ASSERT_EQ(BCryptOpenAlgorithmProvider(&second, u"RSA", nullptr, 0), STATUS_SUCCESS);
    EXPECT_EQ(first, second);
    BCRYPT_ALG_HANDLE other = nullptr;
    EXPECT_EQ(BCryptOpenAlgorithmProvider(&other, u"rsa", nullptr, 0), STATUS_NOT_FOUND);
    EXPECT_EQ(BCryptOpenAlgorithmProvider(&other, u"ECDSA_P256", nullptr, 0), STATUS_NOT_FOUND);
    EXPECT_EQ(BCryptOpenAlgorithmProvider(nullptr, u"RSA", nullptr, 0), STATUS_INVALID_PARAMETER);
    EXPECT_EQ(other, nullptr);
    EXPECT_EQ(BCryptCloseAlgorithmProvider(first, 0), STATUS_SUCCESS);
    EXPECT_EQ(BCryptCloseAlgorithmProvider(&other, 0), STATUS_INVALID_HANDLE);
}
