// Readers, tokens and failure switches in the shared state. Used by the
// module and by vela5-token; callers own the transactions.
#pragma once

#include "Database.h"
#include "PinHash.h"
#include "TokenKey.h"
#include "pkcs11/pkcs11.h"
#include "platform/secure_memory/SecretBytes.h"

#include <optional>
#include <string>
#include <vector>

namespace velatoken {

struct PinState {
    PinHash hash;
    int64_t limit = 0;
    int64_t left = 0;
    int64_t minLen = 0;
    int64_t maxLen = 0;
    // The token key wrapped under this PIN's wrapping key.
    Blob wrappedKey;
    // A token initialized by C_InitToken has no User PIN until C_InitPIN.
    bool IsSet() const { return !hash.hash.empty(); }
};

struct TokenRecord {
    int64_t id = 0;
    std::string serial;
    std::string model;
    std::string label;
    bool initialized = false;
    bool clearCardDisabled = false;
    // Bumped by every initialization: logins of the old token lapse.
    int64_t epoch = 0;
    PinState user;
    PinState so;
    int64_t maxKeyPairs = 0;
    // PBKDF2 rounds of both PIN hashes.
    int64_t pinRounds = kDefaultPinRounds;
};

struct ReaderRow {
    int64_t id = 0;
    std::string name;
    int64_t tokenId = 0; // 0: empty
};

struct FailureRow {
    std::string kind; // "reader" or "token"
    std::string name; // reader name or token serial
    std::string function;
    CK_RV code = CKR_DEVICE_ERROR;
};

// What an initialization sets.
struct InitParams {
    std::string label;
    vela5::platform::SecretBytes userPin;
    vela5::platform::SecretBytes soPin;
    int64_t userMin = 4, userMax = 8, userLimit = 8;
    int64_t soMin = 4, soMax = 8, soLimit = 8;
    int64_t maxKeyPairs = 10;
    bool clearCard = true;
    // C_InitToken leaves the User PIN for C_InitPIN to set.
    bool withUserPin = true;
};

constexpr size_t kMaxLabelLength = 127;
constexpr size_t kMaxReaderNameLength = 64;
constexpr int64_t kMaxPinLength = 32;
constexpr int64_t kMaxErrorLimit = 15;
constexpr int64_t kMaxKeyPairs = 255;

class TokenStore final {
public:
    explicit TokenStore(Database& db)
        : m_db(db)
    {
    }

    std::vector<ReaderRow> Readers();
    std::optional<TokenRecord> Token(int64_t id);
    std::optional<TokenRecord> TokenBySerial(const std::string& serial);
    std::vector<TokenRecord> Tokens();
    void Save(const TokenRecord& token);
    std::vector<FailureRow> Failures();

    // Throws CkError(CKR_ARGUMENTS_BAD / CKR_PIN_LEN_RANGE) for unusable
    // parameters, before touching the record.
    static void CheckInit(const InitParams& params);
    // Sets the label, PINs and limits, and a fresh token key wrapped for
    // both PINs; the caller removes the objects.
    static void ApplyInit(TokenRecord& token, const InitParams& params);
    // Sets one PIN (CKU_USER or CKU_SO) with a full counter, the token key
    // wrapped for it.
    static void SetPin(TokenRecord& token, CK_USER_TYPE user, std::string_view pin, const TokenKey& key);
    // The token key wrapped for one PIN, with the wrapping key a matching
    // PIN gave; throws CkError(CKR_DEVICE_ERROR) when it does not open.
    static TokenKeyPtr OpenKey(
        const TokenRecord& token, CK_USER_TYPE user, const vela5::platform::LockedBuffer& wrappingKey);
    // What a wrapped token key is bound to: its token and whose PIN.
    static Blob KeyContext(int64_t tokenId, CK_USER_TYPE user);

    // The operations of vela5-token. Each throws std::runtime_error with a
    // one-line message when it cannot be done.
    void AddReader(const std::string& name);
    void RemoveReader(const std::string& name);
    std::string CreateToken(const std::string& model, const std::string& serial, const InitParams* init,
        int64_t pinRounds = kDefaultPinRounds);
    void InsertToken(const std::string& serial, const std::string& reader);
    void EjectToken(const std::string& reader);
    void SetFailure(const FailureRow& failure);
    void ClearFailure(const std::string& kind, const std::string& name, const std::string& function);
    void DestroyTokenObjects(int64_t tokenId);

private:
    TokenRecord Read(Statement& statement);
    Database& m_db;
};

} // namespace velatoken
