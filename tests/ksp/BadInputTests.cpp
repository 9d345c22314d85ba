// Every entry point, reached through the router, with handles that must not
// validate (null, foreign, altered magic, freed) and with bad arguments:
// each answers its code with one line naming it, and nothing crashes.
#include "ProviderFixture.h"

#include <cstdio>
#include <cstring>
#include <functional>
#include <sstream>

namespace {

using Call = std::function<SECURITY_STATUS(
    const NCRYPT_KEY_STORAGE_FUNCTION_TABLE&, NCRYPT_PROV_HANDLE, NCRYPT_KEY_HANDLE)>;

struct Entry {
    const char* name;
    bool takesKey;
    Call call;
    // The code and line of an operation never offered; empty for the others.
    const char* unsupportedLine = nullptr;
    // The entry point's own wording of a provider handle that does not validate.
    const char* badProviderLine = "NTE_INVALID_HANDLE: pProvider is NULL";
    // Built: its argument checks are tested with its operation.
    bool built = false;
    // The entry point's own wording of a key handle that does not validate.
    const char* badKeyLine = "NTE_INVALID_HANDLE: pKey is NULL";
};

const std::u16string kLongName(1030, u'K');

std::vector<Entry> AllEntries()
{
    const LPCWSTR text = kLongName.c_str();
    BYTE buffer[16] = {};
    DWORD size = 0;
    return {
        { "VELA5KSPOpenKey", false,
            [=](auto& t, auto p, auto) mutable {
                NCRYPT_KEY_HANDLE k = 0;
                return t.OpenKey(p, &k, text, 0, 0xFFFF);
            },
            nullptr, "NTE_INVALID_HANDLE: pProvider is NULL", true },
        { "VELA5KSPCreatePersistedKey", false,
            [=](auto& t, auto p, auto) {
                NCRYPT_KEY_HANDLE k = 0;
                return t.CreatePersistedKey(p, &k, text, text, 7, 0xFFFF);
            },
            nullptr, "NTE_INVALID_HANDLE: pProvider is NULL", true },
        { "VELA5KSPGetProviderProperty", false,
            [=](auto& t, auto p, auto) mutable {
                return t.GetProviderProperty(p, text, buffer, 16, &size, 0xFFFF);
            },
            nullptr, "NTE_INVALID_HANDLE: pProvider is NULL", true },
        { "VELA5KSPGetKeyProperty", true,
            [=](auto& t, auto p, auto k) mutable {
                return t.GetKeyProperty(p, k, text, buffer, 16, &size, 0xFFFF);
            },
            nullptr, "NTE_INVALID_HANDLE: Invalid provider handle, pProvider is NULL", true,
            "NTE_INVALID_HANDLE: Invalid key handle, pKey is NULL" },
        { "VELA5KSPSetProviderProperty", false,
            [=](auto& t, auto p, auto) mutable { return t.SetProviderProperty(p, text, buffer, 16, 0xFFFF); },
            nullptr, "NTE_INVALID_HANDLE: pProvider is NULL", true },
        { "VELA5KSPSetKeyProperty", true,
            [=](auto& t, auto p, auto k) mutable { return t.SetKeyProperty(p, k, text, buffer, 16, 0xFFFF); },
            nullptr, "NTE_INVALID_HANDLE: pProvider is NULL", true },
        { "VELA5KSPFinalizeKey", true, [](auto& t, auto p, auto k) { return t.FinalizeKey(p, k, 0xFFFF); },
            nullptr, "NTE_INVALID_HANDLE: pProvider is NULL", true },
        { "VELA5KSPDeleteKey", true, [](auto& t, auto p, auto k) { return t.DeleteKey(p, k, 0xFFFF); } },
        { "VELA5KSPFreeProvider", false, [](auto& t, auto p, auto) { return t.FreeProvider(p); } },
        { "VELA5KSPFreeKey", true, [](auto& t, auto p, auto k) { return t.FreeKey(p, k); } },
        { "VELA5KSPEncrypt", true,
            [](auto& t, auto p, auto k) {
                return t.Encrypt(p, k, nullptr, 0, nullptr, nullptr, 0, nullptr, 0xFFFF);
            } },
        { "VELA5KSPDecrypt", true,
            [](auto& t, auto p, auto k) {
                return t.Decrypt(p, k, nullptr, 0, nullptr, nullptr, 0, nullptr, 0xFFFF);
            } },
        { "VELA5KSPIsAlgSupported", false,
            [=](auto& t, auto p, auto) { return t.IsAlgSupported(p, text, 0xFFFF); }, nullptr,
            "NTE_INVALID_HANDLE: pProvider is NULL", true },
        { "VELA5KSPEnumAlgorithms", false,
            [](auto& t, auto p, auto) { return t.EnumAlgorithms(p, 0, nullptr, nullptr, 0xFFFF); }, nullptr,
            "NTE_INVALID_HANDLE: pProvider is NULL.", true },
        { "VELA5KSPEnumKeys", false,
            [=](auto& t, auto p, auto) { return t.EnumKeys(p, text, nullptr, nullptr, 0xFFFF); }, nullptr,
            "NTE_INVALID_HANDLE: pProvider == NULL ", true },
        { "VELA5KSPImportKey", false,
            [=](auto& t, auto p, auto) {
                return t.ImportKey(p, 0, text, nullptr, nullptr, nullptr, 0, 0xFFFF);
            },
            nullptr, "NTE_INVALID_HANDLE: pProvider is NULL", true },
        { "VELA5KSPExportKey", true,
            [=](auto& t, auto p, auto k) {
                return t.ExportKey(p, k, 0, text, nullptr, nullptr, 0, nullptr, 0xFFFF);
            } },
        { "VELA5KSPSignHash", true,
            [](auto& t, auto p, auto k) {
                return t.SignHash(p, k, nullptr, nullptr, 0, nullptr, 0, nullptr, 0xFFFF);
            } },
        { "VELA5KSPVerifySignature", true,
            [](auto& t, auto p, auto k) {
                return t.VerifySignature(p, k, nullptr, nullptr, 0, nullptr, 0, 0xFFFF);
            } },
        { "VELA5KSPPromptUser", true,
            [=](auto& t, auto p, auto k) { return t.PromptUser(p, k, text, 0xFFFF); },
            "NTE_NOT_SUPPORTED: PromptUser is not supported" },
        { "VELA5KSPNotifyChangeKey", false,
            [](auto& t, auto p, auto) { return t.NotifyChangeKey(p, nullptr, 0xFFFF); },
            "NTE_NOT_SUPPORTED: NotifyChangeKey is not supported" },
        { "VELA5KSPSecretAgreement", true,
            [](auto& t, auto p, auto k) { return t.SecretAgreement(p, k, k, nullptr, 0xFFFF); },
            "NTE_NOT_SUPPORTED: SecretAgreement is not supported" },
        { "VELA5KSPDeriveKey", false,
            [=](auto& t, auto p, auto) {
                return t.DeriveKey(p, 0, text, nullptr, nullptr, 0, nullptr, 0xFFFF);
            },
            "NTE_NOT_SUPPORTED: This version of VELA5 KSP does not support key derivation." },
        { "VELA5KSPFreeSecret", false, [](auto& t, auto p, auto) { return t.FreeSecret(p, 0); },
            "NTE_NOT_SUPPORTED: FreeSecret is not supported." },
    };
}

// Lines of the last call that name a result code: the check lines.
std::vector<std::string> CodeLines(const std::string& call)
{
    std::vector<std::string> lines;
    std::istringstream in(call);
    std::string line;
    while (std::getline(in, line)) {
        if (line.rfind("NTE_", 0) == 0 || line.rfind("STATUS_", 0) == 0 || line.rfind("ERROR_", 0) == 0) {
            lines.push_back(line);
        }
    }
    return lines;
}

} // namespace

