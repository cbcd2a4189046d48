#pragma once

// The plug-in in the stand-in host with an analysis that answers at once: notes spread evenly over
// whatever was captured, and a render that says which revision it rendered, so the capture, analysis,
// render and edit roads run end to end in lock-step.

#include "engine/audio/cancellation.h"
#include "tests/plugin/corvalinth_fixture.h"
#include "tests/plugin/idle_until_settled.h"

#include <cmath>
#include <condition_variable>
#include <mutex>
#include <thread>

// Holds the analysis (or any job) while closed.
struct JobGate {
    std::mutex mutex;
    std::condition_variable changed;
    bool open = true;
    void close() {
        std::lock_guard lock(mutex);
        open = false;
    }
    void release() {
        {
            std::lock_guard lock(mutex);
            open = true;
        }
        changed.notify_all();
    }
    void pass() {
        std::unique_lock lock(mutex);
        changed.wait(lock, [this] { return open; });
    }
};

// Four pitched notes (MIDI 60, 62, 64, 65) each covering the first three quarters of its fifth of the
// audio, over a voiced 261.6 Hz pitch track; `polyphony` is the several-voices score it reports.
inline np::AnalysisResult evenNotes(const np::AnalysisWorker::Request& request, float polyphony) {
    np::AnalysisResult result;
    result.sampleRate = request.sampleRate;
    result.track.sampleRate = request.sampleRate;
    const std::int64_t frames = request.audio->frames;
    result.track.frames.assign(static_cast<std::size_t>(frames / 256), np::PitchFrame{261.6, 0.9, true, 0});
    const std::int64_t span = frames / 5;
    const double pitches[] = {60.0, 62.0, 64.0, 65.0};
    for (int i = 0; i < 4 && span >= 512; ++i) {
        np::NoteEvent note;
        note.start = i * span;
        note.end = note.start + span * 3 / 4;
        note.pitch = pitches[i];
        note.pitchCurve.assign(static_cast<std::size_t>((note.end - note.start) / 256 + 1), 0.0f);
        note.levelCurve = note.pitchCurve;
        note.pitchConfidence = 0.9f;
        note.pitched = true;
        result.notes.push_back(std::move(note));
    }
    result.polyphonyScore = polyphony;
    return result;
}

// Holds the render stand-in while closed; a cancel still stops it. Counts the renders begun and made,
// and keeps the memory the last one was told to leave free.
struct RenderGate {
    std::atomic<bool> open{true};
    std::atomic<int> started{0};
    std::atomic<int> made{0};
    std::atomic<std::uint64_t> reservedBytes{0};
};

// The render's stand-in: the constant 1 + the sum of the notes' pitch offsets over the source's length,
// so any sample of the region tells which revision plays (the real render is tested in engine/render).
inline np::AudioBuffer revisionLevel(const np::Document& doc, const np::RenderOptions& options,
                                     RenderGate& gate) {
    gate.started.fetch_add(1);
    gate.reservedBytes.store(options.reservedBytes);
    while (!gate.open.load()) {
        if (options.cancelled())
            throw np::RenderCancelled();
        std::this_thread::yield();
    }
    float level = 1.0f;
    for (const np::Note& note : doc.notes)
        level += static_cast<float>(note.pitchOffset);
    np::AudioBuffer out;
    out.resize(doc.audio->channels, doc.audio->frames);
    std::fill(out.samples.begin(), out.samples.end(), level);
    gate.made.fetch_add(1);
    return out;
}

