#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <span>
#include <string>
#include <vector>

// The storage layer: a private per-user folder, a lock for read-modify-write cycles that holds between
// threads and between processes, atomic and durable file replacement, and size-bounded whole-file reads.
//
// Every operation may be called from any thread. Each returns true on success; on failure it writes one
// user-facing sentence into *error (when error is not null) and returns false. Only std::bad_alloc and
// string-length errors can escape.
//
// Keep-going tests: an empty function is never called; a set one is polled at least once per MiB and a
// result of false cancels the operation.
namespace np {

// Creates the folder with all missing parents when needed and restricts it to its owner (mode 0700).
bool ensurePrivateDirectory(const std::filesystem::path& folder, std::string* error);

// Runs operation while holding both a process-wide mutex and an exclusive flock on lockFile (created
// with mode 0600 when missing, never deleted). Returns the operation's result; when the operation
// returns false, *error keeps what the operation wrote. An exception escaping the operation counts as
// false. Blocks while another thread or process holds the lock. Not reentrant: calling it again from
// inside operation deadlocks.
bool withExclusiveFileLock(const std::filesystem::path& lockFile, const std::function<bool()>& operation,
                           std::string* error);

// Reserves an empty, closed temporary file next to destination (same folder, name
// "<destination name>.tmp.<pid>.<steady ns>.<counter>") and returns its path in temporary. Mode 0600
// when privateFile, else 0644. The caller owns the temporary: it writes it, then calls
// replaceFileAtomically, and deletes the temporary itself on any failure of its own.
bool createAtomicTemporaryFile(const std::filesystem::path& destination, std::filesystem::path& temporary,
                               std::string* error, bool privateFile);

// Makes destination hold exactly bytes, durably: the bytes go to a fresh temporary that is flushed,
// synced and renamed over the destination, and the folder is synced after the rename. A reader sees
// either the old file or the new one, never a mix. On failure the temporary is removed and the
// destination keeps its old content (unless only the folder flush after the rename failed).
bool writeFileAtomically(const std::filesystem::path& destination, std::span<const std::uint8_t> bytes,
                         std::string* error, bool privateFile, const std::function<bool()>& keepGoing = {});

// Moves a finished temporary (which must lie in the destination's folder) over destination after
// syncing it, then syncs the folder. On failure the temporary is left for the caller to remove.
bool replaceFileAtomically(const std::filesystem::path& temporary, const std::filesystem::path& destination,
                           std::string* error);

// Reads the whole file into output when it holds at most maxBytes bytes (checked before any memory is
// taken). On failure output is left empty.
bool readFileBounded(const std::filesystem::path& path, std::uint64_t maxBytes,
                     std::vector<std::uint8_t>& output, std::string* error,
                     const std::function<bool()>& keepGoing = {});

} // namespace np
