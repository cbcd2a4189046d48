#pragma once

// The edit script of `corvalinth host --edit SCRIPT`: one edit per line, applied in order through the
// plug-in's own edit commands, as the editor would apply them. Pure parsing; any thread.
//
//   transpose IDS SEMITONES   (-24..24)        move IDS SECONDS     (-1200..1200)
//   formant IDS SEMITONES     (-12..12)        stretch IDS RATIO    (0.125..8, the note's length)
//   gain IDS DB               (-60..24)        mute IDS
//   correct IDS [AMOUNT]      (0..1, 1)        quantize IDS [STRENGTH]  (0..1, 1)
//   unison IDS                                 merge IDS
//   split ID SECONDS          (the timeline time the note is cut at)
//   undo                                       redo
//
// IDS is `all` or note ids separated by commas, the ids the host lists after the analysis. Ids are never
// renumbered: merge keeps the id of the earliest note it joins and the others' ids go (after `merge 1,2`
// the ids are 1, 3, 4, ...); split keeps the note's id for its left part and gives the right part the
// next new id (an id no note of the take has had). A move of several notes moves them as one group, so
// that they keep their spacing. Numbers are decimal (parseNumber). A # starts a comment that runs to the
// end of its line; blank lines are skipped; a UTF-8 byte-order mark at the start is ignored.

#include <cstdint>
#include <string>
#include <vector>

namespace cv::cli {

struct EditStep {
    enum class Kind {
        Transpose,
        Formant,
        Gain,
        Move,
        Stretch,
        Mute,
        Correct,
        Quantize,
        Unison,
        Split,
        Merge,
        Undo,
        Redo
    };
    Kind kind = Kind::Undo;
    bool allNotes = false;          // IDS was `all`
    std::vector<std::uint32_t> ids; // the listed ids otherwise
    double value = 0.0;             // the step's number, or its default
    int line = 0;                   // 1-based line of the script
};

// The largest edit script that is read: thousands of times more lines than any edit needs.
inline constexpr std::uint64_t kEditScriptMaxBytes = 1048576;

// Reads the script at path into text: a regular file of at most kEditScriptMaxBytes bytes, so that a
// named pipe, a device such as /dev/zero or a folder is refused at once instead of waited on or read
// without end. False with one sentence in error.
bool readEditScript(const std::string& path, std::string& text, std::string& error);

// Parses a whole script; false with one line "edit script line N: ..." in error at the first bad line.
// Words the line echoes are cut short and escaped (quotedWord).
bool parseEditScript(const std::string& text, std::vector<EditStep>& steps, std::string& error);

// The step as a script line, for messages ("transpose 2 2.5"): its number is the shortest decimal that
// reads back as exactly that number (numberWord), so the line parses back to the same step.
std::string describeEditStep(const EditStep& step);

} // namespace cv::cli
