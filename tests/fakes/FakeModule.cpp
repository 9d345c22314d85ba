// A fake token module for the manager's client tests. It answers every call
// with a result the test chose (CKR_OK by default) and keeps a journal of the
// calls and the text bytes it was handed. Built in several variants, each with
// one fixed failure: no C_GetFunctionList export, a list left null,
// C_Initialize failing or C_FindObjects failing.
#include "pkcs11/pkcs11.h"

#include <cstring>
#include <map>
#include <mutex>
#include <sstream>
#include <string>

#define FAKE_EXPORT extern "C" __attribute__((visibility("default")))

namespace {

std::mutex g_mutex;
std::string g_journal;
std::map<std::string, CK_RV> g_results;

std::string Bytes(const CK_BYTE* bytes, std::size_t size)
{
    if (bytes == nullptr) {
        return "null";
    }
    // Text up to the first zero; the buffers handed to the module are zero-filled.
    return std::string(
        reinterpret_cast<const char*>(bytes), strnlen(reinterpret_cast<const char*>(bytes), size));
}

CK_RV Record(const char* function, const std::string& arguments)
{
    const std::lock_guard lock(g_mutex);
    g_journal += function;
    g_journal += '(';
    g_journal += arguments;
    g_journal += ")\n";
    // A result chosen for these very arguments wins over one for every call.
    auto found = g_results.find(std::string(function) + '(' + arguments + ')');
    if (found == g_results.end()) {
        found = g_results.find(function);
    }
    return found == g_results.end() ? CKR_OK : found->second;
}

template <typename... Values> std::string Join(const Values&... values)
{
    std::ostringstream out;
    const char* separator = "";
    ((out << separator << values, separator = ","), ...);
    return out.str();
}

CK_RV Fake_Initialize(CK_VOID_PTR args)
{
    const CK_RV rv = Record("C_Initialize", args == nullptr ? "null" : "args");
#ifdef FAKE_INITIALIZE_FAILS
    return rv == CKR_OK ? CKR_DEVICE_ERROR : rv;
#else
    return rv;
#endif
}

CK_RV Fake_Finalize(CK_VOID_PTR reserved)
{
    return Record("C_Finalize", reserved == nullptr ? "null" : "reserved");
}

CK_RV Fake_GetInfo(CK_INFO_PTR info)
{
    const CK_RV rv = Record("C_GetInfo", "");
    if (rv == CKR_OK && info != nullptr) {
        std::memset(info, ' ', sizeof *info);
        info->cryptokiVersion = CK_VERSION { 2, 20 };
#ifdef FAKE_STANDARD_MODULE
        const char maker[] = "Another Maker";
#else
        const char maker[] = NRV_MANUFACTURER_ID;
#endif
        std::memcpy(info->manufacturerID, maker, sizeof maker - 1);
        info->flags = 0;
        info->libraryVersion = CK_VERSION { 1, 0 };
    }
    return rv;
}

CK_RV Fake_GetSlotList(CK_BBOOL tokenPresent, CK_SLOT_ID_PTR slotList, CK_ULONG_PTR count)
{
    const CK_RV rv = Record("C_GetSlotList", Join(int(tokenPresent), slotList == nullptr ? "null" : "list"));
    if (rv == CKR_OK && count != nullptr) {
        if (slotList != nullptr && *count >= 2) {
            slotList[0] = 1;
            slotList[1] = 4;
        }
        *count = 2;
    }
    return rv;
}

CK_RV Fake_GetSlotInfo(CK_SLOT_ID slotID, CK_SLOT_INFO_PTR)
{
    return Record("C_GetSlotInfo", Join(slotID));
}

CK_RV Fake_GetTokenInfo(CK_SLOT_ID slotID, CK_TOKEN_INFO_PTR)
{
    return Record("C_GetTokenInfo", Join(slotID));
}

CK_RV Fake_SetPIN(CK_SESSION_HANDLE session, CK_UTF8CHAR_PTR oldPin, CK_ULONG oldLength,
    CK_UTF8CHAR_PTR newPin, CK_ULONG newLength)
{
    return Record("C_SetPIN",
        Join(session, Bytes(oldPin, NRV_PIN_BUFFER_SIZE), oldLength, Bytes(newPin, NRV_PIN_BUFFER_SIZE),
            newLength));
}

CK_RV Fake_OpenSession(CK_SLOT_ID slotID, CK_FLAGS flags, CK_VOID_PTR application, CK_NOTIFY notify,
    CK_SESSION_HANDLE_PTR session)
{
    const CK_RV rv = Record("C_OpenSession",
        Join(slotID, flags, application == nullptr ? "null" : "app", notify == nullptr ? "null" : "notify"));
    if (rv == CKR_OK && session != nullptr) {
        *session = 7;
    }
    return rv;
}

CK_RV Fake_CloseSession(CK_SESSION_HANDLE session)
{
    return Record("C_CloseSession", Join(session));
}

CK_RV Fake_CloseAllSessions(CK_SLOT_ID slotID)
{
    return Record("C_CloseAllSessions", Join(slotID));
}

CK_RV Fake_Logout(CK_SESSION_HANDLE session)
{
    return Record("C_Logout", Join(session));
}

CK_RV Fake_CreateObject(
    CK_SESSION_HANDLE session, CK_ATTRIBUTE_PTR, CK_ULONG count, CK_OBJECT_HANDLE_PTR object)
{
    const CK_RV rv = Record("C_CreateObject", Join(session, count));
    if (rv == CKR_OK && object != nullptr) {
        *object = 42;
    }
    return rv;
}

CK_RV Fake_DestroyObject(CK_SESSION_HANDLE session, CK_OBJECT_HANDLE object)
{
    return Record("C_DestroyObject", Join(session, object));
}

CK_RV Fake_GetAttributeValue(
    CK_SESSION_HANDLE session, CK_OBJECT_HANDLE object, CK_ATTRIBUTE_PTR, CK_ULONG count)
{
    return Record("C_GetAttributeValue", Join(session, object, count));
}

CK_RV Fake_SetAttributeValue(
    CK_SESSION_HANDLE session, CK_OBJECT_HANDLE object, CK_ATTRIBUTE_PTR, CK_ULONG count)
{
    return Record("C_SetAttributeValue", Join(session, object, count));
}

CK_RV Fake_FindObjectsInit(CK_SESSION_HANDLE session, CK_ATTRIBUTE_PTR, CK_ULONG count)
{
    return Record("C_FindObjectsInit", Join(session, count));
}

CK_RV Fake_FindObjects(
    CK_SESSION_HANDLE session, CK_OBJECT_HANDLE_PTR handles, CK_ULONG maxHandles, CK_ULONG_PTR found)
{
    CK_RV rv = Record("C_FindObjects", Join(session, handles == nullptr ? "null" : "handles", maxHandles));
#ifdef FAKE_FIND_OBJECTS_FAILS
    rv = CKR_DEVICE_ERROR;
#endif
    if (rv == CKR_OK && found != nullptr) {
        *found = 3;
    }
    return rv;
}

CK_RV Fake_FindObjectsFinal(CK_SESSION_HANDLE session)
{
    return Record("C_FindObjectsFinal", Join(session));
}

CK_RV Fake_NRV_SetTokenLabel(CK_SESSION_HANDLE session, CK_BYTE_PTR label, CK_ULONG length)
{
    return Record("C_NRV_SetTokenLabel", Join(session, Bytes(label, NRV_LABEL_BUFFER_SIZE), length));
}

CK_RV Fake_NRV_UnblockUserPIN(
    CK_SESSION_HANDLE session, CK_BYTE_PTR soPin, CK_ULONG soLength, CK_BYTE_PTR userPin, CK_ULONG userLength)
{
    return Record("C_NRV_UnblockUserPIN",
        Join(session, Bytes(soPin, NRV_PIN_BUFFER_SIZE), soLength, Bytes(userPin, NRV_PIN_BUFFER_SIZE),
            userLength));
}

CK_RV Fake_NRV_InitToken(CK_BYTE flag, CK_SLOT_ID slotID, NRV_INIT_TOKEN_RECORD record)
{
    return Record("C_NRV_InitToken",
        Join(int(flag), slotID, Bytes(record.pLabel, NRV_LABEL_BUFFER_SIZE),
            Bytes(record.pUserPin, NRV_PIN_BUFFER_SIZE), record.ulUserPinLen,
            Bytes(record.pSOPin, NRV_PIN_BUFFER_SIZE), record.ulSOPinLen, record.ulMaxRSAKeyPairs,
            int(record.bClearCard)));
}

CK_RV Fake_NRV_LoadCert(
    CK_SESSION_HANDLE session, CK_BYTE_PTR path, CK_BYTE_PTR password, CK_ULONG passwordLength)
{
    return Record("C_NRV_LoadCert",
        Join(session, Bytes(path, NRV_PATH_BUFFER_SIZE), Bytes(password, NRV_PASSWORD_BUFFER_SIZE),
            passwordLength));
}

CK_RV Fake_NRV_GetSerialNumber(CK_ULONG slotPosition, CK_BYTE_PTR serial)
{
    const CK_RV rv = Record("C_NRV_GetSerialNumber", Join(slotPosition));
    if (rv == CKR_OK && serial != nullptr) {
        std::memcpy(serial, "FAKE0001", 9);
    }
    return rv;
}

CK_RV Fake_NRV_RefreshTokenFlag(CK_SLOT_ID slotID)
{
    return Record("C_NRV_RefreshTokenFlag", Join(slotID));
}

CK_RV Fake_Login(CK_SESSION_HANDLE session, CK_USER_TYPE userType, CK_UTF8CHAR_PTR pin, CK_ULONG length)
{
    return Record("C_Login", Join(session, userType, Bytes(pin, NRV_PIN_BUFFER_SIZE), length));
}

CK_RV Fake_NRV_Login(CK_SESSION_HANDLE session, CK_USER_TYPE userType, CK_BYTE_PTR pin, CK_ULONG length)
{
    return Record("C_NRV_Login", Join(session, userType, Bytes(pin, NRV_PIN_BUFFER_SIZE), length));
}

CK_RV Fake_NRV_GetPinMinMax(CK_ULONG which, CK_SLOT_ID slotID, NRV_PIN_MIN_MAX_PTR range)
{
    const CK_RV rv = Record("C_NRV_GetPinMinMax", Join(which, slotID));
    if (rv == CKR_OK && range != nullptr) {
        range->ulMinLen = 4;
        range->ulMaxLen = 16;
    }
    return rv;
}

CK_RV Fake_NRV_FindPriPubKey(CK_SESSION_HANDLE session, CK_BYTE direction, CK_BYTE index, CK_BYTE_PTR partner)
{
    const CK_RV rv = Record("C_NRV_FindPriPubKey", Join(session, int(direction), int(index)));
    if (rv == CKR_OK && partner != nullptr) {
        *partner = static_cast<CK_BYTE>(index + 1);
    }
    return rv;
}

CK_RV Fake_NRV_IsTokenReady(CK_SLOT_ID slotID, CK_ULONG reserved)
{
    return Record("C_NRV_IsTokenReady", Join(slotID, reserved));
}

// Entries the client never calls stay null.
CK_FUNCTION_LIST MakeList()
{
    CK_FUNCTION_LIST list {};
    list.version = CK_VERSION { 2, 20 };
    list.C_Initialize = Fake_Initialize;
    list.C_Finalize = Fake_Finalize;
    list.C_GetInfo = Fake_GetInfo;
    list.C_GetSlotList = Fake_GetSlotList;
    list.C_GetSlotInfo = Fake_GetSlotInfo;
    list.C_GetTokenInfo = Fake_GetTokenInfo;
    list.C_SetPIN = Fake_SetPIN;
    list.C_OpenSession = Fake_OpenSession;
    list.C_CloseSession = Fake_CloseSession;
    list.C_CloseAllSessions = Fake_CloseAllSessions;
    list.C_Login = Fake_Login;
    list.C_Logout = Fake_Logout;
    list.C_CreateObject = Fake_CreateObject;
    list.C_DestroyObject = Fake_DestroyObject;
    list.C_GetAttributeValue = Fake_GetAttributeValue;
    list.C_SetAttributeValue = Fake_SetAttributeValue;
    list.C_FindObjectsInit = Fake_FindObjectsInit;
    list.C_FindObjects = Fake_FindObjects;
    list.C_FindObjectsFinal = Fake_FindObjectsFinal;
    list.C_NRV_SetTokenLabel = Fake_NRV_SetTokenLabel;
    list.C_NRV_UnblockUserPIN = Fake_NRV_UnblockUserPIN;
    list.C_NRV_InitToken = Fake_NRV_InitToken;
    list.C_NRV_LoadCert = Fake_NRV_LoadCert;
    list.C_NRV_GetSerialNumber = Fake_NRV_GetSerialNumber;
    list.C_NRV_RefreshTokenFlag = Fake_NRV_RefreshTokenFlag;
    list.C_NRV_Login = Fake_NRV_Login;
    list.C_NRV_GetPinMinMax = Fake_NRV_GetPinMinMax;
    list.C_NRV_FindPriPubKey = Fake_NRV_FindPriPubKey;
    list.C_NRV_IsTokenReady = Fake_NRV_IsTokenReady;
#ifdef FAKE_STANDARD_MODULE
    // A standard module's list ends after entry 67: what follows is not a
    // function, and a client that calls it crashes the test.
    const CK_FUNCTION_LIST poisoned = [] {
        CK_FUNCTION_LIST bytes;
        std::memset(&bytes, 0x5A, sizeof bytes);
        return bytes;
    }();
    std::memcpy(&list.C_NRV_SetTokenLabel, &poisoned.C_NRV_SetTokenLabel,
        sizeof list - offsetof(CK_FUNCTION_LIST, C_NRV_SetTokenLabel));
#endif
    return list;
}

CK_FUNCTION_LIST g_list = MakeList();

} // namespace

#ifndef FAKE_NO_FUNCTION_LIST
FAKE_EXPORT CK_RV C_GetFunctionList(CK_FUNCTION_LIST_PTR_PTR list)
{
    Record("C_GetFunctionList", "");
#ifdef FAKE_NULL_FUNCTION_LIST
    // Claims success but hands out nothing.
    *list = nullptr;
#else
    *list = &g_list;
#endif
    return CKR_OK;
}
#endif

// The journal, one "name(arguments)" line per call, oldest first.
FAKE_EXPORT const char* FakeModule_Journal()
{
    static thread_local std::string copy;
    const std::lock_guard lock(g_mutex);
    copy = g_journal;
    return copy.c_str();
}

FAKE_EXPORT void FakeModule_Reset()
{
    const std::lock_guard lock(g_mutex);
    g_journal.clear();
    g_results.clear();
}

// Makes every later call of the named module function return code, or only
// the calls with the given arguments when call reads "name(arguments)".
FAKE_EXPORT void FakeModule_SetResult(const char* function, CK_RV code)
{
    const std::lock_guard lock(g_mutex);
    g_results[function] = code;
}
