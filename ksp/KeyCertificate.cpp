#include "ksp/KeyCertificate.h"

#include "ksp/Globals.h"
#include "ksp/KeyTemplates.h"
#include "platform/certstore/Certificate.h"

#include <vector>

using namespace vela5::platform;

namespace {

CK_ATTRIBUTE Attribute(CK_ATTRIBUTE_TYPE type, const void* value, std::size_t size)
{
    return CK_ATTRIBUTE { type, const_cast<void*>(value), static_cast<CK_ULONG>(size) };
}

// CKA_ID of a key object: a length query, then the value.
bool ReadId(const Certificate& certificate, CK_OBJECT_HANDLE object, std::vector<CK_BYTE>& id)
{
    CK_FUNCTION_LIST_PTR module = certificate.Library()->Functions();
    CK_ATTRIBUTE read = Attribute(CKA_ID, nullptr, 0);
    if (module->C_GetAttributeValue(certificate.Session(), object, &read, 1) != CKR_OK
        || read.ulValueLen == CK_UNAVAILABLE_INFORMATION) {
        return false;
    }
    id.assign(read.ulValueLen, 0);
    read.pValue = id.data();
    return module->C_GetAttributeValue(certificate.Session(), object, &read, 1) == CKR_OK;
}

bool Usable(const Certificate& certificate)
{
    return certificate.Library() != nullptr && certificate.Library()->Functions() != nullptr
        && certificate.Session() != 0;
}

} // namespace

SECURITY_STATUS CertificateExists(const Certificate& certificate)
{
    if (!Usable(certificate) || !certificate.hasPublicKey || !certificate.hasPrivateKey) {
        return NTE_INVALID_PARAMETER;
    }
    std::vector<CK_BYTE> id;
    if (!ReadId(certificate, certificate.privateKey, id)) {
        return NTE_INTERNAL_ERROR;
    }
    CK_FUNCTION_LIST_PTR module = certificate.Library()->Functions();
    CK_BBOOL token = CK_TRUE;
    CK_OBJECT_CLASS objectClass = CKO_CERTIFICATE;
    CK_ATTRIBUTE search[] = { Attribute(CKA_TOKEN, &token, 1),
        Attribute(CKA_CLASS, &objectClass, sizeof objectClass), Attribute(CKA_ID, id.data(), id.size()) };
    if (module->C_FindObjectsInit(certificate.Session(), search, 3) != CKR_OK) {
        return NTE_INTERNAL_ERROR;
    }
    CK_OBJECT_HANDLE found = 0;
    CK_ULONG count = 0;
    const CK_RV rv = module->C_FindObjects(certificate.Session(), &found, 1, &count);
    if (module->C_FindObjectsFinal(certificate.Session()) != CKR_OK || rv != CKR_OK) {
        return NTE_INTERNAL_ERROR;
    }
    return count != 0 ? NTE_EXISTS : NTE_NOT_FOUND;
}

SECURITY_STATUS StoreCertificate(Certificate& certificate, const BYTE* encoded, DWORD size)
{
    if (!Usable(certificate)) {
        return NTE_INVALID_PARAMETER;
    }
    CertStore::Certificate context;
    if (encoded == nullptr || CertStore::Certificate::Create(encoded, size, context) != CertStore::Success) {
        return NTE_FAIL;
    }
    std::vector<CK_BYTE> id;
    const CK_OBJECT_HANDLE keyObject
        = certificate.hasPrivateKey ? certificate.privateKey : certificate.publicKey;
    if (!ReadId(certificate, keyObject, id)) {
        return NTE_INTERNAL_ERROR;
    }
    // The label's length counts the terminator, as the display name's
    // character count does.
    std::string label = context.SimpleDisplayName();
    label.push_back('\0');
    certificate.SetLabel(label);
    certificate.encoded.Assign(encoded, size);
    std::vector<std::uint8_t> issuer = context.IssuerEncoded();
    issuer.push_back(0);
    std::vector<std::uint8_t> subject = context.SubjectEncoded();
    subject.push_back(0);
    certificate.issuer.Assign(issuer.data(), issuer.size());
    certificate.subject.Assign(subject.data(), subject.size());
    const std::vector<std::uint8_t> serial = context.SerialNumberLittleEndian();
    certificate.serialNumber.Assign(serial.data(), serial.size());

    CK_OBJECT_CLASS objectClass = CKO_CERTIFICATE;
    const CK_BBOOL yes = CK_TRUE;
    const CK_BBOOL no = CK_FALSE;
    auto bytes = [](const WipedBytes& part) { return static_cast<const void*>(part.Bytes().data()); };
    std::vector<CK_ATTRIBUTE> attributes
        = { Attribute(CKA_CLASS, &objectClass, sizeof objectClass), Attribute(CKA_TOKEN, &yes, 1),
              Attribute(CKA_LABEL, certificate.Label().data(), certificate.Label().size()),
              Attribute(CKA_VALUE, bytes(certificate.encoded), certificate.encoded.Size()),
              Attribute(CKA_PRIVATE, &no, 1), Attribute(CKA_MODIFIABLE, &yes, 1),
              Attribute(CKA_EXTRACTABLE, &yes, 1), Attribute(CKA_ID, id.data(), id.size()),
              Attribute(CKA_OBJECT_ID, id.data(), id.size()),
              Attribute(CKA_ISSUER, bytes(certificate.issuer), certificate.issuer.Size()),
              Attribute(CKA_SERIAL_NUMBER, bytes(certificate.serialNumber), certificate.serialNumber.Size()),
              Attribute(CKA_SUBJECT, bytes(certificate.subject), certificate.subject.Size()) };
    CK_OBJECT_HANDLE handle = 0;
    const CK_RV rv = CreateObjectTolerant(certificate.Library()->Functions(), certificate.Session(),
        std::move(attributes), { CKA_EXTRACTABLE, CKA_OBJECT_ID }, handle, HelperLog());
    if (rv != CKR_OK) {
        HelperLog().WriteHex("Certificate creation failed: ", static_cast<std::uint64_t>(rv));
        return NTE_FAIL;
    }
    certificate.SetHandle(handle);
    return ERROR_SUCCESS;
}