class BadInputTest : public ProviderTest {
protected:
    void Expect(const Entry& entry, NCRYPT_PROV_HANDLE provider, NCRYPT_KEY_HANDLE key, SECURITY_STATUS code,
        const std::string& line, const std::string& what)
    {
        EXPECT_EQ(entry.call(Table(), provider, key), code) << entry.name << " with " << what;
        std::string call = LastCall(NewLog(), entry.name);
        if (std::string(entry.name) == "VELA5KSPPromptUser") {
            // Its entry and exit lines are its bare name.
            const std::string log = NewLog();
            const std::string bare = std::string("\n") + entry.name + "\n";
            const std::size_t exit = log.rfind(bare);
            const std::size_t start
                = exit == std::string::npos || exit == 0 ? std::string::npos : log.rfind(bare, exit - 1);
            call = start == std::string::npos ? std::string() : log.substr(start, exit - start);
        }
        EXPECT_EQ(CodeLines(call), std::vector<std::string> { line }) << entry.name << " with " << what;
    }
};

TEST_F(BadInputTest, EveryEntryPointRefusesHandlesThatDoNotValidate)
{
    AddReader("VELA5 Reader A");
    NCRYPT_PROV_HANDLE live = 0;
    ASSERT_EQ(Table().OpenProvider(&live, kProviderName, 0), ERROR_SUCCESS);
    NCRYPT_PROV_HANDLE freed = 0;
    ASSERT_EQ(Table().OpenProvider(&freed, kProviderName, 0), ERROR_SUCCESS);
    ASSERT_EQ(Table().FreeProvider(freed), ERROR_SUCCESS);
    // Shaped like a provider record, but never handed out by the provider.
    alignas(8) unsigned char foreign[256] = {};
    const DWORD header[2] = { 200, kProviderMagic };
    std::memcpy(foreign, header, sizeof header);
    const auto foreignHandle = reinterpret_cast<NCRYPT_PROV_HANDLE>(foreign);

    const std::vector<Entry> entries = AllEntries();
    ASSERT_EQ(entries.size() + 2, 26U); // OpenProvider and FreeBuffer take no provider handle
    for (const Entry& entry : entries) {
        if (entry.unsupportedLine != nullptr) {
            // Never offered: the arguments are not even looked at.
            for (const NCRYPT_PROV_HANDLE handle : { NCRYPT_PROV_HANDLE(0), foreignHandle, freed, live }) {
                Expect(entry, handle, 0, NTE_NOT_SUPPORTED, entry.unsupportedLine, "any handle");
            }
            continue;
        }
        const std::string providerLine = entry.badProviderLine;
        Expect(entry, 0, 0, NTE_INVALID_HANDLE, providerLine, "a null provider");
        Expect(entry, foreignHandle, 0, NTE_INVALID_HANDLE, providerLine, "a foreign record");
        Expect(entry, freed, 0, NTE_INVALID_HANDLE, providerLine, "a freed provider");
        // A live record whose magic was altered.
        auto* record = reinterpret_cast<ProviderContext*>(live);
        record->dwMagic ^= 0xFF;
        Expect(entry, live, 0, NTE_INVALID_HANDLE, providerLine, "an altered magic");
        record->dwMagic ^= 0xFF;
        if (entry.takesKey) {
            for (const NCRYPT_KEY_HANDLE key : { NCRYPT_KEY_HANDLE(0), NCRYPT_KEY_HANDLE(foreignHandle) }) {
                Expect(entry, live, key, NTE_INVALID_HANDLE, entry.badKeyLine, "a bad key");
            }
        }
    }
    EXPECT_EQ(Table().FreeProvider(live), ERROR_SUCCESS);
}

