// The software token behind the function list. One instance per process;
// every public member is one module call and throws CkError on failure.
#pragma once

#include "Database.h"
#include "ObjectStore.h"
#include "RsaKey.h"
#include "SessionStore.h"
#include "SwitchableCall.h"
#include "TokenStore.h"
#include "pkcs11/pkcs11.h"

#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <sys/types.h>
#include <vector>

namespace velatoken {

struct SlotEntry {
    int64_t readerId = 0;
    std::string name;
    int64_t tokenId = 0;
};

enum class Operation { None, Sign, Verify, Encrypt, Decrypt, Digest };

struct Session {
    CK_SESSION_HANDLE handle = 0;
    int64_t readerId = 0;
    int64_t tokenId = 0;
    CK_FLAGS flags = 0;
    uint64_t checkedAt = 0;
    bool findActive = false;
    std::vector<int64_t> found;
    size_t foundPosition = 0;
    Operation operation = Operation::None;
    int64_t operationKey = 0;
    std::optional<RsaMechanism> mechanism;
    // The data hashed so far, for digests and hash-and-sign mechanisms.
    std::shared_ptr<EVP_MD_CTX> digest;
    // An Update was made: only Final may end the operation now.
    bool multiPart = false;
};

struct LoginState {
    CK_USER_TYPE user = CKU_USER;
    int64_t epoch = 0;
    // The token key this login's PIN unwrapped; it goes with the login.
    TokenKeyPtr key;
};

class Module final {
public:
    static Module& Instance();

    // Standard calls.
    void Initialize(CK_VOID_PTR args);
    void Finalize(CK_VOID_PTR reserved);
    void GetInfo(CK_INFO_PTR info);
    void GetSlotList(CK_BBOOL tokenPresent, CK_SLOT_ID_PTR list, CK_ULONG_PTR count);
    void GetSlotInfo(CK_SLOT_ID slot, CK_SLOT_INFO_PTR info);
    void GetTokenInfo(CK_SLOT_ID slot, CK_TOKEN_INFO_PTR info);
    void GetMechanismList(CK_SLOT_ID slot, CK_MECHANISM_TYPE_PTR list, CK_ULONG_PTR count);
    void GetMechanismInfo(CK_SLOT_ID slot, CK_MECHANISM_TYPE type, CK_MECHANISM_INFO_PTR info);
    void OpenSession(CK_SLOT_ID slot, CK_FLAGS flags, CK_SESSION_HANDLE_PTR session);
    void CloseSession(CK_SESSION_HANDLE session);
    void CloseAllSessions(CK_SLOT_ID slot);
    void GetSessionInfo(CK_SESSION_HANDLE session, CK_SESSION_INFO_PTR info);
    void Login(CK_SESSION_HANDLE session, CK_USER_TYPE user, CK_BYTE_PTR pin, CK_ULONG length, bool vendor);
    void Logout(CK_SESSION_HANDLE session);
    void InitToken(CK_SLOT_ID slot, CK_UTF8CHAR_PTR soPin, CK_ULONG soLength, CK_UTF8CHAR_PTR label);
    void InitPIN(CK_SESSION_HANDLE session, CK_UTF8CHAR_PTR pin, CK_ULONG length);
    void SetPIN(CK_SESSION_HANDLE session, CK_BYTE_PTR oldPin, CK_ULONG oldLength, CK_BYTE_PTR newPin,
        CK_ULONG newLength);
    void CreateObject(
        CK_SESSION_HANDLE session, CK_ATTRIBUTE_PTR attributes, CK_ULONG count, CK_OBJECT_HANDLE_PTR object);
    void DestroyObject(CK_SESSION_HANDLE session, CK_OBJECT_HANDLE object);
    void GetObjectSize(CK_SESSION_HANDLE session, CK_OBJECT_HANDLE object, CK_ULONG_PTR size);
    void GetAttributeValue(
        CK_SESSION_HANDLE session, CK_OBJECT_HANDLE object, CK_ATTRIBUTE_PTR attributes, CK_ULONG count);
    void SetAttributeValue(
        CK_SESSION_HANDLE session, CK_OBJECT_HANDLE object, CK_ATTRIBUTE_PTR attributes, CK_ULONG count);
    void FindObjectsInit(CK_SESSION_HANDLE session, CK_ATTRIBUTE_PTR attributes, CK_ULONG count);
    void FindObjects(
        CK_SESSION_HANDLE session, CK_OBJECT_HANDLE_PTR objects, CK_ULONG max, CK_ULONG_PTR count);
    void FindObjectsFinal(CK_SESSION_HANDLE session);
    // Sign, Verify, Encrypt and Decrypt (Digest through DigestInit).
    void OperationInit(
        Operation operation, CK_SESSION_HANDLE session, CK_MECHANISM_PTR mechanism, CK_OBJECT_HANDLE key);
    void DigestInit(CK_SESSION_HANDLE session, CK_MECHANISM_PTR mechanism);
    // Single-part Sign, Encrypt, Decrypt and Digest: a null output asks for
    // the length. Every operation call that fails ends the operation, except
    // for CKR_BUFFER_TOO_SMALL.
    void Transform(Operation operation, CK_SESSION_HANDLE session, CK_BYTE_PTR data, CK_ULONG length,
        CK_BYTE_PTR out, CK_ULONG_PTR outLength);
    void Verify(CK_SESSION_HANDLE session, CK_BYTE_PTR data, CK_ULONG length, CK_BYTE_PTR signature,
        CK_ULONG signatureLength);
    // Multi-part Sign, Verify and Digest.
    void Update(Operation operation, CK_SESSION_HANDLE session, CK_BYTE_PTR data, CK_ULONG length);
    void Final(Operation operation, CK_SESSION_HANDLE session, CK_BYTE_PTR out, CK_ULONG_PTR outLength);
    void VerifyFinal(CK_SESSION_HANDLE session, CK_BYTE_PTR signature, CK_ULONG signatureLength);
    void GenerateKeyPair(CK_SESSION_HANDLE session, CK_MECHANISM_PTR mechanism,
        CK_ATTRIBUTE_PTR publicTemplate, CK_ULONG publicCount, CK_ATTRIBUTE_PTR privateTemplate,
        CK_ULONG privateCount, CK_OBJECT_HANDLE_PTR publicKey, CK_OBJECT_HANDLE_PTR privateKey);
    void GenerateRandom(CK_SESSION_HANDLE session, CK_BYTE_PTR data, CK_ULONG length);
    // Calls the token does not offer: initialized check, then the code.
    void Unsupported(CK_RV rv);
    void SessionUnsupported(CK_SESSION_HANDLE session, CK_RV rv);

