// Key lookup, the Init of every operation, and random numbers.
#include "CkError.h"
#include "Module.h"

#include <openssl/rand.h>
#include <unistd.h>

using namespace vela5::platform;

namespace velatoken {

const RsaKey& Module::KeyOf(const StoredObject& object)
{
    // Object ids are never reused, so a parsed key stays valid for its id.
    auto found = m_keyCache.find(object.id);
    if (found != m_keyCache.end()) {
        found->second.object = object;
        found->second.object.secret.clear();
        found->second.generation = m_generation;
        return found->second.key;
    }
    RsaKey key;
    if (object.objectClass == CKO_PRIVATE_KEY) {
        // Still sealed: the token key is not held.
        Require(!object.secret.empty(), CKR_USER_NOT_LOGGED_IN);
        key = RsaKey::FromPrivateDer(object.secret);
    } else {
        const Blob* modulus = object.Find(CKA_MODULUS);
        const Blob* exponent = object.Find(CKA_PUBLIC_EXPONENT);
        Require(modulus != nullptr && exponent != nullptr, CKR_KEY_TYPE_INCONSISTENT);
        key = RsaKey::FromPublic(*modulus, *exponent);
    }
    CachedKey& entry = m_keyCache[object.id];
    entry.key = key;
    entry.object = object;
    entry.object.secret.clear();
    entry.generation = m_generation;
    return entry.key;
}

StoredObject Module::KeyObject(int64_t handle)
{
    // Signing in a loop should not re-read the key object every time.
    const auto found = m_keyCache.find(handle);
    if (found != m_keyCache.end() && found->second.generation == m_generation) {
        return found->second.object;
    }
    auto object = m_objects->Load(handle);
    Require(object.has_value(), CKR_KEY_HANDLE_INVALID);
    Unseal(*object);
    return std::move(*object);
}

namespace {

std::shared_ptr<EVP_MD_CTX> StartDigest(const EVP_MD* md)
{
    std::shared_ptr<EVP_MD_CTX> context(EVP_MD_CTX_new(), OpenSsl::Deleter<EVP_MD_CTX_free>());
    Require(context != nullptr, CKR_HOST_MEMORY);
    Require(EVP_DigestInit_ex(context.get(), md, nullptr) == 1, CKR_FUNCTION_FAILED);
    return context;
}

MechanismUse UseOf(Operation operation)
{
    return operation == Operation::Sign || operation == Operation::Verify ? MechanismUse::Sign
                                                                          : MechanismUse::Encrypt;
}

} // namespace

void Module::OperationInit(
    Operation operation, CK_SESSION_HANDLE handle, CK_MECHANISM_PTR mechanism, CK_OBJECT_HANDLE key)
{
    static const SwitchableCall kCalls[] = { SwitchableCall::None, SwitchableCall::C_SignInit,
        SwitchableCall::C_VerifyInit, SwitchableCall::C_EncryptInit, SwitchableCall::C_DecryptInit };
    auto lock = Enter();
    Session& session = UseSession(handle, kCalls[static_cast<int>(operation)]);
    Require(mechanism != nullptr, CKR_ARGUMENTS_BAD);
    Require(session.operation == Operation::None, CKR_OPERATION_ACTIVE);
    RsaMechanism parsed = RsaMechanism::Parse(*mechanism, UseOf(operation));
    const std::optional<StoredObject> object = KeyObject(key);
    Require(object->tokenId == session.tokenId, CKR_KEY_HANDLE_INVALID);
    Require(IsOwnObject(*object), CKR_KEY_HANDLE_INVALID);
    // One read of the token answers both login checks.
    const auto login = LoggedIn(Token(session.tokenId));
    Require(!object->isPrivate || (login && *login == CKU_USER), CKR_USER_NOT_LOGGED_IN);
    const bool needsPrivate = operation == Operation::Sign || operation == Operation::Decrypt;
    Require(
        object->objectClass == (needsPrivate ? CKO_PRIVATE_KEY : CKO_PUBLIC_KEY), CKR_KEY_TYPE_INCONSISTENT);
    // Every private key is sealed, a public one too: using it needs the
    // token key a login unwrapped, even when a parsed copy is still at hand.
    Require(!needsPrivate || login.has_value(), CKR_USER_NOT_LOGGED_IN);
    const CK_ATTRIBUTE_TYPE usage[] = { 0, CKA_SIGN, CKA_VERIFY, CKA_ENCRYPT, CKA_DECRYPT };
    Require(object->Flag(usage[static_cast<int>(operation)]), CKR_KEY_FUNCTION_NOT_PERMITTED);
    KeyOf(*object).CheckFits(parsed);
    session.digest = parsed.HashesData() ? StartDigest(parsed.Digest()) : nullptr;
    session.mechanism = std::move(parsed);
    session.multiPart = false;
    session.operation = operation;
    session.operationKey = object->id;
}

void Module::DigestInit(CK_SESSION_HANDLE handle, CK_MECHANISM_PTR mechanism)
{
    auto lock = Enter();
    Session& session = UseSession(handle, SwitchableCall::C_DigestInit);
    Require(mechanism != nullptr, CKR_ARGUMENTS_BAD);
    Require(session.operation == Operation::None, CKR_OPERATION_ACTIVE);
    RsaMechanism parsed = RsaMechanism::Parse(*mechanism, MechanismUse::Digest);
    session.digest = StartDigest(parsed.Digest());
    session.mechanism = std::move(parsed);
    session.multiPart = false;
    session.operation = Operation::Digest;
    session.operationKey = 0;
}

void Module::GenerateRandom(CK_SESSION_HANDLE handle, CK_BYTE_PTR data, CK_ULONG length)
{
    auto lock = Enter();
    UseSession(handle, SwitchableCall::C_GenerateRandom);
    Require(data != nullptr || length == 0, CKR_ARGUMENTS_BAD);
    Require(length == 0 || RAND_bytes(data, static_cast<int>(length)) == 1, CKR_FUNCTION_FAILED);
}

} // namespace velatoken
