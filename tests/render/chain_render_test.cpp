#include "engine/render/chain_render.h"
#include "tests/render/render_measures.h"
#include "tests/support/signals.h"

#include <gtest/gtest.h>

namespace np {
namespace {

constexpr double kRate = 48000.0;
constexpr double kHz = 220.0;
constexpr std::int64_t kFrames = 24000;

// A stand-in engine that renders the source's tone at the requested shift, missing it by flatCents, and
// counts its renderings: the pitch check must render again exactly when the miss exceeds 3 cents, and
// the second rendering must ask for the shift corrected by the miss.
TEST(PitchCheck, RendersOnceMoreOnlyWhenTheUnitMissesItsPitch) {
    const Document doc = cvtest::spanDocument({cvtest::harmonicTone(kHz, kRate, kFrames)}, kRate, kHz);
    for (const auto& [flat, renders] : {std::pair{20.0, 2}, std::pair{2.0, 1}}) {
        SCOPED_TRACE(flat);
        const double flatCents = flat; // a copy the stand-in can capture
        int calls = 0;
        const auto standIn = [&](const std::vector<double>& cents) {
            ++calls;
            const std::vector<float> tone = cvtest::harmonicTone(
                kHz * std::exp2((cents[cents.size() / 2] - flatCents) / 1200.0), kRate, kFrames);
            return AudioBuffer::fromInterleaved(tone.data(), 1, kFrames);
        };
        std::vector<double> cents(kFrames / doc.track.hop, 300.0);
        const AudioBuffer out =
            detail::checkPitchAndRenderAgain(doc, 0, standIn(cents), cents, PYinConfig{}, {}, standIn);
        EXPECT_EQ(calls, renders);
        EXPECT_EQ(out.frames, kFrames);
        if (renders == 2) {
            EXPECT_NEAR(cents[cents.size() / 2], 300.0 + flatCents, 1.0);
        }
    }
}

// A pitch-synchronous unit is kept only when it follows the expected pitch (an octave up here) and keeps
// the source's level; a unit at the source's unshifted pitch, or one 20 dB down, is refused.
TEST(PitchSynchronousOutput, IsUsableOnlyOnPitchAndNearTheSourceLevel) {
    const Document doc = cvtest::spanDocument({cvtest::harmonicTone(kHz, kRate, kFrames)}, kRate, kHz);
    SpanParams span;
    span.sourceLength = span.outputLength = kFrames;
    span.centsPerHop.assign(kFrames / doc.track.hop, 1200.0);
    struct Case {
        const char* what;
        double hz;
        float amplitude;
        bool usable;
    };
    const Case cases[] = {
        {"on pitch, at the source level", 2 * kHz, 0.5f, true},
        {"unshifted, at the source level", kHz, 0.5f, false},
        {"on pitch, 20 dB down", 2 * kHz, 0.05f, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const std::vector<float> tone = cvtest::harmonicTone(c.hz, kRate, kFrames, 10, c.amplitude);
        EXPECT_EQ(detail::pitchSynchronousOutputUsable(AudioBuffer::fromInterleaved(tone.data(), 1, kFrames),
                                                       doc, span),
                  c.usable);
    }
}

} // namespace
} // namespace np
