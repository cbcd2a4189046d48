// Temporary files, atomic durable replacement and whole-file writes.

#include "engine/io/atomic_file.h"

#include "engine/io/storage_errors.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <climits>
#include <cstdio>
#include <fcntl.h>
#include <mutex>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>

namespace np {

namespace {

namespace fs = std::filesystem;

constexpr std::size_t kWritePieceBytes = 1048576;
constexpr int kTemporaryAttempts = 64;
constexpr int kMaxLinkHops = 40; // as the kernel allows when it resolves a path
constexpr auto kStaleTemporaryAge = std::chrono::hours(24);

// Held around each rename together with the flush of the destination's folder, so that two
// replacements of one destination in this process finish in the order they renamed.
std::mutex gAtomicReplaceLock;

// Makes temporary names distinct within the process even when the clock does not advance.
std::atomic<std::uint64_t> gTemporaryCounter{0};

fs::path folderOf(const fs::path& destination) {
    fs::path folder = destination.parent_path();
    return folder.empty() ? fs::path(".") : folder;
}

bool allDigits(std::string_view text) {
    return !text.empty() &&
           std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; });
}

// True for exactly the names openUniqueTemporary makes for this destination:
// "<name>.tmp.<digits>.<digits>.<digits>". A user's own "<name>.tmp" or "<name>.tmp.bak" never matches.
bool isOwnTemporaryName(std::string_view candidate, std::string_view destinationName) {
    const std::string_view marker = ".tmp.";
    if (candidate.size() <= destinationName.size() + marker.size() ||
        candidate.substr(0, destinationName.size()) != destinationName ||
        candidate.substr(destinationName.size(), marker.size()) != marker) {
        return false;
    }
    std::string_view rest = candidate.substr(destinationName.size() + marker.size());
    for (int field = 0; field < 3; ++field) {
        const std::size_t dot = rest.find('.');
        const bool last = field == 2;
        if (last != (dot == std::string_view::npos)) {
            return false;
        }
        if (!allDigits(last ? rest : rest.substr(0, dot))) {
            return false;
        }
        rest = last ? std::string_view() : rest.substr(dot + 1);
    }
    return true;
}

// Removes temporaries of this destination left behind by a crash once they are a day old; a younger
// one may belong to a write still running in another process.
void cleanupStaleTemporaries(const fs::path& destination, const fs::path& folder) {
    const auto now = fs::file_time_type::clock::now();
    const std::string destinationName = destination.filename().string();
    std::error_code code;
    fs::directory_iterator it(folder, code);
    if (code) {
        return;
    }
    for (; it != fs::directory_iterator(); it.increment(code)) {
        if (code) {
            return;
        }
        const fs::path& entry = it->path();
        if (!isOwnTemporaryName(entry.filename().string(), destinationName)) {
            continue;
        }
        std::error_code entryCode;
        if (!fs::is_regular_file(fs::symlink_status(entry, entryCode)) || entryCode) {
            continue;
        }
        const auto written = fs::last_write_time(entry, entryCode);
        if (entryCode || written > now || now - written < kStaleTemporaryAge) {
            continue;
        }
        fs::remove(entry, entryCode);
    }
}

void removeTemporary(const fs::path& path, std::string* error) {
    std::error_code code;
    fs::remove(path, code);
    if (code && code != std::errc::no_such_file_or_directory && error != nullptr) {
        if (!error->empty()) {
            *error += "; ";
        }
        *error += "Could not remove the incomplete temporary file: " + code.message();
    }
}

// Creates the temporary exclusively; a name that exists already is never opened, so a file or link
// planted under the next name cannot receive the bytes.
bool openUniqueTemporary(const fs::path& destination, mode_t creationMode, fs::path& path, std::FILE*& stream,
                         std::string* error) {
    path.clear();
    stream = nullptr;
    for (int attempt = 0; attempt < kTemporaryAttempts; ++attempt) {
        const auto steadyCount = std::chrono::duration_cast<std::chrono::nanoseconds>(
                                     std::chrono::steady_clock::now().time_since_epoch())
                                     .count();
        const std::uint64_t counter = gTemporaryCounter.fetch_add(1);
        fs::path candidate = destination;
        candidate += ".tmp." + std::to_string(::getpid()) + "." + std::to_string(steadyCount) + "." +
                     std::to_string(counter);
        const int fd = ::open(candidate.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, creationMode);
        if (fd < 0) {
            if (errno == EEXIST) {
                continue;
            }
            detail::setPosixError(error, "Could not create the temporary file: ", errno);
            return false;
        }
        std::FILE* opened = ::fdopen(fd, "wb");
        if (opened == nullptr) {
            const int saved = errno;
            ::close(fd);
            std::error_code ignored;
            fs::remove(candidate, ignored);
            detail::setPosixError(error, "Could not prepare the temporary file: ", saved);
            return false;
        }
        path = std::move(candidate);
        stream = opened;
        return true;
    }
    detail::setError(error, "Could not reserve a unique temporary file after repeated attempts");
    return false;
}

