// The token objects key creation and import make: the generated key pair,
// public- and private-key objects from components, and the search for a
// key by its label. Results are the module's CK_RV; callers map them.
#pragma once

#include "ksp/CryptokiObject.h"
#include "ksp/DebugClass.h"
#include "ksp/Records.h"

#include <initializer_list>
#include <string>
#include <vector>

// Legacy key specs as algorithm ids.
constexpr DWORD CALG_RSA_KEYX = 0xA400;
constexpr DWORD CALG_RSA_SIGN = 0x2400;

// Which operations a created key allows.
enum class Permission { EncryptDecrypt = 0, SignVerify = 1, Both = 2 };
// 0 -> both, CALG_RSA_KEYX -> encrypt/decrypt, CALG_RSA_SIGN -> sign/verify;
// false for any other id.
bool PermissionFromAlgId(DWORD algId, Permission& permission);

// The key name in the code page labels are written in, as it fits a 64-byte
// buffer: a name of 63 characters or more gives an empty label.
std::string LabelFromName(LPCWSTR name);

// An imported key's CKA_ID: 128 bytes, the 64 random bytes then zeros.
constexpr std::size_t kImportedIdSize = 128;

// C_CreateObject. A module that refuses attributes PKCS#11 gives other
// classes (foreign), as the software token and standard modules do, gets
// the template once more without them.
CK_RV CreateObjectTolerant(CK_FUNCTION_LIST_PTR module, CK_SESSION_HANDLE session,
    std::vector<CK_ATTRIBUTE> attributes, std::initializer_list<CK_ATTRIBUTE_TYPE> foreign,
    CK_OBJECT_HANDLE& handle, const DebugClass& log);

// The public-key object of an imported key. label null: a session object
// without a label. CKR_ARGUMENTS_BAD without session or module, with an
// existing handle, or for a key length other than 512, 1024, 2048, 4096;
// CKR_TEMPLATE_INCOMPLETE without modulus.
CK_RV CreatePublicKeyObject(PublicKey& key, Permission permission, const std::string* label);
// The same for the private-key object, which needs every component.
CK_RV CreatePrivateKeyObject(PrivateKey& key, Permission permission, const std::string* label);

// C_GenerateKeyPair with the two generation templates; pair.id is used as
// CKA_ID of both halves. Named keys are token objects.
CK_RV GenerateKeyPair(RSAPair& pair, const std::string& label, bool named);

// The existence check: a public- and a private-key object both labelled
// with the name. NTE_EXISTS with their handles and ID stored in key,
// NTE_NOT_FOUND, or NTE_INTERNAL_ERROR when a call fails.
SECURITY_STATUS FindKeyByLabel(ProviderContext* provider, const std::string& label, KeyContext& key);

// The exponent bytes without leading zeros, as PKCS#11 wants a big integer.
std::vector<CK_BYTE> ExponentBytes(const std::uint8_t (&field)[4]);
