// Module life, slots, tokens and sessions.
#include "CkError.h"
#include "Model.h"
#include "Module.h"
#include "platform/process/Process.h"

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <new>
#include <pthread.h>
#include <unistd.h>

using namespace vela5::platform;

namespace velatoken {

namespace {

constexpr const char* kManufacturer = NRV_MANUFACTURER_ID;

void Pad(CK_UTF8CHAR* field, size_t size, const std::string& text)
{
    std::memset(field, ' ', size);
    std::memcpy(field, text.data(), std::min(size, text.size()));
}

void SetFlag(CK_FLAGS& flags, CK_FLAGS flag, bool on)
{
    if (on) {
        flags |= flag;
    }
}

} // namespace

Module& Module::Instance()
{
    static Module module;
    // A fork waits until no thread is inside a call. The child cannot
    // unlock what the parent's thread locked (a recursive mutex belongs to a
    // thread id, and the child's thread has another), so it gets a new one:
    // it is the only thread there.
    static const int handlers = pthread_atfork([] { Instance().m_mutex.lock(); },
        [] { Instance().m_mutex.unlock(); }, [] { new (&Instance().m_mutex) std::recursive_mutex; });
    (void)handlers;
    return module;
}

void Module::ForgetEverything()
{
    m_sessions.clear();
    m_logins.clear();
    m_keyCache.clear();
    m_slots.clear();
    m_failures.clear();
    m_objects.reset();
    m_sessionRows.reset();
    m_tokens.reset();
    m_db.reset();
    m_initialized = false;
}

void Module::LeaveParentsState()
{
    if (!m_initialized || m_pid == getpid()) {
        return;
    }
    // A forked child starts uninitialized: the parent's sessions, logins and
    // operations stay the parent's. Its rows are left alone; the inherited
    // connection is closed without changing anything, taking no lock of the
    // parent's with it (record locks are per process).
    ForgetEverything();
}

Module::Lock Module::Enter()
{
    Lock lock(m_mutex);
    LeaveParentsState();
    Require(m_initialized, CKR_CRYPTOKI_NOT_INITIALIZED);
    m_db->CheckStillNamed();
    Refresh();
    return lock;
}

void Module::Refresh()
{
    if (!m_db->CheckChanged()) {
        return;
    }
    std::vector<SlotEntry> slots;
    for (const ReaderRow& reader : m_tokens->Readers()) {
        slots.push_back({ reader.id, reader.name, reader.tokenId });
    }
    m_slots = std::move(slots);
    m_failures = m_tokens->Failures();
    ++m_generation;
}

void Module::CheckSwitch(SwitchableCall call, const SlotEntry* slot)
{
    for (const FailureRow& failure : m_failures) {
        if (failure.function != SwitchableCallName(call)) {
            continue;
        }
        if (slot == nullptr && failure.kind == "reader") {
            throw CkError(failure.code);
        }
        if (slot != nullptr && failure.kind == "reader" && failure.name == slot->name) {
            throw CkError(failure.code);
        }
        if (slot != nullptr && failure.kind == "token" && slot->tokenId != 0) {
            const auto token = m_tokens->Token(slot->tokenId);
            if (token && token->serial == failure.name) {
                throw CkError(failure.code);
            }
        }
    }
}

const SlotEntry& Module::Slot(CK_SLOT_ID slot)
{
    Require(slot < m_slots.size(), CKR_SLOT_ID_INVALID);
    return m_slots[slot];
}

const SlotEntry& Module::SlotWithToken(CK_SLOT_ID slot)
{
    const SlotEntry& entry = Slot(slot);
    Require(entry.tokenId != 0, CKR_TOKEN_NOT_PRESENT);
    return entry;
}

TokenRecord Module::Token(int64_t tokenId)
{
    auto token = m_tokens->Token(tokenId);
    Require(token.has_value(), CKR_DEVICE_REMOVED);
    return *token;
}

TokenRecord Module::RecognizedToken(int64_t tokenId)
{
    TokenRecord token = Token(tokenId);
    const auto model = FindModel(token.model);
    Require(model && model->recognized, CKR_TOKEN_NOT_RECOGNIZED);
    return token;
}

void Module::Initialize(CK_VOID_PTR args)
{
    Lock lock(m_mutex);
    LeaveParentsState();
    Require(!m_initialized, CKR_CRYPTOKI_ALREADY_INITIALIZED);
    if (args != nullptr) {
        const auto* init = static_cast<const CK_C_INITIALIZE_ARGS*>(args);
        Require(init->pReserved == nullptr, CKR_ARGUMENTS_BAD);
        const bool all = init->CreateMutex && init->DestroyMutex && init->LockMutex && init->UnlockMutex;
        const bool none = !init->CreateMutex && !init->DestroyMutex && !init->LockMutex && !init->UnlockMutex;
        Require(all || none, CKR_ARGUMENTS_BAD);
    }
    // The state root is read now, so each initialization follows $VELA5_ROOT.
    auto db = std::make_unique<Database>(StateDirectory() / "state.db");
    m_db = std::move(db);
    m_tokens = std::make_unique<TokenStore>(*m_db);
    m_objects = std::make_unique<ObjectStore>(*m_db);
    m_sessionRows = std::make_unique<SessionStore>(*m_db);
    m_pid = getpid();
    m_started = static_cast<int64_t>(Process::StartTime(m_pid));
    m_db->MarkChanged();
    Refresh();
    PruneDeadSessions();
    m_initialized = true;
}

void Module::Finalize(CK_VOID_PTR reserved)
{
    Lock lock(m_mutex);
    LeaveParentsState();
    Require(m_initialized, CKR_CRYPTOKI_NOT_INITIALIZED);
    Require(reserved == nullptr, CKR_ARGUMENTS_BAD);
    try {
        Transaction transaction(*m_db);
        m_sessionRows->DeleteOfOwner(Owner());
        m_objects->DropOrphans();
        transaction.Commit();
    } catch (const CkError&) {
        // The sessions of a finished process stop counting anyway.
    }
    ForgetEverything();
}

void Module::GetInfo(CK_INFO_PTR info)
{
    auto lock = Enter();
    Require(info != nullptr, CKR_ARGUMENTS_BAD);
    std::memset(info, 0, sizeof *info);
    info->cryptokiVersion = { 2, 20 };
    Pad(info->manufacturerID, sizeof info->manufacturerID, kManufacturer);
    Pad(info->libraryDescription, sizeof info->libraryDescription, "VELA5 software token");
    info->libraryVersion = { 1, 0 };
}

void Module::GetSlotList(CK_BBOOL tokenPresent, CK_SLOT_ID_PTR list, CK_ULONG_PTR count)
{
    auto lock = Enter();
    CheckSwitch(SwitchableCall::C_GetSlotList, nullptr);
    Require(count != nullptr, CKR_ARGUMENTS_BAD);
    CK_ULONG needed = 0;
    for (const SlotEntry& slot : m_slots) {
        needed += (!tokenPresent || slot.tokenId != 0) ? 1 : 0;
    }
    if (list == nullptr) {
        *count = needed;
        return;
    }
    if (*count < needed) {
        *count = needed;
        throw CkError(CKR_BUFFER_TOO_SMALL);
    }
    CK_ULONG written = 0;
    for (CK_SLOT_ID id = 0; id < m_slots.size(); ++id) {
        if (!tokenPresent || m_slots[id].tokenId != 0) {
            list[written++] = id;
        }
    }
    *count = written;
}

void Module::GetSlotInfo(CK_SLOT_ID slot, CK_SLOT_INFO_PTR info)
{
    auto lock = Enter();
    const SlotEntry& entry = Slot(slot);
    CheckSwitch(SwitchableCall::C_GetSlotInfo, &entry);
    Require(info != nullptr, CKR_ARGUMENTS_BAD);
    Pad(info->slotDescription, sizeof info->slotDescription, entry.name);
    Pad(info->manufacturerID, sizeof info->manufacturerID, kManufacturer);
    info->flags = CKF_REMOVABLE_DEVICE | CKF_HW_SLOT | (entry.tokenId != 0 ? CKF_TOKEN_PRESENT : 0);
    info->hardwareVersion = { 1, 0 };
    info->firmwareVersion = { 1, 0 };
}

void Module::GetTokenInfo(CK_SLOT_ID slot, CK_TOKEN_INFO_PTR info)
{
    auto lock = Enter();
    const SlotEntry& entry = SlotWithToken(slot);
    CheckSwitch(SwitchableCall::C_GetTokenInfo, &entry);
    Require(info != nullptr, CKR_ARGUMENTS_BAD);
    const TokenRecord token = RecognizedToken(entry.tokenId);
    const Model model = *FindModel(token.model);
    PruneDeadSessions();
    std::memset(info, 0, sizeof *info);
    Pad(info->label, sizeof info->label, token.initialized ? token.label : std::string());
    Pad(info->manufacturerID, sizeof info->manufacturerID, kManufacturer);
    Pad(info->model, sizeof info->model, token.model);
    Pad(info->serialNumber, sizeof info->serialNumber, token.serial);
    CK_FLAGS flags = CKF_RNG;
    if (token.initialized) {
        flags |= CKF_LOGIN_REQUIRED | CKF_TOKEN_INITIALIZED;
        SetFlag(flags, CKF_USER_PIN_INITIALIZED, token.user.IsSet());
        SetFlag(flags, CKF_USER_PIN_COUNT_LOW, token.user.left < token.user.limit && token.user.left > 0);
        SetFlag(flags, CKF_USER_PIN_FINAL_TRY, token.user.left == 1);
        SetFlag(flags, CKF_USER_PIN_LOCKED, token.user.left == 0);
        SetFlag(flags, CKF_SO_PIN_COUNT_LOW, token.so.left < token.so.limit && token.so.left > 0);
        SetFlag(flags, CKF_SO_PIN_FINAL_TRY, token.so.left == 1);
        SetFlag(flags, CKF_SO_PIN_LOCKED, token.so.left == 0);
    }
    info->flags = flags;
    const SessionCounts counts = m_sessionRows->CountOnToken(token.id);
    info->ulMaxSessionCount = CK_EFFECTIVELY_INFINITE;
    info->ulSessionCount = static_cast<CK_ULONG>(counts.all);
    info->ulMaxRwSessionCount = CK_EFFECTIVELY_INFINITE;
    info->ulRwSessionCount = static_cast<CK_ULONG>(counts.readWrite);
    info->ulMaxPinLen = static_cast<CK_ULONG>(token.user.maxLen);
    info->ulMinPinLen = static_cast<CK_ULONG>(token.user.minLen);
    const CK_ULONG half = model.memory / 2;
    const auto usedPublic = static_cast<CK_ULONG>(m_objects->UsedMemory(token.id, false));
    const auto usedPrivate = static_cast<CK_ULONG>(m_objects->UsedMemory(token.id, true));
    info->ulTotalPublicMemory = half;
    info->ulFreePublicMemory = usedPublic < half ? half - usedPublic : 0;
    info->ulTotalPrivateMemory = half;
    info->ulFreePrivateMemory = usedPrivate < half ? half - usedPrivate : 0;
    info->hardwareVersion = { 1, 0 };
    info->firmwareVersion = { 5, 1 };
    std::memset(info->utcTime, ' ', sizeof info->utcTime);
}

void Module::GetMechanismList(CK_SLOT_ID slot, CK_MECHANISM_TYPE_PTR list, CK_ULONG_PTR count)
{
    auto lock = Enter();
    SlotWithToken(slot);
    Require(count != nullptr, CKR_ARGUMENTS_BAD);
    const auto& offered = OfferedMechanisms();
    const auto needed = static_cast<CK_ULONG>(offered.size());
    if (list != nullptr) {
        if (*count < needed) {
            *count = needed;
            throw CkError(CKR_BUFFER_TOO_SMALL);
        }
        for (const MechanismEntry& entry : offered) {
            *list++ = entry.type;
        }
    }
    *count = needed;
}

void Module::GetMechanismInfo(CK_SLOT_ID slot, CK_MECHANISM_TYPE type, CK_MECHANISM_INFO_PTR info)
{
    auto lock = Enter();
    SlotWithToken(slot);
    Require(info != nullptr, CKR_ARGUMENTS_BAD);
    const auto& offered = OfferedMechanisms();
    const auto found = std::find_if(
        offered.begin(), offered.end(), [&](const MechanismEntry& entry) { return entry.type == type; });
    Require(found != offered.end(), CKR_MECHANISM_INVALID);
    info->ulMinKeySize = found->minKeyBits;
    info->ulMaxKeySize = found->maxKeyBits;
    info->flags = found->flags;
}

void Module::PruneDeadSessions()
{
    // A process is its id and its start time: a later process given a dead
    // one's id must not inherit its sessions and session objects.
    std::vector<SessionOwner> dead;
    for (const SessionOwner& owner : m_sessionRows->Owners()) {
        const auto pid = static_cast<pid_t>(owner.pid);
        const int64_t started = owner.started;
        if (pid == m_pid && started == m_started) {
            continue;
        }
        const bool exists = kill(pid, 0) == 0 || errno != ESRCH;
        bool gone = !exists;
        if (exists && started != 0) {
            // Unreadable start (another user's hidden process): judged by
            // the id alone, as rows written without a start time are.
            const auto now = static_cast<int64_t>(Process::StartTime(pid));
            gone = now != 0 && now != started;
        }
        if (exists && started == 0 && pid == m_pid) {
            gone = true; // written by an earlier process with this id
        }
        if (gone) {
            dead.push_back(owner);
        }
    }
    if (dead.empty()) {
        return;
    }
    Transaction transaction(*m_db);
    for (const SessionOwner& owner : dead) {
        m_sessionRows->DeleteOfOwner(owner);
    }
    m_objects->DropOrphans();
    transaction.Commit();
}

void Module::OpenSession(CK_SLOT_ID slot, CK_FLAGS flags, CK_SESSION_HANDLE_PTR session)
{
    auto lock = Enter();
    const SlotEntry& entry = SlotWithToken(slot);
    CheckSwitch(SwitchableCall::C_OpenSession, &entry);
    Require((flags & CKF_SERIAL_SESSION) != 0, CKR_SESSION_PARALLEL_NOT_SUPPORTED);
    Require(session != nullptr, CKR_ARGUMENTS_BAD);
    // Checked inside the write transaction: the slot list is as of this
    // call's start, and a token ejected since must not get a session.
    Transaction transaction(*m_db);
    {
        Statement holder(*m_db, "SELECT 1 FROM readers WHERE id=? AND token_id=?");
        holder.Bind(1, entry.readerId).Bind(2, entry.tokenId);
        Require(holder.Step(), CKR_TOKEN_NOT_PRESENT);
    }
    const TokenRecord token = RecognizedToken(entry.tokenId);
    ForgetLoginWithoutSessions(token.id);
    const auto login = LoggedIn(token);
    Require(!(login && *login == CKU_SO && (flags & CKF_RW_SESSION) == 0), CKR_SESSION_READ_WRITE_SO_EXISTS);
    const int64_t handle
        = m_sessionRows->Insert(Owner(), token.id, entry.readerId, static_cast<int64_t>(flags));
    transaction.Commit();
    Require(handle > 0 && handle <= 0xFFFFFFFF, CKR_SESSION_COUNT);
    Session& record = m_sessions[static_cast<CK_SESSION_HANDLE>(handle)];
    record.handle = static_cast<CK_SESSION_HANDLE>(handle);
    record.readerId = entry.readerId;
    record.tokenId = token.id;
    record.flags = flags;
    *session = record.handle;
}

Session& Module::UseSession(CK_SESSION_HANDLE handle, SwitchableCall call)
{
    const auto found = m_sessions.find(handle);
    Require(found != m_sessions.end(), CKR_SESSION_HANDLE_INVALID);
    Session& session = found->second;
    if (session.checkedAt != m_generation) {
        const bool present = std::any_of(m_slots.begin(), m_slots.end(), [&](const SlotEntry& slot) {
            return slot.readerId == session.readerId && slot.tokenId == session.tokenId;
        });
        const bool open = m_sessionRows->Exists(static_cast<int64_t>(handle));
        if (!open || !present) {
            // Pulled out, or closed by another process's C_CloseAllSessions.
            DropSession(handle);
            throw CkError(present ? CKR_SESSION_HANDLE_INVALID : CKR_DEVICE_REMOVED);
        }
        session.checkedAt = m_generation;
    }
    for (const SlotEntry& slot : m_slots) {
        if (slot.readerId == session.readerId) {
            CheckSwitch(call, &slot);
        }
    }
    return session;
}

void Module::DropSession(CK_SESSION_HANDLE handle)
{
    const auto found = m_sessions.find(handle);
    const int64_t tokenId = found != m_sessions.end() ? found->second.tokenId : 0;
    if (found != m_sessions.end()) {
        m_sessions.erase(found);
    }
    Transaction transaction(*m_db);
    m_sessionRows->Delete(static_cast<int64_t>(handle));
    m_objects->DropOrphans();
    transaction.Commit();
    ForgetLoginWithoutSessions(tokenId);
}

void Module::ForgetLoginWithoutSessions(int64_t tokenId)
{
    // Login state lasts while this process has a live session on the token.
    for (auto it = m_sessions.begin(); it != m_sessions.end();) {
        if (it->second.tokenId != tokenId) {
            ++it;
            continue;
        }
        if (m_sessionRows->Exists(static_cast<int64_t>(it->first))) {
            return;
        }
        it = m_sessions.erase(it);
    }
    EndLogin(tokenId);
}

void Module::CloseSession(CK_SESSION_HANDLE session)
{
    auto lock = Enter();
    UseSession(session, SwitchableCall::C_CloseSession);
    DropSession(session);
}

void Module::CloseAllSessions(CK_SLOT_ID slot)
{
    auto lock = Enter();
    const SlotEntry& entry = SlotWithToken(slot);
    CheckSwitch(SwitchableCall::C_CloseAllSessions, &entry);
    const int64_t tokenId = entry.tokenId;
    // Every process's sessions on the token: their next use fails.
    Transaction transaction(*m_db);
    m_sessionRows->DeleteOnToken(tokenId);
    m_objects->DropOrphans();
    transaction.Commit();
    for (auto it = m_sessions.begin(); it != m_sessions.end();) {
        it = it->second.tokenId == tokenId ? m_sessions.erase(it) : std::next(it);
    }
    EndLogin(tokenId);
}

void Module::GetSessionInfo(CK_SESSION_HANDLE handle, CK_SESSION_INFO_PTR info)
{
    auto lock = Enter();
    const Session& session = UseSession(handle, SwitchableCall::C_GetSessionInfo);
    Require(info != nullptr, CKR_ARGUMENTS_BAD);
    const TokenRecord token = Token(session.tokenId);
    const auto login = LoggedIn(token);
    const bool rw = (session.flags & CKF_RW_SESSION) != 0;
    info->slotID = 0;
    for (CK_SLOT_ID id = 0; id < m_slots.size(); ++id) {
        if (m_slots[id].readerId == session.readerId) {
            info->slotID = id;
        }
    }
    if (!login) {
        info->state = rw ? CKS_RW_PUBLIC_SESSION : CKS_RO_PUBLIC_SESSION;
    } else if (*login == CKU_SO) {
        info->state = CKS_RW_SO_FUNCTIONS;
    } else {
        info->state = rw ? CKS_RW_USER_FUNCTIONS : CKS_RO_USER_FUNCTIONS;
    }
    info->flags = session.flags;
    info->ulDeviceError = 0;
}

void Module::GetSerialNumber(CK_ULONG position, CK_BYTE_PTR serial)
{
    auto lock = Enter();
    const SlotEntry& entry = Slot(position);
    CheckSwitch(SwitchableCall::C_NRV_GetSerialNumber, &entry);
    Require(serial != nullptr, CKR_ARGUMENTS_BAD);
    Require(entry.tokenId != 0, CKR_DEVICE_ERROR);
    const TokenRecord token = Token(entry.tokenId);
    std::memcpy(serial, token.serial.c_str(), token.serial.size() + 1);
}

void Module::RefreshTokenFlag(CK_SLOT_ID slot)
{
    auto lock = Enter();
    const SlotEntry& entry = SlotWithToken(slot);
    CheckSwitch(SwitchableCall::C_NRV_RefreshTokenFlag, &entry);
    m_db->MarkChanged();
}

void Module::IsTokenReady(CK_SLOT_ID slot, CK_ULONG)
{
    auto lock = Enter();
    const SlotEntry& entry = SlotWithToken(slot);
    CheckSwitch(SwitchableCall::C_NRV_IsTokenReady, &entry);
}

void Module::GetPinMinMax(CK_ULONG which, CK_SLOT_ID slot, NRV_PIN_MIN_MAX_PTR range)
{
    auto lock = Enter();
    const SlotEntry& entry = SlotWithToken(slot);
    CheckSwitch(SwitchableCall::C_NRV_GetPinMinMax, &entry);
    Require(range != nullptr, CKR_ARGUMENTS_BAD);
    Require(which == NRV_PIN_SO, CKR_ARGUMENTS_BAD);
    const TokenRecord token = RecognizedToken(entry.tokenId);
    Require(token.initialized, CKR_USER_PIN_NOT_INITIALIZED);
    range->ulMinLen = static_cast<CK_ULONG>(token.so.minLen);
    range->ulMaxLen = static_cast<CK_ULONG>(token.so.maxLen);
}

void Module::Unsupported(CK_RV rv)
{
    auto lock = Enter();
    throw CkError(rv);
}

void Module::SessionUnsupported(CK_SESSION_HANDLE session, CK_RV rv)
{
    auto lock = Enter();
    UseSession(session, SwitchableCall::None);
    throw CkError(rv);
}

} // namespace velatoken
