#pragma once

#include <cstdint>
#include <cstdio>
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

// Space kept free beyond a whole-file write when checking the destination's disk (1 MiB).
inline constexpr std::uintmax_t kAtomicWriteSpareBytes = 1048576;

// The longest suffix a temporary adds to its destination's file name: ".tmp.", then the process id, the
// steady clock's count and a counter in decimal, separated by points (5 + 10 + 1 + 20 + 1 + 20 bytes).
inline constexpr std::size_t kTemporarySuffixMaxBytes = 57;

// Checks, changing nothing on disk, that destination can be replaced as AtomicFileReplacement::prepare
// replaces it: its links resolve, an existing destination is a regular file that is not read-only, and
// its file name leaves room for a temporary's suffix within the folder's limit on names. Lets a caller
// refuse before it does the work whose result it would save; prepare makes the same checks again.
bool checkReplaceableDestination(const std::filesystem::path& destination, std::string* error);

// Makes destination hold exactly bytes, durably, through an AtomicFileReplacement: the bytes go to a
// fresh temporary that is flushed, synced and renamed over the destination, and the folder is synced
// after the rename. A reader sees either the old file or the new one, never a mix. The destination is
// found and checked as AtomicFileReplacement::prepare does (links followed, permission bits kept,
// read-only files refused). On failure the temporary is removed and the
// destination keeps its old content (unless only the folder flush after the rename failed).
bool writeFileAtomically(const std::filesystem::path& destination, std::span<const std::uint8_t> bytes,
                         std::string* error, bool privateFile, const std::function<bool()>& keepGoing = {});

// The replacement of one destination by a file that is written piece by piece. The temporary is created
// next to the real destination with O_EXCL and written only through the stream opened with it, never
// reopened by its name, so nobody who can write to the folder can redirect the bytes to another file.
// One thread at a time; an unfinished replacement removes its temporary on destruction.
class AtomicFileReplacement {
public:
    AtomicFileReplacement() = default;
    AtomicFileReplacement(const AtomicFileReplacement&) = delete;
    AtomicFileReplacement& operator=(const AtomicFileReplacement&) = delete;
    ~AtomicFileReplacement();

    // Follows symbolic links from destination to the file they name (which need not exist yet), refuses
    // a destination that exists but is no regular file or is read-only, or whose name leaves no room for
    // the temporary's suffix, creates its folder and removes this code's day-old temporaries there.
    // Nothing of the destination is touched.
    bool prepare(const std::filesystem::path& destination, bool privateFile, std::string* error);

    // Creates the temporary, empty, in the destination's folder: owner-only (0600) when privateFile, else
    // with the permission bits of the file it replaces, or 0644 (less the umask) for a new file.
    bool open(std::string* error);

    // The temporary's stream; null unless open.
    std::FILE* stream() const noexcept { return stream_; }

    // Flushes and syncs the temporary to disk and closes it.
    bool close(std::string* error);

    // Closes the temporary when still open, renames it over the destination and syncs the folder. Refuses
    // when the temporary's name no longer leads to the file written. On failure the temporary is removed.
    bool commit(std::string* error);

    // Closes and removes the temporary; the destination is untouched. A failed removal appends its
    // sentence to *error after "; ".
    void abandon(std::string* error);

    // The destination with its symbolic links followed, and its folder; set by prepare.
    const std::filesystem::path& destination() const noexcept { return destination_; }
    const std::filesystem::path& folder() const noexcept { return folder_; }

private:
    std::filesystem::path destination_;
    std::filesystem::path folder_;
    std::filesystem::path temporary_;
    std::FILE* stream_ = nullptr;
    std::uint64_t writtenDevice_ = 0; // identity of the temporary as written, checked before the rename
    std::uint64_t writtenInode_ = 0;
    unsigned modeBits_ = 0644;
    bool keepModeBits_ = false; // the mode is set on the temporary, not left to the umask
};

namespace detail {
// Whether a write of bytes leaves at least spareBytes of the available space free.
bool freeSpaceAllows(std::uintmax_t availableBytes, std::uintmax_t bytes, std::uintmax_t spareBytes) noexcept;
// The same for the space the file system reports for folder; true when it cannot tell (a full disk is
// still caught by the checked writes).
bool folderHasRoomFor(const std::filesystem::path& folder, std::uintmax_t bytes, std::uintmax_t spareBytes);
} // namespace detail

// Reads the whole file into output when it holds at most maxBytes bytes (checked before any memory is
// taken). On failure output is left empty.
bool readFileBounded(const std::filesystem::path& path, std::uint64_t maxBytes,
                     std::vector<std::uint8_t>& output, std::string* error,
                     const std::function<bool()>& keepGoing = {});

} // namespace np
