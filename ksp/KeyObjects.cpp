#include "ksp/KeyObjects.h"

#include "ksp/Globals.h"
#include "ksp/KeyList.h"
#include "ksp/KeyNames.h"
#include "ksp/LoginToToken.h"
#include "ksp/RecordBuffers.h"
#include "ksp/ResultCodes.h"
#include "platform/cng/BCrypt.h"
#include "platform/cng/WideText.h"

#include <cstdlib>
#include <cstring>
#include <mutex>
#include <new>
#include <vector>

using namespace vela5::platform;

namespace {

constexpr std::size_t kAttributeBuffer = 200;
constexpr CK_ULONG kFindBatch = 1000;

const DebugClass& Log()
{
    return HelperLog();
}

// The one RSA algorithm handle, opened when the first key is made and
// shared by every key; never closed.
SECURITY_STATUS SharedAlgorithm(BCRYPT_ALG_HANDLE& handle)
{
    static std::mutex lock;
    static BCRYPT_ALG_HANDLE shared = nullptr;
    const std::lock_guard guard(lock);
    if (shared == nullptr) {
        const NTSTATUS status = BCryptOpenAlgorithmProvider(&shared, u"RSA", nullptr, 0);
        if (status != STATUS_SUCCESS) {
            shared = nullptr;
            return MapNtStatus(status);
        }
    }
    handle = shared;
    return ERROR_SUCCESS;
}

// Every handle matching the template; false when a call fails.
bool FindAll(CK_FUNCTION_LIST_PTR module, CK_SESSION_HANDLE session, CK_OBJECT_CLASS objectClass,
    std::vector<CK_OBJECT_HANDLE>& handles)
{
    CK_BBOOL token = CK_TRUE;
    CK_ATTRIBUTE search[]
        = { { CKA_TOKEN, &token, sizeof token }, { CKA_CLASS, &objectClass, sizeof objectClass } };
    handles.clear();
    if (module->C_FindObjectsInit(session, search, 2) != CKR_OK) {
        return false;
    }
    bool ok = true;
    for (;;) {
        CK_OBJECT_HANDLE batch[kFindBatch];
        CK_ULONG found = 0;
        if (module->C_FindObjects(session, batch, kFindBatch, &found) != CKR_OK) {
            ok = false;
            break;
        }
        handles.insert(handles.end(), batch, batch + found);
        if (found < kFindBatch) {
            break;
        }
    }
    if (module->C_FindObjectsFinal(session) != CKR_OK) {
        ok = false;
    }
    return ok;
}

} // namespace

SECURITY_STATUS CreateKeyContext(LPCWSTR name, KeyContext& key)
{
    key.cbLength = sizeof(KeyContext);
    key.dwMagic = BCRYPT_RSAPUBLIC_MAGIC;
    key.dwAlgId = 1;
    key.dwKeyLength = 2048;
    key.dwExportPolicy = NCRYPT_ALLOW_PLAINTEXT_EXPORT_FLAG;
    key.dwKeyUsage = NCRYPT_ALLOW_DECRYPT_FLAG | NCRYPT_ALLOW_SIGNING_FLAG;
    if (name != nullptr) {
        const std::size_t length = Cng::WideLength(name, kMaxKeyName + 1);
        if (length + 1 > kMaxKeyName) {
            Log().Write("NTE_INVALID_PARAMETER: Length of key name exceeds MAX_PATH");
            return NTE_INVALID_PARAMETER;
        }
        key.pszKeyName = CopyWide(std::u16string_view(name, length));
        if (key.pszKeyName == nullptr) {
            return NTE_NO_MEMORY;
        }
        key.cbKeyName = static_cast<DWORD>(length + 1);
    }
    if (key.hAlgorithm == nullptr) {
        return SharedAlgorithm(key.hAlgorithm);
    }
    return ERROR_SUCCESS;
}

void ReleaseKeyBuffers(KeyContext& key)
{
    WipeAndRelease(key.pszKeyName);
    key.cbKeyName = 0;
    DWORD none = 0;
    WipeAndRelease(key.pbKeyFile, none);
    WipeAndRelease(key.pbKeyFileData, key.cbKeyFileData);
    WipeAndRelease(key.pbPrivateKey, key.cbPrivateKey);
    WipeAndRelease(key.pbSecurityDescriptor, key.cbSecurityDescriptor);
}

