#include "engine/analysis/pyin.h"
#include "engine/playback/audition_voice.h"
#include "engine/render/note_audition.h"
#include "engine/render/note_audition_worker.h"
#include "tests/render/render_measures.h"
#include "tests/support/signals.h"
#include "tests/support/step_gate.h"

#include <algorithm>
#include <cmath>
#include <gtest/gtest.h>
#include <vector>

namespace np {
namespace {

constexpr double kRate = 48000.0;

// The largest sample-to-sample step.
float largestStep(std::span<const float> x) {
    float largest = 0.0f;
    for (std::size_t i = 1; i < x.size(); ++i)
        largest = std::max(largest, std::abs(x[i] - x[i - 1]));
    return largest;
}

TEST(NoteAudition, LoopsAnExcerptItCannotAnalyseWithoutClicks) {
    const struct {
        const char* what;
        std::vector<float> excerpt;
        double rate;
    } cases[] = {{"200 samples, too short to analyse", cvtest::sine(440.0, kRate, 200), kRate},
                 {"0.35 s without a voiced frame", cvtest::noise(16800, 0.3f, 9), kRate},
                 {"0.1 s at a rate the vocoder refuses", cvtest::sine(440.0, 7000.0, 700), 7000.0}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        const FrozenNote frozen = freezeNoteExcerpt(c.excerpt, c.rate);
        EXPECT_FALSE(frozen.ready);
        ASSERT_EQ(frozen.excerpt, c.excerpt);
        const AudioBuffer out = synthesizeAudition(frozen, {300.0, 20000, 0.0, 1.0}, {});
        ASSERT_EQ(out.channels, 1);
        ASSERT_EQ(out.frames, 20000);
        std::vector<float> looped(20000);
        detail::loopExcerpt(c.excerpt, looped);
        EXPECT_EQ(out.samples, looped);
    }
    // Across every seam the loop steps no further than the sine itself does (plus the blend of two
    // phases): wrapping to the start after the seam would jump by a quarter of the amplitude.
    for (const std::size_t n : {200u, 2000u}) {
        SCOPED_TRACE(n);
        const std::vector<float> excerpt = cvtest::sine(440.0, kRate, static_cast<std::int64_t>(n));
        std::vector<float> looped(24000);
        detail::loopExcerpt(excerpt, looped);
        EXPECT_LT(largestStep(looped), 1.5f * largestStep(excerpt));
    }
}

TEST(NoteAudition, SynthesisesASteadyToneAtTheAskedPitchFormantsAndRate) {
    // A 200 Hz "ah", frozen at 48 kHz and heard at 120 Hz (harmonics dense enough to show the envelope)
    // at 44.1 kHz.
    const FrozenNote frozen = freezeNoteExcerpt(cvtest::vowel(200.0, 200.0, 0.0, 0.0, kRate, 16800), kRate);
    ASSERT_TRUE(frozen.ready);
    const double outRate = 44100.0, f0 = 120.0;
    double unwarpedPeak = 0.0;
    for (const double ratio : {1.0, 0.5, 2.0}) {
        SCOPED_TRACE(ratio);
        const AudioBuffer out = synthesizeAudition(frozen, {f0, 24000, outRate, ratio}, {});
        ASSERT_EQ(out.frames, 22050);
        // The wobble stays within 0.6 % (about 10 cents) of the asked F0.
        const PitchTrack track = trackPitchPYin(out.channel(0).data(), out.frames, outRate, {}, {});
        int voiced = 0;
        for (const PitchFrame& f : track.frames) {
            if (!f.voiced)
                continue;
            ++voiced;
            EXPECT_LT(std::abs(cvtest::centsBetween(f.hz, f0)), 15.0);
        }
        EXPECT_GT(voiced, 50);
        // The first formant moves with the ratio; a ratio of 0.5 reads the envelope up to twice its
        // length, which must stay inside it.
        const double peak = cvtest::envelopePeakHz(out.channel(0), outRate, f0, 150.0, 2000.0);
        if (ratio == 1.0)
            unwarpedPeak = peak;
        EXPECT_NEAR(peak / unwarpedPeak, ratio, 0.25 * ratio);
    }
}

// A note dragged while the user listens: the worker freezes an excerpt of it once and synthesises a
// tone at every drag step, which the voice loops in place of the host's output. At every step the voice
// sounds at the dragged pitch (pitch + offset) and formant shift, and its loop seam joins the loop's
// end to its start without a click: no step of what the voice plays is as large as twice the tone's own
// largest step (an equal-power seam stays within the square root of 2 of it).
TEST(NoteAudition, ADraggedNoteSoundsAtEachStepsPitchAndFormantWithoutClicks) {
    constexpr double kHostRate = 44100.0;
    constexpr double kPitch = 45.0;               // 110 Hz: harmonics dense enough to show the envelope
    constexpr double kPitchToleranceCents = 15.0; // the wobble stays within about 10 cents
    constexpr std::int64_t kSettle = 1000;        // the voice's fade-in or cross-fade, and then some
    NoteAuditionWorker worker;
    worker.requestFreeze(std::make_shared<const std::vector<float>>(cvtest::vowel(
                             110.0, 110.0, 0.0, 0.0, kRate, static_cast<std::int64_t>(0.35 * kRate))),
                         kRate, 1, 7);
    AuditionVoice voice;
    voice.prepare(kHostRate);
    const struct {
        double offsetSemitones, formantSemitones;
    } steps[] = {{0.0, 0.0}, {3.0, 0.0}, {3.0, 12.0}, {-5.0, -7.0}};
    double unshiftedPeakHz = 0.0;
    std::uint64_t serial = 0;
    for (const auto& step : steps) {
        SCOPED_TRACE(testing::Message()
                     << "offset " << step.offsetSemitones << ", formant " << step.formantSemitones);
        const double f0 = 440.0 * std::exp2((kPitch + step.offsetSemitones - 69.0) / 12.0);
        worker.requestSynth(1, f0, static_cast<std::int64_t>(kRate), kHostRate, ++serial,
                            std::exp2(step.formantSemitones / 12.0), 7);
        std::optional<NoteAuditionWorker::Result> result = cvtest::settle(worker);
        ASSERT_TRUE(result && result->audio);
        const std::span<const float> tone = result->audio->channel(0);
        const float toneStep = largestStep(tone.subspan(tone.size() / 6, tone.size() - tone.size() / 3));
        voice.setSource(std::move(result->audio));

        // More than one pass of the loop (its middle two thirds), so both ends of the seam are heard.
        std::vector<float> heard(static_cast<std::size_t>(kHostRate));
        for (std::size_t at = 0; at < heard.size(); at += 512) {
            const int frames = static_cast<int>(std::min<std::size_t>(512, heard.size() - at));
            float* out = heard.data() + at;
            std::fill_n(out, frames, 0.0f);
            voice.processReplace(&out, 1, frames);
        }
        const std::span<const float> steady = std::span<const float>(heard).subspan(kSettle);
        EXPECT_LT(largestStep(steady), 2.0f * toneStep);

        const PitchTrack track =
            trackPitchPYin(steady.data(), static_cast<std::int64_t>(steady.size()), kHostRate, {}, {});
        EXPECT_NEAR(cvtest::centsBetween(
                        cvtest::medianVoicedHz(track, 0, static_cast<std::int64_t>(steady.size())), f0),
                    0.0, kPitchToleranceCents);
        const double peak = cvtest::envelopePeakHz(steady, kHostRate, f0, 150.0, 2000.0);
        if (step.formantSemitones == 0.0 && unshiftedPeakHz == 0.0)
            unshiftedPeakHz = peak;
        const double ratio = std::exp2(step.formantSemitones / 12.0);
        EXPECT_NEAR(peak / unshiftedPeakHz, ratio, 0.25 * ratio);
    }
}

} // namespace
} // namespace np
