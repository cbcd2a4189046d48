// The host command's edit-script parser on arbitrary text: it never crashes, every step it accepts obeys
// its verb's rules and reads back the same from its description, and every refusal is one printable line
// naming the bad line by its number.

#include "host/cli_edit_script.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

void check(bool condition) {
    if (!condition)
        std::abort();
}

struct Range {
    double low, high;
};

// The verb's value range as the script's readers are promised it (cli_edit_script.h).
Range rangeOf(cv::cli::EditStep::Kind kind) {
    using Kind = cv::cli::EditStep::Kind;
    switch (kind) {
    case Kind::Transpose:
        return {-24, 24};
    case Kind::Formant:
        return {-12, 12};
    case Kind::Gain:
        return {-60, 24};
    case Kind::Move:
        return {-1200, 1200};
    case Kind::Stretch:
        return {0.125, 8};
    case Kind::Correct:
    case Kind::Quantize:
        return {0, 1};
    case Kind::Split:
        return {0, 1200};
    default:
        return {0, 0};
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using cv::cli::EditStep;
    const std::string text(reinterpret_cast<const char*>(data), size);
    std::vector<EditStep> steps;
    std::string error;
    if (!cv::cli::parseEditScript(text, steps, error)) {
        // One line a terminal shows as it is, naming the line; an echoed word is cut to 32 bytes, each
        // written as at most four characters.
        check(error.starts_with("edit script line "));
        check(error.size() < 300);
        check(std::all_of(error.begin(), error.end(), [](char c) { return c >= 0x20 && c < 0x7F; }));
        return 0;
    }
    check(error.empty());
    const auto lines = 1 + std::count(text.begin(), text.end(), '\n');
    int previous = 0;
    for (const EditStep& step : steps) {
        check(step.line > previous && step.line <= lines);
        previous = step.line;
        const bool targeted = step.kind != EditStep::Kind::Undo && step.kind != EditStep::Kind::Redo;
        check(targeted ? step.allNotes != !step.ids.empty() : !step.allNotes && step.ids.empty());
        check(std::none_of(step.ids.begin(), step.ids.end(), [](std::uint32_t id) { return id == 0; }));
        check(step.kind != EditStep::Kind::Split || (!step.allNotes && step.ids.size() == 1));
        const Range range = rangeOf(step.kind);
        check(std::isfinite(step.value) && step.value >= range.low && step.value <= range.high);
        // The description is a script line that parses back to the same step, its value exactly.
        std::vector<EditStep> again;
        check(cv::cli::parseEditScript(cv::cli::describeEditStep(step), again, error) && again.size() == 1);
        check(again[0].kind == step.kind && again[0].allNotes == step.allNotes && again[0].ids == step.ids);
        check(again[0].value == step.value);
    }
    return 0;
}