// A render's stand-in that shows every note where it lies: over the source's length, silence outside
// the notes and, under each unmuted note's timeline span, a constant that says its sounding pitch,
// formant and gain, (1 + (pitch - 60) / 16 + formant / 64) x the gain (notes that overlap add up).
inline np::AudioBuffer noteLevels(const np::Document& doc) {
    np::AudioBuffer out;
    out.resize(doc.audio->channels, doc.audio->frames);
    for (const np::Note& note : doc.notes) {
        if (note.muted)
            continue;
        const double level =
            (1.0 + (note.pitch + note.pitchOffset - 60.0) / 16.0 + note.formantShift / 64.0) *
            std::pow(10.0, note.gainDb / 20.0);
        const std::int64_t from = std::clamp<std::int64_t>(note.start, 0, out.frames);
        const std::int64_t to = std::clamp<std::int64_t>(note.start + note.length, from, out.frames);
        for (int c = 0; c < out.channels; ++c)
            for (float& x :
                 out.channel(c).subspan(static_cast<std::size_t>(from), static_cast<std::size_t>(to - from)))
                x += static_cast<float>(level);
    }
    return out;
}

// Made before the plug-in, which the analysis and render jobs it holds outlive.
struct FlowAnalysisState {
    std::shared_ptr<std::atomic<float>> polyphony = std::make_shared<std::atomic<float>>(0.0f);
    std::shared_ptr<std::atomic<bool>> percussive = std::make_shared<std::atomic<bool>>(false); // last asked
    std::shared_ptr<JobGate> analysisGate = std::make_shared<JobGate>();
    std::shared_ptr<std::atomic<bool>> analysisFails = std::make_shared<std::atomic<bool>>(false);
    std::shared_ptr<RenderGate> renderGate = std::make_shared<RenderGate>();
};

struct FlowFixture : FlowAnalysisState, CorvalinthFixture {
    explicit FlowFixture(const std::function<void(Corvalinth::Services&)>& customize = {})
        : CorvalinthFixture("", [this, customize](Corvalinth::Services& services) {
              services.analysisJob = [p = polyphony, g = analysisGate, fails = analysisFails,
                                      kind = percussive](const np::AnalysisWorker::Request& request,
                                                         const std::function<bool(float)>& progress) {
                  kind->store(request.percussive);
                  progress(0.5f); // half way, then it waits while its gate is closed
                  g->pass();
                  if (fails->load())
                      throw std::runtime_error("the analysis failed");
                  return evenNotes(request, p->load());
              };
              services.render = [g = renderGate](const np::Document& doc, const np::RenderOptions& options) {
                  return revisionLevel(doc, options, *g);
              };
              if (customize)
                  customize(services);
          }) {
        plugin->editorOpen = true;
    }
    ~FlowFixture() {
        analysisGate->release();
        renderGate->open.store(true);
    }

    // Arms through the Capture command, plays frames from start in blocks of blockFrames and stops the
    // transport; the next idle tick takes the capture in.
    void capture(std::int64_t start, std::int64_t frames, int blockFrames = 512) {
        plugin->ArmTransfer();
        for (std::int64_t at = 0; at < frames; at += blockFrames) {
            const auto n = static_cast<int>(std::min<std::int64_t>(blockFrames, frames - at));
            host->processBlock({n, static_cast<double>(start + at), true});
        }
        host->processBlock({64, static_cast<double>(start + frames), false});
    }

    // Idle ticks until the analysis worker has finished, and one more to take its result; a render it
    // asks for may still be on its way.
    void settleAnalysis() {
        host->idle();
        while (plugin->AnalysisBusy())
            std::this_thread::yield();
        host->idle();
    }

    // A capture of frames from start, analysed and installed.
    void captureAndAnalyse(std::int64_t start, std::int64_t frames) {
        capture(start, frames);
        settleAnalysis();
    }

    // Idle ticks until no worker runs and the ticks took what they delivered: the render's region is
    // installed, and a count of renders read afterwards is final.
    void settleRender() { ASSERT_TRUE(cvtest::idleUntilSettled(*host, *plugin)); }

    // Plays frames from start with the transport running (offline: as a bounce) and returns channel 0.
    std::vector<double> play(std::int64_t start, int blocks, bool offline = false) {
        host->setRecording(true);
        cv::standin::TransportScript script = cv::standin::contiguous(start, 512, blocks);
        if (offline)
            host->bounce(script);
        else
            host->run(script);
        return host->takeRecording()[0];
    }

    std::vector<std::string> texts() const { return plugin->controls.texts(); }
};
