// The module ABI's layout: byte packing, 32-bit CK_ULONG and the entry
// indexes the deliverables call by.
#include "ModuleLoader.h"
#include "pkcs11/pkcs11.h"

#include <cstddef>
#include <cstring>
#include <dlfcn.h>
#include <gtest/gtest.h>
#include <utility>

namespace {

constexpr size_t Entry(size_t index)
{
    return sizeof(CK_VERSION) + index * sizeof(void*);
}

static_assert(sizeof(CK_ULONG) == 4);
static_assert(sizeof(CK_ATTRIBUTE) == 4 + sizeof(void*) + 4, "attributes are byte-packed");
static_assert(sizeof(CK_MECHANISM) == 4 + sizeof(void*) + 4);
static_assert(sizeof(CK_TOKEN_INFO) == 32 + 32 + 16 + 16 + 11 * 4 + 2 * 2 + 16);
static_assert(offsetof(CK_FUNCTION_LIST, C_Initialize) == Entry(0), "version comes first, then entry 0");
static_assert(offsetof(CK_FUNCTION_LIST, C_GetSlotList) == Entry(4));
static_assert(offsetof(CK_FUNCTION_LIST, C_SetPIN) == Entry(11));
static_assert(offsetof(CK_FUNCTION_LIST, C_Logout) == Entry(19));
static_assert(offsetof(CK_FUNCTION_LIST, C_FindObjects) == Entry(27));
static_assert(offsetof(CK_FUNCTION_LIST, C_Sign) == Entry(43));
static_assert(offsetof(CK_FUNCTION_LIST, C_GenerateKeyPair) == Entry(59));
static_assert(offsetof(CK_FUNCTION_LIST, C_GenerateRandom) == Entry(64));
static_assert(offsetof(CK_FUNCTION_LIST, C_WaitForSlotEvent) == Entry(67));
static_assert(offsetof(CK_FUNCTION_LIST, C_NRV_SetTokenLabel) == Entry(68));
static_assert(offsetof(CK_FUNCTION_LIST, C_NRV_InitToken) == Entry(70));
static_assert(offsetof(CK_FUNCTION_LIST, C_NRV_Login) == Entry(74));
static_assert(offsetof(CK_FUNCTION_LIST, C_NRV_IsTokenReady) == Entry(77));
static_assert(sizeof(CK_FUNCTION_LIST) == Entry(78));
// Thirteen packed fields: three text pointers, nine 32-bit values, one byte.
static_assert(offsetof(NRV_INIT_TOKEN_RECORD, ulUserPinLen) == 2 * sizeof(void*));
static_assert(offsetof(NRV_INIT_TOKEN_RECORD, pSOPin) == 2 * sizeof(void*) + 4 * 4);
static_assert(offsetof(NRV_INIT_TOKEN_RECORD, bClearCard) == 3 * sizeof(void*) + 9 * 4);
static_assert(sizeof(NRV_INIT_TOKEN_RECORD) == 3 * sizeof(void*) + 9 * 4 + 1);

} // namespace

TEST(ModuleAbi, ListEntriesByIndexAreTheExportedCalls)
{
    CK_FUNCTION_LIST* list = LoadModule();
    void* module = dlopen("velapkcs11.so", RTLD_NOW | RTLD_NOLOAD);
    ASSERT_NE(module, nullptr);
    EXPECT_EQ(list->version.major, 2);
    EXPECT_EQ(list->version.minor, 20);
    // Read the list as the deliverables do: raw pointers after the version.
    void* entries[78];
    std::memcpy(entries, reinterpret_cast<const unsigned char*>(list) + sizeof(CK_VERSION), sizeof entries);
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
