#pragma once

// The short take that the command-line tests run through `render` and `host`, the commands run in this
// process through the program's own entry points, and what the tests measure of the files they write.

#include "host/cli_args.h"
#include "host/cli_audio_file.h"
#include "host/cli_host.h"
#include "host/cli_render.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <gtest/gtest.h>
#include <numbers>
#include <optional>
#include <string>
#include <vector>

namespace cvtest {

struct TakeNote {
    double startSeconds;
    double seconds;
    double midi;
};

// One second holding two sung-like notes, each a little out of tune, with silence around them, so that
// every edit of one note leaves the other and the silence exactly as they were.
inline constexpr double kTakeSeconds = 1.0;
inline constexpr TakeNote kTakeNotes[] = {{0.10, 0.30, 57.3}, {0.55, 0.30, 61.7}};

// The take at rate, interleaved; in stereo the second channel holds half the first.
inline std::vector<float> shortTake(double rate, int channels = 1) {
    std::vector<float> mono(static_cast<std::size_t>(kTakeSeconds * rate), 0.0f);
    for (const TakeNote& note : kTakeNotes) {
        const double hz = 440.0 * std::exp2((note.midi - 69.0) / 12.0);
        const auto first = static_cast<std::size_t>(note.startSeconds * rate);
        const auto frames = static_cast<std::size_t>(note.seconds * rate);
        for (std::size_t n = 0; n < frames; ++n) {
            const double t = static_cast<double>(n) / rate;
            const double phase = 2.0 * std::numbers::pi * hz * t;
            double value = 0.0;
            for (int k = 1; k <= 10 && k * hz < 0.45 * rate; ++k)
                value += std::sin(k * phase) / k;
            const double envelope = std::min({1.0, t / 0.015, (note.seconds - t) / 0.03});
            mono[first + n] = static_cast<float>(0.25 * envelope * value);
        }
    }
    std::vector<float> interleaved;
    for (const float x : mono)
        for (int c = 0; c < channels; ++c)
            interleaved.push_back(x / static_cast<float>(c + 1));
    return interleaved;
}

// A command's exit code and what it wrote to standard output and standard error.
struct CommandRun {
    int code = -1;
    std::string out;
    std::string err;
};

// Runs `render` or `host` with args (the words after the program's name) as the program does, in this
// process; `host` with the plug-in's services given.
inline CommandRun runCommand(const std::vector<std::string>& args, Corvalinth::Services services = {}) {
    const cv::cli::ParsedArgs parsed = cv::cli::parseArgs(args);
    CommandRun run;
    testing::internal::CaptureStdout();
    testing::internal::CaptureStderr();
    if (parsed.render)
        run.code = cv::cli::runRender(*parsed.render);
    else if (parsed.host)
        run.code = cv::cli::runHost(*parsed.host, std::move(services));
    run.out = testing::internal::GetCapturedStdout();
    run.err = testing::internal::GetCapturedStderr() + parsed.error;
    return run;
}

// The file as `analyse` reads it.
inline cv::cli::LoadedAudio readBack(const std::string& path) {
    cv::cli::LoadedAudio loaded;
    std::string error;
    EXPECT_TRUE(cv::cli::readAudioFile(path, cv::cli::Algorithm::Melodic, loaded, error)) << error;
    return loaded;
}

// The measures below read channel 0 of audio at rate, over [from, to) seconds clipped to the audio.
inline std::span<const float> secondsOf(const cv::cli::LoadedAudio& audio, double from, double to) {
    const auto frames = audio.audio.frames;
    const auto first = std::clamp<std::int64_t>(std::llround(from * audio.sampleRate), 0, frames);
    const auto last = std::clamp<std::int64_t>(std::llround(to * audio.sampleRate), first, frames);
    return audio.audio.channel(0).subspan(static_cast<std::size_t>(first),
                                          static_cast<std::size_t>(last - first));
}

// The level in dB of full scale; -200 for silence.
inline double rmsDb(const cv::cli::LoadedAudio& audio, double from, double to) {
    const std::span<const float> x = secondsOf(audio, from, to);
    double sum = 0.0;
    for (const float s : x)
        sum += static_cast<double>(s) * s;
    return sum > 0.0 ? 10.0 * std::log10(sum / static_cast<double>(x.size())) : -200.0;
}

// The level of the first difference against the signal's own, in dB: higher for a brighter tone.
inline double brightnessDb(const cv::cli::LoadedAudio& audio, double from, double to) {
    const std::span<const float> x = secondsOf(audio, from, to);
    double level = 0.0, change = 0.0;
    for (std::size_t i = 1; i < x.size(); ++i) {
        level += static_cast<double>(x[i]) * x[i];
        change += static_cast<double>(x[i] - x[i - 1]) * (x[i] - x[i - 1]);
    }
    return 10.0 * std::log10(change / level);
}

// The pitch (MIDI) of the 40 ms from seconds by normalised autocorrelation: the shortest period between
// 70 and 700 Hz whose correlation is within 10 % of the best, which shares nothing with the analysis or
// the render; 0 for silence or noise.
inline double midiAt(const cv::cli::LoadedAudio& audio, double seconds) {
    const double rate = audio.sampleRate;
    const std::span<const float> x = secondsOf(audio, seconds, seconds + 0.06);
    const auto window = static_cast<std::size_t>(0.04 * rate);
    const auto shortest = static_cast<std::size_t>(rate / 700.0),
               longest = static_cast<std::size_t>(rate / 70.0);
    if (x.size() < window + longest + 1)
        return 0.0;
    std::vector<double> r(longest + 2, 0.0);
    for (std::size_t lag = shortest; lag <= longest + 1; ++lag) {
        double xy = 0.0, xx = 0.0, yy = 0.0;
        for (std::size_t i = 0; i < window; ++i) {
            xy += static_cast<double>(x[i]) * x[i + lag];
            xx += static_cast<double>(x[i]) * x[i];
            yy += static_cast<double>(x[i + lag]) * x[i + lag];
        }
        r[lag] = xx > 0.0 && yy > 0.0 ? xy / std::sqrt(xx * yy) : 0.0;
    }
    const double best = *std::max_element(r.begin(), r.end());
    if (best < 0.5)
        return 0.0; // silence or noise
    for (std::size_t lag = shortest + 1; lag <= longest; ++lag) {
        if (r[lag] >= 0.9 * best && r[lag] >= r[lag - 1] && r[lag] >= r[lag + 1]) {
            const double bend = r[lag - 1] - 2.0 * r[lag] + r[lag + 1];
            const double period =
                static_cast<double>(lag) + (bend < 0.0 ? 0.5 * (r[lag - 1] - r[lag + 1]) / bend : 0.0);
            return 69.0 + 12.0 * std::log2(rate / period / 440.0);
        }
    }
    return 0.0;
}

struct Span {
    double start;
    double end;
};

// The stretches, in seconds, whose 5 ms level lies within 20 dB of the loudest 5 ms; gaps shorter
// than 20 ms are bridged.
inline std::vector<Span> soundingSpans(const cv::cli::LoadedAudio& audio) {
    const double rate = audio.sampleRate;
    const auto hop = static_cast<std::int64_t>(0.005 * rate);
    std::vector<double> levels;
    for (std::int64_t at = 0; at + hop <= audio.audio.frames; at += hop)
        levels.push_back(rmsDb(audio, static_cast<double>(at) / rate, static_cast<double>(at + hop) / rate));
    const double loudest = levels.empty() ? 0.0 : *std::max_element(levels.begin(), levels.end());
    std::vector<Span> spans;
    for (std::size_t i = 0; i < levels.size(); ++i) {
        if (levels[i] < loudest - 20.0)
            continue;
        const double start = static_cast<double>(i) * 0.005, end = start + 0.005;
        if (!spans.empty() && start - spans.back().end < 0.02)
            spans.back().end = end;
        else
            spans.push_back({start, end});
    }
    return spans;
}

// What a command should leave of one of the take's notes in its output.
struct NoteOutcome {
    double midi = 0.0;                  // its pitch over its first half; 0 with nothing else set: unchanged
    double lateMidi = 0.0;              // its pitch over its second half, when that differs (a split)
    std::optional<double> levelDb = {}; // its level against the input's
    bool silent = false;                // muted
    int brighter = 0;                   // +1 brighter or -1 darker (a formant shift), by at least 1 dB
    double start = 0.0;                 // where it sounds when it was moved
    double seconds = 0.0;               // how long it sounds when it was stretched

