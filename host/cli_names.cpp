#include "host/cli_names.h"

#include <cstdio>

namespace cv::cli {

std::size_t detail::utf8SequenceLength(std::string_view text, std::size_t i) {
    const auto byte = [text](std::size_t k) { return static_cast<unsigned char>(text[k]); };
    const unsigned char lead = byte(i);
    const std::size_t length = lead >= 0xF0 ? 4 : lead >= 0xE0 ? 3 : lead >= 0xC0 ? 2 : 0;
    if (length == 0 || lead < 0xC2 || lead > 0xF4 || i + length > text.size())
        return 0;
    // The second byte's range excludes the overlong forms, the surrogates and values above U+10FFFF.
    const unsigned char low = lead == 0xE0 ? 0xA0 : lead == 0xF0 ? 0x90 : 0x80;
    const unsigned char high = lead == 0xED ? 0x9F : lead == 0xF4 ? 0x8F : 0xBF;
    if (byte(i + 1) < low || byte(i + 1) > high)
        return 0;
    for (std::size_t k = 2; k < length; ++k)
        if ((byte(i + k) & 0xC0) != 0x80)
            return 0;
    return length;
}

std::string printableName(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    const auto escape = [&out](unsigned char byte) {
        char escaped[5];
        std::snprintf(escaped, sizeof escaped, "\\x%02X", static_cast<unsigned>(byte));
        out += escaped;
    };
    for (std::size_t i = 0; i < text.size();) {
        const auto c = static_cast<unsigned char>(text[i]);
        const std::size_t length = c >= 0x80 ? detail::utf8SequenceLength(text, i) : 1;
        // U+0080..U+009F (C2 80..C2 9F) are the C1 controls, which a terminal may obey as ESC sequences.
        const bool control = c < 0x20 || c == 0x7F ||
                             (length == 2 && c == 0xC2 && static_cast<unsigned char>(text[i + 1]) < 0xA0);
        if (length == 0) {
            escape(c);
            ++i;
        } else if (control) {
            for (std::size_t k = 0; k < length; ++k)
                escape(static_cast<unsigned char>(text[i + k]));
            i += length;
        } else {
            out.append(text, i, length);
            i += length;
        }
    }
    return out;
}

std::string quotedName(std::string_view text) {
    return "\"" + printableName(text) + "\"";
}

std::string inputName(const std::string& path) {
    return path == "-" ? std::string("standard input") : printableName(path);
}

} // namespace cv::cli
