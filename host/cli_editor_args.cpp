#include "host/cli_editor_args.h"

#include "host/cli_args.h"
#include "host/cli_names.h"

namespace cv::cli {
namespace {

ParsedEditorArgs refuse(std::string error) {
    return ParsedEditorArgs{std::nullopt, std::move(error)};
}

} // namespace

bool isEditorCommand(const std::vector<std::string>& args) {
    return !args.empty() && (args[0] == "open" || args[0] == "screenshot");
}

ParsedEditorArgs parseEditorArgs(const std::vector<std::string>& args) {
    if (!isEditorCommand(args))
        return refuse(args.empty() ? "no command given" : "unknown command " + quotedName(args[0]));
    EditorCommand command;
    command.kind = args[0] == "open" ? EditorCommand::Kind::Open : EditorCommand::Kind::Screenshot;
    std::vector<std::string> files;
    for (std::size_t i = 1; i < args.size(); ++i) {
        const std::string& arg = args[i];
        if (arg == "--scale" && command.kind == EditorCommand::Kind::Screenshot) {
            if (i + 1 >= args.size())
                return refuse("--scale needs a value from 0.7 to 1.5");
            std::optional<double> scale;
            std::string error;
            if (!parseNumber(arg, args[++i], 0.7, 1.5, "", scale, error))
                return refuse(error);
            command.scale = *scale;
        } else if (arg.size() > 1 && arg[0] == '-') {
            return refuse("unknown option " + quotedName(arg));
        } else {
            files.push_back(arg);
        }
    }
    const std::size_t wanted = command.kind == EditorCommand::Kind::Open ? 1 : 2;
    if (files.size() < wanted)
        return refuse(command.kind == EditorCommand::Kind::Open
                          ? "no audio file given"
                          : "give an audio file and the PNG file to write");
    if (files.size() > wanted)
        return refuse("too many files: " + quotedName(files[wanted]));
    command.file = files[0];
    if (wanted == 2)
        command.out = files[1];
    return ParsedEditorArgs{command, {}};
}

} // namespace cv::cli
