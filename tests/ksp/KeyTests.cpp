// The token's keys through the router: enumeration, names, opening by the
// forms a name may take, pairing by CKA_ID, legacy key specs, deleting.
// The provider logs in with a PIN the test hands it, so no dialog appears.
#include "TokenKeys.h"
#include "platform/cng/WideText.h"

#include <functional>

using namespace vela5::platform;

namespace {

std::vector<std::string> Narrowed(const std::vector<std::u16string>& names)
{
    std::vector<std::string> out;
    for (const auto& name : names) {
        out.push_back(Cng::Narrow(name));
    }
    std::sort(out.begin(), out.end());
    return out;
}

const KeyId kAbc = { 0x41, 0x42, 0x43 };
const KeyId kAb = { 0x41, 0x42 };

} // namespace

TEST_F(KeyTest, EnumeratesEveryKeyThenNoMoreAndAFreshRunSeesNewKeys)
{
    AddPinToken("VELA5 Keys Reader");
    for (const KeyId& id : { KeyId { 'K', '1' }, KeyId { 'K', '2' }, KeyId { 'K', '3' } }) {
        PutKey("VELA5 Keys Reader", id);
    }
    const NCRYPT_PROV_HANDLE provider = OpenWith(kPin);
    PVOID state = nullptr;
    std::vector<std::u16string> names;
    for (int i = 0; i < 3; ++i) {
        NCryptKeyName* name = nullptr;
        ASSERT_EQ(Table().EnumKeys(provider, nullptr, &name, &state, 0), ERROR_SUCCESS) << i;
        names.emplace_back(name->pszName);
        EXPECT_EQ(name->dwLegacyKeySpec, 0U);
        Table().FreeBuffer(name);
    }
    EXPECT_EQ(Narrowed(names), (std::vector<std::string> { "K1", "K2", "K3" }));
    NCryptKeyName* none = nullptr;
    EXPECT_EQ(Table().EnumKeys(provider, nullptr, &none, &state, 0), NTE_NO_MORE_ITEMS);
    EXPECT_EQ(none, nullptr);
    Table().FreeBuffer(state);
    // One public and one private object per key: three names, each paired.
    const std::string log = NewLog();
    EXPECT_TRUE(Contains(log, "EnumState is null"));
    EXPECT_TRUE(Contains(log, "EnumState is initialized"));
    EXPECT_TRUE(Contains(log, "Private key paired with public key in object list"));
    EXPECT_TRUE(Contains(log, "NTE_NO_MORE_ITEMS"));

    PutKey("VELA5 Keys Reader", KeyId { 'K', '4' });
    ASSERT_EQ(Enumerate(provider, names), ERROR_SUCCESS);
    EXPECT_EQ(Narrowed(names), (std::vector<std::string> { "K1", "K2", "K3", "K4" }));
    EXPECT_EQ(Table().FreeProvider(provider), ERROR_SUCCESS);
}

TEST_F(KeyTest, KeyOpensByEveryFormOfItsNameAndNoOther)
{
    AddPinToken("VELA5 Keys Reader");
    PutKey("VELA5 Keys Reader", kAbc);
    const NCRYPT_PROV_HANDLE provider = OpenWith(kPin);
    const struct {
        std::u16string name;
        SECURITY_STATUS result;
    } cases[] = {
        { u"ABC", ERROR_SUCCESS },
        { u"abc", ERROR_SUCCESS },
        { u"414243", ERROR_SUCCESS },
        { u"VELA5 Keys Reader\\ABC", ERROR_SUCCESS },
        { u"VELA5 Keys Reader/414243", ERROR_SUCCESS },
        { u"ABCD", NTE_BAD_KEYSET },
        { u"AB", NTE_BAD_KEYSET },
        { u"41424", NTE_BAD_KEYSET },
        { u"", NTE_BAD_KEYSET },
        { u"VELA5 Keys Reader\\", NTE_BAD_KEYSET },
        { std::u16string(300, u'A'), NTE_BAD_KEYSET },
    };
    for (const auto& c : cases) {
        NCRYPT_KEY_HANDLE key = 0;
        EXPECT_EQ(OpenKey(provider, c.name, key), c.result) << Cng::Narrow(c.name);
        if (c.result == ERROR_SUCCESS) {
            EXPECT_EQ(IdOf(key), kAbc);
            EXPECT_EQ(std::u16string(reinterpret_cast<const KeyContext*>(key)->pszKeyName), u"ABC");
            EXPECT_EQ(Table().FreeKey(provider, key), ERROR_SUCCESS);
        } else {
            EXPECT_EQ(key, 0U);
        }
    }
    EXPECT_TRUE(Contains(NewLog(), "Key name match not found"));
    // A name longer than 1024 characters is still searched.
    const std::u16string huge(1100, u'Z');
    NCRYPT_KEY_HANDLE key = 0;
    EXPECT_EQ(OpenKey(provider, huge, key), NTE_BAD_KEYSET);
    EXPECT_TRUE(Contains(NewLog(), "Overflow!"));
    EXPECT_EQ(Table().FreeProvider(provider), ERROR_SUCCESS);
}

