#include "TokenKeys.h"

#include "pkcs11/ModuleFileName.h"
#include "tests/support/RunTokenTool.h"

#include <cstring>
#include <dlfcn.h>

namespace {

struct Session {
    explicit Session(const std::string& reader, const std::string& pin)
    {
        CK_FUNCTION_LIST_PTR p11 = KeyTest::Module();
        EXPECT_EQ(p11->C_OpenSession(KeyTest::SlotOf(reader), CKF_SERIAL_SESSION | CKF_RW_SESSION, nullptr,
                      nullptr, &handle),
            CKR_OK);
        if (!pin.empty()) {
            const CK_RV rv = p11->C_Login(
                handle, CKU_USER, reinterpret_cast<CK_BYTE_PTR>(const_cast<char*>(pin.data())), pin.size());
            EXPECT_TRUE(rv == CKR_OK || rv == CKR_USER_ALREADY_LOGGED_IN) << std::hex << rv;
        }
    }
    ~Session()
    {
        // Logging out ends the process's login, the provider's sessions too.
        KeyTest::Module()->C_Logout(handle);
        KeyTest::Module()->C_CloseSession(handle);
    }
    CK_SESSION_HANDLE handle = 0;
};

} // namespace

std::string KeyTest::AddPinToken(
    const std::string& reader, const std::string& pin, const std::string& extra, const std::string& label)
{
    AddReader(reader, false);
    return NewTokenIn(reader, pin, extra, label, false);
}

std::string KeyTest::NewTokenIn(const std::string& reader, const std::string& pin, const std::string& extra,
    const std::string& label, bool ejectFirst)
{
    if (ejectFirst) {
        TokenTool("token eject '" + reader + "'");
    }
    const std::string serial = RunTokenTool(BinDir(),
        "token create --test-pin-rounds 1000 --model VELA5-64 --label '" + label + "' --user-pin " + pin
            + " --so-pin 87654321 " + extra);
    TokenTool("token insert " + serial + " '" + reader + "'");
    return serial;
}

CK_FUNCTION_LIST_PTR KeyTest::Module()
{
    static CK_FUNCTION_LIST_PTR functions = [] {
        void* module = dlopen(Vela5ModuleFileName(), RTLD_NOW | RTLD_LOCAL);
        EXPECT_NE(module, nullptr) << dlerror();
        auto get = reinterpret_cast<CK_C_GetFunctionList>(dlsym(module, "C_GetFunctionList"));
        CK_FUNCTION_LIST_PTR list = nullptr;
        EXPECT_EQ(get(&list), CKR_OK);
        const CK_RV initialized = list->C_Initialize(nullptr);
        EXPECT_TRUE(initialized == CKR_OK || initialized == CKR_CRYPTOKI_ALREADY_INITIALIZED);
        return list;
    }();
    return functions;
}

CK_SLOT_ID KeyTest::SlotOf(const std::string& reader)
{
    CK_SLOT_ID slots[64];
    CK_ULONG count = 64;
    EXPECT_EQ(Module()->C_GetSlotList(CK_FALSE, slots, &count), CKR_OK);
    for (CK_ULONG i = 0; i < count; ++i) {
        CK_SLOT_INFO info {};
        Module()->C_GetSlotInfo(slots[i], &info);
        std::string description(
            reinterpret_cast<const char*>(info.slotDescription), sizeof info.slotDescription);
        description.erase(description.find_last_not_of(' ') + 1);
        if (description == reader) {
            return slots[i];
        }
    }
    ADD_FAILURE() << "no slot for " << reader;
    return 0;
}

void KeyTest::PutKey(const std::string& reader, const KeyId& id, Halves halves, const std::string& pin)
{
    Session session(reader, pin);
    CK_OBJECT_CLASS pubClass = CKO_PUBLIC_KEY;
    CK_OBJECT_CLASS privClass = CKO_PRIVATE_KEY;
    CK_KEY_TYPE rsa = CKK_RSA;
    CK_ULONG bits = 512;
    CK_BYTE exponent[] = { 1, 0, 1 };
    CK_BBOOL yes = CK_TRUE;
    auto* idBytes = const_cast<CK_BYTE*>(id.data());
    CK_MECHANISM mechanism = { CKM_RSA_PKCS_KEY_PAIR_GEN, nullptr, 0 };
    CK_ATTRIBUTE pub[] = { { CKA_CLASS, &pubClass, sizeof pubClass }, { CKA_KEY_TYPE, &rsa, sizeof rsa },
        { CKA_TOKEN, &yes, 1 }, { CKA_MODULUS_BITS, &bits, sizeof bits },
        { CKA_PUBLIC_EXPONENT, exponent, 3 }, { CKA_ID, idBytes, id.size() } };
    CK_ATTRIBUTE priv[] = { { CKA_CLASS, &privClass, sizeof privClass }, { CKA_PRIVATE, &yes, 1 },
        { CKA_TOKEN, &yes, 1 }, { CKA_SIGN, &yes, 1 }, { CKA_ID, idBytes, id.size() } };
    CK_OBJECT_HANDLE publicKey = 0;
    CK_OBJECT_HANDLE privateKey = 0;
    ASSERT_EQ(
        Module()->C_GenerateKeyPair(session.handle, &mechanism, pub, 6, priv, 5, &publicKey, &privateKey),
        CKR_OK);
    if (halves == Halves::PrivateOnly) {
        ASSERT_EQ(Module()->C_DestroyObject(session.handle, publicKey), CKR_OK);
    } else if (halves == Halves::PublicOnly) {
        ASSERT_EQ(Module()->C_DestroyObject(session.handle, privateKey), CKR_OK);
    }
}