SECURITY_STATUS AddKeyToObjectList(ProviderContext* provider, CK_OBJECT_HANDLE handle, bool isPublic,
    const BYTE* id, std::size_t idLength, CK_ULONG modulusBits)
{
    if (idLength == 0) {
        Log().Write("NTE_INVALID_PARAMETER: non-null CKA_ID with zero-length buffer was provided.");
        Log().Write("Key without CKA_ID skipped");
        return ERROR_SUCCESS;
    }
    // Two halves are one key only when their IDs are equal: a prefix is
    // another key.
    for (DWORD i = 0; i < provider->cKeyObjects; ++i) {
        KeyContext& entry = provider->pKeyObjectList[i];
        if (entry.cbCkaId != idLength || std::memcmp(entry.ckaId, id, idLength) != 0) {
            continue;
        }
        CK_OBJECT_HANDLE& slot = isPublic ? entry.hPublicKey : entry.hPrivateKey;
        if (slot != 0) {
            Log().Write("Duplicate Key ID error, skip key");
        } else {
            slot = handle;
            Log().Write(isPublic ? "Public key paired with private key in object list"
                                 : "Private key paired with public key in object list");
        }
        return ERROR_SUCCESS;
    }
    Log().Write("Converting CKA_ID to key name...");
    Log().WriteDump("CKA_ID: ", id, idLength);
    const std::u16string name = KeyNames::FromId(id, idLength);
    Log().WriteWide("KeyName: ", name.c_str());
    Log().Write("Done");
    KeyContext record {};
    const SECURITY_STATUS created = CreateKeyContext(name.c_str(), record);
    if (created != ERROR_SUCCESS) {
        ReleaseKeyBuffers(record);
        return created;
    }
    (isPublic ? record.hPublicKey : record.hPrivateKey) = handle;
    Log().Write(isPublic ? "Public key created and added to object list"
                         : "Private key created and added to object list");
    std::memcpy(record.ckaId, id, idLength);
    record.cbCkaId = static_cast<DWORD>(idLength);
    record.dwKeyLength = static_cast<DWORD>(modulusBits);
    record.fFinished = 1;
    auto* grown = new (std::nothrow) KeyContext[provider->cKeyObjects + 1];
    if (grown == nullptr) {
        ReleaseKeyBuffers(record);
        return NTE_NO_MEMORY;
    }
    if (provider->cKeyObjects != 0) {
        std::memcpy(
            static_cast<void*>(grown), provider->pKeyObjectList, provider->cKeyObjects * sizeof(KeyContext));
    }
    grown[provider->cKeyObjects] = record;
    delete[] provider->pKeyObjectList;
    provider->pKeyObjectList = grown;
    ++provider->cKeyObjects;
    return ERROR_SUCCESS;
}

