// VELA5KSPOpenProvider and VELA5KSPFreeProvider: binding a provider handle
// to one token slot with a read/write session, and releasing it.
#include "ksp/EntryFrame.h"
#include "ksp/KeyList.h"
#include "ksp/ReaderSelection.h"
#include "ksp/RecordBuffers.h"
#include "ksp/Records.h"
#include "ksp/abi/Exports.h"
#include "platform/cng/WideText.h"
#include "platform/registry/Registry.h"

#include <cstdio>
#include <cstring>
#include <vector>

using namespace vela5::platform;

SECURITY_STATUS BindToSlot(EntryFrame& frame, ProviderContext* provider, bool silent);

namespace {

constexpr const char* kRegistrationKey
    = "System\\CurrentControlSet\\Control\\Cryptography\\Providers\\Nurvon KSP v1.0";
constexpr const char* kSdkKey = "SOFTWARE\\Nurvon Ltd.\\VELA5 SDK";
constexpr std::size_t kReaderNameLength = 32;

std::string Hex32(unsigned long value)
{
    char text[16];
    std::snprintf(text, sizeof text, "0x%08X", static_cast<unsigned>(value & 0xFFFFFFFFu));
    return text;
}

// Exact comparison of two NUL-terminated texts, reading neither past its end.
bool SameText(LPCWSTR left, LPCWSTR right)
{
    std::size_t i = 0;
    while (left[i] == right[i]) {
        if (left[i] == 0) {
            return true;
        }
        ++i;
    }
    return false;
}

// Aliases as read into a 2048-byte buffer; false when it cannot be read.
bool ReadAliases(std::vector<char16_t>& aliases)
{
    Registry::Key key;
    if (Registry::Key::Open(Registry::Hive::LocalMachine, kRegistrationKey, Registry::Access::Read,
            Registry::View::Native, key)
        != Registry::Success) {
        return false;
    }
    std::vector<uint8_t> buffer(2048);
    uint32_t type = 0;
    uint32_t size = static_cast<uint32_t>(buffer.size());
    if (key.QueryValue("Aliases", &type, buffer.data(), &size) != Registry::Success
        || type != Registry::TypeMultiString) {
        return false;
    }
    // Two terminating zeros more than the value holds, so a value stored
    // without its terminators still ends.
    aliases.assign(size / 2 + 2, 0);
    for (uint32_t i = 0; i + 1 < size; i += 2) {
        aliases[i / 2] = static_cast<char16_t>(buffer[i] | (buffer[i + 1] << 8));
    }
    return true;
}

bool NameInAliases(LPCWSTR name, const std::vector<char16_t>& aliases)
{
    std::size_t at = 0;
    while (at < aliases.size() && aliases[at] != 0) {
        if (SameText(name, &aliases[at])) {
            return true;
        }
        while (at < aliases.size() && aliases[at] != 0) {
            ++at;
        }
        ++at;
    }
    return false;
}

// dwUseProviderCache: only a readable value whose lowest byte is 0 switches
// the cache off.
bool ProviderCacheAllowed()
{
    Registry::Key key;
    if (Registry::Key::Open(
            Registry::Hive::LocalMachine, kSdkKey, Registry::Access::Read, Registry::View::Native, key)
        != Registry::Success) {
        return true;
    }
    uint8_t value[4] = { 1, 0, 0, 0 };
    uint32_t size = sizeof value;
    if (key.QueryValue("dwUseProviderCache", nullptr, value, &size) != Registry::Success) {
        return true;
    }
    return value[0] != 0;
}

// The slot description's first 32 bytes, blanks and zeros removed from
// position 31 backwards; position 0 is always kept.
std::u16string ReaderNameOf(const CK_SLOT_INFO& info)
{
    std::u16string name(info.slotDescription, info.slotDescription + kReaderNameLength);
    std::size_t length = kReaderNameLength;
    while (length > 1 && (name[length - 1] == u' ' || name[length - 1] == 0)) {
        --length;
    }
    name.resize(length);
    return name;
}

// Releases what an open that failed had put into the record.
void Discard(ProviderContext* provider)
{
    Release(provider->pszProviderName);
    Release(provider->pszReaderName);
    delete provider->lock;
    std::memset(static_cast<void*>(provider), 0, sizeof *provider);
    delete provider;
}

// CKR_BUFFER_TOO_SMALL can answer when a reader appears between the count
// and the fetch; the list is then fetched again at the new size.
CK_RV FetchSlots(CK_FUNCTION_LIST_PTR module, CK_BBOOL tokenPresent, std::vector<CK_SLOT_ID>& slots)
{
    for (int attempt = 0; attempt < 4; ++attempt) {
        CK_ULONG count = 0;
        CK_RV rv = module->C_GetSlotList(tokenPresent, nullptr, &count);
        if (rv != CKR_OK) {
            return rv;
        }
        slots.assign(count, 0);
        if (count == 0) {
            return CKR_OK;
        }
        rv = module->C_GetSlotList(tokenPresent, slots.data(), &count);
        if (rv == CKR_OK) {
            slots.resize(std::min<std::size_t>(count, slots.size()));
            return CKR_OK;
        }
        if (rv != CKR_BUFFER_TOO_SMALL) {
            return rv;
        }
    }
    return CKR_BUFFER_TOO_SMALL;
}

SECURITY_STATUS OpenProvider(
    EntryFrame& frame, NCRYPT_PROV_HANDLE* phProvider, LPCWSTR pszProviderName, DWORD dwFlags)
{
    if (phProvider == nullptr) {
        return frame.Fail(NTE_INVALID_PARAMETER, "NTE_INVALID_PARAMETER: phProvider is NULL");
    }
    if (pszProviderName == nullptr) {
        return frame.Fail(NTE_INVALID_PARAMETER, "NTE_INVALID_PARAMETER: pszProviderName is NULL");
    }
    std::vector<char16_t> aliases;
    if (!ReadAliases(aliases)) {
        return frame.Fail(NTE_INTERNAL_ERROR, "NTE_INTERNAL_ERROR: OpenProvider::RegGetValue");
    }
    if (!NameInAliases(pszProviderName, aliases)) {
        return frame.Fail(NTE_INVALID_PARAMETER,
            "NTE_INVALID_PARAMETER: pszProviderName does not match the registered provider name");
    }
    const std::size_t nameLength = Cng::WideLength(pszProviderName, 0x10000);
    const std::size_t cbProvider = (nameLength + 1) * 2;
    if (cbProvider > 0xFFFE) {
        return frame.Fail(
            NTE_INVALID_PARAMETER, "NTE_INVALID_PARAMETER: cbProvider is greater than MAXUSHORT");
    }
    auto* provider = new (std::nothrow) ProviderContext {};
    if (provider != nullptr) {
        provider->cbLength = static_cast<DWORD>(cbProvider + kProviderHeaderSize);
        provider->dwMagic = kProviderMagic;
        provider->pszProviderName = CopyWide(std::u16string_view(pszProviderName, nameLength));
        provider->lock = new (std::nothrow) std::mutex;
    }
    if (provider == nullptr || provider->pszProviderName == nullptr || provider->lock == nullptr) {
        if (provider != nullptr) {
            Discard(provider);
        }
        return frame.Fail(NTE_NO_MEMORY, "NTE_NO_MEMORY: Not enough memory to allocate for pProvider");
    }
    const SECURITY_STATUS bound = BindToSlot(frame, provider, (dwFlags & NCRYPT_SILENT_FLAG) != 0);
    if (bound != ERROR_SUCCESS) {
        Discard(provider);
        return bound;
    }
    EntryLog().Write("Caching provider instance");
    if (ProviderCacheAllowed()) {
        TheProviderCache().Remember(provider->pszReaderName, provider->slotId);
    }
    RegisterProvider(provider);
    *phProvider = reinterpret_cast<NCRYPT_PROV_HANDLE>(provider);
    EntryLog().WriteHex("Provider handle retrieved: ", static_cast<const void*>(provider));
    return ERROR_SUCCESS;
}

} // namespace