// IDs that begin like another key's are other keys: each pairs and opens
// only with its own.
TEST_F(KeyTest, PrefixIdsAreSeparateKeys)
{
    AddPinToken("VELA5 Keys Reader");
    PutKey("VELA5 Keys Reader", kAb);
    PutKey("VELA5 Keys Reader", kAbc);
    PutKey("VELA5 Keys Reader", KeyId { 0x01 }, Halves::PublicOnly);
    PutKey("VELA5 Keys Reader", KeyId { 0x01, 0x02 }, Halves::PrivateOnly);
    const NCRYPT_PROV_HANDLE provider = OpenWith(kPin);
    std::vector<std::u16string> names;
    ASSERT_EQ(Enumerate(provider, names), ERROR_SUCCESS);
    EXPECT_EQ(names.size(), 4U);
    const struct {
        std::u16string name;
        KeyId id;
        bool publicHalf;
        bool privateHalf;
    } cases[] = {
        { u"AB", kAb, true, true },
        { u"ABC", kAbc, true, true },
        { u"01", KeyId { 0x01 }, true, false },
        { u"0102", KeyId { 0x01, 0x02 }, false, true },
    };
    for (const auto& c : cases) {
        NCRYPT_KEY_HANDLE key = 0;
        ASSERT_EQ(OpenKey(provider, c.name, key), ERROR_SUCCESS) << Cng::Narrow(c.name);
        EXPECT_EQ(IdOf(key), c.id) << Cng::Narrow(c.name);
        const auto* record = reinterpret_cast<const KeyContext*>(key);
        EXPECT_EQ(record->hPublicKey != 0, c.publicHalf) << Cng::Narrow(c.name);
        EXPECT_EQ(record->hPrivateKey != 0, c.privateHalf) << Cng::Narrow(c.name);
        EXPECT_EQ(record->dwKeyLength, 512U);
        EXPECT_EQ(Table().FreeKey(provider, key), ERROR_SUCCESS);
    }
    EXPECT_EQ(Table().FreeProvider(provider), ERROR_SUCCESS);
}

TEST_F(KeyTest, PrivateOnlyKeyAndLegacyKeySpecs)
{
    AddPinToken("VELA5 Keys Reader");
    PutKey("VELA5 Keys Reader", kAbc, Halves::PrivateOnly);
    PutKey("VELA5 Keys Reader", kAb, Halves::Both);
    const NCRYPT_PROV_HANDLE provider = OpenWith(kPin);
    const struct {
        const char16_t* name;
        DWORD spec;
        SECURITY_STATUS result;
        const char* line;
    } cases[] = {
        { u"ABC", 0, ERROR_SUCCESS, nullptr },
        { u"ABC", 2, ERROR_SUCCESS, nullptr },
        { u"ABC", 1, NTE_BAD_KEYSET, "NTE_BAD_KEYSET: AT_KEYEXCHANGE key not found" },
        { u"ABC", 3, NTE_BAD_KEYSET, "NTE_BAD_KEYSET: AT_KEYEXCHANGE key not found" },
        { u"AB", 3, ERROR_SUCCESS, nullptr },
        { u"AB", 4, NTE_INVALID_PARAMETER,
            "NTE_INVALID_PARAMETER: ((dwLegacyKeySpec & ~(AT_KEYEXCHANGE | AT_SIGNATURE)) != 0) " },
    };
    for (const auto& c : cases) {
        NCRYPT_KEY_HANDLE key = 0;
        EXPECT_EQ(OpenKey(provider, c.name, key, c.spec), c.result) << c.spec;
        if (c.line != nullptr) {
            EXPECT_TRUE(Contains(LastCall(NewLog(), "VELA5KSPOpenKey"), c.line)) << c.line;
        }
        if (key != 0) {
            EXPECT_EQ(Table().FreeKey(provider, key), ERROR_SUCCESS);
        }
    }
    EXPECT_EQ(Table().FreeProvider(provider), ERROR_SUCCESS);
}

