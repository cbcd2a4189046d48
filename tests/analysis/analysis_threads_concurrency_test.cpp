#include "engine/analysis/analyses.h"
#include "engine/analysis/analysis_threads.h"
#include "tests/support/signals.h"

#include <algorithm>
#include <gtest/gtest.h>
#include <stdexcept>
#include <string>

namespace {

constexpr double kRate = 48000.0;

// Every bit of a result, so that two results compare exactly.
std::string bits(const np::AnalysisResult& r) {
    std::string out;
    const auto put = [&out](const auto&... values) {
        (out.append(reinterpret_cast<const char*>(&values), sizeof(values)), ...);
    };
    const auto putAll = [&out](const std::vector<float>& values) {
        out.append(reinterpret_cast<const char*>(values.data()), values.size() * sizeof(float));
    };
    put(r.sampleRate, r.cancelled, r.polyphonyScore);
    for (const np::PitchFrame& f : r.track.frames)
        put(f.hz, f.confidence, f.voiced, f.flags);
    for (std::int64_t onset : r.onsets)
        put(onset);
    for (const np::NoteEvent& n : r.notes) {
        put(n.start, n.end, n.pitch, n.pitchConfidence);
        putAll(n.pitchCurve);
        putAll(n.levelCurve);
    }
    return out;
}

struct Outcome {
    np::AnalysisResult result;
    std::vector<float> reports;
};

// The Melodic analysis on threads threads, stopped at report stopAt (none when negative).
Outcome analyse(const np::AudioBuffer& audio, int threads, int stopAt = -1) {
    np::setAnalysisThreadCount(threads);
    Outcome run;
    run.result = np::analyzeMelodic(audio, kRate, {}, [&](float fraction) {
        run.reports.push_back(fraction);
        return static_cast<int>(run.reports.size()) - 1 != stopAt;
    });
    np::setAnalysisThreadCount(0);
    return run;
}

// A second of a sung note, a two-voice chord and a noisy tail: every stage has work on every thread
// (several chunks per stage, several decoder segments).
TEST(AnalysisThreads, ResultsAndReportsAreTheSameOnOneOrManyThreads) {
    std::vector<float> mono = cvtest::harmonicTone(220.0, kRate, 48000, 8, 0.3f);
    cvtest::mixInto(mono, cvtest::harmonicTone(277.18, kRate, 16000, 8, 0.3f), 20000);
    cvtest::mixInto(mono, cvtest::noise(12000, 0.2f, 4), 36000);
    const auto audio = np::AudioBuffer::fromInterleaved(mono.data(), 1, 48000);

    const Outcome serial = analyse(audio, 1);
    ASSERT_FALSE(serial.result.notes.empty());
    EXPECT_TRUE(std::is_sorted(serial.reports.begin(), serial.reports.end())) << "progress never goes back";
    EXPECT_EQ(serial.reports.back(), 1.0f);
    // 16 reports of pitch tracking (180 frames in 10 decoder segments), 18 of sibilance marking, 4 around
    // the several-voices score, 16 around onset detection, 28 of segmentation and octave correction and
    // 1.0 at the end: a check removed from any stage changes the count.
    EXPECT_EQ(serial.reports.size(), 83u);
    for (int threads : {2, 7}) {
        SCOPED_TRACE(testing::Message() << threads << " threads");
        const Outcome parallel = analyse(audio, threads);
        EXPECT_EQ(bits(parallel.result), bits(serial.result));
        EXPECT_EQ(parallel.reports, serial.reports) << "the calling thread reports in the serial order";
    }
    // A report that throws stops every thread, and the exception reaches the caller.
    np::setAnalysisThreadCount(7);
    int reports = 0;
    const auto throwing = [&](float) { return ++reports < 3 || (throw std::runtime_error("stop"), false); };
    EXPECT_THROW(np::analyzeMelodic(audio, kRate, {}, throwing), std::runtime_error);
    np::setAnalysisThreadCount(0);

    // Stopped at any report, the parallel analysis has made exactly the serial reports up to it.
    np::AnalysisResult cancelled;
    cancelled.cancelled = true;
    for (std::size_t stop = 0; stop < serial.reports.size(); ++stop) {
        SCOPED_TRACE(testing::Message() << "stopped at report " << stop);
        const Outcome stopped = analyse(audio, 7, static_cast<int>(stop));
        EXPECT_EQ(bits(stopped.result), bits(cancelled)) << "nothing but cancelled";
        EXPECT_EQ(stopped.reports,
                  std::vector<float>(serial.reports.begin(), serial.reports.begin() + stop + 1));
    }
}

} // namespace
