#include "host/cli_host.h"

#include "engine/io/wav_export.h"
#include "engine/model/key_scale.h"
#include "host/cli_audio_file.h"
#include "host/cli_bounce.h"
#include "host/cli_edit_script.h"
#include "host/cli_files.h"
#include "host/cli_render.h"
#include "host/cli_report.h"
#include "host/standin/standin_host.h"
#include "plugin/Corvalinth.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <exception>
#include <memory>
#include <optional>
#include <sndfile.h>
#include <thread>
#include <unistd.h>

namespace cv::cli {
namespace {

constexpr int kBlockFrames = 512;

// The plug-in's editor as a console: notices become lines on standard error (progress only on a
// terminal, in place), and the canvas is a selection the script sets before each macro or merge.
class ConsoleControls : public cv::EditorControls {
public:
    int errors = 0;
    std::vector<std::uint32_t> selection;

    ~ConsoleControls() override { endProgress(); }

    bool HasNoticeLine() const override { return true; }
    std::optional<cv::NoticeKind> ShownNotice() const override { return shown_; }
    void ShowNotice(const char* text, cv::NoticeKind kind, int) override {
        endProgress();
        shown_ = kind;
        errors += kind == cv::NoticeKind::Error ? 1 : 0;
        std::fprintf(stderr, "corvalinth: %s%s\n", kind == cv::NoticeKind::Warning ? "warning: " : "", text);
    }
    void ShowProgress(const char* text, float, bool) override {
        shown_ = cv::NoticeKind::Progress;
        if (!terminal_)
            return;
        std::fprintf(stderr, "\r%-40s", text);
        std::fflush(stderr);
        progressShown_ = true;
    }
    void DismissNotice() override {
        endProgress();
        shown_.reset();
    }
    std::optional<std::size_t> SelectedNoteCount() const override { return selection.size(); }
    void ShowReadouts(const cv::EditorReadouts&) override {}
    bool HasCanvas() const override { return true; }
    std::vector<std::uint32_t> CanvasSelection() const override { return selection; }
    void SetCanvasSelection(std::vector<std::uint32_t> ids) override { selection = std::move(ids); }
    void ClearCanvasSelection() override { selection.clear(); }

private:
    void endProgress() {
        if (progressShown_)
            std::fputs("\n", stderr);
        progressShown_ = false;
    }