SECURITY_STATUS BindToSlot(EntryFrame& frame, ProviderContext* provider, bool silent)
{
    std::string failure;
    if (!Cryptoki().Ready(failure)) {
        return frame.Fail(NTE_INTERNAL_ERROR, "NTE_INTERNAL_ERROR: " + failure);
    }
    CK_FUNCTION_LIST_PTR module = Cryptoki().Functions();
    std::vector<CK_SLOT_ID> allSlots;
    const CK_RV listed = FetchSlots(module, CK_FALSE, allSlots);
    if (listed != CKR_OK) {
        return frame.Fail(NTE_INTERNAL_ERROR, "NTE_INTERNAL_ERROR: C_GetSlotList failed: " + Hex32(listed));
    }
    if (allSlots.empty()) {
        return frame.Fail(NTE_FAIL, "NTE_FAIL: No slot found");
    }
    std::vector<CK_SLOT_ID> slots;
    const CK_RV tokens = FetchSlots(module, CK_TRUE, slots);
    if (tokens != CKR_OK) {
        return frame.Fail(NTE_INTERNAL_ERROR, "NTE_INTERNAL_ERROR: C_GetSlotList failed: " + Hex32(tokens));
    }
    if (slots.empty() && silent) {
        return frame.Fail(NTE_FAIL, "NTE_FAIL: No active slot was found and NCRYPT_SILENT_FLAG is set");
    }
    if (slots.size() > 1 && silent) {
        EntryLog().Write(
            "Multiple slots are detected but NCRYPT_SILENT_FLAG is set. Defaulting to first slot.");
    }
    std::u16string readerName;
    if (silent || slots.size() == 1) {
        CK_SLOT_INFO info {};
        if (module->C_GetSlotInfo(slots.front(), &info) != CKR_OK) {
            return frame.Fail(NTE_INTERNAL_ERROR, "NTE_INTERNAL_ERROR: GetSlotInfo failed");
        }
        readerName = ReaderNameOf(info);
        EntryLog().WriteWide("Defaulted to reader: ", readerName.c_str());
        provider->slotId = slots.front();
    } else {
        EntryLog().Write("Checking provider cache");
        std::u16string wanted;
        CK_SLOT_ID cachedSlot = 0;
        if (TheProviderCache().Recall(wanted, cachedSlot)) {
            EntryLog().Write("Provider set");
        } else {
            EntryLog().Write("Provider not set");
            std::string why;
            const SECURITY_STATUS selected = SelectReader(module, HelperLog(), wanted, why);
            if (selected == SCARD_E_CANCELLED || selected == SCARD_W_CANCELLED_BY_USER) {
                return frame.Fail(ERROR_CANCELLED, "ERROR_CANCELLED: The operation was cancelled.");
            }
            if (selected != ERROR_SUCCESS) {
                return frame.Fail(NTE_FAIL, "NTE_FAIL: " + why);
            }
            EntryLog().WriteWide("Acquired ", wanted.c_str());
        }
        // A token may have been inserted while the dialog was open.
        if (slots.empty() && FetchSlots(module, CK_TRUE, slots) != CKR_OK) {
            slots.clear();
        }
        EntryLog().Write("Iterating through slot list");
        bool found = false;
        for (const CK_SLOT_ID slot : slots) {
            CK_SLOT_INFO info {};
            if (module->C_GetSlotInfo(slot, &info) != CKR_OK) {
                return frame.Fail(NTE_INTERNAL_ERROR, "NTE_INTERNAL_ERROR: GetSlotInfo failed");
            }
            const std::u16string name = ReaderNameOf(info);
            EntryLog().WriteWide("Found slot: ", name.c_str());
            if (name == wanted) {
                EntryLog().WriteWide("Reader name acquired. Setting active slot to ", name.c_str());
                readerName = name;
                provider->slotId = slot;
                found = true;
                break;
            }
        }
        if (!found) {
            return frame.Fail(NTE_INTERNAL_ERROR, "NTE_INTERNAL_ERROR: Selected reader not found.");
        }
    }
    provider->pszReaderName = CopyWide(std::u16string_view(readerName).substr(0, kReaderNameLength));
    if (provider->pszReaderName == nullptr) {
        return frame.Fail(NTE_NO_MEMORY, "NTE_NO_MEMORY: Not enough memory to allocate for pProvider");
    }
    CK_SESSION_HANDLE session = CK_INVALID_HANDLE;
    if (module->C_OpenSession(
            provider->slotId, CKF_SERIAL_SESSION | CKF_RW_SESSION, nullptr, nullptr, &session)
        != CKR_OK) {
        return frame.Fail(NTE_INTERNAL_ERROR, "NTE_INTERNAL_ERROR: Error in opening PKCS#11 session");
    }
    provider->hSession = session;
    return ERROR_SUCCESS;
}

