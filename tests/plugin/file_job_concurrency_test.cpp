// The file-job slot with bodies the test holds: one job at a time, one waiting, generations, cancel and
// the notices the idle loop shows when a job reports back.

#include "tests/plugin/flow_fixture.h"

namespace {

using cv::FileJobKind;
using cv::FileJobResult;

// A body that waits at its gate, then returns what the test set (or throws).
struct HeldJob {
    std::shared_ptr<JobGate> gate = std::make_shared<JobGate>();
    std::shared_ptr<std::atomic<int>> started = std::make_shared<std::atomic<int>>(0);
    HeldJob() { gate->close(); }
    std::function<FileJobResult()> body(FileJobResult result, bool throws = false) {
        return [g = gate, s = started, result, throws] {
            s->fetch_add(1);
            g->pass();
            if (throws)
                throw std::runtime_error("disk vanished");
            return result;
        };
    }
    void waitStarted(int n) const {
        while (started->load() < n)
            std::this_thread::yield();
    }
};

FileJobResult written(const char* path) {
    FileJobResult r;
    r.ok = true;
    r.path = path;
    return r;
}

struct JobFixture : CorvalinthFixture {
    JobFixture() { plugin->editorOpen = true; }
    void finish() {
        while (plugin->FileJobRunning()) {
            host->idle();
            std::this_thread::yield();
        }
    }
    std::vector<std::string> texts() const { return plugin->controls.messages(); }
};

TEST(FileJobs, ANewJobCancelsTheRunningOneAndOnlyTheLatestReports) {
    JobFixture f;
    CorvalinthProbe::replaceSource(*f.plugin, silentAudio(1, 4800));
    HeldJob wav, midi, last;
    f.plugin->StartFileJob(FileJobKind::WavExport, wav.body(written("/x/a.wav")));
    wav.waitStarted(1);
    f.plugin->PromptExportFile();
    EXPECT_EQ(f.texts(), std::vector<std::string>{"Wait for exporting WAV to finish."});
    EXPECT_EQ(f.plugin->controls.menu, nullptr);

    f.plugin->StartFileJob(FileJobKind::MidiExport, midi.body(written("/x/b.mid")));
    f.plugin->StartFileJob(FileJobKind::MidiExport, last.body(written("/x/c.mid"))); // replaces b.mid
    EXPECT_TRUE(CorvalinthProbe::fileJob(*f.plugin).cancel.load());
    EXPECT_EQ(f.plugin->FileJobWaitText(), "Wait for exporting MIDI to finish.");
    wav.gate->release();
    last.gate->release();
    f.finish(); // the WAV job's result is stale; the waiting job starts and reports
    f.finish();
    EXPECT_EQ(midi.started->load(), 0);
    EXPECT_EQ(f.texts().back(), "Exported MIDI: c.mid");
    EXPECT_EQ(f.texts().size(), 2u);
}

TEST(FileJobs, CancelledOrClearedJobsStaySilentButRealFailuresReport) {
    JobFixture f;
    FileJobResult canceledBySystem;
    canceledBySystem.message = "Couldn't write the file: Operation canceled";
    const struct {
        const char* name;
        std::function<void(Corvalinth&, FakeControls&)> during;
        FileJobResult result;
        bool throws;
        std::vector<std::string> expected;
    } cases[] = {
        {"progress line's cancel",
         [](Corvalinth& p, FakeControls&) { p.CancelBackgroundWork(); },
         written("/x/a.wav"),
         false,
         {}},
        {"capture cleared",
         [](Corvalinth& p, FakeControls& c) {
             p.StartFileJob(FileJobKind::MidiExport, [] {
                 ADD_FAILURE() << "a job waiting when the capture was cleared ran";
                 return FileJobResult{};
             });
             p.ClearCapture();
             c.answer(0);
         },
         written("/x/a.wav"),
         false,
         {}},
        {"a system error mentioning cancel",
         {},
         canceledBySystem,
         false,
         {"Couldn't export the WAV file: couldn't write the file: Operation canceled."}},
        {"an exception", {}, FileJobResult{}, true, {"Couldn't export the WAV file: disk vanished."}},
        {"a failure without a message", {}, FileJobResult{}, false, {"Couldn't export the WAV file."}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        CorvalinthProbe::replaceSource(*f.plugin, silentAudio(1, 4800));
        f.plugin->controls.notices.clear();
        HeldJob job;
        f.plugin->StartFileJob(FileJobKind::WavExport, job.body(c.result, c.throws));
        job.waitStarted(1);
        if (c.during)
            c.during(*f.plugin, f.plugin->controls);
        job.gate->release();
        f.finish();
        EXPECT_EQ(f.texts(), c.expected);
    }
}

} // namespace