// Follows symbolic links from destination to the path they finally name, which need not exist: a save
// through a link must reach the linked file, not replace the link with a file of its own.
bool resolveLinks(const fs::path& destination, fs::path& resolved, std::string* error) {
    resolved = destination;
    for (int hops = 0;; ++hops) {
        std::error_code code;
        if (!fs::is_symlink(fs::symlink_status(resolved, code)) || code) {
            return true;
        }
        if (hops == kMaxLinkHops) {
            detail::setPosixError(error, "Could not follow the destination's links: ", ELOOP);
            return false;
        }
        const fs::path target = fs::read_symlink(resolved, code);
        if (code) {
            detail::setCodeError(error, "Could not follow the destination's links: ", code);
            return false;
        }
        resolved = target.is_absolute() ? target : resolved.parent_path() / target;
    }
}

// The folder's limit on the length of one file name; NAME_MAX when the folder cannot tell (it may not
// exist yet).
std::size_t nameLimitOf(const fs::path& folder) {
    const long limit = ::pathconf(folder.c_str(), _PC_NAME_MAX);
    return limit > 0 ? static_cast<std::size_t>(limit) : NAME_MAX;
}

// Resolves destination's links and refuses what cannot be replaced, before anything is created: an
// existing destination that is no regular file or is read-only, and a name that leaves no room for the
// temporary's suffix (the temporary would fail to be created only once the caller's work is done).
// existing holds the destination's status, or zeros when it does not exist.
bool inspectDestination(const fs::path& destination, fs::path& resolved, struct stat& existing,
                        std::string* error) {
    existing = {};
    if (!resolveLinks(destination, resolved, error)) {
        return false;
    }
    if (::stat(resolved.c_str(), &existing) == 0) {
        if (!S_ISREG(existing.st_mode)) {
            detail::setError(error, "The destination exists but is not a regular file");
            return false;
        }
        // Renaming would replace a file the user made read-only, so it is refused like a write to it;
        // the mode bits decide even for the superuser, whom access() lets write anything.
        if ((existing.st_mode & 0222) == 0 || ::access(resolved.c_str(), W_OK) != 0) {
            detail::setError(error, "The destination file is read-only");
            return false;
        }
    } else {
        existing = {};
    }
    const std::size_t limit = nameLimitOf(folderOf(resolved));
    const std::size_t longest = limit > kTemporarySuffixMaxBytes ? limit - kTemporarySuffixMaxBytes : 0;
    if (resolved.filename().native().size() > longest) {
        detail::setError(error, "The destination's file name is too long: names of at most " +
                                    std::to_string(longest) + " bytes can be saved here");
        return false;
    }
    return true;
}

// fflush, then fsync of the stream's descriptor; errno tells the cause on failure.
bool syncFile(std::FILE* stream) {
    if (std::fflush(stream) != 0) {
        return false;
    }
    return ::fsync(::fileno(stream)) == 0;
}

// Renames and then syncs the folder, so that the new directory entry survives a power loss.
bool replaceFilePlatform(const fs::path& temporary, const fs::path& destination, std::string* error) {
    const std::lock_guard<std::mutex> lock(gAtomicReplaceLock);
    if (::rename(temporary.c_str(), destination.c_str()) != 0) {
        detail::setPosixError(error, "Could not replace the destination file: ", errno);
        return false;
    }
    const int folderFd = ::open(folderOf(destination).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (folderFd < 0) {
        detail::setPosixError(
            error,
            "The file was replaced, but its folder could not be opened for a durability flush: ", errno);
        return false;
    }
    const bool synced = ::fsync(folderFd) == 0;
    const int saved = errno;
    const bool closed = ::close(folderFd) == 0;
    if (!synced || !closed) {
        detail::setPosixError(error, "The file was replaced, but its folder could not be flushed to disk: ",
                              synced ? errno : saved);
        return false;
    }
    return true;
}

bool cancelled(const std::function<bool()>& keepGoing) {
    return keepGoing && !keepGoing();
}

} // namespace

namespace detail {

bool freeSpaceAllows(std::uintmax_t availableBytes, std::uintmax_t bytes,
                     std::uintmax_t spareBytes) noexcept {
    return bytes <= availableBytes && availableBytes - bytes >= spareBytes;
}

bool folderHasRoomFor(const fs::path& folder, std::uintmax_t bytes, std::uintmax_t spareBytes) {
    std::error_code code;
    const fs::space_info space = fs::space(folder, code);
    return code || freeSpaceAllows(space.available, bytes, spareBytes);
}

} // namespace detail

bool checkReplaceableDestination(const fs::path& destination, std::string* error) {
    fs::path resolved;
    struct stat existing {};
    return inspectDestination(destination, resolved, existing, error);
}

