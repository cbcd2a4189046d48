// Whole-file reads with a size bound checked before any memory is taken.

#include "engine/io/atomic_file.h"
#include "engine/io/storage_errors.h"

#include <algorithm>
#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace np {

namespace {

constexpr std::size_t kReadPieceBytes = 1048576;

bool cancelled(const std::function<bool()>& keepGoing) {
    return keepGoing && !keepGoing();
}

// Closes the descriptor on every exit.
class ScopedDescriptor {
public:
    explicit ScopedDescriptor(int fd) noexcept : fd_(fd) {}
    ScopedDescriptor(const ScopedDescriptor&) = delete;
    ScopedDescriptor& operator=(const ScopedDescriptor&) = delete;
    ~ScopedDescriptor() {
        if (fd_ >= 0) {
            ::close(fd_);
        }
    }
    int get() const noexcept { return fd_; }

private:
    int fd_;
};

// Reads up to count bytes, retrying interrupted and partial reads; returns the bytes delivered, or -1
// on an error.
long long readFully(int fd, std::uint8_t* out, std::size_t count) {
    std::size_t done = 0;
    while (done < count) {
        const ssize_t got = ::read(fd, out + done, count - done);
        if (got < 0) {
            if (errno == EINTR) {
                continue;
            }
            return -1;
        }
        if (got == 0) {
            break;
        }
        done += static_cast<std::size_t>(got);
    }
    return static_cast<long long>(done);
}

} // namespace

bool readFileBounded(const std::filesystem::path& path, std::uint64_t maxBytes,
                     std::vector<std::uint8_t>& output, std::string* error,
                     const std::function<bool()>& keepGoing) {
    output.clear();
    if (cancelled(keepGoing)) {
        detail::setError(error, "File reading was cancelled");
        return false;
    }
    // A first look at the path refuses an oversized file before it is even opened.
    std::error_code code;
    const std::uintmax_t pathSize = std::filesystem::file_size(path, code);
    if (code) {
        detail::setCodeError(error, "Could not inspect the file: ", code);
        return false;
    }
    if (pathSize > maxBytes) {
        detail::setError(error, "The file exceeds the supported size limit");
        return false;
    }
    // Non-blocking, so that a named pipe swapped in after the measurement cannot hold the read forever;
    // it is refused below as no regular file.
    const ScopedDescriptor fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK));
    if (fd.get() < 0) {
        detail::setPosixError(error, "Could not open the file for reading: ", errno);
        return false;
    }
    // The path may have been replaced since it was measured: the size that counts is the one of the
    // file actually opened.
    struct stat opened {};
    if (::fstat(fd.get(), &opened) != 0) {
        detail::setPosixError(error, "Could not inspect the file: ", errno);
        return false;
    }
    if (!S_ISREG(opened.st_mode)) {
        detail::setError(error, "The file to read is not a regular file");
        return false;
    }
    if (opened.st_size < 0 || static_cast<std::uint64_t>(opened.st_size) > maxBytes) {
        detail::setError(error, "The file exceeds the supported size limit");
        return false;
    }
    const auto size = static_cast<std::size_t>(opened.st_size);
    if (cancelled(keepGoing)) {
        detail::setError(error, "File reading was cancelled");
        return false;
    }
    const auto failIncomplete = [&] {
        output.clear();
        detail::setError(error, "The file could not be read completely");
        return false;
    };
    const auto failCancelled = [&] {
        output.clear();
        detail::setError(error, "File reading was cancelled");
        return false;
    };

    output.resize(size);
    std::size_t done = 0;
    while (done < size) {
        if (cancelled(keepGoing)) {
            return failCancelled();
        }
        const std::size_t piece = std::min(size - done, kReadPieceBytes);
        if (readFully(fd.get(), output.data() + done, piece) != static_cast<long long>(piece)) {
            return failIncomplete();
        }
        done += piece;
    }
    if (cancelled(keepGoing)) {
        return failCancelled();
    }
    // The file must end where its size said: a file that grew after it was measured is not read cut short.
    std::uint8_t probe = 0;
    if (readFully(fd.get(), &probe, 1) != 0) {
        return failIncomplete();
    }
    return true;
}

} // namespace np
