// The manager's module client: one logged wrapper per module call.
#include "NRVCMUCryptoki.h"

#include "CryptokiResultText.h"
#include "ModuleTextBuffer.h"
#include "NRVCMULog.h"

#include <algorithm>
#include <string>
#include <wx/dynlib.h>
#include <wx/filename.h>
#include <wx/stdpaths.h>

namespace {

constexpr CK_FLAGS SerialReadWriteSession = CKF_SERIAL_SESSION | CKF_RW_SESSION;

// Writes "NRVCMUCryptoki::<operation>() - ENTER" now and the EXIT line when
// the wrapper returns, after any error line.
class EnterExit final {
public:
    explicit EnterExit(const char* operation)
        : m_operation(operation)
    {
        NRVCMULog::Get().WriteLine(Line("ENTER"));
    }
    ~EnterExit() { NRVCMULog::Get().WriteLine(Line("EXIT")); }
    EnterExit(const EnterExit&) = delete;
    EnterExit& operator=(const EnterExit&) = delete;

private:
    std::string Line(const char* what) const
    {
        return std::string("NRVCMUCryptoki::") + m_operation + "() - " + what;
    }

    const char* m_operation;
};

void LogModuleError(const char* moduleFunction, CK_RV code, bool vendorNames)
{
    NRVCMULog::Get().WriteText(
        std::string("\t") + moduleFunction + " ERROR: ", GetResultName(code, vendorNames), true);
}

// Text refused before the module was called: the line says so rather than
// blaming the module.
CK_RV LogRefused(const char* moduleFunction, CK_RV code)
{
    NRVCMULog::Get().WriteText(std::string("\t") + moduleFunction + " REFUSED: ", GetResultName(code), true);
    return code;
}

// The module by its plain name is looked for beside the program first, then
// in the system's search order. dlopen would apply the RUNPATH of the
// toolkit library that calls it, not the program's, so the program's folder
// is tried explicitly.
wxString ResolveModulePath(const wxString& moduleFileName)
{
    const wxFileName name(moduleFileName);
    if (name.IsAbsolute() || !name.GetPath().empty()) {
        return moduleFileName;
    }
    const wxFileName besideProgram(
        wxFileName(wxStandardPaths::Get().GetExecutablePath()).GetPath(), moduleFileName);
    if (besideProgram.FileExists()) {
        return besideProgram.GetFullPath();
    }
    return moduleFileName;
}

} // namespace

