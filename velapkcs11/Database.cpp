// SQLite access for the token state: schema, statements, transactions and
// the change counter that keeps polling cheap.
#include "Database.h"

#include "CkError.h"
#include "StateSealing.h"
#include "platform/files/AtomicFile.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <iterator>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

using namespace vela5::platform;

namespace velatoken {

namespace {

constexpr const char* kFormat = "vela5-token-state-4";
// Before secrets were sealed under a per-token key.
constexpr const char* kUnsealedFormat = "vela5-token-state-3";
// Before each token kept its own PIN hashing cost.
constexpr const char* kFixedCostFormat = "vela5-token-state-2";
// The PBKDF2 rounds every PIN hash had then.
constexpr int64_t kFixedCostRounds = 4096;
// Written by the builds whose CK_ULONG was 32 bits wide on every platform.
constexpr const char* kNarrowFormat = "vela5-token-state-1";
// Attributes whose values are one CK_ULONG, the only ones whose width the
// ABI decides.
constexpr CK_ATTRIBUTE_TYPE kUlongAttributes[] = { CKA_CLASS, CKA_CERTIFICATE_TYPE, CKA_CERTIFICATE_CATEGORY,
    CKA_KEY_TYPE, CKA_MODULUS_BITS, CKA_VALUE_LEN, CKA_KEY_GEN_MECHANISM };

// How long a call waits for another process's write before it fails.
constexpr std::chrono::milliseconds kBusyTimeout { 10000 };
constexpr const char* kSchema = R"SQL(
CREATE TABLE meta(key TEXT PRIMARY KEY, value TEXT NOT NULL);
CREATE TABLE tokens(
    id INTEGER PRIMARY KEY AUTOINCREMENT,
    serial TEXT NOT NULL UNIQUE,
    model TEXT NOT NULL,
    label TEXT NOT NULL DEFAULT '',
    initialized INTEGER NOT NULL DEFAULT 0,
    clear_card_disabled INTEGER NOT NULL DEFAULT 0,
    epoch INTEGER NOT NULL DEFAULT 0,
    user_hash BLOB, user_salt BLOB,
    user_limit INTEGER NOT NULL DEFAULT 0, user_left INTEGER NOT NULL DEFAULT 0,
    user_min INTEGER NOT NULL DEFAULT 0, user_max INTEGER NOT NULL DEFAULT 0,
    so_hash BLOB, so_salt BLOB,
    so_limit INTEGER NOT NULL DEFAULT 0, so_left INTEGER NOT NULL DEFAULT 0,
    so_min INTEGER NOT NULL DEFAULT 0, so_max INTEGER NOT NULL DEFAULT 0,
    max_key_pairs INTEGER NOT NULL DEFAULT 0,
    pin_rounds INTEGER NOT NULL DEFAULT 600000,
    user_key BLOB, so_key BLOB);
CREATE TABLE readers(
    id INTEGER PRIMARY KEY AUTOINCREMENT,
    name TEXT NOT NULL UNIQUE,
    token_id INTEGER UNIQUE REFERENCES tokens(id));
CREATE TABLE objects(
    id INTEGER PRIMARY KEY AUTOINCREMENT,
    token_id INTEGER NOT NULL REFERENCES tokens(id),
    session_handle INTEGER,
    session_pid INTEGER,
    class INTEGER NOT NULL,
    private INTEGER NOT NULL,
    size INTEGER NOT NULL,
    key_pair_index INTEGER NOT NULL DEFAULT 0,
    secret BLOB,
    sealed INTEGER NOT NULL DEFAULT 0);
CREATE INDEX objects_token ON objects(token_id);
CREATE TABLE attributes(
    object_id INTEGER NOT NULL REFERENCES objects(id) ON DELETE CASCADE,
    type INTEGER NOT NULL,
    value BLOB NOT NULL,
    sealed INTEGER NOT NULL DEFAULT 0,
    PRIMARY KEY(object_id, type)) WITHOUT ROWID;
CREATE TABLE sessions(
    handle INTEGER PRIMARY KEY AUTOINCREMENT,
    pid INTEGER NOT NULL,
    started INTEGER NOT NULL DEFAULT 0,
    token_id INTEGER NOT NULL,
    reader_id INTEGER NOT NULL,
    flags INTEGER NOT NULL);
CREATE TABLE failures(
    kind TEXT NOT NULL,
    name TEXT NOT NULL,
    function TEXT NOT NULL,
    code INTEGER NOT NULL,
    PRIMARY KEY(kind, name, function));
)SQL";

} // namespace

