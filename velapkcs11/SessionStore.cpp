#include "SessionStore.h"

namespace velatoken {

int64_t SessionStore::Insert(const SessionOwner& owner, int64_t tokenId, int64_t readerId, int64_t flags)
{
    Statement insert(
        m_db, "INSERT INTO sessions(pid, started, token_id, reader_id, flags) VALUES(?, ?, ?, ?, ?)");
    insert.Bind(1, owner.pid).Bind(2, owner.started).Bind(3, tokenId).Bind(4, readerId).Bind(5, flags).Run();
    return m_db.LastInsertId();
}

bool SessionStore::Exists(int64_t handle)
{
    Statement row(m_db, "SELECT 1 FROM sessions WHERE handle=?");
    row.Bind(1, handle);
    return row.Step();
}

SessionCounts SessionStore::CountOnToken(int64_t tokenId)
{
    // Bit 2 of the flags is CKF_RW_SESSION.
    Statement counts(
        m_db, "SELECT count(*), coalesce(sum((flags & 2) != 0), 0) FROM sessions WHERE token_id=?");
    counts.Bind(1, tokenId);
    counts.Step();
    return { counts.Int(0), counts.Int(1) };
}

std::vector<SessionOwner> SessionStore::Owners()
{
    Statement owners(m_db, "SELECT DISTINCT pid, started FROM sessions");
    std::vector<SessionOwner> result;
    while (owners.Step()) {
        result.push_back({ owners.Int(0), owners.Int(1) });
    }
    return result;
}

void SessionStore::Delete(int64_t handle)
{
    Statement drop(m_db, "DELETE FROM sessions WHERE handle=?");
    drop.Bind(1, handle).Run();
}

void SessionStore::DeleteOfOwner(const SessionOwner& owner)
{
    Statement drop(m_db, "DELETE FROM sessions WHERE pid=? AND started=?");
    drop.Bind(1, owner.pid).Bind(2, owner.started).Run();
}

void SessionStore::DeleteOnToken(int64_t tokenId)
{
    Statement drop(m_db, "DELETE FROM sessions WHERE token_id=?");
    drop.Bind(1, tokenId).Run();
}

void SessionStore::DeleteOnReader(int64_t readerId)
{
    Statement drop(m_db, "DELETE FROM sessions WHERE reader_id=?");
    drop.Bind(1, readerId).Run();
}

} // namespace velatoken