SECURITY_STATUS InitializeObjectList(ProviderContext* provider)
{
    Log().Write("InitializeObjectList - Entry");
    ReleaseKeyList(provider->pKeyObjectList, provider->cKeyObjects);
    SECURITY_STATUS result = LoginIfRequired(provider);
    if (result != ERROR_SUCCESS) {
        Log().Write("Failed to login. Operation aborted.");
        Log().Write("InitializeObjectList - Exit");
        return result;
    }
    CK_FUNCTION_LIST_PTR module = Cryptoki().Functions();
    std::vector<CK_OBJECT_HANDLE> publicKeys;
    std::vector<CK_OBJECT_HANDLE> privateKeys;
    Log().Write("Find Token Public Keys");
    if (!FindAll(module, provider->hSession, CKO_PUBLIC_KEY, publicKeys)) {
        Log().Write("Find Token Public Keys error");
        result = NTE_INTERNAL_ERROR;
    } else {
        Log().WriteInt("numPublicKeys = ", static_cast<long>(publicKeys.size()));
        Log().Write("Find Token Private Keys ");
        if (!FindAll(module, provider->hSession, CKO_PRIVATE_KEY, privateKeys)) {
            Log().Write("Find Token Private Keys error");
            result = NTE_INTERNAL_ERROR;
        } else {
            Log().WriteInt("numPublicKeys = ", static_cast<long>(privateKeys.size()));
        }
    }
    for (const bool isPublic : { true, false }) {
        for (const CK_OBJECT_HANDLE handle : isPublic ? publicKeys : privateKeys) {
            if (result != ERROR_SUCCESS) {
                break;
            }
            Log().Write(isPublic ? "Get Public Key atrributes " : "Get Private Key atrributes");
            BYTE id[kAttributeBuffer] = {};
            BYTE label[kAttributeBuffer] = {};
            CK_ULONG bits = 0;
            CK_ATTRIBUTE read[] = { { CKA_ID, id, sizeof id }, { CKA_LABEL, label, sizeof label },
                { CKA_MODULUS_BITS, &bits, sizeof bits } };
            if (module->C_GetAttributeValue(provider->hSession, handle, read, 3) != CKR_OK) {
                Log().Write(
                    isPublic ? "Get Public Keys atrributes error" : "Get Private Keys atrributes error");
                result = NTE_INTERNAL_ERROR;
                break;
            }
            Log().WriteDump("CKA_ID\t\t: ", id, read[0].ulValueLen);
            Log().WriteDump("CKA_LABEL\t: ", label, read[1].ulValueLen);
            Log().WriteInt("CKA_MODULUS_BITS: ", static_cast<long>(bits));
            result = AddKeyToObjectList(provider, handle, isPublic, id, read[0].ulValueLen, bits);
        }
    }
    if (result != ERROR_SUCCESS) {
        ReleaseKeyList(provider->pKeyObjectList, provider->cKeyObjects);
    }
    Log().Write("InitializeObjectList - Exit");
    return result;
}

SECURITY_STATUS FindKeyFromObjectList(ProviderContext* provider, LPCWSTR name, KeyContext& target)
{
    const std::size_t shown = Cng::WideLength(name, 16);
    Log().WriteDump("Looking for key with name: ", name, shown * sizeof(char16_t));
    if (provider->cKeyObjects == 0) {
        Log().Write("Number of key objects is 0.");
        const SECURITY_STATUS loaded = InitializeObjectList(provider);
        if (loaded != ERROR_SUCCESS) {
            Log().Write("LoadTokenKeys error ");
            return loaded;
        }
    }
    Log().Write("Test KeyName pointer");
    if (Cng::WideLength(name, 1025) == 1025) {
        Log().Write("Overflow!");
    }
    const std::u16string_view wanted(name, Cng::WideLength(name));
    Log().WriteWide("Searching KeyName = ", name);
    Log().WriteInt("Starting iteration. Count: ", static_cast<long>(provider->cKeyObjects));
    std::vector<std::u16string_view> names;
    for (DWORD i = 0; i < provider->cKeyObjects; ++i) {
        const KeyContext& entry = provider->pKeyObjectList[i];
        Log().WriteInt("Iteration: ", static_cast<long>(i));
        Log().WriteWide("Compare name to: ", entry.pszKeyName);
        names.emplace_back(
            entry.pszKeyName != nullptr ? std::u16string_view(entry.pszKeyName) : std::u16string_view());
    }
    const KeyNames::Lookup lookup = KeyNames::Find(names, wanted);
    if (lookup.byHex) {
        Log().Write("Checking hex string equivalent of key name");
    }
    if (lookup.outcome == KeyNames::Lookup::Outcome::Ambiguous) {
        Log().Write("NTE_BAD_KEYSET: Key name matches more than one key");
        return NTE_BAD_KEYSET;
    }
    if (lookup.outcome == KeyNames::Lookup::Outcome::NotFound) {
        Log().Write("Key name match not found");
        return NTE_BAD_KEYSET;
    }
    const KeyContext& entry = provider->pKeyObjectList[lookup.index];
    Log().Write("Key name match found");
    Log().Write("Copying key");
    target.cbLength = sizeof(KeyContext);
    target.dwMagic = BCRYPT_RSAPUBLIC_MAGIC;
    Log().Write("- key name");
    target.pszKeyName = CopyWide(std::u16string_view(entry.pszKeyName));
    if (target.pszKeyName == nullptr) {
        return NTE_NO_MEMORY;
    }
    target.cbKeyName = entry.cbKeyName;
    Log().Write("- CKA_ID");
    std::memcpy(target.ckaId, entry.ckaId, sizeof target.ckaId);
    target.cbCkaId = entry.cbCkaId;
    Log().Write("- key handles");
    target.hPublicKey = entry.hPublicKey;
    target.hPrivateKey = entry.hPrivateKey;
    target.reserved[0] = entry.reserved[0];
    target.reserved[1] = entry.reserved[1];
    Log().Write("- provider handle");
    target.hAlgorithm = entry.hAlgorithm;
    Log().Write("- flags");
    target.dwAlgId = entry.dwAlgId;
    target.dwExportPolicy = entry.dwExportPolicy;
    target.dwKeyLength = entry.dwKeyLength;
    target.dwKeyUsage = entry.dwKeyUsage;
    target.fFinished = entry.fFinished;
    target.dwOverwrite = entry.dwOverwrite;
    std::memcpy(target.publicExponent, entry.publicExponent, sizeof target.publicExponent);
    // List entries own no security descriptor and no key file.
    Log().Write("- security descriptor");
    Log().Write("- key file");
    Log().Write("Key was reconstructed");
    return ERROR_SUCCESS;
}

