// Replacing a whole file so that readers see either the old or the new bytes,
// never half of them, even if the writer dies or the machine stops.
#pragma once

#include <cstddef>
#include <filesystem>
#include <sys/types.h>

namespace Files {

// Writes a hidden temporary file beside the target with the given mode,
// flushes it, renames it over the target and flushes the folder. False (and
// no temporary left behind) on any failure.
bool WriteAtomically(const std::filesystem::path& file, const void* data, size_t size, mode_t mode);

// Flushes a folder's entries, so a rename or unlink in it is durable.
void SyncFolder(const std::filesystem::path& folder);

} // namespace Files
