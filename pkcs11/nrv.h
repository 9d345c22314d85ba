// Vendor extensions of the module ABI and the function list (68 standard
// entries in standard order, then the ten vendor entries 68-77).
// Included by pkcs11.h; include that header, not this one.
#ifndef VELA5_NRV_H
#define VELA5_NRV_H

#ifdef __cplusplus
extern "C" {
#endif

#ifdef _WIN32
#pragma pack(push, 1)
#endif

// A result from 1 to 14 of C_NRV_Login, C_NRV_UnblockUserPIN and
// C_NRV_InitToken: the PIN was wrong, with that many attempts left.
#define NRV_CKR_PIN_RETRIES_MIN 1U
#define NRV_CKR_PIN_RETRIES_MAX 14U
// The token's zeroize (clear-card) function has been permanently disabled.
#define NRV_CKR_CLEAR_CARD_DISABLED 0xFFFFFFFFU

// C_NRV_LoadCert results for files that cannot be used.
#define NRV_CKR_CERT_NOT_FOUND 0xFFFF0001U
#define NRV_CKR_PUBLIC_KEY_NOT_FOUND 0xFFFF0002U
#define NRV_CKR_PRIVATE_KEY_NOT_FOUND 0xFFFF0003U
#define NRV_CKR_MATCHING_PUBLIC_KEY_MISSING 0xFFFF0004U
#define NRV_CKR_MATCHING_PRIVATE_KEY_MISSING 0xFFFF0005U
#define NRV_CKR_CERT_ID_INVALID 0xFFFF0006U
#define NRV_CKR_CERT_DATA_INVALID 0xFFFF0007U
#define NRV_CKR_CERT_FILE_ATTRIBUTES_INVALID 0xFFFF0008U
#define NRV_CKR_FILE_OPEN_FAILED 0xFFFF0009U

// One byte: the index of an RSA key pair (private and public key share it).
#define CKA_NRV_KEY_PAIR_INDEX 0x80000002U
// One byte on a certificate: 1 marks the Windows logon default.
#define CKA_NRV_LOGON_DEFAULT 0x80000003U

// Sizes of the fixed single-byte text buffers handed to the module.
#define NRV_PIN_BUFFER_SIZE 32U
#define NRV_LABEL_BUFFER_SIZE 128U
#define NRV_PATH_BUFFER_SIZE 1000U
#define NRV_PASSWORD_BUFFER_SIZE 100U
// C_NRV_GetSerialNumber writes a NUL-terminated ASCII serial of at most 16
// characters into a buffer of this size.
#define NRV_SERIAL_BUFFER_SIZE 33U

// C_NRV_GetPinMinMax: which PIN (1 = the SO PIN) and its output.
#define NRV_PIN_SO 1U
typedef struct NRV_PIN_MIN_MAX {
    CK_ULONG ulMinLen;
    CK_ULONG ulMaxLen;
} NRV_PIN_MIN_MAX;
typedef NRV_PIN_MIN_MAX* NRV_PIN_MIN_MAX_PTR;

// C_NRV_FindPriPubKey direction: look up from a private or a public index.
#define NRV_FROM_PRIVATE_KEY_INDEX 0U
#define NRV_FROM_PUBLIC_KEY_INDEX 1U

// The initialization record, passed by value to C_NRV_InitToken. The label
// points to a zero-filled 128-byte buffer and each PIN to a 32-byte buffer.
typedef struct NRV_INIT_TOKEN_RECORD {
    CK_BYTE_PTR pLabel;
    CK_BYTE_PTR pUserPin;
    CK_ULONG ulUserPinLen;
    CK_ULONG ulUserPinErrorLimit;
    CK_ULONG ulUserPinMaxLen;
    CK_ULONG ulUserPinMinLen;
    CK_BYTE_PTR pSOPin;
    CK_ULONG ulSOPinLen;
    CK_ULONG ulSOPinErrorLimit;
    CK_ULONG ulSOPinMaxLen;
    CK_ULONG ulSOPinMinLen;
    CK_ULONG ulMaxRSAKeyPairs;
    CK_BYTE bClearCard;
} NRV_INIT_TOKEN_RECORD;

// X-macros over every entry of the function list, in list order. Each entry
// is X(name, (parameter list), (argument names)).
#define NRV_STANDARD_FUNCTIONS(X) \
    X(C_Initialize, (CK_VOID_PTR pInitArgs), (pInitArgs)) \
    X(C_Finalize, (CK_VOID_PTR pReserved), (pReserved)) \
    X(C_GetInfo, (CK_INFO_PTR pInfo), (pInfo)) \
    X(C_GetFunctionList, (struct CK_FUNCTION_LIST** ppFunctionList), (ppFunctionList)) \
    X(C_GetSlotList, (CK_BBOOL tokenPresent, CK_SLOT_ID_PTR pSlotList, CK_ULONG_PTR pulCount), \
      (tokenPresent, pSlotList, pulCount)) \
    X(C_GetSlotInfo, (CK_SLOT_ID slotID, CK_SLOT_INFO_PTR pInfo), (slotID, pInfo)) \
    X(C_GetTokenInfo, (CK_SLOT_ID slotID, CK_TOKEN_INFO_PTR pInfo), (slotID, pInfo)) \
    X(C_GetMechanismList, (CK_SLOT_ID slotID, CK_MECHANISM_TYPE_PTR pMechanismList, CK_ULONG_PTR pulCount), \
      (slotID, pMechanismList, pulCount)) \
    X(C_GetMechanismInfo, (CK_SLOT_ID slotID, CK_MECHANISM_TYPE type, CK_MECHANISM_INFO_PTR pInfo), \
      (slotID, type, pInfo)) \
    X(C_InitToken, (CK_SLOT_ID slotID, CK_UTF8CHAR_PTR pPin, CK_ULONG ulPinLen, CK_UTF8CHAR_PTR pLabel), \
      (slotID, pPin, ulPinLen, pLabel)) \
    X(C_InitPIN, (CK_SESSION_HANDLE hSession, CK_UTF8CHAR_PTR pPin, CK_ULONG ulPinLen), \
      (hSession, pPin, ulPinLen)) \
    X(C_SetPIN, (CK_SESSION_HANDLE hSession, CK_UTF8CHAR_PTR pOldPin, CK_ULONG ulOldLen, \
                 CK_UTF8CHAR_PTR pNewPin, CK_ULONG ulNewLen), \
      (hSession, pOldPin, ulOldLen, pNewPin, ulNewLen)) \
    X(C_OpenSession, (CK_SLOT_ID slotID, CK_FLAGS flags, CK_VOID_PTR pApplication, CK_NOTIFY Notify, \
                      CK_SESSION_HANDLE_PTR phSession), \
      (slotID, flags, pApplication, Notify, phSession)) \
    X(C_CloseSession, (CK_SESSION_HANDLE hSession), (hSession)) \
    X(C_CloseAllSessions, (CK_SLOT_ID slotID), (slotID)) \
    X(C_GetSessionInfo, (CK_SESSION_HANDLE hSession, CK_SESSION_INFO_PTR pInfo), (hSession, pInfo)) \
    X(C_GetOperationState, (CK_SESSION_HANDLE hSession, CK_BYTE_PTR pOperationState, \
                            CK_ULONG_PTR pulOperationStateLen), \
      (hSession, pOperationState, pulOperationStateLen)) \
    X(C_SetOperationState, (CK_SESSION_HANDLE hSession, CK_BYTE_PTR pOperationState, \
                            CK_ULONG ulOperationStateLen, CK_OBJECT_HANDLE hEncryptionKey, \
                            CK_OBJECT_HANDLE hAuthenticationKey), \
      (hSession, pOperationState, ulOperationStateLen, hEncryptionKey, hAuthenticationKey)) \
    X(C_Login, (CK_SESSION_HANDLE hSession, CK_USER_TYPE userType, CK_UTF8CHAR_PTR pPin, CK_ULONG ulPinLen), \
      (hSession, userType, pPin, ulPinLen)) \
    X(C_Logout, (CK_SESSION_HANDLE hSession), (hSession)) \
    X(C_CreateObject, (CK_SESSION_HANDLE hSession, CK_ATTRIBUTE_PTR pTemplate, CK_ULONG ulCount, \
                       CK_OBJECT_HANDLE_PTR phObject), \
      (hSession, pTemplate, ulCount, phObject)) \
    X(C_CopyObject, (CK_SESSION_HANDLE hSession, CK_OBJECT_HANDLE hObject, CK_ATTRIBUTE_PTR pTemplate, \
                     CK_ULONG ulCount, CK_OBJECT_HANDLE_PTR phNewObject), \
      (hSession, hObject, pTemplate, ulCount, phNewObject)) \
    X(C_DestroyObject, (CK_SESSION_HANDLE hSession, CK_OBJECT_HANDLE hObject), (hSession, hObject)) \
    X(C_GetObjectSize, (CK_SESSION_HANDLE hSession, CK_OBJECT_HANDLE hObject, CK_ULONG_PTR pulSize), \
      (hSession, hObject, pulSize)) \
    X(C_GetAttributeValue, (CK_SESSION_HANDLE hSession, CK_OBJECT_HANDLE hObject, CK_ATTRIBUTE_PTR pTemplate, \
                            CK_ULONG ulCount), \
      (hSession, hObject, pTemplate, ulCount)) \
    X(C_SetAttributeValue, (CK_SESSION_HANDLE hSession, CK_OBJECT_HANDLE hObject, CK_ATTRIBUTE_PTR pTemplate, \
                            CK_ULONG ulCount), \
      (hSession, hObject, pTemplate, ulCount)) \
    X(C_FindObjectsInit, (CK_SESSION_HANDLE hSession, CK_ATTRIBUTE_PTR pTemplate, CK_ULONG ulCount), \
      (hSession, pTemplate, ulCount)) \
    X(C_FindObjects, (CK_SESSION_HANDLE hSession, CK_OBJECT_HANDLE_PTR phObject, CK_ULONG ulMaxObjectCount, \
                      CK_ULONG_PTR pulObjectCount), \
      (hSession, phObject, ulMaxObjectCount, pulObjectCount)) \
    X(C_FindObjectsFinal, (CK_SESSION_HANDLE hSession), (hSession)) \
    X(C_EncryptInit, (CK_SESSION_HANDLE hSession, CK_MECHANISM_PTR pMechanism, CK_OBJECT_HANDLE hKey), \
      (hSession, pMechanism, hKey)) \
    X(C_Encrypt, (CK_SESSION_HANDLE hSession, CK_BYTE_PTR pData, CK_ULONG ulDataLen, CK_BYTE_PTR pEncryptedData, \
                  CK_ULONG_PTR pulEncryptedDataLen), \
      (hSession, pData, ulDataLen, pEncryptedData, pulEncryptedDataLen)) \
    X(C_EncryptUpdate, (CK_SESSION_HANDLE hSession, CK_BYTE_PTR pPart, CK_ULONG ulPartLen, \
                        CK_BYTE_PTR pEncryptedPart, CK_ULONG_PTR pulEncryptedPartLen), \
      (hSession, pPart, ulPartLen, pEncryptedPart, pulEncryptedPartLen)) \
    X(C_EncryptFinal, (CK_SESSION_HANDLE hSession, CK_BYTE_PTR pLastEncryptedPart, \
                       CK_ULONG_PTR pulLastEncryptedPartLen), \
      (hSession, pLastEncryptedPart, pulLastEncryptedPartLen)) \
    X(C_DecryptInit, (CK_SESSION_HANDLE hSession, CK_MECHANISM_PTR pMechanism, CK_OBJECT_HANDLE hKey), \
      (hSession, pMechanism, hKey)) \
    X(C_Decrypt, (CK_SESSION_HANDLE hSession, CK_BYTE_PTR pEncryptedData, CK_ULONG ulEncryptedDataLen, \
                  CK_BYTE_PTR pData, CK_ULONG_PTR pulDataLen), \
      (hSession, pEncryptedData, ulEncryptedDataLen, pData, pulDataLen)) \
    X(C_DecryptUpdate, (CK_SESSION_HANDLE hSession, CK_BYTE_PTR pEncryptedPart, CK_ULONG ulEncryptedPartLen, \
                        CK_BYTE_PTR pPart, CK_ULONG_PTR pulPartLen), \
      (hSession, pEncryptedPart, ulEncryptedPartLen, pPart, pulPartLen)) \
    X(C_DecryptFinal, (CK_SESSION_HANDLE hSession, CK_BYTE_PTR pLastPart, CK_ULONG_PTR pulLastPartLen), \
      (hSession, pLastPart, pulLastPartLen)) \
    X(C_DigestInit, (CK_SESSION_HANDLE hSession, CK_MECHANISM_PTR pMechanism), (hSession, pMechanism)) \
    X(C_Digest, (CK_SESSION_HANDLE hSession, CK_BYTE_PTR pData, CK_ULONG ulDataLen, CK_BYTE_PTR pDigest, \
                 CK_ULONG_PTR pulDigestLen), \
      (hSession, pData, ulDataLen, pDigest, pulDigestLen)) \
    X(C_DigestUpdate, (CK_SESSION_HANDLE hSession, CK_BYTE_PTR pPart, CK_ULONG ulPartLen), \
      (hSession, pPart, ulPartLen)) \
    X(C_DigestKey, (CK_SESSION_HANDLE hSession, CK_OBJECT_HANDLE hKey), (hSession, hKey)) \
    X(C_DigestFinal, (CK_SESSION_HANDLE hSession, CK_BYTE_PTR pDigest, CK_ULONG_PTR pulDigestLen), \
      (hSession, pDigest, pulDigestLen)) \
    X(C_SignInit, (CK_SESSION_HANDLE hSession, CK_MECHANISM_PTR pMechanism, CK_OBJECT_HANDLE hKey), \
      (hSession, pMechanism, hKey)) \
    X(C_Sign, (CK_SESSION_HANDLE hSession, CK_BYTE_PTR pData, CK_ULONG ulDataLen, CK_BYTE_PTR pSignature, \
               CK_ULONG_PTR pulSignatureLen), \
      (hSession, pData, ulDataLen, pSignature, pulSignatureLen)) \
    X(C_SignUpdate, (CK_SESSION_HANDLE hSession, CK_BYTE_PTR pPart, CK_ULONG ulPartLen), \
      (hSession, pPart, ulPartLen)) \
    X(C_SignFinal, (CK_SESSION_HANDLE hSession, CK_BYTE_PTR pSignature, CK_ULONG_PTR pulSignatureLen), \
      (hSession, pSignature, pulSignatureLen)) \
    X(C_SignRecoverInit, (CK_SESSION_HANDLE hSession, CK_MECHANISM_PTR pMechanism, CK_OBJECT_HANDLE hKey), \
      (hSession, pMechanism, hKey)) \
    X(C_SignRecover, (CK_SESSION_HANDLE hSession, CK_BYTE_PTR pData, CK_ULONG ulDataLen, \
                      CK_BYTE_PTR pSignature, CK_ULONG_PTR pulSignatureLen), \
      (hSession, pData, ulDataLen, pSignature, pulSignatureLen)) \
    X(C_VerifyInit, (CK_SESSION_HANDLE hSession, CK_MECHANISM_PTR pMechanism, CK_OBJECT_HANDLE hKey), \
      (hSession, pMechanism, hKey)) \
    X(C_Verify, (CK_SESSION_HANDLE hSession, CK_BYTE_PTR pData, CK_ULONG ulDataLen, CK_BYTE_PTR pSignature, \
                 CK_ULONG ulSignatureLen), \
      (hSession, pData, ulDataLen, pSignature, ulSignatureLen)) \
    X(C_VerifyUpdate, (CK_SESSION_HANDLE hSession, CK_BYTE_PTR pPart, CK_ULONG ulPartLen), \
      (hSession, pPart, ulPartLen)) \
    X(C_VerifyFinal, (CK_SESSION_HANDLE hSession, CK_BYTE_PTR pSignature, CK_ULONG ulSignatureLen), \
      (hSession, pSignature, ulSignatureLen)) \
    X(C_VerifyRecoverInit, (CK_SESSION_HANDLE hSession, CK_MECHANISM_PTR pMechanism, CK_OBJECT_HANDLE hKey), \
      (hSession, pMechanism, hKey)) \
    X(C_VerifyRecover, (CK_SESSION_HANDLE hSession, CK_BYTE_PTR pSignature, CK_ULONG ulSignatureLen, \
                        CK_BYTE_PTR pData, CK_ULONG_PTR pulDataLen), \
      (hSession, pSignature, ulSignatureLen, pData, pulDataLen)) \
    X(C_DigestEncryptUpdate, (CK_SESSION_HANDLE hSession, CK_BYTE_PTR pPart, CK_ULONG ulPartLen, \
                              CK_BYTE_PTR pEncryptedPart, CK_ULONG_PTR pulEncryptedPartLen), \
      (hSession, pPart, ulPartLen, pEncryptedPart, pulEncryptedPartLen)) \
    X(C_DecryptDigestUpdate, (CK_SESSION_HANDLE hSession, CK_BYTE_PTR pEncryptedPart, \
                              CK_ULONG ulEncryptedPartLen, CK_BYTE_PTR pPart, CK_ULONG_PTR pulPartLen), \
      (hSession, pEncryptedPart, ulEncryptedPartLen, pPart, pulPartLen)) \
    X(C_SignEncryptUpdate, (CK_SESSION_HANDLE hSession, CK_BYTE_PTR pPart, CK_ULONG ulPartLen, \
                            CK_BYTE_PTR pEncryptedPart, CK_ULONG_PTR pulEncryptedPartLen), \
      (hSession, pPart, ulPartLen, pEncryptedPart, pulEncryptedPartLen)) \
    X(C_DecryptVerifyUpdate, (CK_SESSION_HANDLE hSession, CK_BYTE_PTR pEncryptedPart, \
                              CK_ULONG ulEncryptedPartLen, CK_BYTE_PTR pPart, CK_ULONG_PTR pulPartLen), \
      (hSession, pEncryptedPart, ulEncryptedPartLen, pPart, pulPartLen)) \
    X(C_GenerateKey, (CK_SESSION_HANDLE hSession, CK_MECHANISM_PTR pMechanism, CK_ATTRIBUTE_PTR pTemplate, \
                      CK_ULONG ulCount, CK_OBJECT_HANDLE_PTR phKey), \
      (hSession, pMechanism, pTemplate, ulCount, phKey)) \
    X(C_GenerateKeyPair, (CK_SESSION_HANDLE hSession, CK_MECHANISM_PTR pMechanism, \
                          CK_ATTRIBUTE_PTR pPublicKeyTemplate, CK_ULONG ulPublicKeyAttributeCount, \
                          CK_ATTRIBUTE_PTR pPrivateKeyTemplate, CK_ULONG ulPrivateKeyAttributeCount, \
                          CK_OBJECT_HANDLE_PTR phPublicKey, CK_OBJECT_HANDLE_PTR phPrivateKey), \
      (hSession, pMechanism, pPublicKeyTemplate, ulPublicKeyAttributeCount, pPrivateKeyTemplate, \
       ulPrivateKeyAttributeCount, phPublicKey, phPrivateKey)) \
    X(C_WrapKey, (CK_SESSION_HANDLE hSession, CK_MECHANISM_PTR pMechanism, CK_OBJECT_HANDLE hWrappingKey, \
                  CK_OBJECT_HANDLE hKey, CK_BYTE_PTR pWrappedKey, CK_ULONG_PTR pulWrappedKeyLen), \
      (hSession, pMechanism, hWrappingKey, hKey, pWrappedKey, pulWrappedKeyLen)) \
    X(C_UnwrapKey, (CK_SESSION_HANDLE hSession, CK_MECHANISM_PTR pMechanism, CK_OBJECT_HANDLE hUnwrappingKey, \
                    CK_BYTE_PTR pWrappedKey, CK_ULONG ulWrappedKeyLen, CK_ATTRIBUTE_PTR pTemplate, \
                    CK_ULONG ulAttributeCount, CK_OBJECT_HANDLE_PTR phKey), \
      (hSession, pMechanism, hUnwrappingKey, pWrappedKey, ulWrappedKeyLen, pTemplate, ulAttributeCount, phKey)) \
    X(C_DeriveKey, (CK_SESSION_HANDLE hSession, CK_MECHANISM_PTR pMechanism, CK_OBJECT_HANDLE hBaseKey, \
                    CK_ATTRIBUTE_PTR pTemplate, CK_ULONG ulAttributeCount, CK_OBJECT_HANDLE_PTR phKey), \
      (hSession, pMechanism, hBaseKey, pTemplate, ulAttributeCount, phKey)) \
    X(C_SeedRandom, (CK_SESSION_HANDLE hSession, CK_BYTE_PTR pSeed, CK_ULONG ulSeedLen), \
      (hSession, pSeed, ulSeedLen)) \
    X(C_GenerateRandom, (CK_SESSION_HANDLE hSession, CK_BYTE_PTR RandomData, CK_ULONG ulRandomLen), \
      (hSession, RandomData, ulRandomLen)) \
    X(C_GetFunctionStatus, (CK_SESSION_HANDLE hSession), (hSession)) \
    X(C_CancelFunction, (CK_SESSION_HANDLE hSession), (hSession)) \
    X(C_WaitForSlotEvent, (CK_FLAGS flags, CK_SLOT_ID_PTR pSlot, CK_VOID_PTR pReserved), (flags, pSlot, pReserved))

// Vendor calls take text as single bytes, each text followed by its length
// in characters.
#define NRV_VENDOR_FUNCTIONS(X) \
    X(C_NRV_SetTokenLabel, (CK_SESSION_HANDLE hSession, CK_BYTE_PTR pLabel, CK_ULONG ulLabelLen), \
      (hSession, pLabel, ulLabelLen)) \
    X(C_NRV_UnblockUserPIN, (CK_SESSION_HANDLE hSession, CK_BYTE_PTR pSOPin, CK_ULONG ulSOPinLen, \
                             CK_BYTE_PTR pNewUserPin, CK_ULONG ulNewUserPinLen), \
      (hSession, pSOPin, ulSOPinLen, pNewUserPin, ulNewUserPinLen)) \
    X(C_NRV_InitToken, (CK_BYTE flag, CK_SLOT_ID slotID, NRV_INIT_TOKEN_RECORD record), (flag, slotID, record)) \
    X(C_NRV_LoadCert, (CK_SESSION_HANDLE hSession, CK_BYTE_PTR pPath, CK_BYTE_PTR pPassword, \
                       CK_ULONG ulPasswordLen), \
      (hSession, pPath, pPassword, ulPasswordLen)) \
    X(C_NRV_GetSerialNumber, (CK_ULONG ulSlotPosition, CK_BYTE_PTR pSerial), (ulSlotPosition, pSerial)) \
    X(C_NRV_RefreshTokenFlag, (CK_SLOT_ID slotID), (slotID)) \
    X(C_NRV_Login, (CK_SESSION_HANDLE hSession, CK_USER_TYPE userType, CK_BYTE_PTR pPin, CK_ULONG ulPinLen), \
      (hSession, userType, pPin, ulPinLen)) \
    X(C_NRV_GetPinMinMax, (CK_ULONG ulWhich, CK_SLOT_ID slotID, NRV_PIN_MIN_MAX_PTR pMinMax), \
      (ulWhich, slotID, pMinMax)) \
    X(C_NRV_FindPriPubKey, (CK_SESSION_HANDLE hSession, CK_BYTE direction, CK_BYTE index, CK_BYTE_PTR pPartner), \
      (hSession, direction, index, pPartner)) \
    X(C_NRV_IsTokenReady, (CK_SLOT_ID slotID, CK_ULONG ulReserved), (slotID, ulReserved))

struct CK_FUNCTION_LIST;

#define NRV_DECLARE_POINTER_TYPE(name, params, args) typedef CK_RV(*CK_##name) params;
NRV_STANDARD_FUNCTIONS(NRV_DECLARE_POINTER_TYPE)
NRV_VENDOR_FUNCTIONS(NRV_DECLARE_POINTER_TYPE)
#undef NRV_DECLARE_POINTER_TYPE

#define NRV_DECLARE_LIST_ENTRY(name, params, args) CK_##name name;
typedef struct CK_FUNCTION_LIST {
    CK_VERSION version;
    NRV_STANDARD_FUNCTIONS(NRV_DECLARE_LIST_ENTRY)
    NRV_VENDOR_FUNCTIONS(NRV_DECLARE_LIST_ENTRY)
} CK_FUNCTION_LIST;
#undef NRV_DECLARE_LIST_ENTRY

typedef CK_FUNCTION_LIST* CK_FUNCTION_LIST_PTR;
typedef CK_FUNCTION_LIST_PTR* CK_FUNCTION_LIST_PTR_PTR;

#define NRV_STANDARD_FUNCTION_COUNT 68U
#define NRV_VENDOR_FUNCTION_COUNT 10U

// The maker's name in C_GetInfo. Only the maker's modules have the vendor
// entries: a standard module's function list ends after entry 67, and what
// follows it in memory is not a function.
#define NRV_MANUFACTURER_ID "Nurvon Ltd."

// True when C_GetInfo's blank-padded manufacturer is the maker's.
static inline CK_BBOOL NRV_IsMakersModule(const CK_INFO* info)
{
    const char* const name = NRV_MANUFACTURER_ID;
    size_t i = 0;
    for (; name[i] != '\0'; ++i) {
        if (i == sizeof info->manufacturerID || info->manufacturerID[i] != (CK_UTF8CHAR)name[i]) {
            return CK_FALSE;
        }
    }
    for (; i < sizeof info->manufacturerID; ++i) {
        if (info->manufacturerID[i] != ' ') {
            return CK_FALSE;
        }
    }
    return CK_TRUE;
}

#ifdef _WIN32
#pragma pack(pop)
#endif

#ifdef __cplusplus
}
#endif

#endif
