// Keys on the software token for the provider's tests, put there through the
// token module itself (a generated pair under a chosen CKA_ID, or one half
// of it), and tokens with a User PIN to log in with.
#pragma once

#include "ProviderFixture.h"
#include "pkcs11/pkcs11.h"

#include <string>
#include <vector>

using KeyId = std::vector<CK_BYTE>;

enum class Halves { Both, PrivateOnly, PublicOnly };

class KeyTest : public ProviderTest {
public:
    static CK_FUNCTION_LIST_PTR Module();
    static CK_SLOT_ID SlotOf(const std::string& reader);

protected:
    static constexpr const char* kPin = "1234";

    // A reader with an initialized token whose User PIN is pin; extra takes
    // further "token create" options. The token's serial.
    std::string AddPinToken(const std::string& reader, const std::string& pin = kPin,
        const std::string& extra = "", const std::string& label = "Keys");
    // A new token of the same kind in a reader that has one already (which
    // is ejected first), or none.
    std::string NewTokenIn(const std::string& reader, const std::string& pin = kPin,
        const std::string& extra = "", const std::string& label = "Keys", bool ejectFirst = true);

    // Logs the process in on its own session, runs the change, logs out.
    static void PutKey(const std::string& reader, const KeyId& id, Halves halves = Halves::Both,
        const std::string& pin = kPin);
    static void ChangePin(const std::string& reader, const std::string& oldPin, const std::string& newPin);
    static void LogOut(const std::string& reader);
    // How many token objects of a class carry the ID (logged in to see them).
    static int CountObjects(const std::string& reader, CK_OBJECT_CLASS objectClass, const KeyId& id,
        const std::string& pin = kPin);
    static bool UserPinLocked(const std::string& reader);

    // Opens a provider on the only token; with pin, the provider logs in
    // with it instead of asking.
    static NCRYPT_PROV_HANDLE OpenWith(const char* pin);
    static SECURITY_STATUS Enumerate(NCRYPT_PROV_HANDLE provider, std::vector<std::u16string>& names);
    static SECURITY_STATUS OpenKey(
        NCRYPT_PROV_HANDLE provider, const std::u16string& name, NCRYPT_KEY_HANDLE& key, DWORD spec = 0);
    static KeyId IdOf(NCRYPT_KEY_HANDLE key);
};
