#pragma once

// The command line's checks of the files it is given: an input is opened only when it is a regular file,
// so a named pipe, a device or a folder is refused at once instead of being waited on or read without
// end.

#include <string>
#include <utility>

namespace cv::cli {

// Closes the descriptor on every exit.
class FileDescriptor {
public:
    explicit FileDescriptor(int fd) noexcept : fd_(fd) {}
    FileDescriptor(const FileDescriptor&) = delete;
    FileDescriptor& operator=(const FileDescriptor&) = delete;
    ~FileDescriptor();
    int get() const noexcept { return fd_; }
    int release() noexcept { return std::exchange(fd_, -1); }

private:
    int fd_;
};

// Opens path for reading without blocking (a named pipe with no writer would otherwise hold the program
// forever) and refuses it unless it is a regular file. Returns the descriptor, or -1 with one sentence in
// error: "Could not read <described>: <reason>." or "<path> is a folder, not <wanted>." (wanted: "an
// audio file").
int openRegularFile(const std::string& path, const std::string& described, const char* wanted,
                    std::string& error);

} // namespace cv::cli
