#include "certprop/SlotContext.h"

#include "certprop/ResultMapping.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <new>

using namespace vela5::platform;

namespace CertProp {
namespace {

unsigned long PointerNumber(const void* pointer)
{
    return static_cast<unsigned long>(reinterpret_cast<std::uintptr_t>(pointer));
}

bool BoundToMakersProvider(const CertStore::Certificate& certificate)
{
    CertStore::KeyProvInfo info;
    return certificate.GetKeyProvInfo(info) && info.providerName == kMakersProvider;
}

} // namespace

CSlotContext::CSlotContext(bool removeCertificates, bool vendorEntries, const std::filesystem::path& logFile)
    : m_removeCertificates(removeCertificates)
    , m_vendorEntries(vendorEntries)
    , m_log(logFile)
{
}

CSlotContext::~CSlotContext()
{
    RemovePropagated();
    m_certificates.clear();
    m_keyProvInfo.clear();
    m_store = CertStore::Store();
    m_log.Close();
}

std::string CSlotContext::DescriptionOf(const CK_SLOT_INFO& info)
{
    const char* const bytes = reinterpret_cast<const char*>(info.slotDescription);
    std::string description(bytes, strnlen(bytes, std::min<std::size_t>(64, sizeof info.slotDescription)));
    description.erase(description.find_last_not_of(' ') + 1);
    return description;
}

std::string CSlotContext::ContainerName(const std::string& description, const std::vector<CK_BYTE>& id)
{
    static const char digits[] = "0123456789ABCDEF";
    std::string hex;
    for (const CK_BYTE byte : id) {
        hex += digits[byte >> 4];
        hex += digits[byte & 0x0F];
    }
    return "\\\\.\\" + description + "\\" + hex;
}

long CSlotContext::Initialize(CK_FUNCTION_LIST* p11, CK_SLOT_ID slotID)
{
    m_log.Write("CSlotContext :: Initialize - Enter");
    m_log.Write("Initialize Param :: ulSlotID", slotID);
    m_log.Write("Initialize Param :: p11", PointerNumber(p11));
    if (p11 == nullptr) {
        m_log.Write("CSlotContext :: Initialize - Error : NTE_INVALID_PARAMETER");
        return NteInvalidParameter;
    }
    m_p11 = p11;
    m_slotID = slotID;

    CK_SLOT_INFO info {};
    CK_RV rv = m_p11->C_GetSlotInfo(slotID, &info);
    if (rv != CKR_OK) {
        m_log.Write("CSlotContext :: Initialize - C_GetSlotInfo Error", rv);
        return MapCkResult(rv);
    }
    m_description = DescriptionOf(info);

    rv = m_p11->C_OpenSession(slotID, CKF_SERIAL_SESSION, nullptr, nullptr, &m_hSession);
    if (rv != CKR_OK) {
        m_hSession = 0;
        m_log.Write("CSlotContext :: Initialize - C_OpenSession Error", rv);
        return MapCkResult(rv);
    }

    const long opened = CertStore::Store::OpenSystem("MY", m_store);
    if (opened != CertStore::Success) {
        m_log.Write(
            "CSlotContext :: Initialize - CertOpenSystemStore Error", static_cast<unsigned long>(opened));
        return opened;
    }
    m_initialized = true;
    m_log.Write("CSlotContext :: Initialize - Exit");
    return ErrorSuccess;
}

long CSlotContext::RetrieveCerts()
{
    m_log.Write("CSlotContext :: RetrieveCerts - Enter");
    const long result = RetrieveCertsBody();
    m_log.Write("CSlotContext :: RetrieveCerts - Exit");
    return result;
}

long CSlotContext::RetrieveCertsBody()
{
    long result = NteInternalError;
    if (m_p11 == nullptr) {
        m_log.Write("CSlotContext :: RetrieveCerts - ERROR_INVALID_STATE - p11 is NULL");
        return ErrorInvalidState;
    }
    if (m_hSession == 0) {
        m_log.Write("CSlotContext :: RetrieveCerts - ERROR_INVALID_STATE - m_hSession is NULL");
        return ErrorInvalidState;
    }
    // Only the maker's module has the refresh entry; another module's list
    // ends before it.
    if (m_vendorEntries) {
        m_log.Write("CSlotContext :: RetrieveCerts - Refreshing token objects");
        const CK_RV rv = m_p11->C_NRV_RefreshTokenFlag(m_slotID);
        if (rv != CKR_OK) {
            m_log.Write("CSlotContext :: RetrieveCerts - C_NRV_RefreshTokenFlag Error", rv);
            return MapCkResult(rv);
        }
    }

    m_log.Write("CSlotContext :: RetrieveCerts - Trying to find certificate objects");
    CK_OBJECT_CLASS certificateClass = CKO_CERTIFICATE;
    CK_ATTRIBUTE search[] = { { CKA_CLASS, &certificateClass, sizeof certificateClass } };
    CK_RV rv = m_p11->C_FindObjectsInit(m_hSession, search, 1);
    if (rv != CKR_OK) {
        m_log.Write("CSlotContext :: RetrieveCerts - C_FindObjectsInit Error", rv);
        return MapCkResult(rv);
    }
    CK_OBJECT_HANDLE objects[kMaxCertificates] = {};
    CK_ULONG found = 0;
    rv = m_p11->C_FindObjects(m_hSession, objects, kMaxCertificates, &found);
    // The search ends either way, so the session is free for the next one.
    m_p11->C_FindObjectsFinal(m_hSession);
    if (rv != CKR_OK) {
        m_log.Write("CSlotContext :: RetrieveCerts - C_FindObjects Error", rv);
        return MapCkResult(rv);
    }
    if (found == 0) {
        m_log.Write("CSlotContext :: RetrieveCerts - No valid certificate was found");
        return NteNoMoreItems;
    }

    m_certCount = std::min<std::size_t>(found, kMaxCertificates);
    try {
        m_certificates.assign(m_certCount, CertStore::Certificate());
        m_keyProvInfo.assign(m_certCount, CertStore::KeyProvInfo());
    } catch (const std::bad_alloc&) {
        m_log.Write("CSlotContext :: RetrieveCerts - NTE_NO_MEMORY - ckCertAttribute");
        return NteNoMemory;
    }

    for (std::size_t i = 0; i < m_certCount; ++i) {
        CK_ATTRIBUTE attributes[] = { { CKA_VALUE, nullptr, 0 }, { CKA_ID, nullptr, 0 } };
        rv = m_p11->C_GetAttributeValue(m_hSession, objects[i], attributes, 2);
        if (rv != CKR_OK) {
            m_log.Write("CSlotContext :: RetrieveCerts - C_GetAttributeValue Error", rv);
            continue;
        }
        if (attributes[0].ulValueLen == 0) {
            m_log.Write("CSlotContext :: RetrieveCerts - Certificate value length is 0");
            continue;
        }
        if (attributes[1].ulValueLen == 0) {
            m_log.Write("CSlotContext :: RetrieveCerts - Certificate CKA_ID length is 0");
            continue;
        }
        std::vector<CK_BYTE> value;
        std::vector<CK_BYTE> id;
        try {
            value.resize(attributes[0].ulValueLen);
        } catch (const std::exception&) {
            m_log.Write("CSlotContext :: RetrieveCerts - NTE_NO_MEMORY - pbCertValue");
            return NteNoMemory;
        }
        try {
            id.resize(attributes[1].ulValueLen);
        } catch (const std::exception&) {
            m_log.Write("CSlotContext :: RetrieveCerts - NTE_NO_MEMORY - pbCertID");
            return NteNoMemory;
        }
        attributes[0].pValue = value.data();
        attributes[1].pValue = id.data();
        rv = m_p11->C_GetAttributeValue(m_hSession, objects[i], attributes, 2);
        if (rv != CKR_OK) {
            m_log.Write("CSlotContext :: RetrieveCerts - C_GetAttributeValue Error", rv);
            continue;
        }
        value.resize(attributes[0].ulValueLen);
        id.resize(attributes[1].ulValueLen);

        try {
            m_keyProvInfo[i] = CertStore::KeyProvInfo { ContainerName(m_description, id), kMakersProvider,
                CertStore::kProvRsaFull, 0, CertStore::kAtKeyExchange };
        } catch (const std::bad_alloc&) {
            m_log.Write("CSlotContext :: RetrieveCerts - Not enough memory to continue the operation");
            return NteNoMemory;
        }
        const long created = CertStore::Certificate::Create(value.data(), value.size(), m_certificates[i]);
        if (created != CertStore::Success) {
            m_log.Write("CSlotContext :: RetrieveCerts - Failed to create certificate context",
                static_cast<unsigned long>(created));
            continue;
        }
        result = ErrorSuccess;
    }
    return result;
}

long CSlotContext::PropagateCert(unsigned long propState)
{
    m_log.Write("CSlotContext :: PropagateCert - Enter");
    m_log.Write("PropagateCert Param :: dwPropState", propState);
    if (m_certCount == 0) {
        m_log.Write("CSlotContext :: PropagateCert - No certificates to propagate");
        return NteNoMoreItems;
    }
    switch (propState) {
    case PropFirst:
        m_currentIndex = 0;
        break;
    case PropNext:
        if (m_currentIndex + 1 >= m_certCount) {
            return NteInvalidParameter;
        }
        ++m_currentIndex;
        break;
    case PropPrevious:
        if (m_currentIndex == 0) {
            return NteInvalidParameter;
        }
        --m_currentIndex;
        break;
    case PropLast:
        m_currentIndex = m_certCount - 1;
        break;
    default:
        return NteInvalidParameter;
    }

    CertStore::Certificate& certificate = m_certificates[m_currentIndex];
    long status = certificate.SetKeyProvInfo(m_keyProvInfo[m_currentIndex]);
    if (status == CertStore::Success) {
        status = certificate.SetKeySpec(CertStore::kAtKeyExchange);
    }
    if (status == CertStore::Success) {
        status = m_store.Add(certificate, CertStore::AddReplaceExisting);
    }
    if (status != CertStore::Success) {
        m_log.Write("CSlotContext :: PropagateCert - CertSetCertificateContextProperty",
            static_cast<unsigned long>(status));
        return status;
    }
    m_log.Write("CSlotContext :: PropagateCert - Exit");
    return m_currentIndex + 1 == m_certCount ? NteNoMoreItems : ErrorSuccess;
}

// Takes out of the store what this context put there: for each token
// certificate, the first store certificate with the same public key that is
// bound to the maker's provider. A certificate the user keeps for another
// provider with the same key is not ours to delete.
void CSlotContext::RemovePropagated()
{
    if (!m_removeCertificates || !m_store.IsOpen()) {
        return;
    }
    std::vector<CertStore::Certificate> stored;
    if (m_store.Enumerate(stored) != CertStore::Success) {
        return;
    }
    for (const CertStore::Certificate& certificate : m_certificates) {
        if (!certificate.IsValid()) {
            continue;
        }
        const auto match
            = std::find_if(stored.begin(), stored.end(), [&](const CertStore::Certificate& candidate) {
                  return candidate.SamePublicKey(certificate) && BoundToMakersProvider(candidate);
              });
        if (match != stored.end()) {
            m_store.Delete(*match);
            stored.erase(match);
        }
    }
}

} // namespace CertProp