TEST_F(KeyTest, DeleteDestroysBothHalvesAndTheKeyIsGone)
{
    AddPinToken("VELA5 Keys Reader");
    PutKey("VELA5 Keys Reader", kAbc);
    PutKey("VELA5 Keys Reader", kAb);
    const NCRYPT_PROV_HANDLE provider = OpenWith(kPin);
    NCRYPT_KEY_HANDLE key = 0;
    ASSERT_EQ(OpenKey(provider, u"ABC", key), ERROR_SUCCESS);
    EXPECT_EQ(Table().DeleteKey(provider, key, 0x1), NTE_BAD_FLAGS);
    ASSERT_EQ(Table().DeleteKey(provider, key, NCRYPT_SILENT_FLAG), ERROR_SUCCESS);
    EXPECT_EQ(Table().FreeKey(provider, key), ERROR_SUCCESS);
    EXPECT_EQ(CountObjects("VELA5 Keys Reader", CKO_PRIVATE_KEY, kAbc), 0);
    EXPECT_EQ(CountObjects("VELA5 Keys Reader", CKO_PUBLIC_KEY, kAbc), 0);
    EXPECT_EQ(CountObjects("VELA5 Keys Reader", CKO_PRIVATE_KEY, kAb), 1);
    // Not offered again, neither by this provider nor by a fresh list.
    EXPECT_EQ(OpenKey(provider, u"ABC", key), NTE_BAD_KEYSET);
    std::vector<std::u16string> names;
    ASSERT_EQ(Enumerate(provider, names), ERROR_SUCCESS);
    EXPECT_EQ(Narrowed(names), (std::vector<std::string> { "AB" }));
    EXPECT_EQ(Table().FreeProvider(provider), ERROR_SUCCESS);
}

TEST_F(KeyTest, DuplicateAndMissingIdsAreSkipped)
{
    AddPinToken("VELA5 Keys Reader");
    PutKey("VELA5 Keys Reader", kAbc);
    PutKey("VELA5 Keys Reader", kAbc, Halves::PrivateOnly);
    PutKey("VELA5 Keys Reader", KeyId {}, Halves::Both);
    const NCRYPT_PROV_HANDLE provider = OpenWith(kPin);
    std::vector<std::u16string> names;
    ASSERT_EQ(Enumerate(provider, names), ERROR_SUCCESS);
    EXPECT_EQ(Narrowed(names), (std::vector<std::string> { "ABC" }));
    const std::string log = NewLog();
    EXPECT_TRUE(Contains(log, "Duplicate Key ID error, skip key"));
    EXPECT_TRUE(
        Contains(log, "NTE_INVALID_PARAMETER: non-null CKA_ID with zero-length buffer was provided."));
    EXPECT_TRUE(Contains(log, "Key without CKA_ID skipped"));
    EXPECT_EQ(Table().FreeProvider(provider), ERROR_SUCCESS);
}

// A random ID still has a name, which opens the key, as does its hex form.
TEST_F(KeyTest, BinaryIdsHaveNamesThatOpenTheirKeys)
{
    AddPinToken("VELA5 Keys Reader");
    const KeyId binary = { 0x00, 0xFF, 0x41, 0x0A, 0x80 };
    PutKey("VELA5 Keys Reader", binary);
    const NCRYPT_PROV_HANDLE provider = OpenWith(kPin);
    std::vector<std::u16string> names;
    ASSERT_EQ(Enumerate(provider, names), ERROR_SUCCESS);
    ASSERT_EQ(names.size(), 1U);
    EXPECT_EQ(names[0].size(), binary.size());
    for (const std::u16string& name : { names[0], std::u16string(u"00FF410A80") }) {
        NCRYPT_KEY_HANDLE key = 0;
        ASSERT_EQ(OpenKey(provider, name, key), ERROR_SUCCESS);
        EXPECT_EQ(IdOf(key), binary);
        EXPECT_EQ(Table().FreeKey(provider, key), ERROR_SUCCESS);
    }
    EXPECT_EQ(Table().FreeProvider(provider), ERROR_SUCCESS);
}

TEST_F(KeyTest, WrongHostPinFailsWithoutADialog)
{
    AddPinToken("VELA5 Keys Reader", kPin, "--error-limit 5");
    PutKey("VELA5 Keys Reader", kAbc);
    const NCRYPT_PROV_HANDLE provider = OpenWith("9999");
    std::vector<std::u16string> names;
    EXPECT_EQ(Enumerate(provider, names), static_cast<SECURITY_STATUS>(0x8010006B));
    EXPECT_TRUE(Contains(NewLog(), "Incorrect PIN. Retries left: 4"));
    NCRYPT_KEY_HANDLE key = 0;
    EXPECT_EQ(OpenKey(provider, u"ABC", key), static_cast<SECURITY_STATUS>(0x8010006B));
    EXPECT_EQ(key, 0U);
    EXPECT_EQ(Table().FreeProvider(provider), ERROR_SUCCESS);
}

