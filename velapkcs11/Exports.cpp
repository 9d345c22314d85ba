// The exported C layer: each entry catches everything and answers a CK_RV.
#include "CallLog.h"
#include "ExportGuard.h"

#define VELA5_EXPORT __attribute__((visibility("default")))

using velatoken::Guard;
using velatoken::Ignore;
using velatoken::Logged;
using velatoken::LogNothing;
using velatoken::LogSession;
using velatoken::LogSlot;
using velatoken::M;
using velatoken::Operation;

extern "C" {

#define DECLARE_ENTRY(name, params, args) VELA5_EXPORT CK_RV name params;
NRV_STANDARD_FUNCTIONS(DECLARE_ENTRY)
NRV_VENDOR_FUNCTIONS(DECLARE_ENTRY)
#undef DECLARE_ENTRY

CK_RV C_Initialize(CK_VOID_PTR pInitArgs)
{
    return Logged("C_Initialize", LogNothing(), Guard([&] { M().Initialize(pInitArgs); }));
}
CK_RV C_Finalize(CK_VOID_PTR pReserved)
{
    return Logged("C_Finalize", LogNothing(), Guard([&] { M().Finalize(pReserved); }));
}
CK_RV C_GetInfo(CK_INFO_PTR pInfo)
{
    return Logged("C_GetInfo", LogNothing(), Guard([&] { M().GetInfo(pInfo); }));
}
CK_RV C_GetSlotList(CK_BBOOL tokenPresent, CK_SLOT_ID_PTR pSlotList, CK_ULONG_PTR pulCount)
{
    return Logged(
        "C_GetSlotList", LogNothing(), Guard([&] { M().GetSlotList(tokenPresent, pSlotList, pulCount); }));
}
CK_RV C_GetSlotInfo(CK_SLOT_ID slotID, CK_SLOT_INFO_PTR pInfo)
{
    return Logged("C_GetSlotInfo", LogSlot(slotID), Guard([&] { M().GetSlotInfo(slotID, pInfo); }));
}
CK_RV C_GetTokenInfo(CK_SLOT_ID slotID, CK_TOKEN_INFO_PTR pInfo)
{
    return Logged("C_GetTokenInfo", LogSlot(slotID), Guard([&] { M().GetTokenInfo(slotID, pInfo); }));
}
CK_RV C_GetMechanismList(CK_SLOT_ID slotID, CK_MECHANISM_TYPE_PTR pMechanismList, CK_ULONG_PTR pulCount)
{
    return Logged("C_GetMechanismList", LogSlot(slotID),
        Guard([&] { M().GetMechanismList(slotID, pMechanismList, pulCount); }));
}
CK_RV C_GetMechanismInfo(CK_SLOT_ID slotID, CK_MECHANISM_TYPE type, CK_MECHANISM_INFO_PTR pInfo)
{
    return Logged(
        "C_GetMechanismInfo", LogSlot(slotID), Guard([&] { M().GetMechanismInfo(slotID, type, pInfo); }));
}
CK_RV C_InitToken(CK_SLOT_ID slotID, CK_UTF8CHAR_PTR pPin, CK_ULONG ulPinLen, CK_UTF8CHAR_PTR pLabel)
{
    return Logged(
        "C_InitToken", LogSlot(slotID), Guard([&] { M().InitToken(slotID, pPin, ulPinLen, pLabel); }));
}
CK_RV C_InitPIN(CK_SESSION_HANDLE hSession, CK_UTF8CHAR_PTR pPin, CK_ULONG ulPinLen)
{
    return Logged("C_InitPIN", LogSession(hSession), Guard([&] { M().InitPIN(hSession, pPin, ulPinLen); }));
}
CK_RV C_SetPIN(CK_SESSION_HANDLE hSession, CK_UTF8CHAR_PTR pOldPin, CK_ULONG ulOldLen,
    CK_UTF8CHAR_PTR pNewPin, CK_ULONG ulNewLen)
{
    return Logged("C_SetPIN", LogSession(hSession),
        Guard([&] { M().SetPIN(hSession, pOldPin, ulOldLen, pNewPin, ulNewLen); }));
}
CK_RV C_OpenSession(CK_SLOT_ID slotID, CK_FLAGS flags, CK_VOID_PTR pApplication, CK_NOTIFY Notify,
    CK_SESSION_HANDLE_PTR phSession)
{
    Ignore(pApplication, Notify);
    return Logged(
        "C_OpenSession", LogSlot(slotID), Guard([&] { M().OpenSession(slotID, flags, phSession); }));
}
CK_RV C_CloseSession(CK_SESSION_HANDLE hSession)
{
    return Logged("C_CloseSession", LogSession(hSession), Guard([&] { M().CloseSession(hSession); }));
}
CK_RV C_CloseAllSessions(CK_SLOT_ID slotID)
{
    return Logged("C_CloseAllSessions", LogSlot(slotID), Guard([&] { M().CloseAllSessions(slotID); }));
}
CK_RV C_GetSessionInfo(CK_SESSION_HANDLE hSession, CK_SESSION_INFO_PTR pInfo)
{
    return Logged(
        "C_GetSessionInfo", LogSession(hSession), Guard([&] { M().GetSessionInfo(hSession, pInfo); }));
}
CK_RV C_Login(CK_SESSION_HANDLE hSession, CK_USER_TYPE userType, CK_UTF8CHAR_PTR pPin, CK_ULONG ulPinLen)
{
    return Logged("C_Login", LogSession(hSession),
        Guard([&] { M().Login(hSession, userType, pPin, ulPinLen, false); }));
}
CK_RV C_Logout(CK_SESSION_HANDLE hSession)
{
    return Logged("C_Logout", LogSession(hSession), Guard([&] { M().Logout(hSession); }));
}
CK_RV C_CreateObject(
    CK_SESSION_HANDLE hSession, CK_ATTRIBUTE_PTR pTemplate, CK_ULONG ulCount, CK_OBJECT_HANDLE_PTR phObject)
{
    return Logged("C_CreateObject", LogSession(hSession),
        Guard([&] { M().CreateObject(hSession, pTemplate, ulCount, phObject); }));
}
CK_RV C_DestroyObject(CK_SESSION_HANDLE hSession, CK_OBJECT_HANDLE hObject)
{
    return Logged(
        "C_DestroyObject", LogSession(hSession), Guard([&] { M().DestroyObject(hSession, hObject); }));
}
CK_RV C_GetObjectSize(CK_SESSION_HANDLE hSession, CK_OBJECT_HANDLE hObject, CK_ULONG_PTR pulSize)
{
    return Logged("C_GetObjectSize", LogSession(hSession),
        Guard([&] { M().GetObjectSize(hSession, hObject, pulSize); }));
}
CK_RV C_GetAttributeValue(
    CK_SESSION_HANDLE hSession, CK_OBJECT_HANDLE hObject, CK_ATTRIBUTE_PTR pTemplate, CK_ULONG ulCount)
{
    return Logged("C_GetAttributeValue", LogSession(hSession),
        Guard([&] { M().GetAttributeValue(hSession, hObject, pTemplate, ulCount); }));
}
CK_RV C_SetAttributeValue(
    CK_SESSION_HANDLE hSession, CK_OBJECT_HANDLE hObject, CK_ATTRIBUTE_PTR pTemplate, CK_ULONG ulCount)
{
    return Logged("C_SetAttributeValue", LogSession(hSession),
        Guard([&] { M().SetAttributeValue(hSession, hObject, pTemplate, ulCount); }));
}
CK_RV C_FindObjectsInit(CK_SESSION_HANDLE hSession, CK_ATTRIBUTE_PTR pTemplate, CK_ULONG ulCount)
{
    return Logged("C_FindObjectsInit", LogSession(hSession),
        Guard([&] { M().FindObjectsInit(hSession, pTemplate, ulCount); }));
}
CK_RV C_FindObjects(CK_SESSION_HANDLE hSession, CK_OBJECT_HANDLE_PTR phObject, CK_ULONG ulMaxObjectCount,
    CK_ULONG_PTR pulObjectCount)
{
    return Logged("C_FindObjects", LogSession(hSession),
        Guard([&] { M().FindObjects(hSession, phObject, ulMaxObjectCount, pulObjectCount); }));
}
CK_RV C_FindObjectsFinal(CK_SESSION_HANDLE hSession)
{
    return Logged("C_FindObjectsFinal", LogSession(hSession), Guard([&] { M().FindObjectsFinal(hSession); }));
}
CK_RV C_EncryptInit(CK_SESSION_HANDLE hSession, CK_MECHANISM_PTR pMechanism, CK_OBJECT_HANDLE hKey)
{
    return Logged("C_EncryptInit", LogSession(hSession),
        Guard([&] { M().OperationInit(Operation::Encrypt, hSession, pMechanism, hKey); }));
}
CK_RV C_Encrypt(CK_SESSION_HANDLE hSession, CK_BYTE_PTR pData, CK_ULONG ulDataLen, CK_BYTE_PTR pEncryptedData,
    CK_ULONG_PTR pulEncryptedDataLen)
{
    return Logged("C_Encrypt", LogSession(hSession), Guard([&] {
        M().Transform(Operation::Encrypt, hSession, pData, ulDataLen, pEncryptedData, pulEncryptedDataLen);
    }));
}
CK_RV C_DecryptInit(CK_SESSION_HANDLE hSession, CK_MECHANISM_PTR pMechanism, CK_OBJECT_HANDLE hKey)
{
    return Logged("C_DecryptInit", LogSession(hSession),
        Guard([&] { M().OperationInit(Operation::Decrypt, hSession, pMechanism, hKey); }));
}
CK_RV C_Decrypt(CK_SESSION_HANDLE hSession, CK_BYTE_PTR pEncryptedData, CK_ULONG ulEncryptedDataLen,
    CK_BYTE_PTR pData, CK_ULONG_PTR pulDataLen)
{
    return Logged("C_Decrypt", LogSession(hSession), Guard([&] {
        M().Transform(Operation::Decrypt, hSession, pEncryptedData, ulEncryptedDataLen, pData, pulDataLen);
    }));
}
CK_RV C_SignInit(CK_SESSION_HANDLE hSession, CK_MECHANISM_PTR pMechanism, CK_OBJECT_HANDLE hKey)
{
    return Logged("C_SignInit", LogSession(hSession),
        Guard([&] { M().OperationInit(Operation::Sign, hSession, pMechanism, hKey); }));
}
CK_RV C_Sign(CK_SESSION_HANDLE hSession, CK_BYTE_PTR pData, CK_ULONG ulDataLen, CK_BYTE_PTR pSignature,
    CK_ULONG_PTR pulSignatureLen)
{
    return Logged("C_Sign", LogSession(hSession), Guard([&] {
        M().Transform(Operation::Sign, hSession, pData, ulDataLen, pSignature, pulSignatureLen);
    }));
}
CK_RV C_SignUpdate(CK_SESSION_HANDLE hSession, CK_BYTE_PTR pPart, CK_ULONG ulPartLen)
{
    return Logged("C_SignUpdate", LogSession(hSession),
        Guard([&] { M().Update(Operation::Sign, hSession, pPart, ulPartLen); }));
}
CK_RV C_SignFinal(CK_SESSION_HANDLE hSession, CK_BYTE_PTR pSignature, CK_ULONG_PTR pulSignatureLen)
{
    return Logged("C_SignFinal", LogSession(hSession),
        Guard([&] { M().Final(Operation::Sign, hSession, pSignature, pulSignatureLen); }));
}
CK_RV C_VerifyInit(CK_SESSION_HANDLE hSession, CK_MECHANISM_PTR pMechanism, CK_OBJECT_HANDLE hKey)
{
    return Logged("C_VerifyInit", LogSession(hSession),
        Guard([&] { M().OperationInit(Operation::Verify, hSession, pMechanism, hKey); }));
}
CK_RV C_Verify(CK_SESSION_HANDLE hSession, CK_BYTE_PTR pData, CK_ULONG ulDataLen, CK_BYTE_PTR pSignature,
    CK_ULONG ulSignatureLen)
{
    return Logged("C_Verify", LogSession(hSession),
        Guard([&] { M().Verify(hSession, pData, ulDataLen, pSignature, ulSignatureLen); }));
}
CK_RV C_VerifyUpdate(CK_SESSION_HANDLE hSession, CK_BYTE_PTR pPart, CK_ULONG ulPartLen)
{
    return Logged("C_VerifyUpdate", LogSession(hSession),
        Guard([&] { M().Update(Operation::Verify, hSession, pPart, ulPartLen); }));
}
CK_RV C_VerifyFinal(CK_SESSION_HANDLE hSession, CK_BYTE_PTR pSignature, CK_ULONG ulSignatureLen)
{
    return Logged("C_VerifyFinal", LogSession(hSession),
        Guard([&] { M().VerifyFinal(hSession, pSignature, ulSignatureLen); }));
}
CK_RV C_DigestInit(CK_SESSION_HANDLE hSession, CK_MECHANISM_PTR pMechanism)
{
    return Logged("C_DigestInit", LogSession(hSession), Guard([&] { M().DigestInit(hSession, pMechanism); }));
}
CK_RV C_Digest(CK_SESSION_HANDLE hSession, CK_BYTE_PTR pData, CK_ULONG ulDataLen, CK_BYTE_PTR pDigest,
    CK_ULONG_PTR pulDigestLen)
{
    return Logged("C_Digest", LogSession(hSession),
        Guard([&] { M().Transform(Operation::Digest, hSession, pData, ulDataLen, pDigest, pulDigestLen); }));
}
CK_RV C_DigestUpdate(CK_SESSION_HANDLE hSession, CK_BYTE_PTR pPart, CK_ULONG ulPartLen)
{
    return Logged("C_DigestUpdate", LogSession(hSession),
        Guard([&] { M().Update(Operation::Digest, hSession, pPart, ulPartLen); }));
}
CK_RV C_DigestFinal(CK_SESSION_HANDLE hSession, CK_BYTE_PTR pDigest, CK_ULONG_PTR pulDigestLen)
{
    return Logged("C_DigestFinal", LogSession(hSession),
        Guard([&] { M().Final(Operation::Digest, hSession, pDigest, pulDigestLen); }));
}
CK_RV C_GenerateKeyPair(CK_SESSION_HANDLE hSession, CK_MECHANISM_PTR pMechanism,
    CK_ATTRIBUTE_PTR pPublicKeyTemplate, CK_ULONG ulPublicKeyAttributeCount,
    CK_ATTRIBUTE_PTR pPrivateKeyTemplate, CK_ULONG ulPrivateKeyAttributeCount,
    CK_OBJECT_HANDLE_PTR phPublicKey, CK_OBJECT_HANDLE_PTR phPrivateKey)
{
    return Logged("C_GenerateKeyPair", LogSession(hSession), Guard([&] {
        M().GenerateKeyPair(hSession, pMechanism, pPublicKeyTemplate, ulPublicKeyAttributeCount,
            pPrivateKeyTemplate, ulPrivateKeyAttributeCount, phPublicKey, phPrivateKey);
    }));
}
CK_RV C_GenerateRandom(CK_SESSION_HANDLE hSession, CK_BYTE_PTR RandomData, CK_ULONG ulRandomLen)
{
    return Logged("C_GenerateRandom", LogSession(hSession),
        Guard([&] { M().GenerateRandom(hSession, RandomData, ulRandomLen); }));
}
CK_RV C_SeedRandom(CK_SESSION_HANDLE hSession, CK_BYTE_PTR pSeed, CK_ULONG ulSeedLen)
{
    Ignore(pSeed, ulSeedLen);
    return Logged("C_SeedRandom", LogSession(hSession),
        Guard([&] { M().SessionUnsupported(hSession, CKR_RANDOM_SEED_NOT_SUPPORTED); }));
}
CK_RV C_GetFunctionStatus(CK_SESSION_HANDLE hSession)
{
    return Logged("C_GetFunctionStatus", LogSession(hSession),
        Guard([&] { M().SessionUnsupported(hSession, CKR_FUNCTION_NOT_PARALLEL); }));
}
CK_RV C_CancelFunction(CK_SESSION_HANDLE hSession)
{
    return Logged("C_CancelFunction", LogSession(hSession),
        Guard([&] { M().SessionUnsupported(hSession, CKR_FUNCTION_NOT_PARALLEL); }));
}

// Vendor entries.
CK_RV C_NRV_SetTokenLabel(CK_SESSION_HANDLE hSession, CK_BYTE_PTR pLabel, CK_ULONG ulLabelLen)
{
    return Logged("C_NRV_SetTokenLabel", LogSession(hSession),
        Guard([&] { M().SetTokenLabel(hSession, pLabel, ulLabelLen); }));
}
CK_RV C_NRV_UnblockUserPIN(CK_SESSION_HANDLE hSession, CK_BYTE_PTR pSOPin, CK_ULONG ulSOPinLen,
    CK_BYTE_PTR pNewUserPin, CK_ULONG ulNewUserPinLen)
{
    return Logged("C_NRV_UnblockUserPIN", LogSession(hSession),
        Guard([&] { M().UnblockUserPIN(hSession, pSOPin, ulSOPinLen, pNewUserPin, ulNewUserPinLen); }));
}
CK_RV C_NRV_InitToken(CK_BYTE flag, CK_SLOT_ID slotID, NRV_INIT_TOKEN_RECORD record)
{
    return Logged("C_NRV_InitToken", LogNothing(), Guard([&] { M().InitToken(flag, slotID, record); }));
}
CK_RV C_NRV_LoadCert(
    CK_SESSION_HANDLE hSession, CK_BYTE_PTR pPath, CK_BYTE_PTR pPassword, CK_ULONG ulPasswordLen)
{
    return Logged("C_NRV_LoadCert", LogSession(hSession),
        Guard([&] { M().LoadCert(hSession, pPath, pPassword, ulPasswordLen); }));
}
CK_RV C_NRV_GetSerialNumber(CK_ULONG ulSlotPosition, CK_BYTE_PTR pSerial)
{
    return Logged(
        "C_NRV_GetSerialNumber", LogNothing(), Guard([&] { M().GetSerialNumber(ulSlotPosition, pSerial); }));
}
CK_RV C_NRV_RefreshTokenFlag(CK_SLOT_ID slotID)
{
    return Logged("C_NRV_RefreshTokenFlag", LogSlot(slotID), Guard([&] { M().RefreshTokenFlag(slotID); }));
}
CK_RV C_NRV_Login(CK_SESSION_HANDLE hSession, CK_USER_TYPE userType, CK_BYTE_PTR pPin, CK_ULONG ulPinLen)
{
    return Logged("C_NRV_Login", LogSession(hSession),
        Guard([&] { M().Login(hSession, userType, pPin, ulPinLen, true); }));
}
CK_RV C_NRV_GetPinMinMax(CK_ULONG ulWhich, CK_SLOT_ID slotID, NRV_PIN_MIN_MAX_PTR pMinMax)
{
    return Logged(
        "C_NRV_GetPinMinMax", LogNothing(), Guard([&] { M().GetPinMinMax(ulWhich, slotID, pMinMax); }));
}
CK_RV C_NRV_FindPriPubKey(CK_SESSION_HANDLE hSession, CK_BYTE direction, CK_BYTE index, CK_BYTE_PTR pPartner)
{
    return Logged("C_NRV_FindPriPubKey", LogSession(hSession),
        Guard([&] { M().FindPriPubKey(hSession, direction, index, pPartner); }));
}
CK_RV C_NRV_IsTokenReady(CK_SLOT_ID slotID, CK_ULONG ulReserved)
{
    return Logged(
        "C_NRV_IsTokenReady", LogSlot(slotID), Guard([&] { M().IsTokenReady(slotID, ulReserved); }));
}

#define LIST_ENTRY(name, params, args) name,
static CK_FUNCTION_LIST functionList
    = { { 2, 20 }, NRV_STANDARD_FUNCTIONS(LIST_ENTRY) NRV_VENDOR_FUNCTIONS(LIST_ENTRY) };
#undef LIST_ENTRY

CK_RV C_GetFunctionList(CK_FUNCTION_LIST_PTR_PTR ppFunctionList)
{
    if (ppFunctionList == nullptr) {
        return CKR_ARGUMENTS_BAD;
    }
    *ppFunctionList = &functionList;
    return CKR_OK;
}

} // extern "C"