std::filesystem::path StateDirectory()
{
    std::filesystem::path root;
    if (const char* env = std::getenv("VELA5_ROOT"); env != nullptr && *env != '\0') {
        root = env;
    } else if (const char* xdg = std::getenv("XDG_DATA_HOME"); xdg != nullptr && *xdg != '\0') {
        root = std::filesystem::path(xdg) / "vela5";
    } else {
        const char* home = std::getenv("HOME");
        root = std::filesystem::path(home != nullptr ? home : ".") / ".local" / "share" / "vela5";
    }
    return root / "tokens";
}

Statement::Statement(Database& db, const char* sql)
    : m_db(db)
    , m_sql(sql)
    , m_stmt(db.TakeStatement(m_sql))
{
}

Statement::~Statement()
{
    m_db.ReturnStatement(m_sql, m_stmt);
}

Statement& Statement::Bind(int index, int64_t value)
{
    sqlite3_bind_int64(m_stmt, index, value);
    return *this;
}

Statement& Statement::Bind(int index, const std::string& value)
{
    sqlite3_bind_text(m_stmt, index, value.data(), static_cast<int>(value.size()), SQLITE_TRANSIENT);
    return *this;
}

Statement& Statement::Bind(int index, const Blob& value)
{
    // A zero-length blob must still be a blob, not NULL.
    static const unsigned char empty = 0;
    sqlite3_bind_blob(m_stmt, index, value.empty() ? &empty : value.data(), static_cast<int>(value.size()),
        SQLITE_TRANSIENT);
    return *this;
}

Statement& Statement::BindNull(int index)
{
    sqlite3_bind_null(m_stmt, index);
    return *this;
}

bool Statement::Step()
{
    const int rc = sqlite3_step(m_stmt);
    if (rc == SQLITE_ROW) {
        return true;
    }
    if (rc == SQLITE_DONE) {
        return false;
    }
    m_db.Fail("step");
}

void Statement::Run()
{
    while (Step()) { }
}

void Statement::Reset()
{
    sqlite3_reset(m_stmt);
    sqlite3_clear_bindings(m_stmt);
}

int64_t Statement::Int(int column) const
{
    return sqlite3_column_int64(m_stmt, column);
}

std::string Statement::Text(int column) const
{
    const auto* text = sqlite3_column_text(m_stmt, column);
    return text != nullptr ? std::string(
               reinterpret_cast<const char*>(text), static_cast<size_t>(sqlite3_column_bytes(m_stmt, column)))
                           : std::string();
}

Blob Statement::Bytes(int column) const
{
    const auto* data = static_cast<const unsigned char*>(sqlite3_column_blob(m_stmt, column));
    const int size = sqlite3_column_bytes(m_stmt, column);
    return data != nullptr ? Blob(data, data + size) : Blob();
}

bool Statement::IsNull(int column) const
{
    return sqlite3_column_type(m_stmt, column) == SQLITE_NULL;
}

