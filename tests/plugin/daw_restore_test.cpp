#include "host/standin/host_state.h"
#include "tests/io/project_fixtures.h"
#include "tests/plugin/daw_restore_fixture.h"

#include <algorithm>
#include <cstring>
#include <future>

namespace {

constexpr const char* kRestoreFailed =
    "Couldn't restore the saved Corvalinth state. The previous audio was cleared.";

bool shown(const FlowFixture& f, const std::string& text) {
    const std::vector<std::string> texts = f.texts();
    return std::find(texts.begin(), texts.end(), text) != texts.end();
}

TEST(DawRestore, AnEditedSessionComesBackWholeWithAndWithoutTheHook) {
    EditedSession a;
    EXPECT_TRUE(a.plugin->ProjectDirty());
    const std::optional<iplug::HostStateRecord> saved = a.host->saveState();
    ASSERT_TRUE(saved.has_value());
    a.host->setInput(nullptr);
    const std::vector<double> heard = a.play(0, 120);
    struct Case {
        const char* name;
        double engineRate;
        bool hook;
        bool hostThread;
        bool bounceFirst; // the host bounces before the idle loop has installed the session
    };
    for (const Case& c : {Case{"hook, main thread", 48000.0, true, false, false},
                          Case{"no hook, another thread", 48000.0, false, true, false},
                          Case{"engine at 44.1 kHz", 44100.0, true, false, false},
                          Case{"bounced before the idle loop", 48000.0, true, false, true}}) {
        SCOPED_TRACE(c.name);
        FlowFixture b;
        b.configure(c.engineRate, 512, 1);
        b.host->setInput(nullptr);
        const auto restore = [&] { return b.host->restoreState(*saved, {c.hook, 0}); };
        ASSERT_TRUE(c.hostThread ? std::async(std::launch::async, restore).get() : restore());
        if (c.bounceFirst) {
            EXPECT_EQ(b.play(0, 120, true), heard);
        }
        b.host->idle();

        expectSameSession(*a.plugin, *b.plugin);
        EXPECT_FALSE(b.plugin->ProjectDirty());
        EXPECT_EQ(b.plugin->controls.fileReadout, "Restored capture  \xE2\x80\x94  48.0 kHz \xC2\xB7 1 ch");
        // The restored edits are rendered (the stand-in render plays 1 + the notes' offsets, 4.0, here
        // at Volume 62.5 %) and heard as the instance that saved them played them.
        b.settleRender();
        const std::vector<double> played = b.play(0, 120);
        EXPECT_EQ(b.renderGate->made.load(), 1) << "one render of the restored session";
        const auto middle =
            static_cast<std::size_t>((EditedSession::kAnchor + 24000) * c.engineRate / 48000.0);
        EXPECT_EQ(played[middle], 2.5);
        if (c.engineRate == 48000.0) {
            EXPECT_EQ(played, heard);
        }
        // Saved again from the installed session and parameters, the state is the same to the byte.
        EXPECT_EQ(b.host->saveState(), saved);
        // The settings it was saved with are its own: moving one away shows "Unsaved" until it is back.
        for (const double key : {0.0, 4.0}) {
            b.host->setParameter(cv::kParamKey, key);
            b.host->idle();
            EXPECT_EQ(b.plugin->controls.readouts.unsavedMark, key != 4.0);
        }
    }
}

TEST(DawRestore, AnEditingParameterChangeReachesTheSessionAndTheNextSave) {
    EditedSession f;
    using Reading = std::function<double(const np::EditSession&)>;
    const struct {
        int param;
        std::size_t saved;
        double value;
        Reading inSession; // empty: the session keeps no copy
        double sessionValue;
    } changes[] = {
        {cv::kParamKey, cv::dawstate::kValueKey, 7.0,
         [](const np::EditSession& s) { return double(s.keyScale().root); }, 7.0},
        {cv::kParamScale, cv::dawstate::kValueScale, 2.0,
         [](const np::EditSession& s) { return double(s.keyScale().kind); }, 2.0},
        {cv::kParamTempo, cv::dawstate::kValueTempo, 140.5, {}, 0.0},
        {cv::kParamA4, cv::dawstate::kValueA4, 1.0, [](const np::EditSession& s) { return s.a4Hz(); }, 432.0},
    };
    for (const auto& c : changes) {
        SCOPED_TRACE(c.param);
        f.host->setParameter(c.param, c.value);
        f.host->idle();
        EXPECT_EQ(savedValue(*f.host->saveState(), c.saved), c.value);
        if (c.inSession) {
            EXPECT_EQ(c.inSession(f.plugin->Session()), c.sessionValue);
        }
    }
}

TEST(DawRestore, ASessionSavedBeforeItsAnalysisIsAnalysedAgain) {
    FlowFixture a;
    a.configure(48000.0, 512, 1);
    a.analysisGate->close();
    a.capture(0, 48000);
    a.host->idle(); // the capture is installed; its analysis waits at the gate
    const std::optional<iplug::HostStateRecord> saved = a.host->saveState();
    a.analysisGate->release();
    ASSERT_TRUE(saved.has_value());

    FlowFixture b;
    b.configure(48000.0, 512, 1);
    ASSERT_TRUE(b.host->restoreState(*saved));
    b.settleAnalysis();
    EXPECT_EQ(b.plugin->Session().document().notes.size(), 4u);
    EXPECT_EQ(CorvalinthProbe::anchor(*b.plugin), 0);
}

// Each bad chunk is refused: the host hears it, the user sees it once the old session is cleared, the
// parameters stay, nothing escapes; and the instance still restores a good state afterwards.
TEST(DawRestore, BadChunksAreRefusedWithANotice) {
    EditedSession a;
    const iplug::HostStateRecord saved = *a.host->saveState();
    const std::size_t size = saved.data.size();
    const auto withDouble = [&](std::size_t at, double value) {
        iplug::HostStateRecord record = saved;
        std::memcpy(record.data.data() + at, &value, sizeof value);
        return record;
    };
    struct Case {
        const char* name;
        iplug::HostStateRecord record;
    };
    const Case cases[] = {
        {"cut inside the header", cv::standin::truncated(saved, 40)},
        {"cut inside the session", cv::standin::truncated(saved, size - 1)},
        {"tempo 301", withDouble(48, 301.0)},
        {"flag byte 3", cv::standin::bitFlipped(saved, 64 * 8 + 1)},
        {"a bit flipped in the session", cv::standin::bitFlipped(saved, (size - 60) * 8 + 3)},
        {"a flag trailer after the session",
         [&] {
             iplug::HostStateRecord record = saved;
             record.data.insert(record.data.end(), {1, 0, 0, 0}); // a host restore allows no trailer
             return record;
         }()},
    };

    FlowFixture b;
    b.configure(48000.0, 512, 1);
    b.host->setParameter(cv::kParamTempo, 133.5);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        b.captureAndAnalyse(0, 24000);
        b.plugin->controls.notices.clear();
        EXPECT_FALSE(b.host->restoreState(c.record));
        b.host->idle();
        EXPECT_TRUE(shown(b, kRestoreFailed));
        EXPECT_EQ(b.plugin->Session().document().audio, nullptr);
        EXPECT_EQ(b.plugin->GetParam(cv::kParamTempo)->Value(), 133.5);
    }
    EXPECT_EQ(CorvalinthProbe::latch(*b.plugin).DomainMask(), 0u) << "a refusal is no fault";
    ASSERT_TRUE(b.host->restoreState(saved));
    b.host->idle();
    expectSameSession(*a.plugin, *b.plugin);
}

