// Reader and token rows: reading, saving, and the control tool's changes.
#include "TokenStore.h"

#include "CkError.h"
#include "Model.h"
#include "SessionStore.h"

#include <openssl/crypto.h>
#include <openssl/rand.h>
#include <stdexcept>

using namespace vela5::platform;

namespace velatoken {

namespace {

constexpr const char* kTokenColumns
    = "id, serial, model, label, initialized, clear_card_disabled, epoch, user_hash, user_salt, user_limit, "
      "user_left, user_min, user_max, so_hash, so_salt, so_limit, so_left, so_min, so_max, max_key_pairs, "
      "pin_rounds, user_key, so_key";

std::string NewSerial()
{
    unsigned char bytes[8];
    if (RAND_bytes(bytes, sizeof bytes) != 1) {
        throw std::runtime_error("no random serial number");
    }
    static const char digits[] = "0123456789ABCDEF";
    std::string serial;
    for (unsigned char byte : bytes) {
        serial += digits[byte >> 4];
        serial += digits[byte & 15];
    }
    return serial;
}

bool IsValidSerial(const std::string& serial)
{
    if (serial.empty() || serial.size() > 16) {
        return false;
    }
    for (char c : serial) {
        if (c <= ' ' || c > '~') {
            return false;
        }
    }
    return true;
}

// Whatever the state holds is checked against what this module ever writes
// there: a longer value is a damaged or tampered state, and must never reach
// a fixed-size buffer of a caller.
void RequireInState(bool holds, const char* what)
{
    if (!holds) {
        throw CkError(CKR_DEVICE_ERROR, std::string("damaged token state: ") + what);
    }
}

void CheckPinState(const PinState& pin)
{
    RequireInState(
        pin.maxLen >= 0 && pin.maxLen <= kMaxPinLength && pin.minLen >= 0 && pin.minLen <= pin.maxLen,
        "PIN length limits out of range");
    RequireInState(
        pin.limit >= 0 && pin.limit <= kMaxErrorLimit && pin.left >= 0 && pin.left <= kMaxErrorLimit,
        "PIN error counter out of range");
}

} // namespace

std::vector<ReaderRow> TokenStore::Readers()
{
    Statement statement(m_db, "SELECT id, name, coalesce(token_id, 0) FROM readers ORDER BY id");
    std::vector<ReaderRow> readers;
    while (statement.Step()) {
        ReaderRow reader { statement.Int(0), statement.Text(1), statement.Int(2) };
        RequireInState(!reader.name.empty() && reader.name.size() <= kMaxReaderNameLength, "reader name");
        readers.push_back(std::move(reader));
    }
    return readers;
}

TokenRecord TokenStore::Read(Statement& s)
{
    TokenRecord token;
    token.id = s.Int(0);
    token.serial = s.Text(1);
    token.model = s.Text(2);
    token.label = s.Text(3);
    token.initialized = s.Int(4) != 0;
    token.clearCardDisabled = s.Int(5) != 0;
    token.epoch = s.Int(6);
    token.user = { { s.Bytes(8), s.Bytes(7) }, s.Int(9), s.Int(10), s.Int(11), s.Int(12), s.Bytes(21) };
    token.so = { { s.Bytes(14), s.Bytes(13) }, s.Int(15), s.Int(16), s.Int(17), s.Int(18), s.Bytes(22) };
    token.maxKeyPairs = s.Int(19);
    token.pinRounds = s.Int(20);
    RequireInState(token.pinRounds >= 1 && token.pinRounds <= kMaxPinRounds, "PIN hashing cost");
    RequireInState(IsValidSerial(token.serial), "serial number");
    RequireInState(token.label.size() <= kMaxLabelLength, "token label");
    CheckPinState(token.user);
    CheckPinState(token.so);
    return token;
}

std::optional<TokenRecord> TokenStore::Token(int64_t id)
{
    Statement statement(m_db, (std::string("SELECT ") + kTokenColumns + " FROM tokens WHERE id=?").c_str());
    statement.Bind(1, id);
    if (!statement.Step()) {
        return std::nullopt;
    }
    return Read(statement);
}

std::optional<TokenRecord> TokenStore::TokenBySerial(const std::string& serial)
{
    Statement statement(
        m_db, (std::string("SELECT ") + kTokenColumns + " FROM tokens WHERE serial=?").c_str());
    statement.Bind(1, serial);
    if (!statement.Step()) {
        return std::nullopt;
    }
    return Read(statement);
}

std::vector<TokenRecord> TokenStore::Tokens()
{
    Statement statement(m_db, (std::string("SELECT ") + kTokenColumns + " FROM tokens ORDER BY id").c_str());
    std::vector<TokenRecord> tokens;
    while (statement.Step()) {
        tokens.push_back(Read(statement));
    }
    return tokens;
}

void TokenStore::Save(const TokenRecord& t)
{
    Statement statement(m_db,
        "UPDATE tokens SET label=?, initialized=?, clear_card_disabled=?, epoch=?, user_hash=?, "
        "user_salt=?, user_limit=?, user_left=?, user_min=?, user_max=?, so_hash=?, so_salt=?, "
        "so_limit=?, so_left=?, so_min=?, so_max=?, max_key_pairs=?, user_key=?, so_key=? WHERE id=?");
    statement.Bind(1, t.label)
        .Bind(2, t.initialized ? 1 : 0)
        .Bind(3, t.clearCardDisabled ? 1 : 0)
        .Bind(4, t.epoch);
    statement.Bind(5, t.user.hash.hash).Bind(6, t.user.hash.salt).Bind(7, t.user.limit).Bind(8, t.user.left);
    statement.Bind(9, t.user.minLen).Bind(10, t.user.maxLen);
    statement.Bind(11, t.so.hash.hash).Bind(12, t.so.hash.salt).Bind(13, t.so.limit).Bind(14, t.so.left);
    statement.Bind(15, t.so.minLen).Bind(16, t.so.maxLen).Bind(17, t.maxKeyPairs);
    for (const auto& [index, wrapped] :
        { std::pair { 18, &t.user.wrappedKey }, std::pair { 19, &t.so.wrappedKey } }) {
        if (wrapped->empty()) {
            statement.BindNull(index);
        } else {
            statement.Bind(index, *wrapped);
        }
    }
    statement.Bind(20, t.id);
    statement.Run();
}

std::vector<FailureRow> TokenStore::Failures()
{
    Statement statement(m_db, "SELECT kind, name, function, code FROM failures");
    std::vector<FailureRow> failures;
    while (statement.Step()) {
        failures.push_back({ statement.Text(0), statement.Text(1), statement.Text(2),
            static_cast<CK_RV>(statement.Int(3)) });
    }
    return failures;
}

void TokenStore::CheckInit(const InitParams& p)
{
    Require(p.label.size() <= kMaxLabelLength, CKR_ARGUMENTS_BAD);
    Require(p.userMin >= 1 && p.userMin <= p.userMax && p.userMax <= kMaxPinLength, CKR_ARGUMENTS_BAD);
    Require(p.soMin >= 1 && p.soMin <= p.soMax && p.soMax <= kMaxPinLength, CKR_ARGUMENTS_BAD);
    Require(p.userLimit >= 1 && p.userLimit <= kMaxErrorLimit, CKR_ARGUMENTS_BAD);
    Require(p.soLimit >= 1 && p.soLimit <= kMaxErrorLimit, CKR_ARGUMENTS_BAD);
    Require(p.maxKeyPairs >= 0 && p.maxKeyPairs <= kMaxKeyPairs, CKR_ARGUMENTS_BAD);
    const auto userLen = static_cast<int64_t>(p.userPin.Size());
    const auto soLen = static_cast<int64_t>(p.soPin.Size());
    Require(!p.withUserPin || (userLen >= p.userMin && userLen <= p.userMax), CKR_PIN_LEN_RANGE);
    Require(soLen >= p.soMin && soLen <= p.soMax, CKR_PIN_LEN_RANGE);
}

void TokenStore::ApplyInit(TokenRecord& token, const InitParams& p)
{
    token.label = p.label;
    token.initialized = true;
    // Without the clear-card option the token can never be zeroized again.
    token.clearCardDisabled = !p.clearCard;
    ++token.epoch;
    token.user = { PinHash(), p.userLimit, p.userLimit, p.userMin, p.userMax, Blob() };
    token.so = { PinHash(), p.soLimit, p.soLimit, p.soMin, p.soMax, Blob() };
    // A new token gets a new key: nothing sealed under the old one survives.
    const TokenKeyPtr key = TokenKey::Generate();
    if (p.withUserPin) {
        SetPin(token, CKU_USER, p.userPin.Text(), *key);
    }
    SetPin(token, CKU_SO, p.soPin.Text(), *key);
    token.maxKeyPairs = p.maxKeyPairs;
}

void TokenStore::SetPin(TokenRecord& token, CK_USER_TYPE user, std::string_view pin, const TokenKey& key)
{
    PinState& state = user == CKU_SO ? token.so : token.user;
    LockedBuffer wrappingKey;
    state.hash = PinHash::Make(pin, token.pinRounds, &wrappingKey);
    state.wrappedKey = key.Wrap(wrappingKey, KeyContext(token.id, user));
    state.left = state.limit;
}

TokenKeyPtr TokenStore::OpenKey(const TokenRecord& token, CK_USER_TYPE user, const LockedBuffer& wrappingKey)
{
    const PinState& state = user == CKU_SO ? token.so : token.user;
    TokenKeyPtr key = TokenKey::Unwrap(state.wrappedKey, wrappingKey, KeyContext(token.id, user));
    if (key == nullptr) {
        throw CkError(CKR_DEVICE_ERROR, "damaged token state: the token key does not open");
    }
    return key;
}

Blob TokenStore::KeyContext(int64_t tokenId, CK_USER_TYPE user)
{
    static const char label[] = "vela5 token key";
    Blob context(label, label + sizeof label - 1);
    for (int shift = 0; shift < 64; shift += 8) {
        context.push_back(static_cast<unsigned char>(static_cast<uint64_t>(tokenId) >> shift));
    }
    context.push_back(user == CKU_SO ? 'S' : 'U');
    return context;
}

void TokenStore::AddReader(const std::string& name)
{
    if (name.empty() || name.size() > kMaxReaderNameLength) {
        throw std::runtime_error("a reader name has 1 to 64 characters");
    }
    Statement exists(m_db, "SELECT 1 FROM readers WHERE name=?");
    exists.Bind(1, name);
    if (exists.Step()) {
        throw std::runtime_error("reader \"" + name + "\" already exists");
    }
    Statement insert(m_db, "INSERT INTO readers(name) VALUES(?)");
    insert.Bind(1, name).Run();
}

void TokenStore::RemoveReader(const std::string& name)
{
    Statement reader(m_db, "SELECT id FROM readers WHERE name=?");
    reader.Bind(1, name);
    if (!reader.Step()) {
        throw std::runtime_error("no reader \"" + name + "\"");
    }
    const int64_t id = reader.Int(0);
    SessionStore(m_db).DeleteOnReader(id);
    Statement remove(m_db, "DELETE FROM readers WHERE id=?");
    remove.Bind(1, id).Run();
    Statement failures(m_db, "DELETE FROM failures WHERE kind='reader' AND name=?");
    failures.Bind(1, name).Run();
}

std::string TokenStore::CreateToken(
    const std::string& model, const std::string& serial, const InitParams* init, int64_t pinRounds)
{
    if (!FindModel(model)) {
        throw std::runtime_error("unknown model \"" + model + "\" (one of " + ModelNames() + ")");
    }
    std::string newSerial = serial.empty() ? NewSerial() : serial;
    if (!IsValidSerial(newSerial)) {
        throw std::runtime_error("a serial number has 1 to 16 printable characters without blanks");
    }
    if (TokenBySerial(newSerial)) {
        throw std::runtime_error("a token with serial " + newSerial + " already exists");
    }
    if (pinRounds < 1 || pinRounds > kMaxPinRounds) {
        throw std::runtime_error("a PIN hashing cost is 1 to " + std::to_string(kMaxPinRounds) + " rounds");
    }
    Statement insert(m_db, "INSERT INTO tokens(serial, model, pin_rounds) VALUES(?, ?, ?)");
    insert.Bind(1, newSerial).Bind(2, model).Bind(3, pinRounds).Run();
    if (init != nullptr) {
        try {
            CheckInit(*init);
        } catch (const CkError& error) {
            throw std::runtime_error(error.Result() == CKR_PIN_LEN_RANGE
                    ? "a PIN length is outside its minimum and maximum"
                    : "unusable initialization values (label up to 127 characters, "
                      "PIN lengths 1 to 32, error limits 1 to 15, key pairs 0 to 255)");
        }
        TokenRecord token = *TokenBySerial(newSerial);
        ApplyInit(token, *init);
        Save(token);
    }
    return newSerial;
}

void TokenStore::InsertToken(const std::string& serial, const std::string& readerName)
{
    const auto token = TokenBySerial(serial);
    if (!token) {
        throw std::runtime_error("no token with serial " + serial);
    }
    Statement reader(m_db, "SELECT id, coalesce(token_id, 0) FROM readers WHERE name=?");
    reader.Bind(1, readerName);
    if (!reader.Step()) {
        throw std::runtime_error("no reader \"" + readerName + "\"");
    }
    if (reader.Int(1) == token->id) {
        return;
    }
    if (reader.Int(1) != 0) {
        throw std::runtime_error("reader \"" + readerName + "\" already holds a token");
    }
    const int64_t readerId = reader.Int(0);
    Statement elsewhere(m_db, "SELECT name FROM readers WHERE token_id=?");
    elsewhere.Bind(1, token->id);
    if (elsewhere.Step()) {
        throw std::runtime_error("token " + serial + " is in reader \"" + elsewhere.Text(0) + "\"");
    }
    Statement update(m_db, "UPDATE readers SET token_id=? WHERE id=?");
    update.Bind(1, token->id).Bind(2, readerId).Run();
}

void TokenStore::EjectToken(const std::string& readerName)
{
    Statement reader(m_db, "SELECT id, coalesce(token_id, 0) FROM readers WHERE name=?");
    reader.Bind(1, readerName);
    if (!reader.Step()) {
        throw std::runtime_error("no reader \"" + readerName + "\"");
    }
    if (reader.Int(1) == 0) {
        throw std::runtime_error("reader \"" + readerName + "\" holds no token");
    }
    const int64_t readerId = reader.Int(0);
    const int64_t tokenId = reader.Int(1);
    // A pulled token's sessions end; their owners learn it on next use.
    SessionStore(m_db).DeleteOnToken(tokenId);
    Statement update(m_db, "UPDATE readers SET token_id=NULL WHERE id=?");
    update.Bind(1, readerId).Run();
}

void TokenStore::SetFailure(const FailureRow& f)
{
    Statement statement(
        m_db, "INSERT OR REPLACE INTO failures(kind, name, function, code) VALUES(?, ?, ?, ?)");
    statement.Bind(1, f.kind).Bind(2, f.name).Bind(3, f.function).Bind(4, static_cast<int64_t>(f.code)).Run();
}

void TokenStore::ClearFailure(const std::string& kind, const std::string& name, const std::string& function)
{
    Statement statement(m_db, "DELETE FROM failures WHERE kind=? AND name=? AND function=?");
    statement.Bind(1, kind).Bind(2, name).Bind(3, function).Run();
}

void TokenStore::DestroyTokenObjects(int64_t tokenId)
{
    Statement statement(m_db, "DELETE FROM objects WHERE token_id=?");
    statement.Bind(1, tokenId).Run();
}

} // namespace velatoken
