#include "ksp/RsaOperation.h"

#include "platform/secure_memory/SecureMemory.h"

#include <vector>

using namespace vela5::platform;

RsaOperation::RsaOperation(
    const CryptokiLibrary* library, CK_SESSION_HANDLE session, CK_OBJECT_HANDLE object, Kind kind)
    : m_functions(library != nullptr ? library->Functions() : nullptr)
    , m_session(session)
    , m_object(object)
    , m_kind(kind)
{
}

bool RsaOperation::Usable() const
{
    return m_functions != nullptr && m_session != 0 && m_object != 0;
}

CK_RV RsaOperation::Init() const
{
    if (!Usable()) {
        return CKR_ARGUMENTS_BAD;
    }
    CK_MECHANISM mechanism = { CKM_RSA_PKCS, nullptr, 0 };
    switch (m_kind) {
    case Kind::Sign:
        return m_functions->C_SignInit(m_session, &mechanism, m_object);
    case Kind::Decrypt:
        return m_functions->C_DecryptInit(m_session, &mechanism, m_object);
    case Kind::Encrypt:
        return m_functions->C_EncryptInit(m_session, &mechanism, m_object);
    case Kind::Verify:
        return m_functions->C_VerifyInit(m_session, &mechanism, m_object);
    }
    return CKR_ARGUMENTS_BAD;
}

CK_RV RsaOperation::Call(const CK_BYTE* input, CK_ULONG inputLength, CK_BYTE* output, CK_ULONG* length) const
{
    auto* data = const_cast<CK_BYTE*>(input);
    switch (m_kind) {
    case Kind::Sign:
        return m_functions->C_Sign(m_session, data, inputLength, output, length);
    case Kind::Decrypt:
        return m_functions->C_Decrypt(m_session, data, inputLength, output, length);
    case Kind::Encrypt:
        return m_functions->C_Encrypt(m_session, data, inputLength, output, length);
    case Kind::Verify:
        break;
    }
    return CKR_ARGUMENTS_BAD;
}

CK_RV RsaOperation::Run(const CK_BYTE* input, CK_ULONG inputLength, CK_BYTE* output, CK_ULONG& length) const
{
    if (!Usable() || m_kind == Kind::Verify) {
        return CKR_ARGUMENTS_BAD;
    }
    const CK_RV rv = Call(input, inputLength, output, &length);
    const bool leftActive = (rv == CKR_OK && output == nullptr) || rv == CKR_BUFFER_TOO_SMALL;
    if (leftActive) {
        // The result may be a plaintext: it never outlives this call. An
        // empty plaintext still needs a buffer to end its operation.
        std::vector<CK_BYTE> scratch(length > 0 ? length : 1);
        CK_ULONG scratchLength = scratch.size();
        Call(input, inputLength, scratch.data(), &scratchLength);
        SecureMemory::Wipe(scratch.data(), scratch.size());
    }
    return rv;
}

CK_RV RsaOperation::Verify(
    const CK_BYTE* data, CK_ULONG dataLength, const CK_BYTE* signature, CK_ULONG signatureLength) const
{
    if (!Usable() || m_kind != Kind::Verify) {
        return CKR_ARGUMENTS_BAD;
    }
    return m_functions->C_Verify(
        m_session, const_cast<CK_BYTE*>(data), dataLength, const_cast<CK_BYTE*>(signature), signatureLength);
}
