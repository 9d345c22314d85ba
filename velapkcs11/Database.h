// The shared token state: one SQLite file under $VELA5_ROOT/tokens, opened
// once per process. Statements and transactions are RAII objects.
#pragma once

#include <cstdint>
#include <filesystem>
#include <mutex>
#include <optional>
#include <sqlite3.h>
#include <string>
#include <sys/types.h>
#include <unordered_map>
#include <vector>

namespace velatoken {

using Blob = std::vector<unsigned char>;

// Where the token state lives: $VELA5_ROOT, else $XDG_DATA_HOME/vela5, else
// ~/.local/share/vela5, then "tokens".
std::filesystem::path StateDirectory();

class Database;

class Statement final {
public:
    Statement(Database& db, const char* sql);
    ~Statement();
    Statement(const Statement&) = delete;
    Statement& operator=(const Statement&) = delete;

    Statement& Bind(int index, int64_t value);
    Statement& Bind(int index, const std::string& value);
    Statement& Bind(int index, const Blob& value);
    Statement& BindNull(int index);
    // True while a row is available.
    bool Step();
    void Run();
    void Reset();

    int64_t Int(int column) const;
    std::string Text(int column) const;
    Blob Bytes(int column) const;
    bool IsNull(int column) const;

private:
    Database& m_db;
    std::string m_sql;
    sqlite3_stmt* m_stmt = nullptr;
};

class Database final {
public:
    // Opens (creating when absent) the state file; throws CkError with
    // CKR_DEVICE_ERROR when the file is damaged or not a token state.
    explicit Database(const std::filesystem::path& file);
    ~Database();
    Database(const Database&) = delete;
    Database& operator=(const Database&) = delete;

    sqlite3* Handle() const { return m_db; }
    const std::filesystem::path& File() const { return m_file; }
    void Exec(const char* sql);
    int64_t LastInsertId() const;
    int Changes() const;
    [[noreturn]] void Fail(const char* where) const;

    // True when another connection committed since the last call, or this
    // one committed through a Transaction. Cheap: one PRAGMA on a cached
    // statement.
    bool CheckChanged();
    void MarkChanged() { m_ownChange = true; }

    // True when path names the state file or one of SQLite's companions
    // (-wal, -shm, -journal), under any name. This process must never open
    // those itself: closing any descriptor of a file drops every POSIX lock
    // the process holds on it, and then another process may take the state
    // for unused and discard the write-ahead log this one still writes to.
    bool IsStateFile(const std::filesystem::path& path) const;

    // Throws CKR_DEVICE_ERROR when the state's path no longer names the
    // file this connection has open (removed or replaced): its changes would
    // go where no other process looks.
    void CheckStillNamed() const;

    // The last error text, for the command-line tool.
    std::string LastMessage() const;

    // Prepared statements are kept by their SQL text, since preparing costs
    // more than most of the module's queries. A statement in use is taken
    // out, so a nested use of the same text prepares its own.
    sqlite3_stmt* TakeStatement(const std::string& sql);
    void ReturnStatement(const std::string& sql, sqlite3_stmt* statement);

private:
    static void CreateState(const std::filesystem::path& file);
    static void RestrictStateFiles(const std::filesystem::path& file);
    void CreateOrCheckSchema();
    void SwitchToWal();
    std::string Format();
    void KeepCopy(const char* suffix);
    void MigrateNarrowState();
    void MigrateFixedCostState();
    void MigrateUnsealedState();
    void AddSessionStartColumn();
    void FinalizeStatements();

    std::filesystem::path m_file;
    sqlite3* m_db = nullptr;
    sqlite3_stmt* m_versionStmt = nullptr;
    std::unordered_map<std::string, sqlite3_stmt*> m_statements;
    int64_t m_dataVersion = -1;
    bool m_ownChange = true;
    dev_t m_device = 0;
    ino_t m_inode = 0;
};

// BEGIN IMMEDIATE on construction; rolled back unless Commit() ran.
class Transaction final {
public:
    explicit Transaction(Database& db);
    ~Transaction();
    Transaction(const Transaction&) = delete;
    Transaction& operator=(const Transaction&) = delete;
    void Commit();

private:
    Database& m_db;
    bool m_done = false;
};

} // namespace velatoken
