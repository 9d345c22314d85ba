// The manager's only client of the token module: loads it, fetches its
// function list and gives one thin, logged method per module call. It keeps
// no slot, session or object state and has no lock; callers keep their calls
// apart (the poller is paused around every token operation).
#pragma once

#include "pkcs11/pkcs11.h"

#include <memory>
#include <string_view>
#include <vector>
#include <wx/string.h>

class wxDynamicLibrary;

class NRVCMUCryptoki {
public:
    // Loads the module by name (immediate binding). A failed load is found
    // later by CheckCryptokiLibrary.
    explicit NRVCMUCryptoki(const wxString& moduleFileName = wxS("velapkcs11.so"));
    // Unloads the module.
    virtual ~NRVCMUCryptoki();
    NRVCMUCryptoki(const NRVCMUCryptoki&) = delete;
    NRVCMUCryptoki& operator=(const NRVCMUCryptoki&) = delete;

    // False when the module did not load.
    bool CheckCryptokiLibrary();
    // 0 with the list fetched; CKR_GENERAL_ERROR (5) without the export,
    // CKR_FUNCTION_FAILED (6) when the list stays null.
    CK_RV CheckFunctionList();
    CK_RV Initialize();
    CK_RV Finalize();

    // Wrappers. Each returns the module's code unchanged. Before the function
    // list has been fetched they return CKR_CRYPTOKI_NOT_INITIALIZED, and for
    // an empty entry of the list CKR_FUNCTION_NOT_SUPPORTED, without calling
    // anything. Text that does not fit its buffer or does not convert is
    // refused with the codes listed in ModuleTextBuffer.h, before the module
    // is called.
    CK_RV GetSlotList(CK_BBOOL tokenPresent, CK_SLOT_ID_PTR slotList, CK_ULONG_PTR count);
    CK_RV GetSlotInfo(CK_SLOT_ID slotID, CK_SLOT_INFO_PTR info);
    CK_RV GetTokenInfo(CK_SLOT_ID slotID, CK_TOKEN_INFO_PTR info);
    // buffer: at least NRV_SERIAL_BUFFER_SIZE bytes.
    CK_RV GetTokenSerial(CK_ULONG slotPosition, CK_BYTE* buffer);
    CK_RV GetSOPINLengthRange(CK_SLOT_ID slotID, NRV_PIN_MIN_MAX* range);
    // The record's label and PIN pointers must point to buffers of
    // NRV_LABEL_BUFFER_SIZE and NRV_PIN_BUFFER_SIZE bytes (ModuleTextBuffer).
    CK_RV InitializeToken(CK_BYTE flag, CK_SLOT_ID slotID, NRV_INIT_TOKEN_RECORD record);
    CK_RV SetPIN(CK_SESSION_HANDLE session, const wxString& oldPIN, const wxString& newPIN);
    CK_RV ChangeTokenName(CK_SESSION_HANDLE session, const wxString& label);
    CK_RV UnblockUserPIN(CK_SESSION_HANDLE session, const wxString& soPIN, const wxString& newUserPIN);
    CK_RV RefreshTokenFlag(CK_SLOT_ID slotID);
    // Before objects are listed: the maker's module refreshes its token
    // flags; any other module has nothing to refresh and answers CKR_OK.
    CK_RV RefreshBeforeListing(CK_SLOT_ID slotID);
    CK_RV IsTokenReady(CK_SLOT_ID slotID);
    // Always a serial read/write session.
    CK_RV OpenSession(CK_SLOT_ID slotID, CK_SESSION_HANDLE* session);
    CK_RV CloseSession(CK_SESSION_HANDLE session);
    CK_RV CloseAllSessions(CK_SLOT_ID slotID);
    CK_RV LogIn(CK_USER_TYPE userType, CK_SESSION_HANDLE session, const wxString& pin);
    CK_RV LogOut(CK_SESSION_HANDLE session);
    // Init, find and final; a failed find leaves the search unfinalized.
    CK_RV FindObjects(CK_SESSION_HANDLE session, CK_ATTRIBUTE_PTR templ, CK_ULONG count,
        CK_OBJECT_HANDLE_PTR handles, CK_ULONG maxHandles, CK_ULONG_PTR found);
    CK_RV CreateCryptoObject(
        CK_SESSION_HANDLE session, CK_ATTRIBUTE_PTR templ, CK_ULONG count, CK_OBJECT_HANDLE_PTR object);
    CK_RV DestroyObject(CK_SESSION_HANDLE session, CK_OBJECT_HANDLE object);
    CK_RV SetAttributeValue(
        CK_SESSION_HANDLE session, CK_OBJECT_HANDLE object, CK_ATTRIBUTE_PTR templ, CK_ULONG count);
    CK_RV GetAttributeValue(
        CK_SESSION_HANDLE session, CK_OBJECT_HANDLE object, CK_ATTRIBUTE_PTR templ, CK_ULONG count);
    // Variable-length attributes: their lengths first, then the values into
    // buffers of exactly that size; values gets one entry per type.
    CK_RV GetAttributeBytes(CK_SESSION_HANDLE session, CK_OBJECT_HANDLE object,
        const std::vector<CK_ATTRIBUTE_TYPE>& types, std::vector<std::vector<uint8_t>>& values);
    // direction: NRV_FROM_PRIVATE_KEY_INDEX or NRV_FROM_PUBLIC_KEY_INDEX.
    CK_RV GetKeyPairIndex(CK_SESSION_HANDLE session, CK_BYTE direction, CK_BYTE index, CK_BYTE* partnerIndex);
    CK_RV LoadCertificate(CK_SESSION_HANDLE session, const wxString& filePath, const wxString& password);

    bool IsLoaded() const;
    // True once Initialize found the maker's module: only then do the vendor
    // wrappers call the module; elsewhere they answer
    // CKR_FUNCTION_NOT_SUPPORTED, and LogIn uses the standard C_Login.
    bool HasVendorEntries() const { return m_vendorEntries; }
    // Null until CheckFunctionList has succeeded.
    CK_FUNCTION_LIST_PTR GetFunctionList() const { return m_functionList; }

private:
    std::unique_ptr<wxDynamicLibrary> m_library;
    CK_FUNCTION_LIST_PTR m_functionList = nullptr;
    bool m_vendorEntries = false;
};