    bool unchanged() const { return midi == 0.0 && !levelDb && !silent && start == 0.0 && seconds == 0.0; }
    double end(const TakeNote& note) const {
        return (start > 0.0 ? start : note.startSeconds) + (seconds > 0.0 ? seconds : note.seconds);
    }
};

// Tolerances: a rendered note's edges move by up to 20 ms with the engines' attacks; the measured pitch
// is good to 2 cents on the take, the rendered one within 5; the level of a gain edit is exact but for
// the coding, a pitch or formant edit changes it by up to 4 dB.
inline constexpr double kEdgeSeconds = 0.02, kMidiTolerance = 0.1, kLevelTolerance = 0.5;

// Checks what output holds of note (input holds it as written): exactly the input's frames from 40 ms
// before to 40 ms after it, on every channel, within the rounding to 24 bits of wider input; or the
// changes outcome describes, measured on the stretch where it now sounds.
inline void expectNote(const cv::cli::LoadedAudio& input, const cv::cli::LoadedAudio& output, int index,
                       const NoteOutcome& outcome) {
    SCOPED_TRACE("note " + std::to_string(index + 1));
    const TakeNote& note = kTakeNotes[index];
    const double from = note.startSeconds, to = note.startSeconds + note.seconds;
    if (outcome.unchanged()) {
        // Integer input of up to 24 bits comes back exactly; wider and float input within 24-bit rounding.
        const double rounding = cv::cli::writerScale(input.fileFormat) == 1.0 ? 1.0 / 8388607 : 0.0;
        for (int c = 0; c < input.audio.channels; ++c) {
            const auto first = static_cast<std::size_t>((from - 0.04) * input.sampleRate);
            const auto last = static_cast<std::size_t>((to + 0.04) * input.sampleRate);
            for (std::size_t i = first; i < last; ++i)
                ASSERT_NEAR(output.audio.channel(c)[i], input.audio.channel(c)[i], rounding)
                    << "channel " << c << " frame " << i;
        }
        return;
    }
    if (outcome.silent) {
        EXPECT_LT(rmsDb(output, from, to - 0.02), -80.0); // the analysed note ends 7 ms before its sound
        return;
    }
    // The stretch where the note sounds now: the longest one starting near where it should.
    const double start = outcome.start > 0.0 ? outcome.start : from;
    std::optional<Span> found;
    for (const Span& span : soundingSpans(output))
        if (std::abs(span.start - start) <= kEdgeSeconds &&
            (!found || span.end - span.start > found->end - found->start))
            found = span;
    ASSERT_TRUE(found) << "nothing sounds from " << start << " s";
    EXPECT_NEAR(found->end, outcome.end(note), kEdgeSeconds);
    EXPECT_NEAR(midiAt(output, found->start + 0.03), outcome.midi, kMidiTolerance);
    EXPECT_NEAR(midiAt(output, found->end - 0.08), outcome.lateMidi > 0.0 ? outcome.lateMidi : outcome.midi,
                kMidiTolerance);
    const double level =
        rmsDb(output, found->start + 0.03, found->end - 0.03) - rmsDb(input, from + 0.03, to - 0.03);
    EXPECT_NEAR(level, outcome.levelDb.value_or(0.0), outcome.levelDb ? kLevelTolerance : 4.0);
    const double brighter = brightnessDb(output, found->start + 0.03, found->end - 0.03) -
                            brightnessDb(input, from + 0.03, to - 0.03);
    if (outcome.brighter != 0) {
        EXPECT_GE(brighter * outcome.brighter, 1.0) << brighter;
    }
}

// Checks the whole output: each note as its outcome says, and the file as long as the input unless a note
// now ends after the input's end, and then as long as that note (its analysed end lies within a few
// milliseconds of where it sounds to).
inline void expectTake(const cv::cli::LoadedAudio& input, const cv::cli::LoadedAudio& output,
                       const std::array<NoteOutcome, 2>& outcomes) {
    EXPECT_EQ(output.sampleRate, input.sampleRate);
    ASSERT_EQ(output.audio.channels, input.audio.channels);
    double end = 0.0;
    for (int i = 0; i < 2; ++i)
        end = std::max(end, outcomes[static_cast<std::size_t>(i)].end(kTakeNotes[i]));
    if (end <= kTakeSeconds) {
        ASSERT_EQ(output.audio.frames, input.audio.frames);
    } else {
        ASSERT_NEAR(static_cast<double>(output.audio.frames) / output.sampleRate, end, kEdgeSeconds);
    }
    for (int i = 0; i < 2; ++i)
        expectNote(input, output, i, outcomes[static_cast<std::size_t>(i)]);
}

} // namespace cvtest
