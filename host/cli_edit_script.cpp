#include "host/cli_edit_script.h"

#include "engine/io/atomic_file.h"
#include "host/cli_args.h"
#include "host/cli_files.h"
#include "host/cli_names.h"

#include <cerrno>
#include <cstdlib>
#include <limits>
#include <optional>
#include <sstream>
#include <sys/stat.h>

namespace cv::cli {
namespace {

struct StepRule {
    const char* name;
    EditStep::Kind kind;
    enum class Targets { None, One, Many } targets;
    enum class Value { None, Required, Optional } value;
    double low, high, fallback;
    const char* unit;
};

constexpr StepRule kSteps[] = {
    {"transpose", EditStep::Kind::Transpose, StepRule::Targets::Many, StepRule::Value::Required, -24, 24, 0,
     "semitones"},
    {"formant", EditStep::Kind::Formant, StepRule::Targets::Many, StepRule::Value::Required, -12, 12, 0,
     "semitones"},
    {"gain", EditStep::Kind::Gain, StepRule::Targets::Many, StepRule::Value::Required, -60, 24, 0, "dB"},
    {"move", EditStep::Kind::Move, StepRule::Targets::Many, StepRule::Value::Required, -1200, 1200, 0,
     "seconds"},
    {"stretch", EditStep::Kind::Stretch, StepRule::Targets::Many, StepRule::Value::Required, 0.125, 8, 1, ""},
    {"mute", EditStep::Kind::Mute, StepRule::Targets::Many, StepRule::Value::None, 0, 0, 0, ""},
    {"correct", EditStep::Kind::Correct, StepRule::Targets::Many, StepRule::Value::Optional, 0, 1, 1, ""},
    {"quantize", EditStep::Kind::Quantize, StepRule::Targets::Many, StepRule::Value::Optional, 0, 1, 1, ""},
    {"unison", EditStep::Kind::Unison, StepRule::Targets::Many, StepRule::Value::None, 0, 0, 0, ""},
    {"split", EditStep::Kind::Split, StepRule::Targets::One, StepRule::Value::Required, 0, 1200, 0,
     "seconds"},
    {"merge", EditStep::Kind::Merge, StepRule::Targets::Many, StepRule::Value::None, 0, 0, 0, ""},
    {"undo", EditStep::Kind::Undo, StepRule::Targets::None, StepRule::Value::None, 0, 0, 0, ""},
    {"redo", EditStep::Kind::Redo, StepRule::Targets::None, StepRule::Value::None, 0, 0, 0, ""},
};

const StepRule* findStep(const std::string& name) {
    for (const StepRule& rule : kSteps)
        if (name == rule.name)
            return &rule;
    return nullptr;
}

const StepRule& ruleOf(EditStep::Kind kind) {
    for (const StepRule& rule : kSteps)
        if (rule.kind == kind)
            return rule;
    return kSteps[0];
}

// `all`, or ids from 1 separated by commas.
bool parseTargets(const std::string& word, bool single, EditStep& step, std::string& error) {
    if (word == "all" && !single) {
        step.allNotes = true;
        return true;
    }
    std::size_t at = 0;
    while (at <= word.size()) {
        const std::size_t comma = std::min(word.find(',', at), word.size());
        const std::string id = word.substr(at, comma - at);
        char* end = nullptr;
        errno = 0;
        const unsigned long long n = std::strtoull(id.c_str(), &end, 10);
        if (id.empty() || id[0] < '0' || id[0] > '9' || end != id.c_str() + id.size() || errno == ERANGE ||
            n < 1 || n > std::numeric_limits<std::uint32_t>::max()) {
            error = single ? "needs one note id from 1, not " + quotedWord(word)
                           : "needs `all` or note ids from 1 separated by commas, not " + quotedWord(word);
            return false;
        }
        step.ids.push_back(static_cast<std::uint32_t>(n));
        at = comma + 1;
    }
    if (single && step.ids.size() != 1) {
        error = "needs one note id from 1, not " + quotedWord(word);
        return false;
    }
    return true;
}

bool parseLine(const std::vector<std::string>& words, EditStep& step, std::string& error) {
    const StepRule* rule = findStep(words[0]);
    if (rule == nullptr) {
        error = "unknown edit " + quotedWord(words[0]) +
                ": use transpose, formant, gain, move, stretch, mute, correct, quantize, unison, split, "
                "merge, undo or redo";
        return false;
    }
    step.kind = rule->kind;
    step.value = rule->fallback;
    std::size_t next = 1;
    if (rule->targets != StepRule::Targets::None) {
        if (words.size() < 2) {
            error = words[0] + (rule->targets == StepRule::Targets::One ? " needs a note id"
                                                                        : " needs `all` or note ids");
            return false;
        }
        if (!parseTargets(words[1], rule->targets == StepRule::Targets::One, step, error)) {
            error = words[0] + " " + error;
            return false;
        }
        next = 2;
    }
    if (rule->value != StepRule::Value::None && next < words.size()) {
        std::optional<double> value;
        if (!parseNumber(words[0], words[next], rule->low, rule->high, rule->unit, value, error))
            return false;
        step.value = *value;
        ++next;
    } else if (rule->value == StepRule::Value::Required) {
        error = words[0] + " needs a number after the notes";
        return false;
    }
    if (next < words.size()) {
        error = "unexpected " + quotedWord(words[next]) + " after " + words[0];
        return false;
    }
    return true;
}

} // namespace

bool readEditScript(const std::string& path, std::string& text, std::string& error) {
    // The kind of file and its size are refused in the script's own sentences; the storage layer's
    // bounded read then takes the bytes, refusing a file swapped or grown since it was measured.
    const FileDescriptor fd(openRegularFile(path, "the edit script " + path, "an edit script", error));
    if (fd.get() < 0)
        return false;
    struct stat status {};
    if (::fstat(fd.get(), &status) == 0 && static_cast<std::uint64_t>(status.st_size) > kEditScriptMaxBytes) {
        error = "The edit script " + printableName(path) + " holds " + std::to_string(status.st_size) +
                " bytes; edit scripts of at most " + std::to_string(kEditScriptMaxBytes) +
                " bytes can be read.";
        return false;
    }
    std::vector<std::uint8_t> bytes;
    std::string reason;
    if (!np::readFileBounded(path, kEditScriptMaxBytes, bytes, &reason)) {
        error = "Could not read the edit script " + printableName(path) + ": " + printableName(reason) + ".";
        return false;
    }
    text.assign(bytes.begin(), bytes.end());
    return true;
}

bool parseEditScript(const std::string& text, std::vector<EditStep>& steps, std::string& error) {
    // Some editors start UTF-8 text with a byte-order mark; it belongs to no line.
    constexpr std::string_view kByteOrderMark = "\xEF\xBB\xBF";
    std::istringstream lines(text.starts_with(kByteOrderMark) ? text.substr(kByteOrderMark.size()) : text);
    std::string line;
    for (int number = 1; std::getline(lines, line); ++number) {
        // A # anywhere starts a comment that runs to the end of the line.
        std::istringstream split(line.substr(0, line.find('#')));
        std::vector<std::string> words;
        for (std::string word; split >> word;)
            words.push_back(word);
        if (words.empty())
            continue;
        EditStep step;
        step.line = number;
        if (!parseLine(words, step, error)) {
            error = "edit script line " + std::to_string(number) + ": " + error;
            return false;
        }
        steps.push_back(std::move(step));
    }
    return true;
}

std::string describeEditStep(const EditStep& step) {
    const StepRule& rule = ruleOf(step.kind);
    std::string text = rule.name;
    if (rule.targets != StepRule::Targets::None) {
        std::string ids;
        for (const std::uint32_t id : step.ids)
            ids += (ids.empty() ? "" : ",") + std::to_string(id);
        text += " " + (step.allNotes ? std::string("all") : ids);
    }
    if (rule.value != StepRule::Value::None)
        text += " " + numberWord(step.value); // reads back as the same number
    return text;
}

} // namespace cv::cli