// Calls one entry of the function list and writes its error line. A missing
// list or entry is answered without calling anything.
#define NRV_CALL_MODULE(entry, vendorNames, ...)                                                             \
    (m_functionList == nullptr ? NotReady(#entry)                                                            \
            : m_functionList->entry == nullptr                                                               \
            ? Unsupported(#entry)                                                                            \
            : Checked(#entry, vendorNames, m_functionList->entry(__VA_ARGS__)))

// Vendor entries exist only in the maker's modules; on any other module they
// are answered here, never read from past the end of the standard list.
#define NRV_CALL_VENDOR(entry, vendorNames, ...)                                                             \
    (m_functionList != nullptr && !m_vendorEntries ? Unsupported(#entry)                                     \
                                                   : NRV_CALL_MODULE(entry, vendorNames, __VA_ARGS__))

namespace {

CK_RV NotReady(const char* moduleFunction)
{
    LogModuleError(moduleFunction, CKR_CRYPTOKI_NOT_INITIALIZED, false);
    return CKR_CRYPTOKI_NOT_INITIALIZED;
}

CK_RV Unsupported(const char* moduleFunction)
{
    LogModuleError(moduleFunction, CKR_FUNCTION_NOT_SUPPORTED, false);
    return CKR_FUNCTION_NOT_SUPPORTED;
}

CK_RV Checked(const char* moduleFunction, bool vendorNames, CK_RV code)
{
    if (code != CKR_OK) {
        LogModuleError(moduleFunction, code, vendorNames);
    }
    return code;
}

} // namespace

NRVCMUCryptoki::NRVCMUCryptoki(const wxString& moduleFileName)
    : m_library(std::make_unique<wxDynamicLibrary>())
{
    // A failed load is reported by CheckCryptokiLibrary, not by a message box.
    m_library->Load(ResolveModulePath(moduleFileName), wxDL_NOW | wxDL_VERBATIM | wxDL_QUIET);
}

NRVCMUCryptoki::~NRVCMUCryptoki()
{
    m_functionList = nullptr;
    if (m_library->IsLoaded()) {
        m_library->Unload();
    }
}

bool NRVCMUCryptoki::IsLoaded() const
{
    return m_library->IsLoaded();
}

bool NRVCMUCryptoki::CheckCryptokiLibrary()
{
    const EnterExit log("CheckCryptokiLibrary");
    if (!m_library->IsLoaded()) {
        NRVCMULog::Get().WriteLine("\tERROR: PKCS module has not been loaded.");
        return false;
    }
    return true;
}

CK_RV NRVCMUCryptoki::CheckFunctionList()
{
    const EnterExit log("CheckFunctionList");
    CK_RV result = CKR_OK;
    if (!m_library->IsLoaded() || !m_library->HasSymbol(wxS("C_GetFunctionList"))) {
        result = CKR_GENERAL_ERROR;
    } else {
        auto* const getFunctionList
            = reinterpret_cast<CK_C_GetFunctionList>(m_library->GetSymbol(wxS("C_GetFunctionList")));
        m_functionList = nullptr;
        // Its own result is not trusted: only the list it leaves counts.
        static_cast<void>(getFunctionList(&m_functionList));
        result = m_functionList != nullptr ? CKR_OK : CKR_FUNCTION_FAILED;
    }
    if (result != CKR_OK) {
        LogModuleError("C_GetFunctionList", result, false);
    }
    return result;
}

CK_RV NRVCMUCryptoki::Initialize()
{
    const EnterExit log("Initialize");
    const CK_RV rv = NRV_CALL_MODULE(C_Initialize, false, nullptr);
    m_vendorEntries = false;
    if ((rv == CKR_OK || rv == CKR_CRYPTOKI_ALREADY_INITIALIZED) && m_functionList->C_GetInfo != nullptr) {
        CK_INFO info {};
        m_vendorEntries = m_functionList->C_GetInfo(&info) == CKR_OK && NRV_IsMakersModule(&info);
    }
    return rv;
}

CK_RV NRVCMUCryptoki::Finalize()
{
    const EnterExit log("Finalize");
    return NRV_CALL_MODULE(C_Finalize, false, nullptr);
}

CK_RV NRVCMUCryptoki::GetSlotList(CK_BBOOL tokenPresent, CK_SLOT_ID_PTR slotList, CK_ULONG_PTR count)
{
    const EnterExit log("GetSlotList");
    return NRV_CALL_MODULE(C_GetSlotList, false, tokenPresent, slotList, count);
}

CK_RV NRVCMUCryptoki::GetSlotInfo(CK_SLOT_ID slotID, CK_SLOT_INFO_PTR info)
{
    const EnterExit log("GetSlotInfo");
    return NRV_CALL_MODULE(C_GetSlotInfo, false, slotID, info);
}

CK_RV NRVCMUCryptoki::GetTokenInfo(CK_SLOT_ID slotID, CK_TOKEN_INFO_PTR info)
{
    const EnterExit log("GetTokenInfo");
    return NRV_CALL_MODULE(C_GetTokenInfo, false, slotID, info);
}

CK_RV NRVCMUCryptoki::GetTokenSerial(CK_ULONG slotPosition, CK_BYTE* buffer)
{
    const EnterExit log("GetTokenSerial");
    return NRV_CALL_VENDOR(C_NRV_GetSerialNumber, false, slotPosition, buffer);
}

CK_RV NRVCMUCryptoki::GetSOPINLengthRange(CK_SLOT_ID slotID, NRV_PIN_MIN_MAX* range)
{
    const EnterExit log("GetSOPINLengthRange");
    return NRV_CALL_VENDOR(C_NRV_GetPinMinMax, false, NRV_PIN_SO, slotID, range);
}

CK_RV NRVCMUCryptoki::InitializeToken(CK_BYTE flag, CK_SLOT_ID slotID, NRV_INIT_TOKEN_RECORD record)
{
    const EnterExit log("InitializeToken");
    NRVCMULog::Get().WriteValue("\tNSH1 Flag = ", "%d", flag, true);
    return NRV_CALL_VENDOR(C_NRV_InitToken, true, flag, slotID, record);
}

CK_RV NRVCMUCryptoki::SetPIN(CK_SESSION_HANDLE session, const wxString& oldPIN, const wxString& newPIN)
{
    const EnterExit log("SetPIN");
    ModuleTextBuffer oldBuffer(ModuleTextKind::Pin);
    ModuleTextBuffer newBuffer(ModuleTextKind::Pin);
    if (const CK_RV refused = oldBuffer.Assign(oldPIN); refused != CKR_OK) {
        return LogRefused("C_SetPIN", refused);
    }
    if (const CK_RV refused = newBuffer.Assign(newPIN); refused != CKR_OK) {
        return LogRefused("C_SetPIN", refused);
    }
    return NRV_CALL_MODULE(
        C_SetPIN, false, session, oldBuffer.Data(), oldBuffer.Length(), newBuffer.Data(), newBuffer.Length());
}

CK_RV NRVCMUCryptoki::ChangeTokenName(CK_SESSION_HANDLE session, const wxString& label)
{
    const EnterExit log("ChangeTokenName");
    ModuleTextBuffer labelBuffer(ModuleTextKind::Label);
    if (const CK_RV refused = labelBuffer.Assign(label); refused != CKR_OK) {
        return LogRefused("C_NRV_SetTokenLabel", refused);
    }
    return NRV_CALL_VENDOR(C_NRV_SetTokenLabel, false, session, labelBuffer.Data(), labelBuffer.Length());
}

CK_RV NRVCMUCryptoki::UnblockUserPIN(
    CK_SESSION_HANDLE session, const wxString& soPIN, const wxString& newUserPIN)
{
    const EnterExit log("UnblockUserPIN");
    ModuleTextBuffer soBuffer(ModuleTextKind::Pin);
    ModuleTextBuffer userBuffer(ModuleTextKind::Pin);
    if (const CK_RV refused = soBuffer.Assign(soPIN); refused != CKR_OK) {
        return LogRefused("C_NRV_UnblockUserPIN", refused);
    }
    if (const CK_RV refused = userBuffer.Assign(newUserPIN); refused != CKR_OK) {
        return LogRefused("C_NRV_UnblockUserPIN", refused);
    }
    return NRV_CALL_VENDOR(C_NRV_UnblockUserPIN, true, session, soBuffer.Data(), soBuffer.Length(),
        userBuffer.Data(), userBuffer.Length());
}

CK_RV NRVCMUCryptoki::RefreshTokenFlag(CK_SLOT_ID slotID)
{
    const EnterExit log("RefreshTokenFlag");
    return NRV_CALL_VENDOR(C_NRV_RefreshTokenFlag, false, slotID);
}

CK_RV NRVCMUCryptoki::RefreshBeforeListing(CK_SLOT_ID slotID)
{
    return m_vendorEntries ? RefreshTokenFlag(slotID) : CKR_OK;
}

CK_RV NRVCMUCryptoki::IsTokenReady(CK_SLOT_ID slotID)
{
    const EnterExit log("IsTokenReady");
    return NRV_CALL_VENDOR(C_NRV_IsTokenReady, false, slotID, 0);
}

CK_RV NRVCMUCryptoki::OpenSession(CK_SLOT_ID slotID, CK_SESSION_HANDLE* session)
{
    const EnterExit log("OpenSession");
    return NRV_CALL_MODULE(C_OpenSession, false, slotID, SerialReadWriteSession, nullptr, nullptr, session);
}

CK_RV NRVCMUCryptoki::CloseSession(CK_SESSION_HANDLE session)
{
    const EnterExit log("CloseSession");
    return NRV_CALL_MODULE(C_CloseSession, false, session);
}

CK_RV NRVCMUCryptoki::CloseAllSessions(CK_SLOT_ID slotID)
{
    const EnterExit log("CloseAllSessions");
    return NRV_CALL_MODULE(C_CloseAllSessions, false, slotID);
}

CK_RV NRVCMUCryptoki::LogIn(CK_USER_TYPE userType, CK_SESSION_HANDLE session, const wxString& pin)
{
    const EnterExit log("LogIn");
    if (userType == CKU_SO) {
        NRVCMULog::Get().Write("\tUser Type = ", "CKU_SO", true);
    } else if (userType == CKU_USER) {
        NRVCMULog::Get().Write("\tUser Type = ", "CKU_USER", true);
    } else {
        NRVCMULog::Get().WriteValue("\tUser Type = ", "%08X", userType, true);
    }
    ModuleTextBuffer pinBuffer(ModuleTextKind::Pin);
    if (const CK_RV refused = pinBuffer.Assign(pin); refused != CKR_OK) {
        return LogRefused("C_NRV_Login", refused);
    }
    if (m_functionList != nullptr && !m_vendorEntries) {
        return NRV_CALL_MODULE(C_Login, false, session, userType, pinBuffer.Data(), pinBuffer.Length());
    }
    return NRV_CALL_MODULE(C_NRV_Login, true, session, userType, pinBuffer.Data(), pinBuffer.Length());
}

CK_RV NRVCMUCryptoki::LogOut(CK_SESSION_HANDLE session)
{
    const EnterExit log("LogOut");
    return NRV_CALL_MODULE(C_Logout, false, session);
}

CK_RV NRVCMUCryptoki::FindObjects(CK_SESSION_HANDLE session, CK_ATTRIBUTE_PTR templ, CK_ULONG count,
    CK_OBJECT_HANDLE_PTR handles, CK_ULONG maxHandles, CK_ULONG_PTR found)
{
    const EnterExit log("FindObjects");
    if (const CK_RV rv = NRV_CALL_MODULE(C_FindObjectsInit, false, session, templ, count); rv != CKR_OK) {
        return rv;
    }
    // A failed search is left as it is: the next init on the session resets it.
    if (const CK_RV rv = NRV_CALL_MODULE(C_FindObjects, false, session, handles, maxHandles, found);
        rv != CKR_OK) {
        return rv;
    }
    return NRV_CALL_MODULE(C_FindObjectsFinal, false, session);
}

CK_RV NRVCMUCryptoki::CreateCryptoObject(
    CK_SESSION_HANDLE session, CK_ATTRIBUTE_PTR templ, CK_ULONG count, CK_OBJECT_HANDLE_PTR object)
{
    const EnterExit log("CreateCryptoObject");
    return NRV_CALL_MODULE(C_CreateObject, false, session, templ, count, object);
}

CK_RV NRVCMUCryptoki::DestroyObject(CK_SESSION_HANDLE session, CK_OBJECT_HANDLE object)
{
    const EnterExit log("DestroyObject");
    return NRV_CALL_MODULE(C_DestroyObject, false, session, object);
}

CK_RV NRVCMUCryptoki::SetAttributeValue(
    CK_SESSION_HANDLE session, CK_OBJECT_HANDLE object, CK_ATTRIBUTE_PTR templ, CK_ULONG count)
{
    const EnterExit log("SetAttributeValue");
    return NRV_CALL_MODULE(C_SetAttributeValue, false, session, object, templ, count);
}

CK_RV NRVCMUCryptoki::GetAttributeValue(
    CK_SESSION_HANDLE session, CK_OBJECT_HANDLE object, CK_ATTRIBUTE_PTR templ, CK_ULONG count)
{
    const EnterExit log("GetAttributeValue");
    return NRV_CALL_MODULE(C_GetAttributeValue, false, session, object, templ, count);
}

CK_RV NRVCMUCryptoki::GetAttributeBytes(CK_SESSION_HANDLE session, CK_OBJECT_HANDLE object,
    const std::vector<CK_ATTRIBUTE_TYPE>& types, std::vector<std::vector<uint8_t>>& values)
{
    std::vector<CK_ATTRIBUTE> attributes;
    for (const CK_ATTRIBUTE_TYPE type : types) {
        attributes.push_back({ type, nullptr, 0 });
    }
    const auto count = static_cast<CK_ULONG>(attributes.size());
    values.assign(attributes.size(), {});
    CK_RV rv = GetAttributeValue(session, object, attributes.data(), count);
    if (rv != CKR_OK) {
        return rv;
    }
    for (size_t i = 0; i < attributes.size(); ++i) {
        values[i].assign(attributes[i].ulValueLen, 0);
        attributes[i].pValue = values[i].empty() ? nullptr : values[i].data();
    }
    rv = GetAttributeValue(session, object, attributes.data(), count);
    for (size_t i = 0; i < attributes.size(); ++i) {
        // A value never grows past the length the module gave first.
        values[i].resize(rv == CKR_OK ? std::min<size_t>(values[i].size(), attributes[i].ulValueLen) : 0);
    }
    return rv;
}

CK_RV NRVCMUCryptoki::GetKeyPairIndex(
    CK_SESSION_HANDLE session, CK_BYTE direction, CK_BYTE index, CK_BYTE* partnerIndex)
{
    const EnterExit log("GetKeyPairIndex");
    return NRV_CALL_VENDOR(C_NRV_FindPriPubKey, false, session, direction, index, partnerIndex);
}

CK_RV NRVCMUCryptoki::LoadCertificate(
    CK_SESSION_HANDLE session, const wxString& filePath, const wxString& password)
{
    const EnterExit log("LoadCertificate");
    ModuleTextBuffer pathBuffer(ModuleTextKind::Path);
    ModuleTextBuffer passwordBuffer(ModuleTextKind::Password);
    if (const CK_RV refused = pathBuffer.Assign(filePath); refused != CKR_OK) {
        return LogRefused("C_NRV_LoadCert", refused);
    }
    if (const CK_RV refused = passwordBuffer.Assign(password); refused != CKR_OK) {
        return LogRefused("C_NRV_LoadCert", refused);
    }
    return NRV_CALL_VENDOR(
        C_NRV_LoadCert, false, session, pathBuffer.Data(), passwordBuffer.Data(), passwordBuffer.Length());
}
