// One slot that holds a token: its read-only session, the token's
// certificates (at most ten) bound to the maker's provider, and the store
// they are propagated into. Operations answer with Windows error numbers and
// write their failures to the context's own log only.
#pragma once

#include "certprop/AgentLog.h"
#include "pkcs11/pkcs11.h"
#include "platform/certstore/Certificate.h"
#include "platform/certstore/Store.h"

#include <cstddef>
#include <filesystem>
#include <string>
#include <vector>

namespace CertProp {

// The provider every propagated certificate is bound to.
inline constexpr const char* kMakersProvider = "Nurvon CSP v4.0";
inline constexpr std::size_t kMaxCertificates = 10;

enum PropState : unsigned long {
    PropFirst = 0,
    PropNext = 1,
    PropPrevious = 2,
    PropLast = 3,
};

class CSlotContext final {
public:
    // removeCertificates: take the propagated certificates out of the store
    // on destruction. vendorEntries: the module is the maker's, so its vendor
    // entries exist.
    CSlotContext(bool removeCertificates, bool vendorEntries,
        const std::filesystem::path& logFile = AgentLog::DefaultPath());
    // Removes what was propagated (when asked to) and closes the log. The
    // owner makes sure no propagation thread runs over this context.
    ~CSlotContext();
    CSlotContext(const CSlotContext&) = delete;
    CSlotContext& operator=(const CSlotContext&) = delete;

    long Initialize(CK_FUNCTION_LIST* p11, CK_SLOT_ID slotID);
    long RetrieveCerts();
    long PropagateCert(unsigned long propState);

    const std::string& Description() const { return m_description; }
    CK_SLOT_ID SlotID() const { return m_slotID; }
    std::size_t CertificateCount() const { return m_certCount; }

    // slotDescription, first 64 bytes, up to a NUL and without trailing spaces.
    static std::string DescriptionOf(const CK_SLOT_INFO& info);
    // "\\.\DESCRIPTION\ID" with the ID in upper-case hex.
    static std::string ContainerName(const std::string& description, const std::vector<CK_BYTE>& id);

private:
    long RetrieveCertsBody();
    void RemovePropagated();

    CK_SESSION_HANDLE m_hSession = 0;
    CK_FUNCTION_LIST* m_p11 = nullptr;
    std::string m_description;
    CK_SLOT_ID m_slotID = 0;
    bool m_initialized = false;
    std::size_t m_certCount = 0;
    std::size_t m_currentIndex = 0;
    // Invalid where the object was skipped.
    std::vector<vela5::platform::CertStore::Certificate> m_certificates;
    std::vector<vela5::platform::CertStore::KeyProvInfo> m_keyProvInfo;
    vela5::platform::CertStore::Store m_store;
    bool m_removeCertificates;
    bool m_vendorEntries;
    AgentLog m_log;
};

} // namespace CertProp
