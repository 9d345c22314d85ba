// The module ABI's layout: the platform's own convention, figure by figure
// against the system's PKCS#11 header, and the entry indexes the deliverables
// call by.
#include "AbiLayout.h"
#include "ModuleLoader.h"
#include "pkcs11/pkcs11.h"

#include <cstddef>
#include <cstring>
#include <dlfcn.h>
#include <gtest/gtest.h>
#include <utility>

std::vector<AbiFigure> KitAbiLayout()
{
#include "AbiLayoutFigures.inc"
}

namespace {

constexpr size_t Entry(size_t index)
{
    return offsetof(CK_FUNCTION_LIST, C_Initialize) + index * sizeof(void*);
}

// The vendor entries follow the 68 standard ones directly.
static_assert(offsetof(CK_FUNCTION_LIST, C_NRV_SetTokenLabel) == Entry(68));
static_assert(offsetof(CK_FUNCTION_LIST, C_NRV_InitToken) == Entry(70));
static_assert(offsetof(CK_FUNCTION_LIST, C_NRV_Login) == Entry(74));
static_assert(offsetof(CK_FUNCTION_LIST, C_NRV_IsTokenReady) == Entry(77));
static_assert(sizeof(CK_FUNCTION_LIST) == Entry(78));
// The initialization record: natural sizes and alignment, the clear-card
// byte last.
static_assert(offsetof(NRV_INIT_TOKEN_RECORD, ulUserPinLen) == 2 * sizeof(void*));
static_assert(offsetof(NRV_INIT_TOKEN_RECORD, pSOPin) == 2 * sizeof(void*) + 4 * sizeof(CK_ULONG));
static_assert(offsetof(NRV_INIT_TOKEN_RECORD, bClearCard) == 3 * sizeof(void*) + 9 * sizeof(CK_ULONG));

} // namespace

TEST(ModuleAbi, LayoutIsThePlatformsOwn)
{
    const auto kit = KitAbiLayout();
    const auto system = SystemAbiLayout();
    ASSERT_EQ(kit.size(), system.size());
    for (size_t i = 0; i < kit.size(); ++i) {
        EXPECT_EQ(kit[i].value, system[i].value) << kit[i].name;
    }
}

TEST(ModuleAbi, ListEntriesByIndexAreTheExportedCalls)
{
    CK_FUNCTION_LIST* list = LoadModule();
    void* module = dlopen("velapkcs11.so", RTLD_NOW | RTLD_NOLOAD);
    ASSERT_NE(module, nullptr);
    EXPECT_EQ(list->version.major, 2);
    EXPECT_EQ(list->version.minor, 20);
    // Read the list as the deliverables do: raw pointers after the version.
    void* entries[78];
    std::memcpy(entries, reinterpret_cast<const unsigned char*>(list) + Entry(0), sizeof entries);
    const std::pair<size_t, const char*> expected[] = {
        { 0, "C_Initialize" },
        { 4, "C_GetSlotList" },
        { 12, "C_OpenSession" },
        { 42, "C_SignInit" },
        { 43, "C_Sign" },
        { 59, "C_GenerateKeyPair" },
        { 64, "C_GenerateRandom" },
        { 68, "C_NRV_SetTokenLabel" },
        { 69, "C_NRV_UnblockUserPIN" },
        { 70, "C_NRV_InitToken" },
        { 71, "C_NRV_LoadCert" },
        { 72, "C_NRV_GetSerialNumber" },
        { 73, "C_NRV_RefreshTokenFlag" },
        { 74, "C_NRV_Login" },
        { 75, "C_NRV_GetPinMinMax" },
        { 76, "C_NRV_FindPriPubKey" },
        { 77, "C_NRV_IsTokenReady" },
    };
    for (const auto& [index, name] : expected) {
        EXPECT_EQ(entries[index], dlsym(module, name)) << name << " at " << index;
    }
    dlclose(module);
}
