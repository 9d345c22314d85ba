// A token state written by the builds whose CK_ULONG was 32 bits wide: opened
// by this module, every token and object is still there and usable.
#include "ModuleLoader.h"
#include "tests/support/ScopedTestRoot.h"

#include <filesystem>
#include <gtest/gtest.h>
#include <string>
#include <vector>

namespace fs = std::filesystem;

namespace {

class NarrowStateTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        fs::create_directories(m_root.Root() / "tokens");
        fs::copy_file(fs::path(VELA5_TEST_DATA_DIR) / "narrow-format-state.db", State());
        p11 = LoadModule();
        ASSERT_EQ(p11->C_Initialize(nullptr), CKR_OK);
    }
    void TearDown() override { p11->C_Finalize(nullptr); }

    fs::path State() const { return m_root.Root() / "tokens" / "state.db"; }

    CK_SESSION_HANDLE LoggedInSession()
    {
        CK_SESSION_HANDLE session = 0;
        EXPECT_EQ(p11->C_OpenSession(0, CKF_SERIAL_SESSION, nullptr, nullptr, &session), CKR_OK);
        CK_UTF8CHAR pin[] = "1234";
        EXPECT_EQ(p11->C_Login(session, CKU_USER, pin, 4), CKR_OK);
        return session;
    }

    std::vector<CK_OBJECT_HANDLE> Find(CK_SESSION_HANDLE session, CK_OBJECT_CLASS objectClass)
    {
        CK_ATTRIBUTE filter { CKA_CLASS, &objectClass, sizeof objectClass };
        EXPECT_EQ(p11->C_FindObjectsInit(session, &filter, 1), CKR_OK);
        std::vector<CK_OBJECT_HANDLE> found(16);
        CK_ULONG count = 0;
        EXPECT_EQ(p11->C_FindObjects(session, found.data(), found.size(), &count), CKR_OK);
        EXPECT_EQ(p11->C_FindObjectsFinal(session), CKR_OK);
        found.resize(count);
        return found;
    }

    ScopedTestRoot m_root;
    CK_FUNCTION_LIST* p11 = nullptr;
};

TEST_F(NarrowStateTest, EveryObjectIsFoundByItsClassAndKeepsACopyOfTheOldFile)
{
    CK_TOKEN_INFO info {};
    ASSERT_EQ(p11->C_GetTokenInfo(0, &info), CKR_OK);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(info.serialNumber), 16), "0123456789ABCDEF");

    const CK_SESSION_HANDLE session = LoggedInSession();
    const struct {
        CK_OBJECT_CLASS objectClass;
        size_t count;
    } expected[] = { { CKO_PUBLIC_KEY, 2 }, { CKO_PRIVATE_KEY, 2 }, { CKO_CERTIFICATE, 1 }, { CKO_DATA, 1 },
        { CKO_SECRET_KEY, 1 } };
    for (const auto& [objectClass, count] : expected) {
        EXPECT_EQ(Find(session, objectClass).size(), count) << "class " << objectClass;
    }
    EXPECT_TRUE(fs::exists(State().string() + ".format1"));
}

TEST_F(NarrowStateTest, WidenedValuesReadAtTheirNativeSizeAndKeysStillSign)
{
    const CK_SESSION_HANDLE session = LoggedInSession();
    const auto keys = Find(session, CKO_PRIVATE_KEY);
    ASSERT_FALSE(keys.empty());
    CK_KEY_TYPE keyType = 99;
    CK_ATTRIBUTE attribute { CKA_KEY_TYPE, &keyType, sizeof keyType };
    ASSERT_EQ(p11->C_GetAttributeValue(session, keys[0], &attribute, 1), CKR_OK);
    EXPECT_EQ(attribute.ulValueLen, sizeof(CK_ULONG));
    EXPECT_EQ(keyType, CKK_RSA);

    CK_MECHANISM mechanism { CKM_RSA_PKCS, nullptr, 0 };
    ASSERT_EQ(p11->C_SignInit(session, &mechanism, keys[0]), CKR_OK);
    CK_BYTE data[] = "to be signed";
    CK_BYTE signature[512];
    CK_ULONG length = sizeof signature;
    EXPECT_EQ(p11->C_Sign(session, data, sizeof data, signature, &length), CKR_OK);
    EXPECT_EQ(length, 128u);
}

TEST_F(NarrowStateTest, OpeningAgainMigratesNothingTwice)
{
    ASSERT_EQ(p11->C_Finalize(nullptr), CKR_OK);
    ASSERT_EQ(p11->C_Initialize(nullptr), CKR_OK);
    const CK_SESSION_HANDLE session = LoggedInSession();
    const auto keys = Find(session, CKO_SECRET_KEY);
    ASSERT_EQ(keys.size(), 1u);
    CK_ULONG length = 0;
    CK_ATTRIBUTE attribute { CKA_VALUE_LEN, &length, sizeof length };
    ASSERT_EQ(p11->C_GetAttributeValue(session, keys[0], &attribute, 1), CKR_OK);
    EXPECT_EQ(attribute.ulValueLen, sizeof(CK_ULONG));
    EXPECT_EQ(length, 16u);
}

} // namespace