TEST_F(BadInputTest, OpenProviderChecksItsArgumentsFirst)
{
    NCRYPT_PROV_HANDLE handle = 0;
    EXPECT_EQ(Table().OpenProvider(nullptr, kProviderName, 0), NTE_INVALID_PARAMETER);
    EXPECT_EQ(CodeLines(LastCall(NewLog(), "VELA5KSPOpenProvider")),
        std::vector<std::string> { "NTE_INVALID_PARAMETER: phProvider is NULL" });
    EXPECT_EQ(Table().OpenProvider(&handle, nullptr, 0), NTE_INVALID_PARAMETER);
    EXPECT_EQ(CodeLines(LastCall(NewLog(), "VELA5KSPOpenProvider")),
        std::vector<std::string> { "NTE_INVALID_PARAMETER: pszProviderName is NULL" });
    // Flags other than the silent flag are not looked at; a long name is
    // refused as a name, not read past its end.
    EXPECT_EQ(Table().OpenProvider(&handle, kLongName.c_str(), 0xFFFFFFBF), NTE_INVALID_PARAMETER);
    EXPECT_EQ(CodeLines(LastCall(NewLog(), "VELA5KSPOpenProvider")),
        std::vector<std::string> {
            "NTE_INVALID_PARAMETER: pszProviderName does not match the registered provider name" });
    EXPECT_EQ(handle, 0U);
}

TEST_F(BadInputTest, FreeBufferAcceptsNull)
{
    EXPECT_EQ(Table().FreeBuffer(nullptr), ERROR_SUCCESS);
    const std::string call = LastCall(NewLog(), "VELA5KSPFreeBuffer");
    EXPECT_TRUE(Contains(call, "pvInput: 0x00000000"));
    EXPECT_TRUE(CodeLines(call).empty());
}

TEST_F(BadInputTest, OperationsOfLaterWorkAnswerNotSupportedOnceTheirHandlesValidate)
{
    AddReader("VELA5 Reader A");
    NCRYPT_PROV_HANDLE live = 0;
    ASSERT_EQ(Table().OpenProvider(&live, kProviderName, 0), ERROR_SUCCESS);
    for (const Entry& entry : AllEntries()) {
        if (entry.unsupportedLine == nullptr && !entry.takesKey && !entry.built
            && std::string(entry.name) != "VELA5KSPFreeProvider") {
            EXPECT_EQ(entry.call(Table(), live, 0), NTE_NOT_SUPPORTED) << entry.name;
            EXPECT_EQ(CodeLines(LastCall(NewLog(), entry.name)).size(), 1U) << entry.name;
        }
    }
    EXPECT_EQ(Table().FreeProvider(live), ERROR_SUCCESS);
}
