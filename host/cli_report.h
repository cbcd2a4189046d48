#pragma once

#include "engine/analysis/analysis_records.h"
#include "host/cli_args.h"
#include "host/cli_audio_file.h"

#include <cstdint>
#include <string>

namespace cv::cli {

// The notes of an analysis as the user reads them: id (from 1, as in the editor), start and length in
// seconds, MIDI pitch with its note name, confidence and whether the note is pitched, then the
// several-voices score (and the plug-in's warning above 0.25). Text is a table; JSON one object.
std::string formatReport(const std::string& file, Algorithm algorithm, const np::AnalysisResult& result,
                         OutputFormat format);

// The line telling that `count` samples of file (or of standard input, "-") were NaN or infinite and
// were read as 0.
std::string replacedSamplesNotice(const std::string& file, std::int64_t count);

// What every command (analyse, render, host, open, screenshot) tells of the file it read before its own
// output: the lines of replacedSamplesNotice and truncatedFileNotice that apply, or empty. The notices
// name the file as inputName does ("standard input" for "-", control bytes escaped).
std::string readNotices(const std::string& file, const LoadedAudio& loaded);

// The line telling that file (or standard input, "-") is truncated: only readFrames of the declaredFrames
// its header declares were read, both in seconds (two decimals) at sampleRate, or in frames where the
// seconds read alike; empty when none is missing.
std::string truncatedFileNotice(const std::string& file, std::int64_t readFrames, std::int64_t declaredFrames,
                                double sampleRate);

// The line telling that only the first capturedFrames of the trackFrames frames of file (or of standard
// input, "-") were captured, with both lengths in seconds at sampleRate, because the plug-in's capture
// holds no more; empty when the whole take was captured.
std::string capturedPartNotice(const std::string& file, std::int64_t capturedFrames, std::int64_t trackFrames,
                               double sampleRate);

// s as the contents of a JSON string (without the quotes). Bytes that are not part of well-formed UTF-8
// are written as the escaped code point of their value (\u0080..\u00ff), so the output is always JSON.
std::string jsonEscape(const std::string& s);

} // namespace cv::cli
