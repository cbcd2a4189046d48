#include "host/cli_args.h"

namespace cv::cli {
namespace {

ParsedArgs refuse(std::string error) {
    return ParsedArgs{std::nullopt, std::move(error)};
}

} // namespace

ParsedArgs parseArgs(const std::vector<std::string>& args) {
    if (args.empty())
        return refuse("no command given");
    if (args[0] != "analyse" && args[0] != "analyze")
        return refuse("unknown command \"" + args[0] + "\"");
    AnalyseCommand command;
    bool haveFile = false;
    for (std::size_t i = 1; i < args.size(); ++i) {
        const std::string& arg = args[i];
        if (arg == "--json") {
            command.format = OutputFormat::Json;
        } else if (arg == "--algorithm" || arg.rfind("--algorithm=", 0) == 0) {
            std::string value;
            if (arg == "--algorithm") {
                if (i + 1 >= args.size())
                    return refuse("--algorithm needs a value: melodic or percussive");
                value = args[++i];
            } else {
                value = arg.substr(std::string("--algorithm=").size());
            }
            if (value == "melodic")
                command.algorithm = Algorithm::Melodic;
            else if (value == "percussive")
                command.algorithm = Algorithm::Percussive;
            else
                return refuse("unknown algorithm \"" + value + "\": use melodic or percussive");
        } else if (arg.size() > 1 && arg[0] == '-' && arg != "-") {
            return refuse("unknown option \"" + arg + "\"");
        } else if (haveFile) {
            return refuse("only one file can be analysed at a time");
        } else {
            command.file = arg;
            haveFile = true;
        }
    }
    if (!haveFile)
        return refuse("no audio file given");
    return ParsedArgs{command, {}};
}

} // namespace cv::cli
