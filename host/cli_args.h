#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
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

// What `corvalinth host IN OUT.wav [--edit SCRIPT]` asks for: IN run through the plug-in in the
// stand-in host, edited by the script's steps (cli_edit_script.h) and bounced into OUT.
struct HostCommand {
    std::string input;
    std::string output;
    std::optional<std::string> script; // the edit script's path
};

struct ParsedArgs {
    std::optional<AnalyseCommand> command; // the analyse command; empty otherwise
    std::optional<RenderCommand> render;   // the render command; empty otherwise
    std::string error;                     // one line for the user when no command was parsed
    std::optional<HostCommand> host;       // the host command; empty otherwise
};

// Parses the arguments after the program name.
ParsedArgs parseArgs(const std::vector<std::string>& args);

// The one rule by which every option and edit-script step reads its number: value in decimal notation
// (an optional sign, digits with at most one point, an optional exponent: "2", "-2.5", ".5", "1e-310";
// no hexadecimal, "inf" or "nan") within [low, high] (unit names the range's unit, may be empty) into
// out. A value too small for a double is taken as the double it rounds to (a subnormal, or 0), as every
// in-range number is. False with one line naming what and its range in error otherwise.
bool parseNumber(const std::string& what, const std::string& value, double low, double high, const char* unit,
                 std::optional<double>& out, std::string& error);

// value as the shortest decimal that parseNumber reads back as exactly value ("0.1", "1e-310", "-2.5").
std::string numberWord(double value);

// The longest part of a word that an error line echoes.
inline constexpr std::size_t kQuotedWordMaxBytes = 32;

// word in double quotes for an error line: its first kQuotedWordMaxBytes bytes and "..." when it is
// longer, every byte outside printable ASCII written as \xNN, so that a word from a file can neither
// flood the line nor move the terminal's cursor.
std::string quotedWord(std::string_view word);

inline constexpr const char* kUsage =
    "usage: corvalinth analyse FILE [--algorithm melodic|percussive] [--json]\n"
    "       corvalinth render IN OUT.wav [--notes ID,ID...] [--transpose SEMITONES] [--formant SEMITONES]\n"
    "                         [--gain DB] [--stretch RATIO] [--correct AMOUNT]\n"
    "                         [--engine auto|psola|stretch|vocoder] [--algorithm melodic|percussive] "
    "[--json]\n"
    "       corvalinth host IN OUT.wav [--edit SCRIPT]";

} // namespace cv::cli