Database::Database(const std::filesystem::path& file)
    : m_file(file)
{
    std::error_code ec;
    std::filesystem::create_directories(file.parent_path(), ec);
    if (ec) {
        throw CkError(CKR_DEVICE_ERROR, "cannot create " + file.parent_path().string() + ": " + ec.message());
    }
    chmod(file.parent_path().c_str(), 0700);
    if (!std::filesystem::exists(file, ec)) {
        CreateState(file);
    }
    RestrictStateFiles(file);
    // Never created here: an empty file under the state's name is damage,
    // not a new state.
    if (sqlite3_open_v2(file.c_str(), &m_db, SQLITE_OPEN_READWRITE | SQLITE_OPEN_NOMUTEX, nullptr)
        != SQLITE_OK) {
        const std::string message = m_db != nullptr ? sqlite3_errmsg(m_db) : "out of memory";
        sqlite3_close(m_db);
        m_db = nullptr;
        throw CkError(CKR_DEVICE_ERROR, "cannot open token state " + file.string() + ": " + message);
    }
    try {
        // The file this connection reads, to notice when the name stops
        // naming it.
        struct stat info { };
        if (stat(file.c_str(), &info) != 0) {
            throw CkError(CKR_DEVICE_ERROR, "removed while opening");
        }
        m_device = info.st_dev;
        m_inode = info.st_ino;
        sqlite3_busy_timeout(m_db, kBusyTimeout.count());
        // Freed pages are zeroed, so deleted keys and PIN hashes do not stay
        // readable in the file, whatever the platform's SQLite default is.
        Exec("PRAGMA secure_delete=ON");
        // Check before switching to WAL: a foreign database stays untouched.
        CreateOrCheckSchema();
        SwitchToWal();
        Exec("PRAGMA synchronous=NORMAL");
        Exec("PRAGMA foreign_keys=ON");
        if (sqlite3_prepare_v2(m_db, "PRAGMA data_version", -1, &m_versionStmt, nullptr) != SQLITE_OK) {
            Fail("prepare");
        }
    } catch (const CkError& error) {
        FinalizeStatements();
        sqlite3_finalize(m_versionStmt);
        sqlite3_close(m_db);
        m_db = nullptr;
        throw CkError(CKR_DEVICE_ERROR,
            "token state " + file.string() + " is damaged or not a token state (" + error.what() + ")");
    }
}