// A blank token has no PIN to log in with; its public keys are listed.
TEST_F(KeyTest, TokenWithoutUserPinNeedsNoLogin)
{
    AddReader("VELA5 Blank Reader");
    const NCRYPT_PROV_HANDLE provider = OpenWith(nullptr);
    std::vector<std::u16string> names;
    EXPECT_EQ(Enumerate(provider, names), ERROR_SUCCESS);
    EXPECT_TRUE(names.empty());
    EXPECT_FALSE(Contains(NewLog(), "Retrieving token info"));
    EXPECT_EQ(Table().FreeProvider(provider), ERROR_SUCCESS);
}

// Argument and flag checks, in their order, each with its one line.
TEST_F(KeyTest, EnumerateAndOpenCheckArgumentsAndFlags)
{
    AddPinToken("VELA5 Keys Reader");
    const NCRYPT_PROV_HANDLE provider = OpenWith(kPin);
    NCryptKeyName* name = nullptr;
    PVOID state = nullptr;
    NCRYPT_KEY_HANDLE key = 0;
    const struct {
        const char* entry;
        std::function<SECURITY_STATUS()> call;
        SECURITY_STATUS result;
        const char* line;
    } cases[] = {
        { "VELA5KSPEnumKeys", [&] { return Table().EnumKeys(provider, nullptr, nullptr, &state, 0); },
            NTE_INVALID_PARAMETER, "NTE_INVALID_PARAMETER: ppKeyName == NULL || ppEnumState == NULL " },
        { "VELA5KSPEnumKeys", [&] { return Table().EnumKeys(provider, nullptr, &name, nullptr, 0); },
            NTE_INVALID_PARAMETER, "NTE_INVALID_PARAMETER: ppKeyName == NULL || ppEnumState == NULL " },
        { "VELA5KSPEnumKeys", [&] { return Table().EnumKeys(provider, nullptr, &name, &state, 0x1); },
            NTE_BAD_FLAGS,
            "NTE_BAD_FLAGS: ((dwFlags & ~(NCRYPT_MACHINE_KEY_FLAG | NCRYPT_SILENT_FLAG)) != 0) " },
        { "VELA5KSPEnumKeys",
            [&] { return Table().EnumKeys(provider, nullptr, &name, &state, NCRYPT_MACHINE_KEY_FLAG); },
            NTE_NOT_SUPPORTED, "NTE_NOT_SUPPORTED:  (dwFlags & NCRYPT_MACHINE_KEY_FLAG) " },
        { "VELA5KSPOpenKey", [&] { return Table().OpenKey(provider, nullptr, u"ABC", 0, 0); },
            NTE_INVALID_PARAMETER, "NTE_INVALID_PARAMETER: phKey is NULL" },
        { "VELA5KSPOpenKey", [&] { return Table().OpenKey(provider, &key, nullptr, 0, 0); },
            NTE_INVALID_PARAMETER, "NTE_INVALID_PARAMETER: pszKeyName is NULL" },
        { "VELA5KSPOpenKey", [&] { return Table().OpenKey(provider, &key, u"ABC", 0, 0x100); }, NTE_BAD_FLAGS,
            "NTE_BAD_FLAGS: ((dwFlags & ~(NCRYPT_MACHINE_KEY_FLAG | NCRYPT_SILENT_FLAG)) != 0) " },
        { "VELA5KSPOpenKey",
            [&] { return Table().OpenKey(provider, &key, u"ABC", 0, NCRYPT_MACHINE_KEY_FLAG); },
            NTE_NOT_SUPPORTED, "NTE_NOT_SUPPORTED:  (dwFlags & NCRYPT_MACHINE_KEY_FLAG) " },
    };
    for (const auto& c : cases) {
        EXPECT_EQ(c.call(), c.result) << c.line;
        EXPECT_TRUE(Contains(LastCall(NewLog(), c.entry), c.line)) << c.line;
    }
    // A failed check hands nothing out.
    EXPECT_EQ(name, nullptr);
    EXPECT_EQ(state, nullptr);
    EXPECT_EQ(key, 0U);
    EXPECT_EQ(Table().FreeProvider(provider), ERROR_SUCCESS);
}
