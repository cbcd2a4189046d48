#pragma once

// How the command line's messages write the file names and words they echo. A name comes from the
// user or from a file and may hold any byte: written raw, an escape sequence in it (ESC [ 2 J) would
// clear, recolour or rewrite the user's terminal. Any thread.

#include <cstddef>
#include <string>
#include <string_view>

namespace cv::cli {

// text as a message writes it: well-formed UTF-8 kept as it is ("é" stays "é"), and every control byte
// (C0, DEL), every C1 control (U+0080..U+009F, each of its two bytes) and every byte that is not part of
// well-formed UTF-8 written as \xNN (ESC as \x1B). Printable text comes back unchanged, so escaping twice
// is escaping once.
std::string printableName(std::string_view text);

// text in double quotes, written by printableName: a word of the command line in a message.
std::string quotedName(std::string_view text);

// The name a message gives the audio input path: "standard input" for "-", otherwise printableName.
std::string inputName(const std::string& path);

namespace detail {
// The length of the well-formed UTF-8 sequence that starts at text[i], or 0 when none does (a stray
// continuation byte, a cut sequence, an overlong form, a surrogate or a value above U+10FFFF).
std::size_t utf8SequenceLength(std::string_view text, std::size_t i);
} // namespace detail

} // namespace cv::cli