// An idle tick during the decode must not take the restore out from under it, and the old session,
// published by the main thread before the restore is installed, must not replace the restored one.
TEST(DawRestore, TheRestoredSessionSurvivesIdleTicksAndPublishesOfTheOldOne) {
    EditedSession a;
    const iplug::HostStateRecord saved = *a.host->saveState();
    FlowFixture b;
    b.configure(48000.0, 512, 1);
    b.captureAndAnalyse(0, 24000);
    b.plugin->duringRestoreDecode = [&] { b.host->idle(2); };
    ASSERT_TRUE(b.host->restoreState(saved));
    b.plugin->duringRestoreDecode = nullptr;

    CorvalinthProbe::publishSession(*b.plugin);
    EXPECT_EQ(b.host->saveState(), saved);
    b.host->idle();
    expectSameSession(*a.plugin, *b.plugin);
    EXPECT_EQ(b.host->saveState(), saved);
}

TEST(DawRestore, FailuresReachTheUserAndNeverTheHost) {
    EditedSession a;
    const iplug::HostStateRecord saved = *a.host->saveState();
    a.host->faults().arm(cv::standin::Callback::RestoreFinish); // out of memory while decoding, say
    EXPECT_FALSE(a.host->restoreState(saved));
    EXPECT_NE(CorvalinthProbe::latch(*a.plugin).DomainMask() & cv::HostCallbackFaultLatch::State, 0u);
    a.host->idle();
    EXPECT_TRUE(shown(a, kRestoreFailed));
    EXPECT_TRUE(shown(a, cv::HostCallbackFaultLatch::kGenericMessage));

    // A session the writer refuses: the host's save fails, and the user learns that the project lacks it.
    cv::dawstate::Snapshot unwritable = cv::dawstate::sessionSnapshot(
        cv::dawstate::parameterValues(*a.plugin), cvtest::project::makeSession(1, 900, 3), 0);
    unwritable.document.nextNoteId = 1; // not above the note ids
    CorvalinthProbe::dawState(*a.plugin).publish(std::move(unwritable));
    EXPECT_FALSE(a.host->saveState().has_value());
    a.host->idle();
    EXPECT_TRUE(shown(a, "Couldn't save the Corvalinth state with the DAW project. The capture and its "
                         "edits are not in it."));
}

} // namespace
