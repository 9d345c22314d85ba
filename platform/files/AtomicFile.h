// Replacing a whole file so that readers see either the old or the new bytes,
// never half of them, even if the writer dies or the machine stops.
#pragma once

#include <cstddef>
#include <filesystem>
#include <sys/types.h>

namespace vela5::platform::Files {

// Writes the bytes to an unnamed file in the target's folder (O_TMPFILE,
// or a hidden temporary named with the writer's process id where the file
// system has no unnamed files), flushes it, gives it a name and renames it
// over the target, then flushes the folder. Temporaries left by writers that
// were killed are removed first. False (and no temporary left behind) on any
// failure.
bool WriteAtomically(const std::filesystem::path& file, const void* data, size_t size, mode_t mode);

// Removes the temporaries of writers no longer running from a folder.
void RemoveStaleTemporaries(const std::filesystem::path& folder);

// Flushes a folder's entries, so a rename or unlink in it is durable.
void SyncFolder(const std::filesystem::path& folder);

// Serializes the writers of one folder across processes: an exclusive flock
// on its ".lock" file (created with the mode, never through a symbolic link)
// for the object's lifetime.
class FolderLock final {
public:
    FolderLock(const std::filesystem::path& folder, mode_t mode);
    ~FolderLock();
    FolderLock(const FolderLock&) = delete;
    FolderLock& operator=(const FolderLock&) = delete;
    bool IsHeld() const { return m_fd >= 0; }

private:
    int m_fd = -1;
};

} // namespace vela5::platform::Files