void Database::CreateState(const std::filesystem::path& file)
{
    // Made complete under a name of this process's own, then linked into
    // place: a process killed while creating leaves no empty state behind.
    // Creators take turns, so the log files left by a state removed while
    // open (never valid without it) go before a new state takes the name.
    const Files::FolderLock lock(file.parent_path(), 0600);
    if (!lock.IsHeld()) {
        throw CkError(CKR_DEVICE_ERROR, "cannot lock " + file.parent_path().string());
    }
    std::error_code ec;
    if (std::filesystem::exists(file, ec)) {
        return;
    }
    for (const char* suffix : { "-wal", "-shm", "-journal" }) {
        unlink((file.string() + suffix).c_str());
    }
    const std::string temp = file.string() + ".new-" + std::to_string(getpid());
    // What a creator killed under this process ID left, its log included.
    for (const char* suffix : { "", "-wal", "-shm" }) {
        unlink((temp + suffix).c_str());
    }
    const int fd = open(temp.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    if (fd < 0) {
        throw CkError(CKR_DEVICE_ERROR, "cannot create token state " + temp + ": " + std::strerror(errno));
    }
    fchmod(fd, 0600);
    close(fd);
    sqlite3* db = nullptr;
    std::string message;
    // Made in WAL mode, so no opener has to switch it: the switch is the one
    // step that fails at once, not after the busy timeout, when another
    // opener writes meanwhile.
    if (sqlite3_open_v2(temp.c_str(), &db, SQLITE_OPEN_READWRITE | SQLITE_OPEN_NOMUTEX, nullptr) != SQLITE_OK
        || sqlite3_exec(db, "PRAGMA journal_mode=WAL", nullptr, nullptr, nullptr) != SQLITE_OK
        || sqlite3_exec(db, "BEGIN", nullptr, nullptr, nullptr) != SQLITE_OK
        || sqlite3_exec(db, kSchema, nullptr, nullptr, nullptr) != SQLITE_OK
        || sqlite3_exec(db,
               (std::string("INSERT INTO meta(key, value) VALUES('format', '") + kFormat + "')").c_str(),
               nullptr, nullptr, nullptr)
            != SQLITE_OK
        || sqlite3_exec(db, "COMMIT", nullptr, nullptr, nullptr) != SQLITE_OK) {
        message = db != nullptr ? sqlite3_errmsg(db) : "out of memory";
    }
    sqlite3_close(db);
    if (message.empty() && link(temp.c_str(), file.c_str()) != 0 && errno != EEXIST) {
        message = std::strerror(errno);
    }
    unlink(temp.c_str());
    if (!message.empty()) {
        throw CkError(CKR_DEVICE_ERROR, "cannot create token state " + file.string() + ": " + message);
    }
}

void Database::CheckStillNamed() const
{
    struct stat info { };
    if (stat(m_file.c_str(), &info) != 0 || info.st_dev != m_device || info.st_ino != m_inode) {
        throw CkError(
            CKR_DEVICE_ERROR, "token state " + m_file.string() + " was removed or replaced while open");
    }
}

void Database::RestrictStateFiles(const std::filesystem::path& file)
{
    // SQLite gives the -wal and -shm files the mode of the state itself, so
    // creating the state 0600 (whatever the umask) keeps all three private.
    // A state made before this is narrowed too.
    const int fd = open(file.c_str(), O_RDWR | O_CLOEXEC);
    if (fd < 0) {
        throw CkError(
            CKR_DEVICE_ERROR, "cannot open token state " + file.string() + ": " + std::strerror(errno));
    }
    fchmod(fd, 0600);
    close(fd);
    for (const char* suffix : { "-wal", "-shm", "-journal" }) {
        chmod((file.string() + suffix).c_str(), 0600);
    }
}

Database::~Database()
{
    FinalizeStatements();
    sqlite3_finalize(m_versionStmt);
    sqlite3_close(m_db);
}

sqlite3_stmt* Database::TakeStatement(const std::string& sql)
{
    const auto kept = m_statements.find(sql);
    if (kept != m_statements.end()) {
        sqlite3_stmt* const statement = kept->second;
        m_statements.erase(kept);
        return statement;
    }
    sqlite3_stmt* statement = nullptr;
    if (sqlite3_prepare_v3(m_db, sql.c_str(), -1, SQLITE_PREPARE_PERSISTENT, &statement, nullptr)
        != SQLITE_OK) {
        sqlite3_finalize(statement);
        Fail("prepare");
    }
    return statement;
}

void Database::ReturnStatement(const std::string& sql, sqlite3_stmt* statement)
{
    // Reset ends any read it holds; the bindings go, PIN hashes included.
    sqlite3_reset(statement);
    sqlite3_clear_bindings(statement);
    // The module's SQL texts are a few dozen; the bound keeps texts built at
    // run time from growing the cache without end.
    constexpr std::size_t kMaxKept = 128;
    if (m_statements.size() >= kMaxKept || !m_statements.emplace(sql, statement).second) {
        sqlite3_finalize(statement);
    }
}

void Database::FinalizeStatements()
{
    for (const auto& [sql, statement] : m_statements) {
        sqlite3_finalize(statement);
    }
    m_statements.clear();
}

void Database::CreateOrCheckSchema()
{
    std::string format;
    {
        Transaction transaction(*this);
        Statement tables(*this, "SELECT count(*) FROM sqlite_master");
        tables.Step();
        // New states are made whole before they get the name.
        if (tables.Int(0) == 0) {
            throw CkError(CKR_DEVICE_ERROR, "empty");
        }
        format = Format();
        transaction.Commit();
    }
    // Copying needs every statement finished.
    if (format == kNarrowFormat) {
        MigrateNarrowState();
        format = kFixedCostFormat;
    }
    if (format == kFixedCostFormat) {
        MigrateFixedCostState();
        format = kUnsealedFormat;
    }
    if (format == kUnsealedFormat) {
        MigrateUnsealedState();
    } else if (format != kFormat) {
        throw CkError(CKR_DEVICE_ERROR, "unknown format");
    }
    AddSessionStartColumn();
}

void Database::AddSessionStartColumn()
{
    // Session rows live no longer than their processes, so this column
    // needs no format of its own: states of every format gain it on open.
    // Rows written without it (0) are judged by their process id alone.
    Transaction transaction(*this);
    {
        Statement column(*this, "SELECT count(*) FROM pragma_table_info('sessions') WHERE name='started'");
        column.Step();
        if (column.Int(0) != 0) {
            return;
        }
    }
    Exec("ALTER TABLE sessions ADD COLUMN started INTEGER NOT NULL DEFAULT 0");
    transaction.Commit();
}

std::string Database::Format()
{
    Statement hasMeta(*this, "SELECT count(*) FROM sqlite_master WHERE type='table' AND name='meta'");
    hasMeta.Step();
    if (hasMeta.Int(0) == 0) {
        throw CkError(CKR_DEVICE_ERROR, "no format mark");
    }
    Statement format(*this, "SELECT value FROM meta WHERE key='format'");
    return format.Step() ? format.Text(0) : std::string();
}

void Database::KeepCopy(const char* suffix)
{
    // A consistent copy of the old state (write-ahead log included) stays
    // beside it, so nothing a user kept there can be lost by the change.
    const std::filesystem::path backup = m_file.string() + suffix;
    std::error_code ec;
    if (!std::filesystem::exists(backup, ec)) {
        try {
            Statement copy(*this, "VACUUM INTO ?");
            copy.Bind(1, backup.string()).Run();
            chmod(backup.c_str(), 0600);
        } catch (const CkError&) {
            // Another process migrating at the same time made the copy first.
            if (!std::filesystem::exists(backup, ec)) {
                throw;
            }
        }
    }
}

void Database::MigrateNarrowState()
{
    KeepCopy(".format1");
    Transaction transaction(*this);
    if (Format() != kNarrowFormat) {
        return; // another process migrated it meanwhile
    }
    // Widen each unsigned long value in place: little-endian, so the added
    // high bytes are zero.
    static_assert(sizeof(CK_ULONG) >= 4);
    Statement select(*this, "SELECT object_id, type, value FROM attributes WHERE length(value) = 4");
    Statement update(*this, "UPDATE attributes SET value = ? WHERE object_id = ? AND type = ?");
    while (select.Step()) {
        const auto type = static_cast<CK_ATTRIBUTE_TYPE>(select.Int(1));
        if (std::find(std::begin(kUlongAttributes), std::end(kUlongAttributes), type)
            == std::end(kUlongAttributes)) {
            continue;
        }
        Blob value = select.Bytes(2);
        value.resize(sizeof(CK_ULONG), 0);
        update.Bind(1, value).Bind(2, select.Int(0)).Bind(3, select.Int(1)).Run();
        update.Reset();
    }
    Statement mark(*this, "UPDATE meta SET value = ? WHERE key = 'format'");
    mark.Bind(1, std::string(kFixedCostFormat)).Run();
    transaction.Commit();
}

void Database::MigrateFixedCostState()
{
    Transaction transaction(*this);
    if (Format() != kFixedCostFormat) {
        return; // another process migrated it meanwhile
    }
    // Tokens made later get the column's strong default; the PINs already
    // there keep the cost they were hashed with.
    Exec("ALTER TABLE tokens ADD COLUMN pin_rounds INTEGER NOT NULL DEFAULT 600000");
    Statement rounds(*this, "UPDATE tokens SET pin_rounds = ?");
    rounds.Bind(1, kFixedCostRounds).Run();
    Statement mark(*this, "UPDATE meta SET value = ? WHERE key = 'format'");
    mark.Bind(1, std::string(kUnsealedFormat)).Run();
    transaction.Commit();
}

void Database::MigrateUnsealedState()
{
    KeepCopy(".format3");
    {
        Transaction transaction(*this);
        if (Format() != kUnsealedFormat) {
            return; // another process migrated it meanwhile
        }
        Exec("ALTER TABLE tokens ADD COLUMN user_key BLOB");
        Exec("ALTER TABLE tokens ADD COLUMN so_key BLOB");
        Exec("ALTER TABLE objects ADD COLUMN sealed INTEGER NOT NULL DEFAULT 0");
        Exec("ALTER TABLE attributes ADD COLUMN sealed INTEGER NOT NULL DEFAULT 0");
        SealPlainSecrets(*this);
        Statement mark(*this, "UPDATE meta SET value = ? WHERE key = 'format'");
        mark.Bind(1, std::string(kFormat)).Run();
        transaction.Commit();
    }
    // secure_delete zeroed what the change replaced; rebuilding the file and
    // emptying the log leaves no older page of it either. Both wait for other
    // connections, so a busy state keeps them for a later open.
    sqlite3_exec(m_db, "VACUUM", nullptr, nullptr, nullptr);
    sqlite3_exec(m_db, "PRAGMA wal_checkpoint(TRUNCATE)", nullptr, nullptr, nullptr);
}

void Database::Exec(const char* sql)
{
    if (sqlite3_exec(m_db, sql, nullptr, nullptr, nullptr) != SQLITE_OK) {
        Fail(sql);
    }
}

void Database::SwitchToWal()
{
    // A state of an earlier build may still use a rollback journal. The
    // switch reads, then writes; meeting another opener's write there is
    // SQLITE_BUSY at once (SQLite will not wait on an upgraded read), so
    // it is tried again until the busy timeout has passed.
    const auto deadline = std::chrono::steady_clock::now() + kBusyTimeout;
    while (sqlite3_exec(m_db, "PRAGMA journal_mode=WAL", nullptr, nullptr, nullptr) != SQLITE_OK) {
        if ((sqlite3_errcode(m_db) & 0xff) != SQLITE_BUSY || std::chrono::steady_clock::now() >= deadline) {
            Fail("PRAGMA journal_mode=WAL");
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
}

int64_t Database::LastInsertId() const
{
    return sqlite3_last_insert_rowid(m_db);
}

int Database::Changes() const
{
    return sqlite3_changes(m_db);
}

void Database::Fail(const char* where) const
{
    // Busy or locked after the timeout: the state is there but unreachable.
    throw CkError(CKR_DEVICE_ERROR, std::string("token state ") + where + ": " + LastMessage());
}

bool Database::IsStateFile(const std::filesystem::path& path) const
{
    struct stat given { };
    if (stat(path.c_str(), &given) != 0) {
        return false;
    }
    for (const char* suffix : { "", "-wal", "-shm", "-journal" }) {
        struct stat own { };
        const std::string name = m_file.string() + suffix;
        if (stat(name.c_str(), &own) == 0 && own.st_dev == given.st_dev && own.st_ino == given.st_ino) {
            return true;
        }
    }
    return false;
}

std::string Database::LastMessage() const
{
    return m_db != nullptr ? sqlite3_errmsg(m_db) : "not open";
}

bool Database::CheckChanged()
{
    // A check that could not read the version counts as a change: the cache
    // is then re-read, or the call reports why the state cannot be read,
    // rather than answering from a copy that may be stale.
    bool read = false;
    int64_t version = m_dataVersion;
    if (sqlite3_step(m_versionStmt) == SQLITE_ROW) {
        version = sqlite3_column_int64(m_versionStmt, 0);
        read = true;
    }
    sqlite3_reset(m_versionStmt);
    const bool changed = m_ownChange || !read || version != m_dataVersion;
    m_dataVersion = version;
    m_ownChange = false;
    return changed;
}

Transaction::Transaction(Database& db)
    : m_db(db)
{
    m_db.CheckStillNamed();
    m_db.Exec("BEGIN IMMEDIATE");
}

Transaction::~Transaction()
{
    if (!m_done) {
        sqlite3_exec(m_db.Handle(), "ROLLBACK", nullptr, nullptr, nullptr);
    }
}

void Transaction::Commit()
{
    m_db.Exec("COMMIT");
    m_done = true;
    m_db.MarkChanged();
}

} // namespace velatoken
