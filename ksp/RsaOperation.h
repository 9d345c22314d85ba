// One CKM_RSA_PKCS operation of the provider on its session: the Init call
// and the single-part call, for signing, decryption, encryption and
// verification. The module leaves an operation active after a length query
// (null output) and after CKR_BUFFER_TOO_SMALL, and would then answer the
// next Init with CKR_OPERATION_ACTIVE; Run finishes such an operation into a
// scratch buffer of the reported length, wiped afterwards, so "ask for the
// size, then sign" works as callers expect.
#pragma once

#include "ksp/CryptokiLibrary.h"
#include "pkcs11/pkcs11.h"

class RsaOperation final {
public:
    enum class Kind { Sign, Decrypt, Encrypt, Verify };

    // object: the private key object for Sign and Decrypt, the public one for
    // Encrypt and Verify. No token object is built for the operation: an
    // RSAPair's log writer alone would read the log settings from the
    // registry on every signature.
    RsaOperation(
        const CryptokiLibrary* library, CK_SESSION_HANDLE session, CK_OBJECT_HANDLE object, Kind kind);

    // Session, key object and module present.
    bool Usable() const;
    CK_RV Init() const;
    // The operation call. output null: length asks for the length only.
    // length: in, the output's size; out, what the module answered.
    CK_RV Run(const CK_BYTE* input, CK_ULONG inputLength, CK_BYTE* output, CK_ULONG& length) const;
    // C_Verify over data and signature.
    CK_RV Verify(
        const CK_BYTE* data, CK_ULONG dataLength, const CK_BYTE* signature, CK_ULONG signatureLength) const;

private:
    CK_RV Call(const CK_BYTE* input, CK_ULONG inputLength, CK_BYTE* output, CK_ULONG* length) const;

    CK_FUNCTION_LIST_PTR m_functions;
    CK_SESSION_HANDLE m_session;
    CK_OBJECT_HANDLE m_object;
    Kind m_kind;
};
