#include "host/cli_files.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace cv::cli {
namespace {

const char* kindOf(mode_t mode) {
    if (S_ISDIR(mode))
        return "a folder";
    if (S_ISFIFO(mode))
        return "a named pipe";
    if (S_ISSOCK(mode))
        return "a socket";
    if (S_ISCHR(mode) || S_ISBLK(mode))
        return "a device";
    return "not a regular file";
}

} // namespace

FileDescriptor::~FileDescriptor() {
    if (fd_ >= 0)
        ::close(fd_);
}

int openRegularFile(const std::string& path, const std::string& described, const char* wanted,
                    std::string& error) {
    FileDescriptor fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK));
    struct stat status {};
    if (fd.get() < 0 || ::fstat(fd.get(), &status) != 0) {
        error = "Could not read " + described + ": " + std::strerror(errno) + ".";
        return -1;
    }
    if (!S_ISREG(status.st_mode)) {
        error = path + " is " + kindOf(status.st_mode) + ", not " + wanted + ".";
        return -1;
    }
    return fd.release();
}

} // namespace cv::cli