VELA5_KSP_EXPORT SECURITY_STATUS VELA5KSPOpenProvider(
    NCRYPT_PROV_HANDLE* phProvider, LPCWSTR pszProviderName, DWORD dwFlags)
{
    EntryFrame frame("VELA5KSPOpenProvider", 15, false);
    return frame.Run([&] {
        frame.Hex("phProvider", static_cast<const void*>(phProvider));
        frame.Wide("pszProviderName", pszProviderName);
        frame.Hex("dwFlags", dwFlags);
        return OpenProvider(frame, phProvider, pszProviderName, dwFlags);
    });
}

VELA5_KSP_EXPORT SECURITY_STATUS VELA5KSPFreeProvider(NCRYPT_PROV_HANDLE hProvider)
{
    EntryFrame frame("VELA5KSPFreeProvider", 9, true);
    return frame.Run([&] {
        frame.Hex("hProvider", hProvider);
        SECURITY_STATUS result = ERROR_SUCCESS;
        ProviderContext* provider = CheckProvider(frame, hProvider, result);
        if (provider == nullptr) {
            return result;
        }
        // From here the record no longer validates: a second free, or a call
        // racing this one, is turned away instead of reaching released buffers.
        UnregisterProvider(provider);
        EntryLog().Write("Deleting PIN cache");
        WipeAndRelease(provider->pszPin);
        EntryLog().Write("Deleting key object list");
        ReleaseKeyList(provider->pKeyObjectList, provider->cKeyObjects);
        EntryLog().Write("Deleting KSP name");
        Release(provider->pszProviderName);
        EntryLog().Write("Deleting provider context");
        Release(provider->pszContext);
        EntryLog().Write("Deleting reader name");
        Release(provider->pszReaderName);
        EntryLog().Write("Closing cryptographic session");
        const CK_RV closed = Cryptoki().Functions()->C_CloseSession(provider->hSession);
        // The record goes either way: nothing can reach it any more.
        delete provider->lock;
        std::memset(static_cast<void*>(provider), 0, sizeof *provider);
        delete provider;
        if (closed != CKR_OK) {
            return frame.Fail(NTE_INTERNAL_ERROR, "NTE_INTERNAL_ERROR: An internal error occured");
        }
        return ERROR_SUCCESS;
    });
}
