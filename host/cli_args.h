#pragma once

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

struct ParsedArgs {
    std::optional<AnalyseCommand> command; // empty when the arguments were refused
    std::string error;                     // one line for the user when refused
};

// Parses the arguments after the program name.
ParsedArgs parseArgs(const std::vector<std::string>& args);

inline constexpr const char* kUsage =
    "usage: corvalinth analyse FILE [--algorithm melodic|percussive] [--json]";

} // namespace cv::cli
