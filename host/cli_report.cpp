#include "host/cli_report.h"

#include "engine/model/key_scale.h"
#include "host/cli_names.h"

#include <cmath>
#include <cstdio>

namespace cv::cli {
namespace {

const char* algorithmName(Algorithm algorithm) {
    return algorithm == Algorithm::Percussive ? "percussive" : "melodic";
}

std::string format(const char* pattern, double a) {
    char buffer[64];
    std::snprintf(buffer, sizeof buffer, pattern, a);
    return buffer;
}

std::string noteName(const np::NoteEvent& note) {
    return note.pitched ? np::midiNoteName(static_cast<int>(std::lround(note.pitch))) : "-";
}

constexpr const char* kSeveralVoicesWarning =
    "Corvalinth detected more than one voice. Chords may not edit reliably.";

std::string textReport(const std::string& file, Algorithm algorithm, const np::AnalysisResult& result) {
    std::string out = inputName(file) + ": " + std::to_string(result.notes.size()) + " notes (" +
                      algorithmName(algorithm) + ", " + format("%.0f", result.sampleRate) + " Hz)\n";
    out += "   id   start s  length s   pitch  name  confidence  pitched\n";
    const double rate = result.sampleRate;
    for (std::size_t i = 0; i < result.notes.size(); ++i) {
        const np::NoteEvent& n = result.notes[i];
        char line[160];
        std::snprintf(line, sizeof line, "%5zu %9.3f %9.3f %7.2f  %-4s  %10.2f  %s\n", i + 1,
                      static_cast<double>(n.start) / rate, static_cast<double>(n.end - n.start) / rate,
                      n.pitch, noteName(n).c_str(), static_cast<double>(n.pitchConfidence),
                      n.pitched ? "yes" : "no");
        out += line;
    }
    out += "Several-voices score: " + format("%.2f", static_cast<double>(result.polyphonyScore)) + "\n";
    if (result.polyphonyScore > np::kPolyphonyWarningScore)
        out += std::string(kSeveralVoicesWarning) + "\n";
    return out;
}

std::string jsonReport(const std::string& file, Algorithm algorithm, const np::AnalysisResult& result) {
    const double rate = result.sampleRate;
    std::string out = "{\"file\":\"" + jsonEscape(file) + "\",\"algorithm\":\"" + algorithmName(algorithm) +
                      "\",\"sampleRate\":" + format("%.0f", rate) + ",\"notes\":[";
    for (std::size_t i = 0; i < result.notes.size(); ++i) {
        const np::NoteEvent& n = result.notes[i];
        if (i > 0)
            out += ",";
        out += "{\"id\":" + std::to_string(i + 1) +
               ",\"start\":" + format("%.6f", static_cast<double>(n.start) / rate) +
               ",\"length\":" + format("%.6f", static_cast<double>(n.end - n.start) / rate) +
               ",\"pitch\":" + format("%.4f", n.pitch) + ",\"name\":\"" + noteName(n) +
               "\",\"confidence\":" + format("%.4f", static_cast<double>(n.pitchConfidence)) +
               ",\"pitched\":" + (n.pitched ? "true" : "false") + "}";
    }
    out += "],\"severalVoicesScore\":" + format("%.4f", static_cast<double>(result.polyphonyScore)) + "}\n";
    return out;
}

} // namespace

std::string jsonEscape(const std::string& s) {
    std::string out;
    const auto escapeByte = [&out](unsigned char byte) {
        char escaped[8];
        std::snprintf(escaped, sizeof escaped, "\\u%04x", static_cast<unsigned>(byte));
        out += escaped;
    };
    for (std::size_t i = 0; i < s.size();) {
        const auto c = static_cast<unsigned char>(s[i]);
        if (c >= 0x80) {
            // A valid UTF-8 sequence is copied whole. A byte that starts none (a file name in another
            // encoding) would make the output invalid JSON; it is written as the code point of the same
            // number, which reads a Latin-1 name right.
            const std::size_t length = detail::utf8SequenceLength(s, i);
            if (length == 0) {
                escapeByte(c);
                ++i;
            } else {
                out.append(s, i, length);
                i += length;
            }
            continue;
        }
        switch (c) {
        case '"':
            out += "\\\"";
            break;
        case '\\':
            out += "\\\\";
            break;
        case '\n':
            out += "\\n";
            break;
        case '\r':
            out += "\\r";
            break;
        case '\t':
            out += "\\t";
            break;
        default:
            if (c < 0x20)
                escapeByte(c);
            else
                out += static_cast<char>(c);
        }
        ++i;
    }
    return out;
}

std::string replacedSamplesNotice(const std::string& file, std::int64_t count) {
    const bool one = count == 1;
    return "corvalinth: " + std::to_string(count) + " sample" + (one ? "" : "s") + " of " + inputName(file) +
           (one ? " was" : " were") + " NaN or infinite and " + (one ? "was" : "were") + " read as 0.\n";
}

std::string truncatedFileNotice(const std::string& file, std::int64_t readFrames, std::int64_t declaredFrames,
                                double sampleRate) {
    if (readFrames >= declaredFrames || !(sampleRate > 0.0))
        return {};
    const auto seconds = [sampleRate](std::int64_t frames) {
        return format("%.2f", static_cast<double>(frames) / sampleRate);
    };
    const std::string name = inputName(file);
    const std::string read = seconds(readFrames), declared = seconds(declaredFrames);
    // A few frames short reads the same in hundredths of a second: the frames then say what is missing.
    if (read == declared)
        return "corvalinth: warning: " + name + " is truncated: " + std::to_string(readFrames) + " of the " +
               std::to_string(declaredFrames) + " frames its header declares were read.\n";
    return "corvalinth: warning: " + name + " is truncated: " + read + " s of the " + declared +
           " s its header declares were read.\n";
}

std::string readNotices(const std::string& file, const LoadedAudio& loaded) {
    return (loaded.replacedSamples > 0 ? replacedSamplesNotice(file, loaded.replacedSamples)
                                       : std::string()) +
           truncatedFileNotice(file, loaded.audio.frames, loaded.declaredFrames, loaded.sampleRate);
}

std::string capturedPartNotice(const std::string& file, std::int64_t capturedFrames, std::int64_t trackFrames,
                               double sampleRate) {
    if (capturedFrames >= trackFrames || !(sampleRate > 0.0))
        return {};
    const auto seconds = [sampleRate](std::int64_t frames) {
        return format("%.1f", static_cast<double>(frames) / sampleRate);
    };
    return "corvalinth: warning: only the first " + seconds(capturedFrames) + " s of " + inputName(file) +
           " (" + seconds(trackFrames) +
           " s) were captured, as much as the plug-in's capture holds; the rest is not analysed.\n";
}

std::string formatReport(const std::string& file, Algorithm algorithm, const np::AnalysisResult& result,
                         OutputFormat format) {
    return format == OutputFormat::Json ? jsonReport(file, algorithm, result)
                                        : textReport(file, algorithm, result);
}

} // namespace cv::cli
