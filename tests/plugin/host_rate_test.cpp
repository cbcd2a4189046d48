// A take captured at 44.1 kHz and edited while the host runs at another rate: the document stays at the
// take's rate, and every edit is heard, played and bounced, at the host time of the note it changed.

#include "tests/plugin/flow_fixture.h"

#include <cmath>

namespace {

constexpr double kTakeRate = 44100.0;
constexpr std::int64_t kTake = 44100;   // one second
constexpr std::int64_t kAnchor = 22050; // half a second into the host's timeline
// Frames of the take on either side of a change that the conversion to the host rate and the region's
// edge ramp may blur (6.8 ms, past the 5 ms ramp and the resampler's ringing).
constexpr std::int64_t kBlur = 300;
// How near a converted constant comes to the level rendered at the take's rate.
constexpr double kLevelTolerance = 1e-3;

// The analysed notes (evenNotes): ids 1..4 at take frames 0, 8820, 17640 and 26460, 6615 frames long,
// at MIDI 60, 62, 64 and 65. A row's note after its command; the defaults are note 2 as analysed.
struct NoteState {
    std::uint32_t id = 2;
    std::int64_t start = 8820;
    std::int64_t length = 6615;
    double pitch = 62.0; // sounding
    double formant = 0.0;
    double gainDb = 0.0;
    bool muted = false;
    std::size_t notes = 4;
};

struct HostRateFixture : FlowFixture {
    double hostRate;
    explicit HostRateFixture(double rate)
        : FlowFixture([](Corvalinth::Services& services) {
              services.render = [](const np::Document& doc, const np::RenderOptions&) {
                  return noteLevels(doc);
              };
          }),
          hostRate(rate) {
        configure(kTakeRate, 512, 1);
        captureAndAnalyse(kAnchor, kTake);
        host->setInput(nullptr); // whatever sounds is the region
        configure(rate, 512, 1);
        settleRender(); // the unedited document, rendered for the host's rate
    }
    std::int64_t hostFrame(std::int64_t takeFrame) const {
        return std::llround(static_cast<double>(takeFrame) * hostRate / kTakeRate);
    }
    // The host timeline from 0 to past the take, played or bounced.
    std::vector<double> heard(bool bounce) {
        const auto blocks = static_cast<int>(hostFrame(kAnchor + kTake) / 512 + 2);
        return play(0, blocks, bounce);
    }
    // Every frame of the take away from a change sounds at its host time as the document, rendered at
    // the take's rate, holds it there.
    void expectHeardAsDocument(const std::vector<double>& out) {
        const np::AudioBuffer rendered = noteLevels(plugin->Session().document());
        const std::span<const float> at = rendered.channel(0);
        for (std::int64_t d = kBlur; d < kTake - kBlur; d += 49) {
            const auto i = static_cast<std::size_t>(d);
            if (at[i - kBlur] != at[i] || at[i + kBlur] != at[i])
                continue;
            const auto p = static_cast<std::size_t>(hostFrame(kAnchor) + hostFrame(d));
            ASSERT_LT(p, out.size());
            ASSERT_NEAR(out[p], at[i], kLevelTolerance) << "take frame " << d;
        }
    }
    std::uint32_t transpose(std::uint32_t id, double semitones) {
        EXPECT_TRUE(plugin->Session().addPitchOffset({&id, 1}, semitones));
        plugin->OnDocumentEdited();
        return id;
    }
};

class HostRateEdits : public testing::TestWithParam<double> {};

TEST_P(HostRateEdits, EveryEditIsHeardAtItsHostTimeAndPitchPlayedAndBounced) {
    using Command = std::function<void(HostRateFixture&)>;
    // Edits the editor makes through the session, as its canvas and inspector do.
    const auto edit = [](std::function<bool(np::EditSession&)> change) -> Command {
        return [change](HostRateFixture& f) {
            ASSERT_TRUE(change(f.plugin->Session()));
            f.plugin->OnDocumentEdited();
        };
    };
    const std::uint32_t two[] = {2};
    const struct {
        const char* name;
        Command command;
        NoteState expected;
    } rows[] = {
        {"transpose", edit([&](np::EditSession& s) { return s.addPitchOffset(two, 2.0); }), {.pitch = 64.0}},
        {"formant",
         edit([&](np::EditSession& s) { return s.addFormantShift(two, -3.0); }),
         {.formant = -3.0}},
        {"gain", edit([&](np::EditSession& s) { return s.addGainDb(two, -6.0); }), {.gainDb = -6.0}},
        {"mute", edit([&](np::EditSession& s) { return s.setMuted(two, true); }), {.muted = true}},
        {"move 50 ms", edit([&](np::EditSession& s) { return s.moveTime(two, 2205); }), {.start = 11025}},
        {"stretch", edit([](np::EditSession& s) { return s.resizeNote(2, 9922); }), {.length = 9922}},
        {"correct",
         [](HostRateFixture& f) {
             f.transpose(2, 0.4);
             f.plugin->controls.selection = {2};
             f.plugin->ApplyPitchMacro();
         },
         {}},
        {"quantize onto the half-beat grid of 120 bpm, 11025 frames at the take's rate",
         [](HostRateFixture& f) {
             f.plugin->controls.selection = {2};
             f.plugin->ApplyTimeMacro();
         },
         {.start = 11025}},
        {"unison",
         [](HostRateFixture& f) {
             f.plugin->controls.selection = {1, 2, 3};
             f.plugin->ApplyUnisonMacro();
         },
         {.id = 1, .start = 0, .pitch = 62.0}},
        {"split at a time, the right part transposed",
         [](HostRateFixture& f) {
             ASSERT_EQ(f.plugin->Session().splitNote(2, 11820), 5u);
             f.plugin->OnDocumentEdited();
             f.transpose(5, 1.0);
         },
         {.id = 5, .start = 11820, .length = 3615, .pitch = 63.0, .notes = 5}},
        {"merge",
         [](HostRateFixture& f) {
             f.plugin->controls.selection = {3, 2};
             f.plugin->MergeSelection();
         },
         {.length = 17640 + 6615 - 8820, .notes = 3}},
        {"undo",
         [](HostRateFixture& f) {
             f.transpose(2, 2.0);
             f.plugin->Undo();
         },
         {}},
        {"redo",
         [](HostRateFixture& f) {
             f.transpose(2, 2.0);
             f.plugin->Undo();
             f.plugin->Redo();
         },
         {.pitch = 64.0}},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        HostRateFixture f(GetParam());
        row.command(f);
        f.expectHeardAsDocument(f.heard(true)); // no idle tick first: the bounce waits for the edit
        f.settleRender();
        f.expectHeardAsDocument(f.heard(false));

        const np::Document& doc = f.plugin->Session().document();
        EXPECT_EQ(doc.sampleRate, kTakeRate);
        EXPECT_EQ(doc.notes.size(), row.expected.notes);
        const np::Note* note = doc.findNote(row.expected.id);
        ASSERT_NE(note, nullptr);
        EXPECT_EQ(note->start, row.expected.start);
        EXPECT_EQ(note->length, row.expected.length);
        EXPECT_NEAR(note->pitch + note->pitchOffset, row.expected.pitch, 1e-9);
        EXPECT_EQ(note->formantShift, row.expected.formant);
        EXPECT_EQ(note->gainDb, row.expected.gainDb);
        EXPECT_EQ(note->muted, row.expected.muted);
        EXPECT_TRUE(f.texts().empty());
    }
}

// The host changes its rate after an edit and bounces at once, before an idle tick: the bounce renders
// the edit for the new rate itself, at the note's time on the new timeline.
TEST(HostRateChange, ABounceRightAfterTheHostChangedRateHoldsTheEditInPlace) {
    HostRateFixture f(48000.0);
    f.transpose(2, 2.0);
    f.settleRender();
    f.hostRate = 96000.0;
    f.host->configure({f.hostRate, 512, 1, 1});
    f.expectHeardAsDocument(f.heard(true));
    EXPECT_TRUE(f.texts().empty());
}

INSTANTIATE_TEST_SUITE_P(TakeAt44k1, HostRateEdits, testing::Values(48000.0, 96000.0),
                         [](const testing::TestParamInfo<double>& info) {
                             return "HostAt" + std::to_string(static_cast<int>(info.param));
                         });

} // namespace
