#include "host/cli_report.h"

#include "engine/model/key_scale.h"

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
    std::string out = file + ": " + std::to_string(result.notes.size()) + " notes (" +
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
    for (const char c : s) {
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
            if (static_cast<unsigned char>(c) < 0x20) {
                char escaped[8];
                std::snprintf(escaped, sizeof escaped, "\\u%04x",
                              static_cast<unsigned>(static_cast<unsigned char>(c)));
                out += escaped;
            } else {
                out += c;
            }
        }
    }
    return out;
}

std::string formatReport(const std::string& file, Algorithm algorithm, const np::AnalysisResult& result,
                         OutputFormat format) {
    return format == OutputFormat::Json ? jsonReport(file, algorithm, result)
                                        : textReport(file, algorithm, result);
}

} // namespace cv::cli