    // Vendor calls.
    void SetTokenLabel(CK_SESSION_HANDLE session, CK_BYTE_PTR label, CK_ULONG length);
    void UnblockUserPIN(CK_SESSION_HANDLE session, CK_BYTE_PTR soPin, CK_ULONG soLength, CK_BYTE_PTR newPin,
        CK_ULONG newLength);
    void InitToken(CK_BYTE flag, CK_SLOT_ID slot, const NRV_INIT_TOKEN_RECORD& record);
    void LoadCert(CK_SESSION_HANDLE session, CK_BYTE_PTR path, CK_BYTE_PTR password, CK_ULONG passwordLength);
    void GetSerialNumber(CK_ULONG position, CK_BYTE_PTR serial);
    void RefreshTokenFlag(CK_SLOT_ID slot);
    void GetPinMinMax(CK_ULONG which, CK_SLOT_ID slot, NRV_PIN_MIN_MAX_PTR range);
    void FindPriPubKey(CK_SESSION_HANDLE session, CK_BYTE direction, CK_BYTE index, CK_BYTE_PTR partner);
    void IsTokenReady(CK_SLOT_ID slot, CK_ULONG reserved);

private:
    using Lock = std::unique_lock<std::recursive_mutex>;
    // Locks, checks that the module is initialized, and re-reads the slot
    // list when the shared state changed.
    Lock Enter();
    void Refresh();
    void CheckSwitch(SwitchableCall call, const SlotEntry* slot);
    const SlotEntry& Slot(CK_SLOT_ID slot);
    const SlotEntry& SlotWithToken(CK_SLOT_ID slot);
    TokenRecord Token(int64_t tokenId);
    TokenRecord RecognizedToken(int64_t tokenId);
    Session& UseSession(CK_SESSION_HANDLE handle, SwitchableCall call);
    void DropSession(CK_SESSION_HANDLE handle);
    void ForgetLoginWithoutSessions(int64_t tokenId);
    void PruneDeadSessions();
    // Drops every session, login, cached key and the connection: the module
    // is uninitialized afterwards.
    void ForgetEverything();
    // After a fork, the child's first call finds the parent's state and
    // drops it.
    void LeaveParentsState();
    // True for token objects and for session objects of this process's
    // own sessions.
    bool IsOwnObject(const StoredObject& object) const;
    std::optional<CK_USER_TYPE> LoggedIn(const TokenRecord& token);
    bool UserLoggedIn(int64_t tokenId);
    // The token key of this process's login on the token, else null.
    const TokenKey* HeldKey(int64_t tokenId);
    // Ends this process's login on the token: its token key and the keys
    // parsed from sealed secrets are dropped.
    void EndLogin(int64_t tokenId);
    // Opens the object's sealed values when the token key is held.
    void Unseal(StoredObject& object);
    // Checks a PIN against one of the token's PINs, counting failures; the
    // caller commits. Throws a retry code, CKR_PIN_LOCKED or, when
    // standardCodes, CKR_PIN_INCORRECT. With `opened`, a matching PIN also
    // unwraps the token key into it.
    void CheckPin(TokenRecord& token, PinState& pin, std::string_view given, bool standardCodes,
        TokenKeyPtr* opened = nullptr);
    StoredObject VisibleObject(const Session& session, CK_OBJECT_HANDLE handle);
    void CheckWritable(const Session& session, const StoredObject& object);
    void CheckCapacity(int64_t tokenId, const StoredObject& object, int64_t sizeBefore);
    // The key-pair index a created token key takes: its other half's (same
    // CKA_ID, that index not yet used by a key of its own class), else the
    // lowest free one; CKR_DEVICE_MEMORY when the token's pairs are taken.
    int64_t KeyPairIndexFor(int64_t tokenId, const StoredObject& key);
    // Initializes (or re-initializes) a token; a standard call keeps the
    // limits a token has and leaves the User PIN unset.
    void InitializeToken(const SlotEntry& entry, InitParams& params, bool standard);
    // The session's operation, checked to be `operation`.
    Session& ActiveOperation(CK_SESSION_HANDLE handle, Operation operation, SwitchableCall call);
    static void EndOperation(Session& session);
    RsaKey OperationKey(const Session& session) const;
    // Runs an operation call; any failure but a short buffer ends the operation.
    template <typename Body> void RunOperation(Session& session, Body&& body);
    const RsaKey& KeyOf(const StoredObject& object);
    StoredObject KeyObject(int64_t handle);
    bool Matches(const StoredObject& object, const AttributeMap& filter);

    std::recursive_mutex m_mutex;
    bool m_initialized = false;
    // The process that initialized: its id and start time own its sessions.
    pid_t m_pid = 0;
    int64_t m_started = 0;
    SessionOwner Owner() const { return { static_cast<int64_t>(m_pid), m_started }; }
    std::unique_ptr<Database> m_db;
    std::unique_ptr<TokenStore> m_tokens;
    std::unique_ptr<ObjectStore> m_objects;
    // The shared rows; m_sessions below is this process's view of its own.
    std::unique_ptr<SessionStore> m_sessionRows;
    std::vector<SlotEntry> m_slots;
    std::vector<FailureRow> m_failures;
    uint64_t m_generation = 1;
    std::map<CK_SESSION_HANDLE, Session> m_sessions;
    std::map<int64_t, LoginState> m_logins;
    // Parsed keys with what an operation checks, valid for one generation
    // of the shared state.
    struct CachedKey {
        RsaKey key;
        StoredObject object; // without attributes other than usage
        uint64_t generation = 0;
    };
    std::map<int64_t, CachedKey> m_keyCache;
};

} // namespace velatoken
