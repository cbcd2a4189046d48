// Temporary files, atomic durable replacement and whole-file writes.

#include "engine/io/atomic_file.h"

#include "engine/io/storage_errors.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <fcntl.h>
#include <mutex>
#include <sys/stat.h>
#include <unistd.h>

namespace np {

namespace {

namespace fs = std::filesystem;

constexpr std::size_t kWritePieceBytes = 1048576;
constexpr std::uintmax_t kFreeSpaceMarginBytes = 1048576;
constexpr int kTemporaryAttempts = 64;
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

bool openUniqueTemporary(const fs::path& destination, bool privateFile, fs::path& path, std::FILE*& stream,
                         std::string* error) {
    path.clear();
    stream = nullptr;
    const mode_t mode = privateFile ? 0600 : 0644;
    for (int attempt = 0; attempt < kTemporaryAttempts; ++attempt) {
        const auto steadyCount = std::chrono::duration_cast<std::chrono::nanoseconds>(
                                     std::chrono::steady_clock::now().time_since_epoch())
                                     .count();
        const std::uint64_t counter = gTemporaryCounter.fetch_add(1);
        fs::path candidate = destination;
        candidate += ".tmp." + std::to_string(::getpid()) + "." + std::to_string(steadyCount) + "." +
                     std::to_string(counter);
        const int fd = ::open(candidate.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, mode);
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
        if (privateFile && ::fchmod(fd, 0600) != 0) {
            const int saved = errno;
            std::fclose(opened);
            std::error_code ignored;
            fs::remove(candidate, ignored);
            detail::setPosixError(error, "Could not restrict the private file: ", saved);
            return false;
        }
        path = std::move(candidate);
        stream = opened;
        return true;
    }
    detail::setError(error, "Could not reserve a unique temporary file after repeated attempts");
    return false;
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
        detail::setError(error,
                         "The file was replaced, but its folder could not be opened for a durability flush");
        return false;
    }
    const bool synced = ::fsync(folderFd) == 0;
    const bool closed = ::close(folderFd) == 0;
    if (!synced || !closed) {
        detail::setError(error, "The file was replaced, but its folder could not be flushed to disk");
        return false;
    }
    return true;
}

bool cancelled(const std::function<bool()>& keepGoing) {
    return keepGoing && !keepGoing();
}

// Creates the destination's folder when missing and clears out this code's own stale temporaries there.
bool prepareDestinationFolder(const fs::path& destination, std::string* error) {
    const fs::path folder = folderOf(destination);
    std::error_code code;
    fs::create_directories(folder, code);
    if (code) {
        detail::setCodeError(error, "Could not create the destination folder: ", code);
        return false;
    }
    cleanupStaleTemporaries(destination, folder);
    return true;
}

} // namespace

bool createAtomicTemporaryFile(const fs::path& destination, fs::path& temporary, std::string* error,
                               bool privateFile) {
    temporary.clear();
    if (!prepareDestinationFolder(destination, error))
        return false;
    std::FILE* stream = nullptr;
    if (!openUniqueTemporary(destination, privateFile, temporary, stream, error)) {
        return false;
    }
    if (std::fclose(stream) != 0) {
        detail::setPosixError(error, "Could not finish reserving the temporary file: ", errno);
        removeTemporary(temporary, error);
        temporary.clear();
        return false;
    }
    return true;
}

bool writeFileAtomically(const fs::path& destination, std::span<const std::uint8_t> bytes, std::string* error,
                         bool privateFile, const std::function<bool()>& keepGoing) {
    if (cancelled(keepGoing)) {
        detail::setError(error, "File writing was cancelled");
        return false;
    }
    if (!prepareDestinationFolder(destination, error))
        return false;
    const fs::path folder = folderOf(destination);
    std::error_code code;

    // The margin keeps a nearly full disk from being filled to the last byte by a save.
    const fs::space_info space = fs::space(folder, code);
    if (!code && (bytes.size() > space.available || space.available - bytes.size() < kFreeSpaceMarginBytes)) {
        detail::setError(error, "There is not enough free disk space to save this file");
        return false;
    }

    fs::path temporary;
    std::FILE* stream = nullptr;
    if (!openUniqueTemporary(destination, privateFile, temporary, stream, error)) {
        return false;
    }
    const auto fail = [&](const std::string& sentence) {
        detail::setError(error, sentence);
        removeTemporary(temporary, error);
        return false;
    };
    const auto failWriting = [&](int errorNumber) {
        return fail("Could not finish writing the file: " + detail::systemErrorMessage(errorNumber));
    };

    std::size_t written = 0;
    while (written < bytes.size()) {
        if (cancelled(keepGoing)) {
            std::fclose(stream);
            return fail("File writing was cancelled");
        }
        const std::size_t piece = std::min(bytes.size() - written, kWritePieceBytes);
        const std::size_t done = std::fwrite(bytes.data() + written, 1, piece, stream);
        if (done == 0) {
            const int saved = errno;
            std::fclose(stream);
            return failWriting(saved);
        }
        written += done;
    }
    if (cancelled(keepGoing)) {
        std::fclose(stream);
        return fail("File writing was cancelled");
    }
    if (!syncFile(stream)) {
        const int saved = errno;
        std::fclose(stream);
        return failWriting(saved);
    }
    if (std::fclose(stream) != 0) {
        return failWriting(errno);
    }
    if (cancelled(keepGoing)) {
        return fail("File writing was cancelled");
    }
    if (!replaceFilePlatform(temporary, destination, error)) {
        // After a successful rename the temporary is gone and its removal finds nothing.
        removeTemporary(temporary, error);
        return false;
    }
    return true;
}

bool replaceFileAtomically(const fs::path& temporary, const fs::path& destination, std::string* error) {
    if (temporary.parent_path() != destination.parent_path()) {
        detail::setError(error, "Atomic replacement requires a temporary file in the destination folder");
        return false;
    }
    std::FILE* stream = std::fopen(temporary.c_str(), "rb");
    if (stream == nullptr) {
        detail::setError(error, "Could not reopen the temporary file before replacement");
        return false;
    }
    const bool flushed = std::fflush(stream) == 0 && ::fsync(::fileno(stream)) == 0;
    const bool closed = std::fclose(stream) == 0;
    if (!flushed || !closed) {
        detail::setError(error, "Could not flush the temporary file before replacement");
        return false;
    }
    return replaceFilePlatform(temporary, destination, error);
}

} // namespace np
