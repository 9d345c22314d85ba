// Running operations: single-part and multi-part signing, verification,
// encryption, decryption and digests, and when an operation ends.
#include "CkError.h"
#include "Module.h"
#include "platform/secure_memory/SecretBytes.h"

#include <cstring>

using namespace vela5::platform;

namespace velatoken {

namespace {

// An output buffer with room for `needed` bytes; false for a length query
// (null output), CKR_BUFFER_TOO_SMALL for a short one. Both leave the needed
// length in *outLength.
bool Room(size_t needed, CK_BYTE_PTR out, CK_ULONG_PTR outLength)
{
    if (out == nullptr) {
        *outLength = static_cast<CK_ULONG>(needed);
        return false;
    }
    if (*outLength < needed) {
        *outLength = static_cast<CK_ULONG>(needed);
        throw CkError(CKR_BUFFER_TOO_SMALL);
    }
    return true;
}

void Hash(const Session& session, const CK_BYTE* data, CK_ULONG length)
{
    Require(length == 0 || EVP_DigestUpdate(session.digest.get(), data, length) == 1, CKR_FUNCTION_FAILED);
}

Blob FinishDigest(const Session& session)
{
    Blob digest(static_cast<size_t>(EVP_MD_CTX_get_size(session.digest.get())));
    unsigned size = 0;
    Require(EVP_DigestFinal_ex(session.digest.get(), digest.data(), &size) == 1, CKR_FUNCTION_FAILED);
    digest.resize(size);
    return digest;
}

size_t DigestLength(const Session& session)
{
    return static_cast<size_t>(EVP_MD_CTX_get_size(session.digest.get()));
}

} // namespace

void Module::EndOperation(Session& session)
{
    session.operation = Operation::None;
    session.operationKey = 0;
    session.mechanism.reset();
    session.digest.reset();
    session.multiPart = false;
}

template <typename Body> void Module::RunOperation(Session& session, Body&& body)
{
    try {
        body();
    } catch (const CkError& error) {
        if (error.Result() != CKR_BUFFER_TOO_SMALL) {
            EndOperation(session);
        }
        throw;
    } catch (...) {
        EndOperation(session);
        throw;
    }
}

Session& Module::ActiveOperation(CK_SESSION_HANDLE handle, Operation operation, SwitchableCall call)
{
    // No switch matches None: a switched failure is checked below, where,
    // like every other failure of the call, it ends the operation.
    Session& session = UseSession(handle, SwitchableCall::None);
    Require(session.operation == operation, CKR_OPERATION_NOT_INITIALIZED);
    RunOperation(session, [&] {
        for (const SlotEntry& slot : m_slots) {
            if (slot.readerId == session.readerId) {
                CheckSwitch(call, &slot);
            }
        }
    });
    return session;
}

RsaKey Module::OperationKey(const Session& session) const
{
    const auto cached = m_keyCache.find(session.operationKey);
    Require(cached != m_keyCache.end(), CKR_KEY_HANDLE_INVALID);
    return cached->second.key;
}

void Module::Transform(Operation operation, CK_SESSION_HANDLE handle, CK_BYTE_PTR data, CK_ULONG length,
    CK_BYTE_PTR out, CK_ULONG_PTR outLength)
{
    static const SwitchableCall kCalls[]
        = { SwitchableCall::None, SwitchableCall::C_Sign, SwitchableCall::None, SwitchableCall::C_Encrypt,
              SwitchableCall::C_Decrypt, SwitchableCall::C_Digest };
    auto lock = Enter();
    Session& session = ActiveOperation(handle, operation, kCalls[static_cast<int>(operation)]);
    RunOperation(session, [&] {
        Require(outLength != nullptr && (data != nullptr || length == 0), CKR_ARGUMENTS_BAD);
        // The single-part call cannot finish what Update started.
        Require(!session.multiPart, CKR_OPERATION_ACTIVE);
        if (operation == Operation::Digest) {
            if (!Room(DigestLength(session), out, outLength)) {
                return;
            }
            Hash(session, data, length);
            const Blob digest = FinishDigest(session);
            std::memcpy(out, digest.data(), digest.size());
            *outLength = static_cast<CK_ULONG>(digest.size());
            EndOperation(session);
            return;
        }
        const RsaKey key = OperationKey(session);
        const RsaMechanism& mechanism = *session.mechanism;
        // A signature or ciphertext is as long as the modulus; a plaintext
        // is known only once decrypted.
        if (operation != Operation::Decrypt && !Room(key.Bytes(), out, outLength)) {
            return;
        }
        Blob digest;
        if (mechanism.HashesData()) {
            Hash(session, data, length);
            digest = FinishDigest(session);
            data = digest.data();
            length = static_cast<CK_ULONG>(digest.size());
        }
        // Decrypted data is wiped once copied.
        const SecretBytes result(operation == Operation::Sign ? key.Sign(mechanism, data, length)
                : operation == Operation::Encrypt             ? key.Encrypt(mechanism, data, length)
                                                              : key.Decrypt(mechanism, data, length));
        if (!Room(result.Size(), out, outLength)) {
            return;
        }
        std::memcpy(out, result.Data(), result.Size());
        *outLength = static_cast<CK_ULONG>(result.Size());
        EndOperation(session);
    });
}

void Module::Verify(CK_SESSION_HANDLE handle, CK_BYTE_PTR data, CK_ULONG length, CK_BYTE_PTR signature,
    CK_ULONG signatureLength)
{
    auto lock = Enter();
    Session& session = ActiveOperation(handle, Operation::Verify, SwitchableCall::C_Verify);
    RunOperation(session, [&] {
        Require((data != nullptr || length == 0) && signature != nullptr, CKR_ARGUMENTS_BAD);
        Require(!session.multiPart, CKR_OPERATION_ACTIVE);
        const RsaKey key = OperationKey(session);
        const RsaMechanism mechanism = *session.mechanism;
        if (mechanism.HashesData()) {
            Hash(session, data, length);
            const Blob digest = FinishDigest(session);
            EndOperation(session);
            key.Verify(mechanism, digest.data(), digest.size(), signature, signatureLength);
        } else {
            EndOperation(session);
            key.Verify(mechanism, data, length, signature, signatureLength);
        }
    });
}

void Module::Update(Operation operation, CK_SESSION_HANDLE handle, CK_BYTE_PTR data, CK_ULONG length)
{
    static const SwitchableCall kCalls[]
        = { SwitchableCall::None, SwitchableCall::C_SignUpdate, SwitchableCall::C_VerifyUpdate,
              SwitchableCall::None, SwitchableCall::None, SwitchableCall::C_DigestUpdate };
    auto lock = Enter();
    Session& session = ActiveOperation(handle, operation, kCalls[static_cast<int>(operation)]);
    RunOperation(session, [&] {
        Require(data != nullptr || length == 0, CKR_ARGUMENTS_BAD);
        // CKM_RSA_PKCS and CKM_RSA_PKCS_PSS sign what they are given, in one part.
        Require(session.mechanism->HashesData(), CKR_FUNCTION_NOT_SUPPORTED);
        Hash(session, data, length);
        session.multiPart = true;
    });
}

void Module::Final(Operation operation, CK_SESSION_HANDLE handle, CK_BYTE_PTR out, CK_ULONG_PTR outLength)
{
    static const SwitchableCall kCalls[] = { SwitchableCall::None, SwitchableCall::C_SignFinal,
        SwitchableCall::None, SwitchableCall::None, SwitchableCall::None, SwitchableCall::C_DigestFinal };
    auto lock = Enter();
    Session& session = ActiveOperation(handle, operation, kCalls[static_cast<int>(operation)]);
    RunOperation(session, [&] {
        Require(outLength != nullptr, CKR_ARGUMENTS_BAD);
        Require(session.mechanism->HashesData(), CKR_FUNCTION_NOT_SUPPORTED);
        if (operation == Operation::Digest) {
            if (!Room(DigestLength(session), out, outLength)) {
                return;
            }
            const Blob digest = FinishDigest(session);
            std::memcpy(out, digest.data(), digest.size());
            *outLength = static_cast<CK_ULONG>(digest.size());
            EndOperation(session);
            return;
        }
        const RsaKey key = OperationKey(session);
        if (!Room(key.Bytes(), out, outLength)) {
            return;
        }
        const Blob digest = FinishDigest(session);
        const Blob signature = key.Sign(*session.mechanism, digest.data(), digest.size());
        std::memcpy(out, signature.data(), signature.size());
        *outLength = static_cast<CK_ULONG>(signature.size());
        EndOperation(session);
    });
}

void Module::VerifyFinal(CK_SESSION_HANDLE handle, CK_BYTE_PTR signature, CK_ULONG signatureLength)
{
    auto lock = Enter();
    Session& session = ActiveOperation(handle, Operation::Verify, SwitchableCall::C_VerifyFinal);
    RunOperation(session, [&] {
        Require(signature != nullptr, CKR_ARGUMENTS_BAD);
        Require(session.mechanism->HashesData(), CKR_FUNCTION_NOT_SUPPORTED);
        const RsaKey key = OperationKey(session);
        const RsaMechanism mechanism = *session.mechanism;
        const Blob digest = FinishDigest(session);
        EndOperation(session);
        key.Verify(mechanism, digest.data(), digest.size(), signature, signatureLength);
    });
}

} // namespace velatoken
