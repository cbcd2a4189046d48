#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace cv::cli {

enum class Algorithm { Melodic, Percussive };
enum class OutputFormat { Text, Json };

// What `corvalinth analyse FILE [--algorithm melodic|percussive] [--json]` asks for.
struct AnalyseCommand {
    std::string file;
    Algorithm algorithm = Algorithm::Melodic;
    OutputFormat format = OutputFormat::Text;
};

// The engine override of `render --engine`.
enum class EngineChoice { Automatic, Psola, Stretch, Vocoder };

// What `corvalinth render IN OUT.wav [options]` asks for: the analysis of IN as `analyse` makes it,
// the edits applied through the edit session to the listed notes (all when notes is empty), in the
// order correct, transpose, formant, gain, stretch.
struct RenderCommand {
    std::string input;
    std::string output;
    Algorithm algorithm = Algorithm::Melodic;
    OutputFormat format = OutputFormat::Text;
    std::vector<std::uint32_t> notes; // note ids as `analyse` prints them; empty: every note
    std::optional<double> transpose;  // semitones, -24..24
    std::optional<double> formant;    // semitones, -12..12
    std::optional<double> gain;       // dB, -60..24
    std::optional<double> stretch;    // timeline length ratio, 0.125..8
    std::optional<double> correct;    // pitch correction amount, 0..1
    EngineChoice engine = EngineChoice::Automatic;
};

struct ParsedArgs {
    std::optional<AnalyseCommand> command; // the analyse command; empty otherwise
    std::optional<RenderCommand> render;   // the render command; empty otherwise
    std::string error;                     // one line for the user when both are empty
};

// Parses the arguments after the program name.
ParsedArgs parseArgs(const std::vector<std::string>& args);

inline constexpr const char* kUsage =
    "usage: corvalinth analyse FILE [--algorithm melodic|percussive] [--json]\n"
    "       corvalinth render IN OUT.wav [--notes ID,ID...] [--transpose SEMITONES] [--formant SEMITONES]\n"
    "                         [--gain DB] [--stretch RATIO] [--correct AMOUNT]\n"
    "                         [--engine auto|psola|stretch|vocoder] [--algorithm melodic|percussive] "
    "[--json]";

} // namespace cv::cli
