// The module calls a failure switch can make fail. vela5-token refuses any
// other name, so a misspelt switch is an error instead of one that never fires.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#define VELA5_SWITCHABLE_CALLS(X)                                                                            \
    X(C_GetSlotList)                                                                                         \
    X(C_GetSlotInfo)                                                                                         \
    X(C_GetTokenInfo)                                                                                        \
    X(C_InitToken)                                                                                           \
    X(C_InitPIN)                                                                                             \
    X(C_SetPIN)                                                                                              \
    X(C_OpenSession)                                                                                         \
    X(C_CloseSession)                                                                                        \
    X(C_CloseAllSessions)                                                                                    \
    X(C_GetSessionInfo)                                                                                      \
    X(C_Login)                                                                                               \
    X(C_Logout)                                                                                              \
    X(C_CreateObject)                                                                                        \
    X(C_DestroyObject)                                                                                       \
    X(C_GetObjectSize)                                                                                       \
    X(C_GetAttributeValue)                                                                                   \
    X(C_SetAttributeValue)                                                                                   \
    X(C_FindObjectsInit)                                                                                     \
    X(C_FindObjects)                                                                                         \
    X(C_FindObjectsFinal)                                                                                    \
    X(C_SignInit)                                                                                            \
    X(C_Sign)                                                                                                \
    X(C_SignUpdate)                                                                                          \
    X(C_SignFinal)                                                                                           \
    X(C_VerifyInit)                                                                                          \
    X(C_Verify)                                                                                              \
    X(C_VerifyUpdate)                                                                                        \
    X(C_VerifyFinal)                                                                                         \
    X(C_EncryptInit)                                                                                         \
    X(C_Encrypt)                                                                                             \
    X(C_DecryptInit)                                                                                         \
    X(C_Decrypt)                                                                                             \
    X(C_DigestInit)                                                                                          \
    X(C_Digest)                                                                                              \
    X(C_DigestUpdate)                                                                                        \
    X(C_DigestFinal)                                                                                         \
    X(C_GenerateKeyPair)                                                                                     \
    X(C_GenerateRandom)                                                                                      \
    X(C_NRV_SetTokenLabel)                                                                                   \
    X(C_NRV_UnblockUserPIN)                                                                                  \
    X(C_NRV_InitToken)                                                                                       \
    X(C_NRV_LoadCert)                                                                                        \
    X(C_NRV_GetSerialNumber)                                                                                 \
    X(C_NRV_RefreshTokenFlag)                                                                                \
    X(C_NRV_Login)                                                                                           \
    X(C_NRV_GetPinMinMax)                                                                                    \
    X(C_NRV_FindPriPubKey)                                                                                   \
    X(C_NRV_IsTokenReady)

// One call narrowed to a class of object, so a test can fail the second
// object of a change that creates several while the first one is stored.
#define VELA5_SWITCHABLE_VARIANTS(Y)                                                                         \
    Y(C_CreateObject_Certificate, "C_CreateObject:certificate")                                              \
    Y(C_CreateObject_PublicKey, "C_CreateObject:public-key")                                                 \
    Y(C_CreateObject_PrivateKey, "C_CreateObject:private-key")                                               \
    Y(C_CreateObject_Other, "C_CreateObject:other")

enum class SwitchableCall {
#define VELA5_SWITCHABLE_ENUMERATOR(name) name,
#define VELA5_SWITCHABLE_VARIANT_ENUMERATOR(name, text) name,
    VELA5_SWITCHABLE_CALLS(VELA5_SWITCHABLE_ENUMERATOR)
        VELA5_SWITCHABLE_VARIANTS(VELA5_SWITCHABLE_VARIANT_ENUMERATOR)
#undef VELA5_SWITCHABLE_VARIANT_ENUMERATOR
#undef VELA5_SWITCHABLE_ENUMERATOR
    // A table slot for an operation the module does not offer; no switch names it.
    None,
};

// The entry name as switches store it; empty for None.
const char* SwitchableCallName(SwitchableCall call);
// The call a switch names, or nothing for a name no switch can take.
std::optional<SwitchableCall> FindSwitchableCall(std::string_view name);
// Every switchable name, comma-separated, for the tool's error message.
std::string SwitchableCallNames();
