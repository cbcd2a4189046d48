// The private folder and the exclusive lock around read-modify-write cycles of shared files.

#include "engine/io/atomic_file.h"
#include "engine/io/storage_errors.h"

#include <cerrno>
#include <exception>
#include <fcntl.h>
#include <mutex>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace np {

namespace {

// Held for the whole of every locked operation: flock alone does not exclude threads of one process
// when they open the lock file separately, so the mutex serialises them first.
std::mutex gProcessFileLock;

} // namespace

bool ensurePrivateDirectory(const std::filesystem::path& folder, std::string* error) {
    namespace fs = std::filesystem;
    if (folder.empty()) {
        detail::setError(error, "The private application-data directory path is empty");
        return false;
    }
    std::error_code code;
    fs::create_directories(folder, code);
    if (code) {
        // A plain file in the way is reported as such rather than as a failed creation.
        std::error_code statusCode;
        const fs::file_status existing = fs::status(folder, statusCode);
        if (!statusCode && fs::exists(existing) && !fs::is_directory(existing)) {
            detail::setError(error, "The private application-data path is not a directory");
            return false;
        }
        detail::setCodeError(error, "Could not create the private application-data directory: ", code);
        return false;
    }
    const fs::file_status status = fs::status(folder, code);
    if (code) {
        detail::setCodeError(error, "Could not inspect the private application-data directory: ", code);
        return false;
    }
    if (!fs::is_directory(status)) {
        detail::setError(error, "The private application-data path is not a directory");
        return false;
    }
    if (::chmod(folder.c_str(), 0700) != 0) {
        detail::setPosixError(error, "Could not restrict the private application-data directory: ", errno);
        return false;
    }
    return true;
}

bool withExclusiveFileLock(const std::filesystem::path& lockFile, const std::function<bool()>& operation,
                           std::string* error) {
    if (!operation) {
        detail::setError(error, "The locked persistence operation is missing");
        return false;
    }
    // Lock order: the process mutex first, then the file lock.
    const std::lock_guard<std::mutex> processLock(gProcessFileLock);

    std::filesystem::path folder = lockFile.parent_path();
    if (folder.empty()) {
        folder = ".";
    }
    std::error_code code;
    std::filesystem::create_directories(folder, code);
    if (code) {
        detail::setCodeError(error, "Could not create the persistence-lock folder: ", code);
        return false;
    }
    const int fd = ::open(lockFile.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    if (fd < 0) {
        detail::setPosixError(error, "Could not open the persistence lock: ", errno);
        return false;
    }
    // The creation mode applies only to a new file; an existing lock file may carry any mode.
    if (::fchmod(fd, 0600) != 0) {
        const int saved = errno;
        ::close(fd);
        detail::setPosixError(error, "Could not restrict the persistence lock: ", saved);
        return false;
    }
    int locked = -1;
    do {
        locked = ::flock(fd, LOCK_EX);
    } while (locked != 0 && errno == EINTR);
    if (locked != 0) {
        const int saved = errno;
        ::close(fd);
        detail::setPosixError(error, "Could not acquire the persistence lock: ", saved);
        return false;
    }

    // Unlocks and closes on every exit, also when building an error sentence throws.
    struct HeldLock {
        int fd;
        bool released = false;
        bool release() noexcept {
            released = true;
            const bool unlocked = ::flock(fd, LOCK_UN) == 0;
            const bool closed = ::close(fd) == 0;
            return unlocked && closed;
        }
        ~HeldLock() {
            if (!released) {
                release();
            }
        }
    } held{fd};

    bool result = false;
    try {
        result = operation();
    } catch (const std::exception& failure) {
        detail::setError(error, std::string("The locked persistence operation failed: ") + failure.what());
        result = false;
    } catch (...) {
        detail::setError(error, "The locked persistence operation failed unexpectedly");
        result = false;
    }

    if (!held.release() && result) {
        detail::setError(error,
                         "The persistence operation completed, but its lock could not be released cleanly");
        return false;
    }
    return result;
}

} // namespace np
