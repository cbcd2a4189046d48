#include "plugin/audition_excerpt.h"
#include "tests/plugin/flow_fixture.h"

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

} // namespace
