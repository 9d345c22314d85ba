// Reader listing: the token module's slots are readers whether or not they
// hold a token, and a module that cannot list leaves only pcsc-lite.
#include "platform/pcsc/ReaderList.h"
#include "tests/support/RunTokenTool.h"
#include "tests/support/ScopedTestRoot.h"

#include <algorithm>
#include <cstdlib>
#include <dlfcn.h>
#include <gtest/gtest.h>

using namespace vela5::platform;

namespace {

std::string BinDir()
{
    const char* bin = std::getenv("VELA5_BIN_DIR");
    return bin != nullptr ? bin : ".";
}

bool Has(const std::vector<std::u16string>& readers, const std::u16string& name)
{
    return std::find(readers.begin(), readers.end(), name) != readers.end();
}

} // namespace

TEST(SlotDescriptionTextTest, TrailingBlanksGoInnerBlanksStay)
{
    CK_UTF8CHAR description[64];
    std::fill(std::begin(description), std::end(description), ' ');
    const std::string name = "VELA5  Reader 0";
    std::copy(name.begin(), name.end(), description);
    EXPECT_EQ(Pcsc::SlotDescriptionText(description, sizeof description), u"VELA5  Reader 0");
    description[5] = 0;
    EXPECT_EQ(Pcsc::SlotDescriptionText(description, sizeof description), u"VELA5");
}

TEST(ReaderListTest, ModuleSlotsAreListedWithOrWithoutToken)
{
    const ScopedTestRoot root;
    RunTokenTool(BinDir(), "reader add 'Reader With Token'");
    RunTokenTool(BinDir(), "reader add 'Empty Reader'");
    const std::string serial
        = RunTokenTool(BinDir(), "token create --test-pin-rounds 1000 --model VELA5-32 --blank");
    RunTokenTool(BinDir(), "token insert " + serial + " 'Reader With Token'");

    void* image = dlopen((BinDir() + "/velapkcs11.so").c_str(), RTLD_NOW | RTLD_LOCAL);
    ASSERT_NE(image, nullptr);
    auto getList = reinterpret_cast<CK_C_GetFunctionList>(dlsym(image, "C_GetFunctionList"));
    ASSERT_NE(getList, nullptr);
    CK_FUNCTION_LIST_PTR module = nullptr;
    ASSERT_EQ(getList(&module), CKR_OK);
    ASSERT_EQ(module->C_Initialize(nullptr), CKR_OK);

    Pcsc::Context context(module);
    std::vector<std::u16string> readers;
    EXPECT_EQ(context.ListReaders(readers), Pcsc::SCARD_E_INVALID_HANDLE);
    ASSERT_EQ(context.Establish(Pcsc::SCARD_SCOPE_USER), Pcsc::SCARD_S_SUCCESS);
    ASSERT_EQ(context.ListReaders(readers), Pcsc::SCARD_S_SUCCESS);
    EXPECT_TRUE(Has(readers, u"Reader With Token"));
    EXPECT_TRUE(Has(readers, u"Empty Reader"));

    // The module cannot list: what remains is pcsc-lite's, if pcscd answers.
    RunTokenTool(BinDir(), "reader fail 'Empty Reader' C_GetSlotList");
    const Pcsc::Result failed = context.ListReaders(readers);
    EXPECT_FALSE(Has(readers, u"Reader With Token"));
    EXPECT_TRUE(failed == Pcsc::SCARD_E_NO_SERVICE || failed == Pcsc::SCARD_E_NO_READERS_AVAILABLE
        || failed == Pcsc::SCARD_S_SUCCESS)
        << std::hex << failed;
    RunTokenTool(BinDir(), "reader fail 'Empty Reader' C_GetSlotList off");
    context.Release();
    EXPECT_EQ(context.ListReaders(readers), Pcsc::SCARD_E_INVALID_HANDLE);
    module->C_Finalize(nullptr);
}
