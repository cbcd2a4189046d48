#pragma once

// The command line's checks of the files it is given: an input is opened only when it is a regular file,
// so a named pipe, a device or a folder is refused at once instead of being waited on or read without
// end; an output is refused before any work when it is one of the inputs or could not be replaced.

#include "host/cli_names.h" // the names every sentence about a file gives it

#include <string>
#include <utility>
#include <vector>

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
// audio file"), described and path written by printableName.
int openRegularFile(const std::string& path, const std::string& described, const char* wanted,
                    std::string& error);

// The input among inputs that path names the same file as (the same device and inode, whichever path,
// link or hard link leads to it; "-" stands for standard input), or null when none is or path names no
// file.
const std::string* sameFileAsInput(const std::string& path, const std::vector<std::string>& inputs);

// Refuses, before any work is done, the output "-" (it would not be standard output but a file of that
// name), an output that is one of the inputs (the same file, also through a link, a hard link or another
// path; "-" stands for standard input) and an output the atomic replacement would refuse
// (np::checkReplaceableDestination: no regular file, read-only, a name with no room for the temporary's
// suffix). False with one sentence naming the output (printableName) in error.
bool checkOutputFile(const std::string& output, const std::vector<std::string>& inputs, std::string& error);

} // namespace cv::cli