SECURITY_STATUS ReadKeyNameFromKeyObjectList(
    ProviderContext* provider, EnumState*& state, NCryptKeyName*& keyName)
{
    Log().Write("ReadKeyNameFromKeyObjectList - Entry");
    EnumState* current = state;
    const bool fresh = current == nullptr;
    if (fresh) {
        current = static_cast<EnumState*>(std::calloc(1, sizeof(EnumState)));
        if (current == nullptr) {
            Log().Write("ReadKeyNameFromKeyObjectList - Exit");
            return NTE_NO_MEMORY;
        }
    }
    Log().WriteInt("EnumState index = ", current->index);
    if (current->index < 0 || static_cast<DWORD>(current->index) + 1 > provider->cKeyObjects) {
        Log().Write("NTE_NO_MORE_ITEMS");
        if (fresh) {
            std::free(current);
        }
        Log().Write("ReadKeyNameFromKeyObjectList - Exit");
        return NTE_NO_MORE_ITEMS;
    }
    const std::u16string_view name(provider->pKeyObjectList[current->index].pszKeyName);
    static const char16_t algorithm[] = u"RSA";
    // One allocation, so the caller's one FreeBuffer releases the strings too.
    const std::size_t bytes = sizeof(NCryptKeyName) + (name.size() + 1) * sizeof(char16_t) + sizeof algorithm;
    auto* result = static_cast<NCryptKeyName*>(std::calloc(1, bytes));
    if (result == nullptr) {
        if (fresh) {
            std::free(current);
        }
        Log().Write("ReadKeyNameFromKeyObjectList - Exit");
        return NTE_NO_MEMORY;
    }
    result->pszName = reinterpret_cast<LPWSTR>(result + 1);
    std::copy(name.begin(), name.end(), result->pszName);
    result->pszAlgid = result->pszName + name.size() + 1;
    std::memcpy(result->pszAlgid, algorithm, sizeof algorithm);
    Log().WriteWide("KeyName = ", result->pszName);
    ++current->index;
    state = current;
    keyName = result;
    Log().Write("ReadKeyNameFromKeyObjectList - Exit");
    return ERROR_SUCCESS;
}

void RemoveFromObjectList(ProviderContext* provider, const KeyContext& key)
{
    for (DWORD i = 0; i < provider->cKeyObjects; ++i) {
        KeyContext& entry = provider->pKeyObjectList[i];
        if (entry.cbCkaId == key.cbCkaId && std::memcmp(entry.ckaId, key.ckaId, key.cbCkaId) == 0) {
            ReleaseKeyBuffers(entry);
            std::memmove(static_cast<void*>(&entry), &provider->pKeyObjectList[i + 1],
                (provider->cKeyObjects - i - 1) * sizeof(KeyContext));
            --provider->cKeyObjects;
            std::memset(
                static_cast<void*>(&provider->pKeyObjectList[provider->cKeyObjects]), 0, sizeof(KeyContext));
            return;
        }
    }
}
