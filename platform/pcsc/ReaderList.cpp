#include "platform/pcsc/ReaderList.h"

#include <algorithm>
#include <dlfcn.h>

namespace vela5::platform::Pcsc {

namespace {

// pcsc-lite's own widths on this platform: LONG and DWORD are long-sized.
using EstablishFn = long (*)(unsigned long scope, const void*, const void*, long* context);
using ListFn = long (*)(long context, const char* groups, char* readers, unsigned long* length);
using ReleaseFn = long (*)(long context);

struct PcscLite {
    EstablishFn establish = nullptr;
    ListFn list = nullptr;
    ReleaseFn release = nullptr;
};

// Loaded at run time, so a machine without pcsc-lite lists the module's
// readers all the same.
const PcscLite& Library()
{
    static const PcscLite library = [] {
        PcscLite loaded;
        void* handle = dlopen("libpcsclite.so.1", RTLD_NOW | RTLD_LOCAL);
        if (handle != nullptr) {
            loaded.establish = reinterpret_cast<EstablishFn>(dlsym(handle, "SCardEstablishContext"));
            loaded.list = reinterpret_cast<ListFn>(dlsym(handle, "SCardListReaders"));
            loaded.release = reinterpret_cast<ReleaseFn>(dlsym(handle, "SCardReleaseContext"));
            if (loaded.establish == nullptr || loaded.list == nullptr || loaded.release == nullptr) {
                loaded = PcscLite {};
            }
        }
        return loaded;
    }();
    return library;
}

void AddOnce(std::vector<std::u16string>& readers, std::u16string name)
{
    if (!name.empty() && std::find(readers.begin(), readers.end(), name) == readers.end()) {
        readers.push_back(std::move(name));
    }
}

} // namespace

std::u16string SlotDescriptionText(const CK_UTF8CHAR* description, std::size_t size)
{
    std::size_t length = 0;
    while (length < size && description[length] != 0) {
        ++length;
    }
    while (length > 0 && description[length - 1] == ' ') {
        --length;
    }
    return std::u16string(description, description + length);
}

Context::~Context()
{
    Release();
}

Result Context::Establish(uint32_t scope)
{
    Release();
    const PcscLite& pcsc = Library();
    if (pcsc.establish != nullptr) {
        long context = 0;
        if (pcsc.establish(scope, nullptr, nullptr, &context) == 0) {
            m_pcscContext = context;
        }
    }
    if (m_module == nullptr && m_pcscContext == 0) {
        return SCARD_E_NO_SERVICE;
    }
    m_established = true;
    return SCARD_S_SUCCESS;
}

Result Context::ListReaders(std::vector<std::u16string>& readers)
{
    readers.clear();
    if (!m_established) {
        return SCARD_E_INVALID_HANDLE;
    }
    const bool fromModule = ListModuleSlots(readers);
    const bool fromPcsc = ListPcscLite(readers);
    if (!fromModule && !fromPcsc) {
        return SCARD_E_NO_SERVICE;
    }
    return readers.empty() ? SCARD_E_NO_READERS_AVAILABLE : SCARD_S_SUCCESS;
}

void Context::Release()
{
    if (m_pcscContext != 0) {
        Library().release(m_pcscContext);
        m_pcscContext = 0;
    }
    m_established = false;
}

bool Context::ListModuleSlots(std::vector<std::u16string>& readers) const
{
    if (m_module == nullptr) {
        return false;
    }
    CK_ULONG count = 0;
    if (m_module->C_GetSlotList(CK_FALSE, nullptr, &count) != CKR_OK) {
        return false;
    }
    std::vector<CK_SLOT_ID> slots(count);
    if (count != 0 && m_module->C_GetSlotList(CK_FALSE, slots.data(), &count) != CKR_OK) {
        return false;
    }
    slots.resize(std::min<std::size_t>(count, slots.size()));
    for (const CK_SLOT_ID slot : slots) {
        CK_SLOT_INFO info {};
        if (m_module->C_GetSlotInfo(slot, &info) == CKR_OK) {
            AddOnce(readers, SlotDescriptionText(info.slotDescription, sizeof info.slotDescription));
        }
    }
    return true;
}

bool Context::ListPcscLite(std::vector<std::u16string>& readers) const
{
    if (m_pcscContext == 0) {
        return false;
    }
    const PcscLite& pcsc = Library();
    unsigned long length = 0;
    const long sized = pcsc.list(m_pcscContext, nullptr, nullptr, &length);
    if (static_cast<uint32_t>(sized) == static_cast<uint32_t>(SCARD_E_NO_READERS_AVAILABLE)) {
        return true;
    }
    if (sized != 0 || length == 0) {
        return false;
    }
    std::string names(length, '\0');
    if (pcsc.list(m_pcscContext, nullptr, names.data(), &length) != 0) {
        return false;
    }
    names.resize(std::min<std::size_t>(length, names.size()));
    std::size_t start = 0;
    while (start < names.size() && names[start] != '\0') {
        const std::size_t end = names.find('\0', start);
        const std::string name = names.substr(start, end - start);
        std::u16string wide;
        for (const char byte : name) {
            wide.push_back(static_cast<unsigned char>(byte));
        }
        AddOnce(readers, std::move(wide));
        start = end == std::string::npos ? names.size() : end + 1;
    }
    return true;
}

} // namespace vela5::platform::Pcsc
