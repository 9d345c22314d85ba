// PINs and login state: standard and vendor login, PIN changes, unblock,
// label, and token initialization (standard and vendor, one path).
#include "CkError.h"
#include "Module.h"

#include <cstring>

using namespace vela5::platform;

namespace velatoken {

namespace {

// A PIN copied out of the caller's buffer, wiped when done.
// The PIN a caller passed, owned so it is wiped on every way out.
SecretBytes PinBytes(const CK_BYTE* pin, CK_ULONG length)
{
    Require(pin != nullptr || length == 0, CKR_ARGUMENTS_BAD);
    if (length > static_cast<CK_ULONG>(kMaxPinLength)) {
        // Longer than any PIN can be: the caller's buffer is not read (its
        // length may be a lie), and a stand-in just as much too long gets
        // the answer every check gives such a PIN.
        return SecretBytes(std::vector<std::uint8_t>(static_cast<size_t>(kMaxPinLength) + 1, 0));
    }
    return SecretBytes(pin, length);
}

void RequireLength(std::string_view pin, const PinState& state)
{
    const auto length = static_cast<int64_t>(pin.size());
    Require(length >= state.minLen && length <= state.maxLen, CKR_PIN_LEN_RANGE);
}

// The label up to its first NUL, at most the label buffer's text.
std::string LabelText(const CK_BYTE* label, size_t limit)
{
    size_t length = 0;
    while (length < limit && label[length] != 0) {
        ++length;
    }
    return std::string(reinterpret_cast<const char*>(label), length);
}

} // namespace

std::optional<CK_USER_TYPE> Module::LoggedIn(const TokenRecord& token)
{
    const auto found = m_logins.find(token.id);
    if (found == m_logins.end()) {
        return std::nullopt;
    }
    if (found->second.epoch != token.epoch) {
        // The token was initialized again since this login.
        EndLogin(token.id);
        return std::nullopt;
    }
    return found->second.user;
}

bool Module::UserLoggedIn(int64_t tokenId)
{
    const auto user = LoggedIn(Token(tokenId));
    return user && *user == CKU_USER;
}

const TokenKey* Module::HeldKey(int64_t tokenId)
{
    if (!LoggedIn(Token(tokenId))) {
        return nullptr;
    }
    return m_logins[tokenId].key.get();
}

void Module::EndLogin(int64_t tokenId)
{
    m_logins.erase(tokenId);
    for (auto it = m_keyCache.begin(); it != m_keyCache.end();) {
        const bool sealed
            = it->second.object.tokenId == tokenId && it->second.object.objectClass == CKO_PRIVATE_KEY;
        it = sealed ? m_keyCache.erase(it) : std::next(it);
    }
}

void Module::Unseal(StoredObject& object)
{
    if (object.Locked()) {
        if (const TokenKey* key = HeldKey(object.tokenId)) {
            object.Unseal(*key);
        }
    }
}

void Module::CheckPin(
    TokenRecord& token, PinState& pin, std::string_view given, bool standardCodes, TokenKeyPtr* opened)
{
    Require(pin.left > 0, CKR_PIN_LOCKED);
    LockedBuffer wrappingKey;
    if (pin.hash.Matches(given, token.pinRounds, &wrappingKey)) {
        if (opened != nullptr) {
            *opened = TokenStore::OpenKey(token, &pin == &token.so ? CKU_SO : CKU_USER, wrappingKey);
        }
        pin.left = pin.limit;
        m_tokens->Save(token);
        return;
    }
    --pin.left;
    m_tokens->Save(token);
    // A failed check still counts: the caller's transaction is committed here.
    throw CkError(pin.left == 0 ? CKR_PIN_LOCKED
            : standardCodes     ? CKR_PIN_INCORRECT
                                : static_cast<CK_RV>(std::min<int64_t>(pin.left, NRV_CKR_PIN_RETRIES_MAX)));
}

void Module::Login(CK_SESSION_HANDLE handle, CK_USER_TYPE user, CK_BYTE_PTR pin, CK_ULONG length, bool vendor)
{
    auto lock = Enter();
    const Session& session
        = UseSession(handle, vendor ? SwitchableCall::C_NRV_Login : SwitchableCall::C_Login);
    // No key asks for a login per operation, so none is ever awaiting one.
    Require(vendor || user != CKU_CONTEXT_SPECIFIC, CKR_OPERATION_NOT_INITIALIZED);
    Require(user == CKU_SO || user == CKU_USER, CKR_USER_TYPE_INVALID);
    const SecretBytes text = PinBytes(pin, length);
    // Read inside the write transaction so concurrent changes serialize.
    Transaction transaction(*m_db);
    TokenRecord token = RecognizedToken(session.tokenId);
    Require(token.initialized, CKR_USER_PIN_NOT_INITIALIZED);
    if (const auto current = LoggedIn(token)) {
        throw CkError(*current == user ? CKR_USER_ALREADY_LOGGED_IN : CKR_USER_ANOTHER_ALREADY_LOGGED_IN);
    }
    if (user == CKU_SO) {
        for (const auto& [other, record] : m_sessions) {
            Require(record.tokenId != token.id || (record.flags & CKF_RW_SESSION) != 0,
                CKR_SESSION_READ_ONLY_EXISTS);
        }
    }
    PinState& state = user == CKU_SO ? token.so : token.user;
    Require(state.IsSet(), CKR_USER_PIN_NOT_INITIALIZED);
    Require(state.left > 0, CKR_PIN_LOCKED);
    if (vendor) {
        RequireLength(text.Text(), state);
    } else {
        // The standard call has no length code; such a PIN cannot match,
        // so it is refused without costing an attempt.
        const auto size = static_cast<int64_t>(text.Text().size());
        Require(size >= state.minLen && size <= state.maxLen, CKR_PIN_INCORRECT);
    }
    TokenKeyPtr key;
    try {
        CheckPin(token, state, text.Text(), !vendor, &key);
    } catch (const CkError&) {
        transaction.Commit();
        throw;
    }
    transaction.Commit();
    m_logins[token.id] = { user, token.epoch, std::move(key) };
}

void Module::Logout(CK_SESSION_HANDLE handle)
{
    auto lock = Enter();
    const Session& session = UseSession(handle, SwitchableCall::C_Logout);
    const TokenRecord token = Token(session.tokenId);
    Require(LoggedIn(token).has_value(), CKR_USER_NOT_LOGGED_IN);
    EndLogin(token.id);
    for (auto& [other, record] : m_sessions) {
        if (record.tokenId == token.id) {
            record.findActive = false;
            EndOperation(record);
        }
    }
}

void Module::SetPIN(
    CK_SESSION_HANDLE handle, CK_BYTE_PTR oldPin, CK_ULONG oldLength, CK_BYTE_PTR newPin, CK_ULONG newLength)
{
    auto lock = Enter();
    const Session& session = UseSession(handle, SwitchableCall::C_SetPIN);
    const SecretBytes oldText = PinBytes(oldPin, oldLength);
    const SecretBytes newText = PinBytes(newPin, newLength);
    Require((session.flags & CKF_RW_SESSION) != 0, CKR_SESSION_READ_ONLY);
    // Read inside the write transaction so concurrent changes serialize.
    Transaction transaction(*m_db);
    TokenRecord token = RecognizedToken(session.tokenId);
    Require(token.initialized, CKR_USER_PIN_NOT_INITIALIZED);
    // The PIN of whoever is logged in; the User's in a public session.
    const auto login = LoggedIn(token);
    PinState& state = login && *login == CKU_SO ? token.so : token.user;
    Require(state.IsSet(), CKR_USER_PIN_NOT_INITIALIZED);
    Require(state.left > 0, CKR_PIN_LOCKED);
    RequireLength(newText.Text(), state);
    TokenKeyPtr key;
    try {
        CheckPin(token, state, oldText.Text(), true, &key);
    } catch (const CkError&) {
        transaction.Commit();
        throw;
    }
    // The token key stays; only its wrapping follows the new PIN.
    TokenStore::SetPin(token, &state == &token.so ? CKU_SO : CKU_USER, newText.Text(), *key);
    m_tokens->Save(token);
    transaction.Commit();
}

void Module::UnblockUserPIN(
    CK_SESSION_HANDLE handle, CK_BYTE_PTR soPin, CK_ULONG soLength, CK_BYTE_PTR newPin, CK_ULONG newLength)
{
    auto lock = Enter();
    const Session& session = UseSession(handle, SwitchableCall::C_NRV_UnblockUserPIN);
    const SecretBytes soText = PinBytes(soPin, soLength);
    const SecretBytes newText = PinBytes(newPin, newLength);
    // Read inside the write transaction so concurrent changes serialize.
    Transaction transaction(*m_db);
    TokenRecord token = RecognizedToken(session.tokenId);
    Require(token.initialized, CKR_USER_PIN_NOT_INITIALIZED);
    Require(token.so.left > 0, CKR_PIN_LOCKED);
    RequireLength(soText.Text(), token.so);
    RequireLength(newText.Text(), token.user);
    TokenKeyPtr key;
    try {
        CheckPin(token, token.so, soText.Text(), false, &key);
    } catch (const CkError&) {
        transaction.Commit();
        throw;
    }
    // The SO PIN's wrapping gives the token key, so the new User PIN opens
    // the User's objects as the old one did.
    TokenStore::SetPin(token, CKU_USER, newText.Text(), *key);
    m_tokens->Save(token);
    transaction.Commit();
}

void Module::SetTokenLabel(CK_SESSION_HANDLE handle, CK_BYTE_PTR label, CK_ULONG length)
{
    auto lock = Enter();
    const Session& session = UseSession(handle, SwitchableCall::C_NRV_SetTokenLabel);
    Require(label != nullptr, CKR_ARGUMENTS_BAD);
    Require(length <= kMaxLabelLength, CKR_ARGUMENTS_BAD);
    // Read inside the write transaction so concurrent changes serialize.
    Transaction transaction(*m_db);
    TokenRecord token = RecognizedToken(session.tokenId);
    Require(UserLoggedIn(token.id), CKR_USER_NOT_LOGGED_IN);
    token.label = LabelText(label, length);
    m_tokens->Save(token);
    transaction.Commit();
}

void Module::InitToken(CK_BYTE, CK_SLOT_ID slot, const NRV_INIT_TOKEN_RECORD& record)
{
    auto lock = Enter();
    const SlotEntry& entry = SlotWithToken(slot);
    CheckSwitch(SwitchableCall::C_NRV_InitToken, &entry);
    Require(record.pLabel != nullptr && record.pUserPin != nullptr && record.pSOPin != nullptr,
        CKR_ARGUMENTS_BAD);
    Require(record.ulUserPinLen <= NRV_PIN_BUFFER_SIZE && record.ulSOPinLen <= NRV_PIN_BUFFER_SIZE,
        CKR_ARGUMENTS_BAD);
    InitParams params;
    params.label = LabelText(record.pLabel, NRV_LABEL_BUFFER_SIZE - 1);
    params.userPin.Assign(record.pUserPin, record.ulUserPinLen);
    params.soPin.Assign(record.pSOPin, record.ulSOPinLen);
    params.userLimit = record.ulUserPinErrorLimit;
    params.userMax = record.ulUserPinMaxLen;
    params.userMin = record.ulUserPinMinLen;
    params.soLimit = record.ulSOPinErrorLimit;
    params.soMax = record.ulSOPinMaxLen;
    params.soMin = record.ulSOPinMinLen;
    params.maxKeyPairs = record.ulMaxRSAKeyPairs;
    params.clearCard = record.bClearCard != 0;
    InitializeToken(entry, params, false);
}

void Module::InitToken(CK_SLOT_ID slot, CK_UTF8CHAR_PTR soPin, CK_ULONG soLength, CK_UTF8CHAR_PTR label)
{
    constexpr size_t kLabelSize = 32;
    auto lock = Enter();
    const SlotEntry& entry = SlotWithToken(slot);
    CheckSwitch(SwitchableCall::C_InitToken, &entry);
    Require(label != nullptr, CKR_ARGUMENTS_BAD);
    const SecretBytes soText = PinBytes(soPin, soLength);
    InitParams params;
    // The standard label is 32 bytes padded with blanks.
    params.label = LabelText(label, kLabelSize);
    params.label.erase(params.label.find_last_not_of(' ') + 1);
    params.soPin = soText;
    params.withUserPin = false;
    InitializeToken(entry, params, true);
}

void Module::InitializeToken(const SlotEntry& entry, InitParams& params, bool standard)
{
    PruneDeadSessions();
    // Read inside the write transaction so concurrent changes serialize.
    Transaction transaction(*m_db);
    TokenRecord token = RecognizedToken(entry.tokenId);
    Require(m_sessionRows->CountOnToken(token.id).all == 0, CKR_SESSION_EXISTS);
    Require(!token.clearCardDisabled, NRV_CKR_CLEAR_CARD_DISABLED);
    if (standard && token.initialized) {
        // The standard call names no limits: an initialized token keeps its own.
        params.userMin = token.user.minLen;
        params.userMax = token.user.maxLen;
        params.userLimit = token.user.limit;
        params.soMin = token.so.minLen;
        params.soMax = token.so.maxLen;
        params.soLimit = token.so.limit;
        params.maxKeyPairs = token.maxKeyPairs;
    }
    if (token.initialized) {
        // Re-initializing needs the current SO PIN; failures count, except
        // a standard caller's PIN that cannot match, as at C_Login.
        const auto soLength = static_cast<int64_t>(params.soPin.Size());
        Require(!standard || (soLength >= token.so.minLen && soLength <= token.so.maxLen), CKR_PIN_INCORRECT);
        try {
            CheckPin(token, token.so, params.soPin.Text(), standard);
        } catch (const CkError&) {
            transaction.Commit();
            throw;
        }
    }
    TokenStore::CheckInit(params);
    m_tokens->DestroyTokenObjects(token.id);
    TokenStore::ApplyInit(token, params);
    m_tokens->Save(token);
    transaction.Commit();
    EndLogin(token.id);
}

void Module::InitPIN(CK_SESSION_HANDLE handle, CK_UTF8CHAR_PTR pin, CK_ULONG length)
{
    auto lock = Enter();
    const Session& session = UseSession(handle, SwitchableCall::C_InitPIN);
    const SecretBytes text = PinBytes(pin, length);
    // Read inside the write transaction so concurrent changes serialize.
    Transaction transaction(*m_db);
    TokenRecord token = RecognizedToken(session.tokenId);
    const auto login = LoggedIn(token);
    Require(login && *login == CKU_SO && (session.flags & CKF_RW_SESSION) != 0, CKR_USER_NOT_LOGGED_IN);
    RequireLength(text.Text(), token.user);
    // The SO's login holds the token key: the User PIN gets its own wrapping.
    const TokenKey* key = HeldKey(token.id);
    Require(key != nullptr, CKR_GENERAL_ERROR);
    TokenStore::SetPin(token, CKU_USER, text.Text(), *key);
    m_tokens->Save(token);
    transaction.Commit();
}

} // namespace velatoken
