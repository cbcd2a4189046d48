#include "plugin/app_data_folder.h"

#include "engine/io/atomic_file.h"

#include <cstdlib>
#include <pwd.h>
#include <unistd.h>
#include <vector>

namespace cv {

namespace {

constexpr const char* kNoFolderSentence = "Corvalinth can't find its application data folder.";
constexpr const char* kInaccessibleSentence = "Corvalinth can't access its application data folder.";

void setError(std::string* error, const char* sentence) {
    if (error != nullptr) {
        *error = sentence;
    }
}

std::optional<std::string> environmentValue(const char* name) {
    const char* value = std::getenv(name);
    if (value == nullptr) {
        return std::nullopt;
    }
    return std::string(value);
}

// The home folder of the account record, looked up with the reentrant call so that other threads'
// lookups cannot overwrite the record while it is read.
std::optional<std::string> accountHomeFolder() {
    long suggested = ::sysconf(_SC_GETPW_R_SIZE_MAX);
    std::vector<char> scratch(suggested > 0 ? static_cast<std::size_t>(suggested) : 16384);
    passwd record{};
    passwd* found = nullptr;
    if (::getpwuid_r(::getuid(), &record, scratch.data(), scratch.size(), &found) != 0 || found == nullptr ||
        found->pw_dir == nullptr) {
        return std::nullopt;
    }
    return std::string(found->pw_dir);
}

} // namespace

namespace detail {

std::filesystem::path appDataDirFrom(const AppDataSources& sources, std::string* error) {
#if !defined(__APPLE__)
    // A relative XDG_DATA_HOME is to be ignored, as desktops do, not treated as an error.
    if (sources.xdgDataHome && !sources.xdgDataHome->empty() &&
        std::filesystem::path(*sources.xdgDataHome).is_absolute()) {
        setError(error, "");
        return std::filesystem::path(*sources.xdgDataHome) / "Corvalinth";
    }
#endif
    std::optional<std::string> home = sources.homeVariable;
    if (!home || home->empty()) {
        home = sources.accountHome;
    }
    if (!home || home->empty()) {
        setError(error, kNoFolderSentence);
        return {};
    }
    if (!std::filesystem::path(*home).is_absolute()) {
        setError(error, kInaccessibleSentence);
        return {};
    }
    setError(error, "");
#if defined(__APPLE__)
    return std::filesystem::path(*home) / "Library" / "Application Support" / "Corvalinth";
#else
    return std::filesystem::path(*home) / ".local" / "share" / "Corvalinth";
#endif
}

} // namespace detail

std::filesystem::path appDataDir(std::string* error) {
    detail::AppDataSources sources;
    sources.homeVariable = environmentValue("HOME");
    sources.xdgDataHome = environmentValue("XDG_DATA_HOME");
    if (!sources.homeVariable || sources.homeVariable->empty()) {
        sources.accountHome = accountHomeFolder();
    }
    std::filesystem::path folder = detail::appDataDirFrom(sources, error);
    if (folder.empty()) {
        return {};
    }
    // The creator's own sentence speaks of the storage layer; the user is told about the folder.
    if (!np::ensurePrivateDirectory(folder, nullptr)) {
        setError(error, kInaccessibleSentence);
        return {};
    }
    setError(error, "");
    return folder;
}

} // namespace cv