    std::optional<cv::NoticeKind> shown_;
    bool terminal_ = ::isatty(STDERR_FILENO) == 1;
    bool progressShown_ = false;
};

class ConsoleCorvalinth : public Corvalinth {
public:
    explicit ConsoleCorvalinth(Services services) : Corvalinth(iplug::InstanceInfo{}, std::move(services)) {}
    ConsoleControls console;

protected:
    cv::EditorControls* Controls() override { return &console; }
};

// Blocks of kBlockFrames from position 0 covering exactly frames frames.
cv::standin::TransportScript timeline(std::int64_t frames) {
    cv::standin::TransportScript script;
    for (std::int64_t at = 0; at < frames; at += kBlockFrames)
        script.push_back({static_cast<int>(std::min<std::int64_t>(kBlockFrames, frames - at)),
                          static_cast<double>(at), true, false});
    return script;
}

int fail(const std::string& error) {
    std::fprintf(stderr, "corvalinth: %s\n", error.c_str());
    return 1;
}

std::string noteList(const np::Document& doc) {
    if (doc.notes.empty())
        return "the take has no notes";
    std::string ids;
    for (const np::Note& note : doc.notes)
        ids += (ids.empty() ? "" : ",") + std::to_string(note.id);
    return "the notes are " + ids;
}

// A move of the notes limited so that they keep their spacing on the timeline.
struct MoveLimit {
    std::int64_t frames = 0;          // how far the notes were moved
    bool atStart = false;             // the earliest stopped at 0; otherwise the latest at the timeline's end
    std::optional<std::uint32_t> one; // the one note moved; empty for several
    std::int64_t endFrames = 0;       // the timeline's end
};

std::string seconds(std::int64_t frames, double rate) {
    char text[32];
    std::snprintf(text, sizeof text, "%.6g s", static_cast<double>(frames) / rate);
    return text;
}

// What the host says of a limited move after the step's description: how far the notes moved and where
// they stopped, or, when they could not move at all, why the step changed nothing.
std::string describeLimit(const MoveLimit& limit, bool moved, double rate) {
    const std::string note = limit.one ? "note " + std::to_string(*limit.one) : "";
    const std::string where =
        limit.atStart ? "starts at 0 s" : "ends at the timeline's end, " + seconds(limit.endFrames, rate);
    if (!moved) {
        const std::string which = limit.one ? note : limit.atStart ? "the earliest note" : "the latest note";
        return "changed nothing: " + which + " already " + where;
    }
    const std::string which = limit.one       ? "it goes: it"
                              : limit.atStart ? "they go: the earliest"
                                              : "they go: the latest";
    return "moved " + (limit.one ? note : "the notes") + " " + seconds(limit.frames, rate) + ", as far as " +
           which + " now " + where;
}

// Applies one step through the plug-in's edit commands; false with the reason when it names a note the
// document does not hold. A move the timeline limits sets limit.
bool applyStep(ConsoleCorvalinth& plugin, const EditStep& step, std::optional<MoveLimit>& limit,
               std::string& error) {
    np::EditSession& session = plugin.Session();
    const np::Document& doc = session.document();
    std::vector<std::uint32_t> ids = step.ids;
    if (step.allNotes)
        for (const np::Note& note : doc.notes)
            ids.push_back(note.id);
    for (const std::uint32_t id : ids) {
        if (doc.findNote(id) == nullptr) {
            error = "note " + std::to_string(id) + " does not exist: " + noteList(doc);
            return false;
        }
    }
    const auto edited = [&plugin](bool changed) {
        if (changed)
            plugin.OnDocumentEdited();
    };
    const double rate = doc.sampleRate;
    plugin.console.selection = step.allNotes ? std::vector<std::uint32_t>{} : ids;
    switch (step.kind) {
    case EditStep::Kind::Transpose:
        edited(session.addPitchOffset(ids, step.value));
        break;
    case EditStep::Kind::Formant:
        edited(session.addFormantShift(ids, step.value));
        break;
    case EditStep::Kind::Gain:
        edited(session.addGainDb(ids, step.value));
        break;
    case EditStep::Kind::Move: {
        const std::int64_t requested = std::llround(step.value * rate);
        const std::int64_t frames = session.limitedMoveFrames(ids, requested);
        if (frames != requested) {
            std::vector<std::uint32_t> unique = ids;
            std::sort(unique.begin(), unique.end());
            unique.erase(std::unique(unique.begin(), unique.end()), unique.end());
            limit = MoveLimit{frames, frames > requested,
                              unique.size() == 1 ? std::optional(unique[0]) : std::nullopt,
                              session.timelineLimitFrames()};
        }
        edited(session.moveTime(ids, requested));
        break;
    }
    case EditStep::Kind::Mute:
        edited(session.setMuted(ids, true));
        break;
    case EditStep::Kind::Stretch: {
        // One undo step for every note, as one drag would be.
        session.beginGesture();
        try {
            for (const std::uint32_t id : ids)
                session.resizeNote(id,
                                   std::llround(static_cast<double>(doc.findNote(id)->length) * step.value));
        } catch (...) {
            session.cancelGesture();
            throw;
        }
        edited(session.endGesture());
        break;
    }
    case EditStep::Kind::Split:
        edited(session.splitNote(ids.front(), std::llround(step.value * rate)) != 0);
        break;
    case EditStep::Kind::Correct:
        plugin.Macros().correctionAmount = step.value;
        plugin.ApplyPitchMacro();
        break;
    case EditStep::Kind::Quantize:
        plugin.Macros().quantizeStrength = step.value;
        plugin.ApplyTimeMacro();
        break;
    case EditStep::Kind::Unison:
        plugin.ApplyUnisonMacro();
        break;
    case EditStep::Kind::Merge:
        plugin.console.selection = ids;
        plugin.MergeSelection();
        break;
    case EditStep::Kind::Undo:
        plugin.Undo();
        break;
    case EditStep::Kind::Redo:
        plugin.Redo();
        break;
    }
    return true;
}

// 32-bit float input is written as float, so a bounce without edits is the input itself; the other
// codings as the render command writes them.
np::WavBitDepth bounceDepth(int fileFormat) {
    const int coding = fileFormat & SF_FORMAT_SUBMASK;
    return coding == SF_FORMAT_FLOAT ? np::WavBitDepth::Float32 : renderDepth(fileFormat);
}

} // namespace

std::string formatDocumentNotes(const std::string& title, const np::Document& document) {
    const double rate = document.sampleRate;
    char head[160];
    std::snprintf(head, sizeof head, ": %zu notes (%.0f Hz)\n", document.notes.size(), rate);
    std::string out = printableName(title) + head;
    if (document.notes.empty())
        return out;
    out += "   id   start s  length s   pitch  name  edits\n";
    for (const np::Note& note : document.notes) {
        const double pitch = note.pitch + note.pitchOffset;
        std::string edits;
        char part[48];
        const auto add = [&](const char* format, double value) {
            std::snprintf(part, sizeof part, format, value);
            edits += (edits.empty() ? "" : " ") + std::string(part);
        };
        // Offsets that would print as zero (a correction of a note already in tune) are left out.
        if (std::abs(note.pitchOffset) >= 0.005)
            add("pitch %+.2f", note.pitchOffset);
        if (std::abs(note.formantShift) >= 0.005)
            add("formant %+.2f", note.formantShift);
        if (std::abs(note.gainDb) >= 0.05)
            add("gain %+.1f dB", note.gainDb);
        if (note.start != note.sourceStart)
            add("moved from %.3f s", static_cast<double>(note.sourceStart) / rate);
        if (note.length != note.sourceEnd - note.sourceStart)
            add("stretched x%.2f",
                static_cast<double>(note.length) / static_cast<double>(note.sourceEnd - note.sourceStart));
        if (note.muted)
            edits += edits.empty() ? "muted" : " muted";
        char line[160];
        std::snprintf(line, sizeof line,
                      edits.empty() ? "%5u %9.3f %9.3f %7.2f  %s%s\n" : "%5u %9.3f %9.3f %7.2f  %-4s  %s\n",
                      note.id, static_cast<double>(note.start) / rate,
                      static_cast<double>(note.length) / rate, pitch,
                      note.pitched ? np::midiNoteName(static_cast<int>(std::lround(pitch))).c_str() : "-",
                      edits.c_str());
        out += line;
    }
    return out;
}

int runHost(const HostCommand& command, Corvalinth::Services services) {
    try {
        std::string error;
        std::vector<std::string> inputs{command.input};
        if (command.script)
            inputs.push_back(*command.script);
        if (!checkOutputFile(command.output, inputs, error))
            return fail(error);
        std::vector<EditStep> steps;
        if (command.script) {
            std::string text;
            if (!readEditScript(*command.script, text, error) || !parseEditScript(text, steps, error))
                return fail(error);
        }
        LoadedAudio loaded;
        if (!readAudioFile(command.input, Algorithm::Melodic, loaded, error))
            return fail(error);
        std::fputs(readNotices(command.input, loaded).c_str(), stderr);
        const double rate = loaded.sampleRate;
        const int channels = loaded.audio.channels;
        const std::int64_t frames = loaded.audio.frames;
        const auto track = std::make_shared<cv::standin::OwnedTrackSource>(std::move(loaded.audio));

        auto owned = std::make_unique<ConsoleCorvalinth>(std::move(services));
        ConsoleCorvalinth& plugin = *owned;
        cv::standin::StandinHost host(std::move(owned));
        host.configure({rate, kBlockFrames, channels, channels});
        host.setInput(track);
        host.idle(); // the plug-in takes the audio configuration on its main thread

        // Capture: the host plays the track from 0 and stops; the next idle tick takes the capture in.
        plugin.ArmTransfer();
        if (!plugin.CaptureActive())
            return plugin.console.errors > 0 ? 1 : fail("the plug-in did not arm its capture");
        host.run(timeline(frames));
        host.processBlock({kBlockFrames, static_cast<double>(frames), false, false});
        host.idle();
        while (plugin.AnalysisBusy()) {
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
            host.idle();
        }
        host.idle();
        if (plugin.console.errors > 0)
            return 1;
        if (const np::Document& analysed = plugin.Session().document(); analysed.audio != nullptr)
            std::fputs(capturedPartNotice(command.input, analysed.audio->frames, frames, rate).c_str(),
                       stderr);
        std::fputs(formatDocumentNotes(inputName(command.input), plugin.Session().document()).c_str(),
                   stdout);

        for (const EditStep& step : steps) {
            const std::uint64_t before = plugin.Session().editCount();
            const int errors = plugin.console.errors;
            std::optional<MoveLimit> limit;
            if (!applyStep(plugin, step, limit, error))
                return fail("edit script line " + std::to_string(step.line) + ": " + error);
            const std::string line =
                "edit script line " + std::to_string(step.line) + " (" + describeEditStep(step) + ")";
            if (plugin.console.errors > errors)
                return fail(line + " failed");
            const bool changed = plugin.Session().editCount() != before;
            if (limit)
                std::fprintf(stderr, "corvalinth: %s %s\n", line.c_str(),
                             describeLimit(*limit, changed, rate).c_str());
            else if (!changed)
                std::fprintf(stderr, "corvalinth: %s changed nothing\n", line.c_str());
        }
        const np::Document& document = plugin.Session().document();
        if (!steps.empty())
            std::fputs(formatDocumentNotes("After the edit script", document).c_str(), stdout);

        // The bounce covers the track and any note moved or stretched past its end.
        std::int64_t end = frames;
        for (const np::Note& note : document.notes)
            end = std::max(end, note.start + note.length);
        // The bounce is the track's last play: what it has played is given back as it goes, so the take
        // is not held whole beside the bounce. The bounce is recorded as the file's data, coded as it
        // plays, in room taken once, and written as it stands.
        track->giveBackAsPlayed();
        const np::WavData bounced = bounceToWavData(
            host, timeline(end), channels, bounceDepth(loaded.fileFormat), writerScale(loaded.fileFormat));
        host.idle(2); // the render flow reports what the bounce could not render
        if (plugin.console.errors > 0)
            return 1;
        if (!np::saveWav(command.output, bounced, rate, &error))
            return fail("Could not write " + printableName(command.output) + ": " + printableName(error));
        std::printf("Bounced %.3f s to %s\n", static_cast<double>(end) / rate,
                    printableName(command.output).c_str());
        return 0;
    } catch (const std::exception& e) {
        return fail(e.what());
    }
}

} // namespace cv::cli
