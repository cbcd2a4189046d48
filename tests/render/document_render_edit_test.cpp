#include "engine/render/document_render.h"
#include "engine/render/vocoder/spectral_envelope.h"
#include "tests/render/document_fixtures.h"
#include "tests/render/render_measures.h"

#include <gtest/gtest.h>
#include <map>
#include <optional>

namespace np {
namespace {

using cvtest::GlideTake;

constexpr double kRate = 48000.0;
// Every edited row: 2 semitones up (9 for the vocoder's automatic rows), the glide's drift doubled (400
// cents), formants 4 semitones up, 5 dB down, moved 40 ms later.
constexpr double kDrift = 2.0, kFormantSemitones = 4.0, kGainDb = -5.0, kMoveSeconds = 0.04;
// Frames left out at either end of the rendered note: its fades and the engines' edges.
constexpr double kMarginSeconds = 0.04;
// Every engine renders the level within 0.4 dB of the edit, the pitch within a median of 5 cents, the
// glide within 3 ms (one 1 ms step of the search, the stretch engine's block of 5 ms) of its place and
// the formants within 25 cents of their shift. The bounds leave some room over that.
constexpr double kLevelToleranceDb = 1.0, kPitchToleranceCents = 10.0, kLagToleranceSeconds = 0.006,
                 kFormantToleranceCents = 60.0;

enum class Force { Auto, Psola, Stretch, World };

const Document& take(int channels) {
    static const std::map<int, Document> takes = {{1, cvtest::glideTake(1, kRate)},
                                                  {2, cvtest::glideTake(2, kRate)}};
    return takes.at(channels);
}

// The first note as a row edits it: shifted, drifted, formant-shifted, quieter (or muted) and moved;
// stretched in time by `stretch` (timeline over source length).
struct Row {
    const char* what;
    Force force;
    int channels;
    double stretch;
    std::optional<RenderEngine> engine; // recorded for note 1; none for a muted single note
    double semitones = 2.0;
    float score = 0.97f;
    bool muted = false;
};

// The fundamental the rendered note should have at output frame o of note.
double expectedHz(const Note& note, std::int64_t o) {
    const double ratio =
        static_cast<double>(note.sourceEnd - note.sourceStart) / static_cast<double>(note.length);
    const double source =
        GlideTake::hzAt((note.sourceStart + static_cast<double>(o - note.start) * ratio) / kRate);
    const double base = 440.0 * std::exp2((note.pitch - 69.0) / 12.0);
    return source * std::exp2(note.pitchOffset / 12.0) * std::pow(source / base, note.driftScale - 1.0);
}

// y's fundamental every 5 ms inside the rendered note (frame and Hz), measured near the expected one.
std::vector<std::pair<std::int64_t, double>> pitchContour(std::span<const float> y, const Note& note) {
    const auto margin = static_cast<std::int64_t>(kMarginSeconds * kRate);
    std::vector<std::pair<std::int64_t, double>> contour;
    for (std::int64_t o = note.start + margin; o < note.start + note.length - margin;
         o += static_cast<std::int64_t>(0.005 * kRate))
        contour.emplace_back(o, cvtest::frequencyNear(y, kRate, o, expectedHz(note, o), 1024, 64));
    return contour;
}

// The median error (cents) of a measured contour against note's expected one moved by lag frames.
double medianPitchError(const std::vector<std::pair<std::int64_t, double>>& contour, const Note& note,
                        std::int64_t lag) {
    std::vector<double> errors;
    for (const auto& [o, hz] : contour)
        errors.push_back(std::abs(cvtest::centsBetween(
            hz, expectedHz(note, std::clamp(o - lag, note.start, note.start + note.length - 1)))));
    return cvtest::percentile(errors, 0.5);
}

// The lag (frames, within +-30 ms, in 1 ms steps) at which a measured contour best follows note's
// expected one.
std::int64_t bestLag(const std::vector<std::pair<std::int64_t, double>>& contour, const Note& note) {
    std::int64_t best = 0;
    double least = INFINITY;
    for (std::int64_t lag = -1440; lag <= 1440; lag += 48)
        if (const double e = medianPitchError(contour, note, lag); e < least) {
            least = e;
            best = lag;
        }
    return best;
}

double levelDb(std::span<const float> y, std::int64_t from, std::int64_t to, std::span<const float> x,
               std::int64_t sourceFrom, std::int64_t sourceTo) {
    return 20.0 * std::log10(cvtest::rmsOver(y, from, to) / cvtest::rmsOver(x, sourceFrom, sourceTo));
}

// The log spectral envelope (natural log of power) of x's middle frame around frame at, where the
// fundamental is f0.
std::vector<double> logEnvelopeAt(std::span<const float> x, std::int64_t at, double f0) {
    const std::vector<double> samples(x.begin() + at - 2048, x.begin() + at + 2048);
    const auto fs = static_cast<int>(kRate);
    const vocoder::FrameSpectra e = vocoder::estimateSpectralEnvelope(
        samples, fs, std::vector<double>(static_cast<std::size_t>(vocoder::frameCount(4096, fs)), f0));
    const std::span<const double> middle = e.frame(e.frames / 2);
    std::vector<double> log(middle.size());
    std::transform(middle.begin(), middle.end(), log.begin(), [](double p) { return std::log(p); });
    return log;
}

// How far (cents, in 5-cent steps within +-1200) y's formants lie above x's: the stretch of x's log
// envelope in frequency that best matches y's between 300 and 4000 Hz, levels aside.
double formantShiftCents(const std::vector<double>& y, const std::vector<double>& x) {
    const double binHz = kRate / (2.0 * static_cast<double>(x.size() - 1));
    double best = 0.0, least = INFINITY;
    for (double cents = -1200.0; cents <= 1200.0; cents += 5.0) {
        const double ratio = std::exp2(cents / 1200.0);
        std::vector<double> d;
        for (auto k = static_cast<std::size_t>(300.0 / binHz); k < static_cast<std::size_t>(4000.0 / binHz);
             ++k) {
            const double at = static_cast<double>(k) / ratio;
            const auto i = static_cast<std::size_t>(at);
            d.push_back(y[k] - (x[i] + (x[i + 1] - x[i]) * (at - static_cast<double>(i))));
        }
        double mean = 0.0, spread = 0.0;
        for (const double v : d)
            mean += v / static_cast<double>(d.size());
        for (const double v : d)
            spread += (v - mean) * (v - mean);
        if (spread < least) {
            least = spread;
            best = cents;
        }
    }
    return best;
}

// A note stretched, shifted, drifted, formant-shifted, made quieter and moved, as a user edits one,
// through each engine in mono and stereo: the rendered note has the edit's level, pitch (the glide where
// the stretch puts it) and formants, the edited length and place, and the engine it was given; every
// frame outside the note's source span and new place is the source's. The vocoder renders the channels'
// mean in every channel.
TEST(DocumentRender, EachEngineRendersACombinedEditAtItsLevelPitchFormantsLengthAndPlace) {
    using E = RenderEngine;
    const Row rows[] = {
        {"chain, pitch-synchronous", Force::Psola, 1, 1.0, E::Psola},
        {"chain, stretch", Force::Stretch, 1, 1.0, E::Stretch},
        {"chain, vocoder", Force::World, 1, 1.0, E::World},
        {"chain, automatic", Force::Auto, 1, 1.0, E::Psola},
        {"chain, automatic, far and unsure", Force::Auto, 1, 1.0, E::World, 9.0, 0.9f},
        {"stretched, pitch-synchronous", Force::Psola, 1, 1.5, E::Stretch},
        {"stretched, stretch", Force::Stretch, 1, 1.5, E::Stretch},
        {"stretched, vocoder", Force::World, 1, 1.5, E::World},
        {"stretched, automatic", Force::Auto, 1, 1.5, E::Stretch},
        {"stretched, automatic, far and unsure", Force::Auto, 1, 1.5, E::World, 9.0, 0.9f},
        {"squeezed, stretch", Force::Stretch, 1, 0.75, E::Stretch},
        {"stereo chain, pitch-synchronous", Force::Psola, 2, 1.0, E::Psola},
        {"stereo chain, stretch", Force::Stretch, 2, 1.0, E::Stretch},
        {"stereo chain, vocoder", Force::World, 2, 1.0, E::World},
        {"stereo stretched, stretch", Force::Stretch, 2, 1.5, E::Stretch},
        {"stereo stretched, vocoder", Force::World, 2, 1.5, E::World},
        {"muted chain, pitch-synchronous", Force::Psola, 1, 1.0, E::Psola, 2.0, 0.97f, true},
        {"muted chain, stretch", Force::Stretch, 1, 1.0, E::Stretch, 2.0, 0.97f, true},
        {"muted chain, vocoder", Force::World, 2, 1.0, E::World, 2.0, 0.97f, true},
        {"muted stretched", Force::Auto, 2, 1.5, std::nullopt, 2.0, 0.97f, true},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        Document doc = take(row.channels);
        const AudioBuffer& source = *doc.audio;
        Note& note = doc.notes[0];
        note.pitchOffset = row.semitones;
        note.pitchConfidence = row.score;
        note.driftScale = kDrift;
        note.formantShift = kFormantSemitones;
        note.gainDb = kGainDb;
        note.muted = row.muted;
        note.start += static_cast<std::int64_t>(kMoveSeconds * kRate);
        note.length = std::llround(static_cast<double>(note.length) * row.stretch);
        RenderHints hints;
        RenderOptions options;
        options.hints = &hints;
        options.forcePsola = row.force == Force::Psola;
        options.forceStretch = row.force == Force::Stretch;
        options.forceWorld = row.force == Force::World;
        const AudioBuffer out = renderDocument(doc, options);

        const std::int64_t end = note.start + note.length;
        ASSERT_EQ(out.frames, std::max(source.frames, end));
        ASSERT_EQ(out.channels, source.channels);
        for (int c = 0; c < out.channels; ++c) {
            for (std::int64_t i = 0; i < out.frames; ++i) {
                if (i < note.sourceStart || i >= std::max(note.sourceEnd, end)) {
                    ASSERT_EQ(out.channel(c)[static_cast<std::size_t>(i)],
                              i < source.frames ? source.channel(c)[static_cast<std::size_t>(i)] : 0.0f)
                        << "channel " << c << " frame " << i;
                }
            }
        }
        if (row.engine) {
            EXPECT_EQ(hints.engineByNote.at(1), *row.engine);
        } else {
            EXPECT_FALSE(hints.engineByNote.contains(1));
        }
        EXPECT_FALSE(hints.engineByNote.contains(2));

        const auto margin = static_cast<std::int64_t>(kMarginSeconds * kRate);
        const auto sourceMargin = static_cast<std::int64_t>(kMarginSeconds * kRate / row.stretch);
        std::vector<float> mean(static_cast<std::size_t>(source.frames));
        source.mixdownToMono(mean);
        for (int c = 0; c < out.channels; ++c) {
            SCOPED_TRACE(testing::Message() << "channel " << c);
            const std::span<const float> y = out.channel(c);
            // The vocoder resynthesises the channels' mean.
            const std::span<const float> x =
                row.engine == E::World ? std::span<const float>(mean) : source.channel(c);
            if (row.muted) {
                // Nothing is added: the source span is faded out (over 5 ms edges), and the source is
                // silent after it.
                const auto fade = static_cast<std::int64_t>(0.005 * kRate);
                EXPECT_EQ(cvtest::rmsOver(y, note.sourceStart + fade, note.sourceEnd - fade), 0.0);
                EXPECT_EQ(cvtest::rmsOver(y, note.sourceEnd, end), 0.0);
                continue;
            }
            EXPECT_NEAR(levelDb(y, note.start + margin, end - margin, x, note.sourceStart + sourceMargin,
                                note.sourceEnd - sourceMargin),
                        kGainDb, kLevelToleranceDb);
            const auto contour = pitchContour(y, note);
            EXPECT_LE(medianPitchError(contour, note, 0), kPitchToleranceCents);
            EXPECT_LE(std::abs(static_cast<double>(bestLag(contour, note))) / kRate, kLagToleranceSeconds);
        }
        if (row.muted)
            continue;
        // The formants, in the held stretch before the glide (60 ms into the source span).
        const auto sourceAt = note.sourceStart + static_cast<std::int64_t>(0.06 * kRate);
        const auto outputAt = note.start + static_cast<std::int64_t>(0.06 * kRate * row.stretch);
        const double moved =
            formantShiftCents(logEnvelopeAt(out.channel(0), outputAt, expectedHz(note, outputAt)),
                              logEnvelopeAt(source.channel(0), sourceAt, GlideTake::kFirstHz));
        EXPECT_NEAR(moved, 100.0 * kFormantSemitones, kFormantToleranceCents);
    }
}

// Where an edit of one note of a chain starts: at that note. The chain is the last two notes of a
// steady vowel cut in three (it starts 0.2 s into the take, so a curve read from the take's start
// rather than the span's shows); its second note alone is shifted 3 semitones up (pitch-synchronous)
// or has its formants moved 6 semitones up. The change passes its midpoint within 5 ms of the join
// (the curves are smoothed over two hops either way); a formant curve read at the start of the warp's
// 43 ms frames rather than their centres moves it 17 ms late.
TEST(DocumentRender, AnEditOfOneChainNoteStartsAtThatNote) {
    constexpr double kHz = 220.0, kToleranceSeconds = 0.009;
    struct Edit {
        const char* what;
        double semitones, formantSemitones;
        RenderEngine engine;
    };
    for (const Edit& edit :
         {Edit{"pitch", 3.0, 0.0, RenderEngine::Psola}, Edit{"formants", 0.0, 6.0, RenderEngine::Copy}}) {
        SCOPED_TRACE(edit.what);
        Document doc = cvtest::steadyChain(3, 0.6, kHz, kHz, 1);
        doc.notes.erase(doc.notes.begin());
        Note& second = doc.notes[1];
        second.pitchOffset = edit.semitones;
        second.formantShift = edit.formantSemitones;
        RenderHints hints;
        RenderOptions options;
        options.hints = &hints;
        const AudioBuffer out = renderDocument(doc, options);
        // A pitch-synchronous rendering off its pitch would have been replaced by the stretch engine's.
        EXPECT_EQ(hints.engineByNote.at(doc.notes[0].id), edit.engine);
        const std::span<const float> x = doc.audio->channel(0), y = out.channel(0);
        const std::int64_t join = second.sourceStart;
        // The change heard at frame at: its pitch or its formants against the source's, in cents.
        const auto change = [&](std::int64_t at) {
            if (edit.semitones != 0.0)
                return cvtest::centsBetween(
                    cvtest::frequencyNear(y, kRate, at, kHz * std::exp2(edit.semitones / 24.0), 1024, 64),
                    kHz);
            return formantShiftCents(logEnvelopeAt(y, at, kHz), logEnvelopeAt(x, at, kHz));
        };
        const auto reach = static_cast<std::int64_t>(0.06 * kRate);
        const double middle = 0.5 * (change(join - reach) + change(join + reach));
        std::int64_t crossing = join - reach;
        while (crossing < join + reach && change(crossing) < middle)
            crossing += static_cast<std::int64_t>(0.001 * kRate);
        EXPECT_NEAR(static_cast<double>(crossing - join) / kRate, 0.0, kToleranceSeconds);
    }
}

} // namespace
} // namespace np
