#pragma once

#include <cstring>
#include <string>
#include <system_error>

// Error-sentence helpers shared by the storage layer's source files.
namespace np::detail {

// Replaces *error with sentence when error is not null.
inline void setError(std::string* error, const std::string& sentence) {
    if (error != nullptr) {
        *error = sentence;
    }
}

// The C library's text for an error number.
inline std::string systemErrorMessage(int errorNumber) {
    return std::strerror(errorNumber);
}

// "<prefix><text of the POSIX errno>" for the calls that report through errno.
inline void setPosixError(std::string* error, const char* prefix, int errorNumber) {
    if (error != nullptr) {
        *error = std::string(prefix) + systemErrorMessage(errorNumber);
    }
}

// "<prefix><message of the error code>" for the std::filesystem queries.
inline void setCodeError(std::string* error, const char* prefix, const std::error_code& code) {
    if (error != nullptr) {
        *error = std::string(prefix) + code.message();
    }
}

} // namespace np::detail
