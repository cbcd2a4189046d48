#include "engine/render/centred_frame.h"
#include "engine/render/epochs.h"
#include "engine/render/formant_warp.h"
#include "engine/render/note_span.h"
#include "engine/render/unit_curves.h"
#include "tests/render/document_fixtures.h"

#include <gtest/gtest.h>

namespace np {
namespace {

constexpr double kRate = 48000.0;

TEST(CentredFrame, TheWindowWhoseCentreIsNearest) {
    const PitchTrack track; // hop 256, window 2048: frame i is centred on i x 256 + 1024
    const std::pair<std::int64_t, std::int64_t> cases[] = {
        {1024, 0}, {1024 + 127, 0}, {1024 + 128, 1}, {1024 + 10 * 256, 10}, {0, -4}, {-300, -5},
    };
    for (const auto& [position, frame] : cases)
        EXPECT_EQ(frameCentredAt(track, position), frame) << position;
}

// A vowel whose pitch is known at every sample, analysed as a capture would be.
struct Take {
    const char* name;
    double startHz, endHz, vibratoCents;
};
constexpr double kSeconds = 1.5, kVibratoHz = 6.0;

double midiAt(const Take& take, std::int64_t i) {
    const auto frames = static_cast<std::int64_t>(kSeconds * kRate);
    const double along = static_cast<double>(i) / static_cast<double>(frames - 1);
    const double hz = take.startHz * std::pow(take.endHz / take.startHz, along) *
                      std::exp2(take.vibratoCents * std::sin(2.0 * M_PI * kVibratoHz * i / kRate) / 1200.0);
    return 69.0 + 12.0 * std::log2(hz / 440.0);
}

// Each reader of the track against a position in the audio finds the pitch sounding there, on a glide
// and on a 6 Hz vibrato (40 cents, slow enough that the chain curves do not damp it). Reading the
// window that starts at the position would find the pitch half a window (21 ms) later: 10 to 20 cents
// off on both.
TEST(TrackReading, EveryReaderFindsThePitchSoundingAtItsPosition) {
    // The tracker's own error and the curves' smoothing stay within a few cents.
    constexpr double kToleranceCents = 6.0;
    const Take takes[] = {{"glide", 180.0, 270.0, 0.0}, {"vibrato", 220.0, 220.0, 40.0}};
    for (const Take& take : takes) {
        const auto frames = static_cast<std::int64_t>(kSeconds * kRate);
        const Document doc = cvtest::analysedDocument(
            cvtest::vowel(take.startHz, take.endHz, take.vibratoCents, kVibratoHz, kRate, frames, 0.2f),
            kRate);
        ASSERT_FALSE(doc.notes.empty()) << take.name;
        const PitchTrack& track = doc.track;
        const std::int64_t hop = track.hop, half = track.frame / 2;
        const auto midiOf = [](double hz) { return 69.0 + 12.0 * std::log2(hz / 440.0); };
        double worst[5] = {};
        const char* readers[5] = {"track frame", "epoch period", "formant warp F0", "chain curve",
                                  "note span"};
        const auto check = [&](int reader, std::int64_t p, double midi) {
            worst[reader] = std::max(worst[reader], std::abs(100.0 * (midi - midiAt(take, p))));
        };
        for (const Note& note : doc.notes) {
            const Note* chain[] = {&note};
            Note flattened = note;
            flattened.driftScale = 0.0;
            const Note* flat[] = {&flattened};
            const std::vector<double> chainCents = buildChainCurves(doc, flat).span.centsPerHop;
            const std::vector<double> spanCents = noteSpanParams(doc, flattened).centsPerHop;
            ASSERT_EQ(buildChainCurves(doc, chain).span.centsPerHop,
                      std::vector<double>(chainCents.size(), 0.0));
            // Hops whose centred window lies inside the note and the take's middle.
            for (std::size_t k = 0; k < chainCents.size(); ++k) {
                const std::int64_t p = note.sourceStart + static_cast<std::int64_t>(k) * hop;
                if (p < note.sourceStart + half + 2 * hop || p + half + 2 * hop > note.sourceEnd ||
                    p < static_cast<std::int64_t>(0.1 * kRate) ||
                    p > frames - static_cast<std::int64_t>(0.1 * kRate))
                    continue;
                SCOPED_TRACE(testing::Message() << take.name << " at " << p);
                const std::int64_t f = frameCentredAt(track, p);
                ASSERT_TRUE(f >= 0 && f < static_cast<std::int64_t>(track.frames.size()));
                ASSERT_TRUE(track.frames[static_cast<std::size_t>(f)].voiced);
                check(0, p, midiOf(track.frames[static_cast<std::size_t>(f)].hz));
                check(1, p, midiOf(kRate / epochPeriodAt(track, kRate, p)));
                check(2, p, midiOf(detail::warpFrameF0(&track, p - 1024)));
                // Drift 0 takes away the curve: the shift read at p brings the pitch there onto the note's.
                check(3, p, note.pitch - chainCents[k] / 100.0);
                check(4, p, note.pitch - spanCents[k] / 100.0);
            }
        }
        for (int r = 0; r < 5; ++r)
            EXPECT_LT(worst[r], kToleranceCents) << take.name << ": " << readers[r];
    }
}

} // namespace
} // namespace np
