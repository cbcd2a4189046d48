#include "plugin/audition_excerpt.h"
#include "tests/plugin/flow_fixture.h"

#include <algorithm>
#include <cmath>

namespace {

TEST(AuditionExcerpt, CentresOnTheSteadiestVoicedWindowOrElseOnTheNote) {
    // 48 kHz, hop 256: a window is 6720 frames (26 hops), the excerpt reaches 8400 frames each side.
    np::Document doc;
    doc.sampleRate = 48000.0;
    doc.track.frames.assign(400, np::PitchFrame{220.0, 0.9, true, 0});
    for (std::size_t k = 0; k < 400; ++k)
        doc.track.frames[k].hz = 220.0 + (k < 200 ? 10.0 * (k % 2) : 0.0); // steady from hop 200 on
    struct Case {
        const char* name;
        std::int64_t start, end;
        bool voiced;
        std::pair<std::int64_t, std::int64_t> expected;
    };
    for (const Case& c : {
             Case{"a note shorter than the window is taken whole", 1000, 5800, true, {1000, 5800}},
             Case{"the first steady window",
                  0,
                  102400,
                  true,
                  {200 * 256 + 3360 - 8400, 200 * 256 + 3360 + 8400}},
             Case{"nothing voiced: the centre", 0, 102400, false, {51200 - 8400, 51200 + 8400}},
         }) {
        SCOPED_TRACE(c.name);
        for (np::PitchFrame& f : doc.track.frames)
            f.voiced = c.voiced;
        np::Note note;
        note.sourceStart = c.start;
        note.sourceEnd = c.end;
        EXPECT_EQ(cv::auditionExcerptRange(doc, note), c.expected);
    }
}

TEST(AuditionFlow, OnlyTheToneOfTheNoteStillAuditionedReachesTheVoice) {
    for (const bool stopped : {false, true}) {
        SCOPED_TRACE(stopped ? "stopped before the tone arrived" : "still dragging");
        FlowFixture f([](Corvalinth::Services& services) {
            services.auditionSynth = [](const np::FrozenNote&, const np::NoteAuditionWorker::SynthRequest&,
                                        const std::function<bool()>&) {
                np::AudioBuffer tone;
                tone.resize(1, 4800);
                return tone;
            };
        });
        f.configure(48000.0, 512, 1);
        f.captureAndAnalyse(0, 48000);
        f.plugin->StartLiveAudition(2);
        while (CorvalinthProbe::auditionWorker(*f.plugin).busy())
            std::this_thread::yield();
        if (stopped)
            f.plugin->StopLiveAudition();
        const std::int64_t before = CorvalinthProbe::voice(*f.plugin).outstanding();
        f.host->idle();
        EXPECT_EQ(CorvalinthProbe::voice(*f.plugin).outstanding() - before, stopped ? 0 : 1);
    }
}

// The left channel at 0.25 and the right at 0.75 throughout: mixed to mono, 0.5.
struct UnevenStereo : cv::standin::InputSource {
    void fill(std::int64_t, int frames, std::span<double* const> channels) const noexcept override {
        for (std::size_t c = 0; c < channels.size(); ++c)
            std::fill_n(channels[c], frames, c == 0 ? 0.25 : 0.75);
    }
};

// What the audition synth was asked for (on the audition thread): each tone, and the rate and loudest
// sample of the excerpt it was frozen from.
struct SynthLog {
    std::mutex mutex;
    std::vector<np::AuditionTone> tones;
    int excerptRate = 0;
    float excerptPeak = 0.0f;
};

TEST(AuditionFlow, TheToneFollowsTheDraggedPitchAndFormantAndStopsWithTheDrag) {
    auto log = std::make_shared<SynthLog>();
    FlowFixture f([log](Corvalinth::Services& services) {
        services.auditionSynth = [log](const np::FrozenNote& frozen,
                                       const np::NoteAuditionWorker::SynthRequest& request,
                                       const std::function<bool()>&) {
            std::lock_guard lock(log->mutex);
            log->tones.push_back(request.tone);
            log->excerptRate = frozen.sampleRate;
            log->excerptPeak = 0.0f;
            for (const float x : frozen.excerpt)
                log->excerptPeak = std::max(log->excerptPeak, std::abs(x));
            np::AudioBuffer tone;
            tone.resize(1, 9600);
            std::fill(tone.samples.begin(), tone.samples.end(), 0.5f);
            return tone;
        };
    });
    // Taken at 44.1 kHz and auditioned on a 48 kHz engine: the excerpt keeps the take's rate, the tone
    // comes at the engine's.
    f.configure(44100.0, 512, 2);
    f.host->setInput(std::make_shared<UnevenStereo>());
    f.capture(0, 44100);
    f.host->configure({48000.0, 512, 2, 2});
    f.settleAnalysis();
    f.host->setInput(nullptr);
    static constexpr std::uint32_t kNote = 2; // MIDI 62
    // The last sample of a few blocks with the transport stopped past the take, where the track is
    // silent, once the voice's fades are over.
    const auto heard = [&f] {
        f.host->setRecording(true);
        f.host->run(cv::standin::contiguous(96000, 512, 4, false));
        return f.host->takeRecording()[0].back();
    };
    // The press starts the audition; each drag step edits the note and asks for its tone again.
    const struct {
        const char* name;
        std::function<void(Corvalinth&)> step;
        double f0Hz;
        double formantRatio;
    } drag[] = {
        {"the press", [](Corvalinth& p) { p.StartLiveAudition(kNote); }, 293.6648, 1.0},
        {"3 semitones up",
         [](Corvalinth& p) {
             p.Session().addPitchOffset({&kNote, 1}, 3.0);
             p.UpdateLiveAudition(kNote);
         },
         349.2282, 1.0},
        {"formants an octave up",
         [](Corvalinth& p) {
             p.Session().addFormantShift({&kNote, 1}, 12.0);
             p.UpdateLiveAudition(kNote);
         },
         349.2282, 2.0},
    };
    for (const auto& d : drag) {
        SCOPED_TRACE(d.name);
        d.step(*f.plugin);
        while (CorvalinthProbe::auditionWorker(*f.plugin).busy())
            std::this_thread::yield();
        f.host->idle();
        {
            std::lock_guard lock(log->mutex);
            ASSERT_FALSE(log->tones.empty());
            const np::AuditionTone& tone = log->tones.back();
            EXPECT_NEAR(tone.f0Hz, d.f0Hz, 1e-3);
            EXPECT_EQ(tone.formantRatio, d.formantRatio);
            EXPECT_EQ(tone.frames, 120000); // 2.5 s
            EXPECT_EQ(tone.outputRate, 48000.0);
            EXPECT_EQ(log->excerptRate, 44100);
            EXPECT_EQ(log->excerptPeak, 0.5f) << "the channels' average";
        }
        EXPECT_NE(heard(), 0.0);
    }
    f.plugin->StopLiveAudition();
    EXPECT_EQ(heard(), 0.0);
}

} // namespace
