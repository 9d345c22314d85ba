// The sessions every process has open, as rows of the shared state: a
// session is its row id (the handle), its owner (process id and start time),
// its token, reader and flags. All SQL on the sessions table lives here.
#pragma once

#include "Database.h"

#include <cstdint>
#include <utility>
#include <vector>

namespace velatoken {

// A process, told apart from a later one given the same id.
struct SessionOwner {
    int64_t pid = 0;
    int64_t started = 0;
};

struct SessionCounts {
    int64_t all = 0;
    int64_t readWrite = 0;
};

class SessionStore final {
public:
    explicit SessionStore(Database& db)
        : m_db(db)
    {
    }

    // The new session's handle.
    int64_t Insert(const SessionOwner& owner, int64_t tokenId, int64_t readerId, int64_t flags);
    bool Exists(int64_t handle);
    SessionCounts CountOnToken(int64_t tokenId);
    std::vector<SessionOwner> Owners();

    void Delete(int64_t handle);
    void DeleteOfOwner(const SessionOwner& owner);
    void DeleteOnToken(int64_t tokenId);
    void DeleteOnReader(int64_t readerId);

private:
    Database& m_db;
};

} // namespace velatoken