AtomicFileReplacement::~AtomicFileReplacement() {
    abandon(nullptr);
}

bool AtomicFileReplacement::prepare(const fs::path& destination, bool privateFile, std::string* error) {
    abandon(nullptr);
    struct stat existing {};
    if (!inspectDestination(destination, destination_, existing, error)) {
        return false;
    }
    folder_ = folderOf(destination_);
    const bool replacing = existing.st_mode != 0;
    modeBits_ = privateFile ? 0600 : replacing ? (existing.st_mode & 0777) : 0644;
    keepModeBits_ = privateFile || replacing;
    std::error_code code;
    fs::create_directories(folder_, code);
    if (code) {
        detail::setCodeError(error, "Could not create the destination folder: ", code);
        return false;
    }
    cleanupStaleTemporaries(destination_, folder_);
    return true;
}

bool AtomicFileReplacement::open(std::string* error) {
    if (!openUniqueTemporary(destination_, static_cast<mode_t>(modeBits_), temporary_, stream_, error)) {
        return false;
    }
    // The creation mode passes through the umask; a private file or the mode of a replaced file is set
    // exactly.
    if (keepModeBits_ && ::fchmod(::fileno(stream_), static_cast<mode_t>(modeBits_)) != 0) {
        detail::setPosixError(error, "Could not set the permissions of the new file: ", errno);
        abandon(error);
        return false;
    }
    return true;
}

bool AtomicFileReplacement::close(std::string* error) {
    if (stream_ == nullptr) {
        return true;
    }
    std::FILE* stream = std::exchange(stream_, nullptr);
    const bool synced = syncFile(stream);
    const int saved = errno;
    struct stat written {};
    if (::fstat(::fileno(stream), &written) == 0) {
        writtenDevice_ = written.st_dev;
        writtenInode_ = written.st_ino;
    }
    if (std::fclose(stream) != 0 || !synced) {
        detail::setPosixError(error, "Could not finish writing the file: ", synced ? errno : saved);
        return false;
    }
    return true;
}

bool AtomicFileReplacement::commit(std::string* error) {
    if (temporary_.empty()) {
        detail::setError(error, "Could not replace the destination file: no temporary file was written");
        return false;
    }
    if (!close(error)) {
        abandon(error);
        return false;
    }
    // Only the file that was written may be moved into place, not whatever someone who can write to the
    // folder put under the temporary's name meanwhile.
    struct stat named {};
    if (::lstat(temporary_.c_str(), &named) != 0 || !S_ISREG(named.st_mode) ||
        named.st_dev != writtenDevice_ || named.st_ino != writtenInode_) {
        detail::setError(error, "The temporary file was replaced by another file while it was written");
        abandon(error);
        return false;
    }
    // After a failed rename the temporary is removed here; after a failed folder flush it is gone already.
    if (!replaceFilePlatform(temporary_, destination_, error)) {
        abandon(error);
        return false;
    }
    temporary_.clear();
    return true;
}

void AtomicFileReplacement::abandon(std::string* error) {
    if (stream_ != nullptr) {
        std::fclose(std::exchange(stream_, nullptr));
    }
    if (!temporary_.empty()) {
        removeTemporary(temporary_, error);
        temporary_.clear();
    }
}

bool writeFileAtomically(const fs::path& destination, std::span<const std::uint8_t> bytes, std::string* error,
                         bool privateFile, const std::function<bool()>& keepGoing) {
    if (cancelled(keepGoing)) {
        detail::setError(error, "File writing was cancelled");
        return false;
    }
    AtomicFileReplacement replacement;
    if (!replacement.prepare(destination, privateFile, error)) {
        return false;
    }
    // The margin keeps a nearly full disk from being filled to the last byte by a save.
    if (!detail::folderHasRoomFor(replacement.folder(), bytes.size(), kAtomicWriteSpareBytes)) {
        detail::setError(error, "There is not enough free disk space to save this file");
        return false;
    }
    if (!replacement.open(error)) {
        return false;
    }
    const auto fail = [&](const std::string& sentence) {
        detail::setError(error, sentence);
        replacement.abandon(error);
        return false;
    };
    std::size_t written = 0;
    while (written < bytes.size()) {
        if (cancelled(keepGoing)) {
            return fail("File writing was cancelled");
        }
        const std::size_t piece = std::min(bytes.size() - written, kWritePieceBytes);
        const std::size_t done = std::fwrite(bytes.data() + written, 1, piece, replacement.stream());
        if (done == 0) {
            return fail("Could not finish writing the file: " + detail::systemErrorMessage(errno));
        }
        written += done;
    }
    if (cancelled(keepGoing)) {
        return fail("File writing was cancelled");
    }
    if (!replacement.close(error)) {
        replacement.abandon(error);
        return false;
    }
    if (cancelled(keepGoing)) {
        return fail("File writing was cancelled");
    }
    return replacement.commit(error);
}

} // namespace np
