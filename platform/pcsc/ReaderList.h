// Smart-card reader listing, shaped like SCardEstablishContext,
// SCardListReadersW and SCardReleaseContext. The readers are the token
// module's slots (asked through C_GetSlotList and C_GetSlotInfo, the way any
// client asks) plus pcsc-lite's readers when pcscd answers.
#pragma once

#include "pkcs11/pkcs11.h"

#include <cstdint>
#include <string>
#include <vector>

namespace vela5::platform::Pcsc {

using Result = int32_t;
constexpr Result SCARD_S_SUCCESS = 0;
constexpr Result SCARD_E_INVALID_HANDLE = static_cast<Result>(0x80100003);
constexpr Result SCARD_E_NO_SERVICE = static_cast<Result>(0x8010001D);
constexpr Result SCARD_E_NO_READERS_AVAILABLE = static_cast<Result>(0x8010002E);
constexpr uint32_t SCARD_SCOPE_USER = 0;

class Context final {
public:
    // module: the token module whose slots count as readers; may be null.
    explicit Context(CK_FUNCTION_LIST_PTR module)
        : m_module(module)
    {
    }
    ~Context();
    Context(const Context&) = delete;
    Context& operator=(const Context&) = delete;

    // SCARD_E_NO_SERVICE when there is neither a module nor a pcscd.
    Result Establish(uint32_t scope);
    // Every reader name once, module slots first. SCARD_E_NO_READERS_AVAILABLE
    // for an empty list; SCARD_E_NO_SERVICE when no source could be read.
    Result ListReaders(std::vector<std::u16string>& readers);
    void Release();

private:
    bool ListModuleSlots(std::vector<std::u16string>& readers) const;
    bool ListPcscLite(std::vector<std::u16string>& readers) const;

    CK_FUNCTION_LIST_PTR m_module;
    bool m_established = false;
    long m_pcscContext = 0; // pcsc-lite's SCARDCONTEXT, 0 when pcscd did not answer
};

// A slot description as a reader name: the bytes up to the first NUL with
// trailing blanks removed, read as Latin-1.
std::u16string SlotDescriptionText(const CK_UTF8CHAR* description, std::size_t size);

} // namespace vela5::platform::Pcsc