void KeyTest::ChangePin(const std::string& reader, const std::string& oldPin, const std::string& newPin)
{
    Session session(reader, oldPin);
    ASSERT_EQ(
        Module()->C_SetPIN(session.handle, reinterpret_cast<CK_BYTE_PTR>(const_cast<char*>(oldPin.data())),
            oldPin.size(), reinterpret_cast<CK_BYTE_PTR>(const_cast<char*>(newPin.data())), newPin.size()),
        CKR_OK);
}

void KeyTest::LogOut(const std::string& reader)
{
    Session session(reader, "");
}

int KeyTest::CountObjects(
    const std::string& reader, CK_OBJECT_CLASS objectClass, const KeyId& id, const std::string& pin)
{
    Session session(reader, pin);
    CK_ATTRIBUTE search[] = { { CKA_CLASS, &objectClass, sizeof objectClass },
        { CKA_ID, const_cast<CK_BYTE*>(id.data()), id.size() } };
    EXPECT_EQ(Module()->C_FindObjectsInit(session.handle, search, 2), CKR_OK);
    CK_OBJECT_HANDLE found[16];
    CK_ULONG count = 0;
    EXPECT_EQ(Module()->C_FindObjects(session.handle, found, 16, &count), CKR_OK);
    Module()->C_FindObjectsFinal(session.handle);
    return static_cast<int>(count);
}

bool KeyTest::UserPinLocked(const std::string& reader)
{
    CK_TOKEN_INFO info {};
    EXPECT_EQ(Module()->C_GetTokenInfo(SlotOf(reader), &info), CKR_OK);
    return (info.flags & CKF_USER_PIN_LOCKED) != 0;
}

NCRYPT_PROV_HANDLE KeyTest::OpenWith(const char* pin)
{
    NCRYPT_PROV_HANDLE handle = 0;
    EXPECT_EQ(Table().OpenProvider(&handle, kProviderName, NCRYPT_SILENT_FLAG), ERROR_SUCCESS);
    if (handle != 0 && pin != nullptr) {
        // What a host does to spare its user the dialog (vela5-cng --pin).
        const std::u16string text(pin, pin + std::strlen(pin));
        auto* buffer = new char16_t[text.size() + 1]();
        std::copy(text.begin(), text.end(), buffer);
        reinterpret_cast<ProviderContext*>(handle)->pszPin = buffer;
    }
    return handle;
}

SECURITY_STATUS KeyTest::Enumerate(NCRYPT_PROV_HANDLE provider, std::vector<std::u16string>& names)
{
    names.clear();
    PVOID state = nullptr;
    SECURITY_STATUS status = ERROR_SUCCESS;
    for (;;) {
        NCryptKeyName* name = nullptr;
        status = Table().EnumKeys(provider, nullptr, &name, &state, 0);
        if (status != ERROR_SUCCESS) {
            break;
        }
        names.emplace_back(name->pszName);
        EXPECT_EQ(std::u16string(name->pszAlgid), u"RSA");
        Table().FreeBuffer(name);
    }
    Table().FreeBuffer(state);
    return status == NTE_NO_MORE_ITEMS ? ERROR_SUCCESS : status;
}

SECURITY_STATUS KeyTest::OpenKey(
    NCRYPT_PROV_HANDLE provider, const std::u16string& name, NCRYPT_KEY_HANDLE& key, DWORD spec)
{
    key = 0;
    return Table().OpenKey(provider, &key, name.c_str(), spec, 0);
}

KeyId KeyTest::IdOf(NCRYPT_KEY_HANDLE key)
{
    const auto* record = reinterpret_cast<const KeyContext*>(key);
    return KeyId(record->ckaId, record->ckaId + record->cbCkaId);
}
