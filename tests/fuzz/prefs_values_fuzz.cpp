// The preferences file's reader on arbitrary bytes, without touching any file: it never crashes, every
// entry it reads is one the file's rules allow, and the text written for what it read reads back as the
// same entries, so a save that merges another instance's file keeps that file's entries.

#include "plugin/prefs.h"

#include <cstdint>
#include <cstdlib>
#include <map>
#include <span>
#include <string>

namespace {

void check(bool condition) {
    if (!condition)
        std::abort();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::map<std::string, std::string> values;
    cv::Prefs::parseValues(std::span<const std::uint8_t>(data, size), values);
    for (const auto& [key, value] : values) {
        // A key ends at the first "=", and neither a key nor a value spans a line; a comment is no entry.
        check(key.find_first_of("=\n") == std::string::npos && !key.starts_with('#'));
        check(value.find('\n') == std::string::npos);
    }
    const std::string text = cv::Prefs::serializeValues(values);
    std::map<std::string, std::string> again;
    cv::Prefs::parseValues(std::span(reinterpret_cast<const std::uint8_t*>(text.data()), text.size()), again);
    // A value that itself ends in a carriage return (a line ending in CR CR LF) reads back without it,
    // as the line ending CR LF is read as LF; every other entry comes back as it was.
    check(again.size() == values.size());
    for (const auto& [key, value] : values) {
        const auto found = again.find(key);
        check(found != again.end());
        check(found->second == (value.ends_with('\r') ? value.substr(0, value.size() - 1) : value));
    }
    return 0;
}
