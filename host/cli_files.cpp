#include "host/cli_files.h"

#include "engine/io/atomic_file.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
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

// The file an input names, with its links followed; false when there is none.
bool statusOfInput(const std::string& input, struct stat& status) {
    return input == "-" ? ::fstat(STDIN_FILENO, &status) == 0 : ::stat(input.c_str(), &status) == 0;
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
        error = "Could not read " + printableName(described) + ": " + std::strerror(errno) + ".";
        return -1;
    }
    if (!S_ISREG(status.st_mode)) {
        error = printableName(path) + " is " + kindOf(status.st_mode) + ", not " + wanted + ".";
        return -1;
    }
    return fd.release();
}

const std::string* sameFileAsInput(const std::string& path, const std::vector<std::string>& inputs) {
    // The same device and inode is the same file whichever path, link or hard link leads to it.
    struct stat out {};
    if (::stat(path.c_str(), &out) != 0)
        return nullptr;
    for (const std::string& input : inputs) {
        struct stat in {};
        if (statusOfInput(input, in) && in.st_dev == out.st_dev && in.st_ino == out.st_ino)
            return &input;
    }
    return nullptr;
}

bool checkOutputFile(const std::string& output, const std::vector<std::string>& inputs, std::string& error) {
    // "-" reads standard input, so as an output it would look like standard output; the commands write
    // only files.
    if (output == "-") {
        error = "The output cannot be \"-\": the result is written to a file, not to standard output; name "
                "the file to write.";
        return false;
    }
    // Writing the result over an input would replace the file the work still reads.
    if (const std::string* input = sameFileAsInput(output, inputs)) {
        error = "The output " + printableName(output) + " is the same file as " +
                (*input == "-" ? "standard input" : "the input " + printableName(*input)) +
                "; choose another output file.";
        return false;
    }
    std::string sentence;
    if (!np::checkReplaceableDestination(std::filesystem::path(output), &sentence)) {
        error = "Could not write " + printableName(output) + ": " + printableName(sentence);
        return false;
    }
    return true;
}

} // namespace cv::cli
