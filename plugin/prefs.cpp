#include "plugin/prefs.h"

#include "engine/io/atomic_file.h"
#include "plugin/app_data_folder.h"

#include <cctype>
#include <charconv>
#include <limits>
#include <optional>
#include <vector>

namespace cv {

namespace {

constexpr const char* kFileName = "prefs.ini";
constexpr const char* kRefusedSentence = "Couldn't save that preference.";
constexpr const char* kInaccessibleSentence = "Corvalinth can't access its preferences file.";

bool hasLineBreak(const std::string& text) {
    return text.find_first_of("\r\n") != std::string::npos;
}

bool acceptableEntry(const std::string& key, const std::string& value) {
    return !key.empty() && key.front() != '#' && key.find('=') == std::string::npos && !hasLineBreak(key) &&
           !hasLineBreak(value);
}

// Strict base-10 int: optional leading white space, one optional sign, digits, nothing else.
std::optional<int> parseStrictInt(const std::string& text) {
    std::size_t at = 0;
    while (at < text.size() && std::isspace(static_cast<unsigned char>(text[at])) != 0) {
        ++at;
    }
    // from_chars takes a minus but not a plus; a plus is skipped here and must be followed by a digit.
    if (at < text.size() && text[at] == '+') {
        ++at;
        if (at == text.size() || text[at] == '-') {
            return std::nullopt;
        }
    }
    long long parsed = 0;
    const char* end = text.data() + text.size();
    const auto [stop, code] = std::from_chars(text.data() + at, end, parsed, 10);
    if (code != std::errc() || stop != end || parsed < std::numeric_limits<int>::min() ||
        parsed > std::numeric_limits<int>::max()) {
        return std::nullopt;
    }
    return static_cast<int>(parsed);
}

} // namespace

Prefs& Prefs::shared() {
    static Prefs store;
    return store;
}

Prefs::Prefs() {
    const std::lock_guard<std::mutex> lock(mutex_);
    std::string error;
    const std::filesystem::path folder = appDataDir(&error);
    if (folder.empty()) {
        lastError_ = error;
        return;
    }
    initialize(folder);
}

Prefs::Prefs(const std::filesystem::path& folder) {
    const std::lock_guard<std::mutex> lock(mutex_);
    if (folder.empty()) {
        lastError_ = kInaccessibleSentence;
        return;
    }
    initialize(folder);
}

void Prefs::initialize(const std::filesystem::path& folder) {
    path_ = folder / kFileName;
    std::error_code code;
    const bool exists = std::filesystem::exists(path_, code);
    if (code) {
        lastError_ = kInaccessibleSentence;
        path_.clear();
        return;
    }
    if (!exists) {
        return;
    }
    std::vector<std::uint8_t> bytes;
    if (np::readFileBounded(path_, kPrefsMaxFileBytes, bytes, &lastError_)) {
        parseValues(bytes, values_);
    }
}

int Prefs::getInt(const std::string& key, int fallback) const {
    const std::lock_guard<std::mutex> lock(mutex_);
    const auto found = values_.find(key);
    if (found == values_.end()) {
        return fallback;
    }
    return parseStrictInt(found->second).value_or(fallback);
}

bool Prefs::set(const std::string& key, const std::string& value) {
    const std::lock_guard<std::mutex> lock(mutex_);
    if (!acceptableEntry(key, value)) {
        lastError_ = kRefusedSentence;
        return false;
    }
    std::optional<std::string> previous;
    if (const auto found = values_.find(key); found != values_.end()) {
        previous = found->second;
    }
    values_[key] = value;
    bool saved = false;
    try {
        saved = saveKey(key, value);
    } catch (...) {
        lastError_ = kRefusedSentence;
    }
    if (!saved) {
        if (previous) {
            values_[key] = *previous;
        } else {
            values_.erase(key);
        }
    }
    return saved;
}

std::string Prefs::lastError() const {
    const std::lock_guard<std::mutex> lock(mutex_);
    return lastError_;
}

bool Prefs::saveKey(const std::string& key, const std::string& value) {
    if (path_.empty()) {
        return false;
    }
    std::filesystem::path lockFile = path_;
    lockFile += ".lock";
    const auto merge = [&] {
        std::error_code code;
        const bool exists = std::filesystem::exists(path_, code);
        if (code) {
            lastError_ = kInaccessibleSentence;
            return false;
        }
        // The file, not this store's copy, is the base: other instances' changes since this store was
        // loaded are kept.
        std::map<std::string, std::string> merged;
        if (exists) {
            std::vector<std::uint8_t> bytes;
            if (!np::readFileBounded(path_, kPrefsMaxFileBytes, bytes, &lastError_)) {
                return false;
            }
            parseValues(bytes, merged);
        }
        merged[key] = value;
        const std::string text = serializeValues(merged);
        // A file the reader would refuse would lose every preference at the next start and block every
        // later save, so the file stays as it is.
        if (text.size() > kPrefsMaxFileBytes) {
            lastError_ = "Couldn't save that preference: " + path_.string() + " would pass the " +
                         std::to_string(kPrefsMaxFileBytes) + "-byte limit of the preferences file.";
            return false;
        }
        return np::writeFileAtomically(
            path_, {reinterpret_cast<const std::uint8_t*>(text.data()), text.size()}, &lastError_, true);
    };
    if (!np::withExclusiveFileLock(lockFile, merge, &lastError_)) {
        return false;
    }
    lastError_.clear();
    return true;
}

void Prefs::parseValues(std::span<const std::uint8_t> bytes, std::map<std::string, std::string>& values) {
    const std::string_view text(reinterpret_cast<const char*>(bytes.data()), bytes.size());
    std::size_t start = 0;
    while (start < text.size()) {
        std::size_t end = text.find('\n', start);
        if (end == std::string_view::npos) {
            end = text.size();
        }
        std::string_view line = text.substr(start, end - start);
        start = end + 1;
        // A file edited on a system that ends lines with CR LF reads as one with LF alone.
        if (line.ends_with('\r')) {
            line.remove_suffix(1);
        }
        const std::size_t equals = line.find('=');
        if (line.empty() || line.front() == '#' || equals == std::string_view::npos) {
            continue;
        }
        values[std::string(line.substr(0, equals))] = std::string(line.substr(equals + 1));
    }
}

std::string Prefs::serializeValues(const std::map<std::string, std::string>& values) {
    std::string text;
    for (const auto& [key, value] : values) {
        text += key;
        text += '=';
        text += value;
        text += '\n';
    }
    return text;
}

} // namespace cv
