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

} // namespace
} // namespace np
