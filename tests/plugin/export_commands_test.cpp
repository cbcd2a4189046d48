// The Export button end to end in the stand-in host: its menu, the save prompts with their names, and the
// files the jobs write, read back by libsndfile and by an independent MIDI reader.

#include "framework/graphics/save_destination.h"
#include "plugin/export_jobs.h"
#include "tests/io/midi_reader.h"
#include "tests/plugin/flow_fixture.h"

#include <sndfile.h>

namespace {

using iplug::igraphics::EFileAction;

struct WavFile {
    SF_INFO info{};
    std::vector<float> samples; // interleaved
};

WavFile readWav(const std::filesystem::path& path) {
    WavFile wav;
    SNDFILE* file = sf_open(path.c_str(), SFM_READ, &wav.info);
    if (file == nullptr) {
        ADD_FAILURE() << "unreadable: " << path;
        return wav;
    }
    wav.samples.resize(static_cast<std::size_t>(wav.info.frames * wav.info.channels));
    sf_readf_float(file, wav.samples.data(), wav.info.frames);
    sf_close(file);
    return wav;
}

struct ExportFixture : FlowFixture {
    cvtest::ScratchFolder out;
    explicit ExportFixture(double takeRate = 48000.0) {
        configure(takeRate, 512, 1);
        analysisGate->close(); // the analysis waits until the test releases it
        capture(0, 48000);
        host->idle();
    }
    // Opens the menu, chooses index, answers the prompt with name in the output folder and waits for the
    // job to report back.
    void exportAs(int index, const std::string& name) {
        plugin->PromptExportFile();
        ASSERT_NE(plugin->controls.menu, nullptr);
        plugin->controls.choose(index);
        ASSERT_TRUE(plugin->controls.pendingPrompt);
        plugin->controls.answerPrompt((out / name).string());
        finishJob();
    }
    void finishJob() {
        while (plugin->FileJobRunning()) {
            host->idle();
            std::this_thread::yield();
        }
    }
    const np::AudioBuffer& source() { return *CorvalinthProbe::source(*plugin); }
    std::vector<std::string> texts() const { return plugin->controls.messages(); }
};

TEST(ExportNames, DefaultNamesAndTheExtensionRule) {
    using cv::FileJobKind;
    const struct {
        const char* label;
        FileJobKind kind;
        const char* expected;
    } names[] = {
        {"Captured audio", FileJobKind::WavExport, "Corvalinth Export-edited.wav"},
        {"Captured audio", FileJobKind::MidiExport, "Corvalinth-notes.mid"},
        {"/home/a/Take 3.final.wav", FileJobKind::WavExport, "Take 3.final-edited.wav"},
        {"C:\\takes\\vox.aif", FileJobKind::MidiExport, "vox-notes.mid"},
    };
    for (const auto& n : names) {
        SCOPED_TRACE(n.label);
        EXPECT_EQ(cv::defaultExportName(n.label, n.kind), n.expected);
    }
    const struct {
        const char* chosen;
        const char* expected;
    } extensions[] =
        {
            {"/a/take.WAV", "/a/take.WAV"},       {"/a/take", "/a/take.wav"},
            {"/a/take.mid", "/a/take.mid.wav"},   {"/a/take.", "/a/take..wav"},
            {"/a/.wav", "/a/.wav.wav"},           // a hidden file's name, not an extension
            {"/a/tåke.wAv", "/a/tåke.wAv"},       // case ignored in ASCII letters
            {"/a/take.WÄV", "/a/take.WÄV.wav"},   // and only there
            {"/a/take.wav/", "/a/take.wav/.wav"}, // a folder's path: the writer refuses it
        };
    for (const auto& e : extensions) {
        SCOPED_TRACE(e.chosen);
        EXPECT_EQ(cv::pathToUtf8(iplug::igraphics::SaveDestination(cv::pathFromUtf8(e.chosen), "wav")),
                  e.expected);
    }
    EXPECT_EQ(cv::exportReservedBytes(1000), 3000u);
    EXPECT_EQ(cv::exportReservedBytes(UINT64_MAX / 2), 536870912u);
}

TEST(ExportCommands, MenuChoicesRefusalsAndTheSavedDepth) {
    FlowFixture f;
    f.configure(48000.0, 512, 1);
    f.plugin->PromptExportFile();
    EXPECT_EQ(f.plugin->controls.messages(),
              std::vector<std::string>{"Open or capture audio before exporting."});
    EXPECT_EQ(f.plugin->controls.notices.back().durationMs, 8000);
    EXPECT_EQ(f.plugin->controls.menu, nullptr);

    f.analysisGate->close(); // not analysed yet
    f.capture(0, 48000);
    f.host->idle();
    f.plugin->editorOpen = false;
    f.plugin->PromptExportFile(); // without the editor nothing happens
    f.plugin->editorOpen = true;
    EXPECT_EQ(f.plugin->controls.menu, nullptr);

    f.plugin->PromptExportFile();
    ASSERT_NE(f.plugin->controls.menu, nullptr);
    const auto& items = f.plugin->controls.menu->Items();
    ASSERT_EQ(items.size(), 5u);
    const char* texts[] = {"16-bit WAV", "24-bit WAV", "32-bit float WAV", "", "MIDI notes (.mid)"};
    for (std::size_t i = 0; i < items.size(); ++i) {
        EXPECT_EQ(items[i].text, texts[i]);
        EXPECT_EQ(items[i].checked, i == 1) << i; // the default depth
    }
    EXPECT_TRUE(items[3].separator);
    f.plugin->controls.choose(-1);
    f.plugin->PromptExportFile();
    f.plugin->controls.choose(4);
    EXPECT_EQ(f.plugin->controls.messages().back(), "Wait for analysis to finish before exporting MIDI.");
    EXPECT_TRUE(f.plugin->controls.prompts.empty());

    f.plugin->PromptExportFile();
    f.plugin->controls.choose(2);
    ASSERT_EQ(f.plugin->controls.prompts.size(), 1u);
    const auto& prompt = f.plugin->controls.prompts[0];
    EXPECT_EQ(prompt.action, EFileAction::Save);
    EXPECT_EQ(prompt.defaultName, "Corvalinth Export-edited.wav");
    EXPECT_EQ(prompt.extension, "wav");
    EXPECT_EQ(cv::Prefs(f.prefsFolder.path()).getInt(cv::kPrefExportDepthIdx, -1), 2); // on disk
    f.plugin->controls.answerPrompt("");                                               // cancelled: no job
    EXPECT_FALSE(f.plugin->FileJobRunning());
    f.plugin->PromptExportFile();
    EXPECT_TRUE(f.plugin->controls.menu->Items()[2].checked);
    f.plugin->controls.choose(-1);

    f.plugin->controls.hasExportButton = false; // an editor without the button: the WAV prompt at once
    f.plugin->PromptExportFile();
    EXPECT_EQ(f.plugin->controls.prompts.size(), 2u);
}

TEST(ExportCommands, WavBeforeAnalysisIsTheCaptureAndAfterItTheRender) {
    ExportFixture f;
    f.exportAs(2, "take");
    EXPECT_EQ(f.texts().back(), "Exported WAV: take.wav");
    const WavFile raw = readWav(f.out / "take.wav");
    EXPECT_EQ(raw.info.format, SF_FORMAT_WAV | SF_FORMAT_FLOAT);
    EXPECT_EQ(raw.info.samplerate, 48000);
    ASSERT_EQ(raw.info.frames, f.source().frames);
    const auto source = f.source().channel(0);
    EXPECT_TRUE(std::equal(source.begin(), source.end(), raw.samples.begin()));

    f.analysisGate->release();
    f.settleAnalysis();
    const np::Note first = f.plugin->Session().document().notes.front();
    const std::uint32_t ids[] = {first.id};
    ASSERT_TRUE(f.plugin->Session().setMuted(ids, true));
    f.exportAs(0, "take.WAV");
    EXPECT_EQ(f.texts().back(), "Exported WAV: take.WAV");
    const WavFile edited = readWav(f.out / "take.WAV");
    EXPECT_EQ(edited.info.format, SF_FORMAT_WAV | SF_FORMAT_PCM_16);
    ASSERT_EQ(edited.info.frames, f.source().frames);
    // The muted note's span is faded out of the render; the audio after every note is the capture's.
    const auto mid = static_cast<std::size_t>(first.start + first.length / 2);
    EXPECT_NE(source[mid], 0.0f);
    EXPECT_EQ(edited.samples[mid], 0.0f);
    const std::size_t tail = source.size() - 10;
    EXPECT_NEAR(edited.samples[tail], source[tail], 1.0 / 32768);
}

// Every menu item and kind of chosen name, for a take captured at 44.1 kHz while the host now runs at
// 48 kHz: the file gets its extension only when the name lacks it (in any case), a WAV file holds the
// take at its own rate and length in the depth chosen, and a MIDI file the notes at the Tempo.
TEST(ExportCommands, WritesEachChosenNameWithItsExtensionInTheChosenDepthAtTheTakesRate) {
    ExportFixture f(44100.0);
    f.analysisGate->release();
    f.settleAnalysis();
    f.configure(48000.0, 512, 1);
    f.host->setParameter(cv::kParamTempo, 90.0);
    f.host->idle();
    ASSERT_EQ(f.plugin->SourceSampleRate(), 44100.0);
    const struct {
        int item;
        const char* chosen;
        const char* written;
        int format; // of a WAV file
    } rows[] = {
        {0, "take", "take.wav", SF_FORMAT_PCM_16},
        {1, "take.wav", "take.wav", SF_FORMAT_PCM_24},
        {2, "take.WAV", "take.WAV", SF_FORMAT_FLOAT},
        {0, "take.Wav", "take.Wav", SF_FORMAT_PCM_16},
        {1, "take.mid", "take.mid.wav", SF_FORMAT_PCM_24},
        {2, "take.mp3", "take.mp3.wav", SF_FORMAT_FLOAT},
        {4, "notes", "notes.mid", 0},
        {4, "notes.MID", "notes.MID", 0},
        {4, "notes.wav", "notes.wav.mid", 0},
        {4, "notes.midi", "notes.midi.mid", 0},
        {0, "täke.WÄV", "täke.WÄV.wav", SF_FORMAT_PCM_16},
        {4, "nötes.", "nötes..mid", 0},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.chosen);
        f.exportAs(row.item, row.chosen);
        EXPECT_EQ(f.out.names(), std::set<std::string>{row.written});
        // The file the save prompt judged, by the extension it was asked for, is the file written.
        EXPECT_EQ(iplug::igraphics::SaveDestination(f.out / row.chosen,
                                                    f.plugin->controls.prompts.back().extension),
                  f.out / row.written);
        const bool wav = row.item <= 2;
        EXPECT_EQ(f.texts().back(), (wav ? "Exported WAV: " : "Exported MIDI: ") + std::string(row.written));
        if (wav) {
            const WavFile file = readWav(f.out / row.written);
            EXPECT_EQ(file.info.format, SF_FORMAT_WAV | row.format);
            EXPECT_EQ(file.info.samplerate, 44100);
            EXPECT_EQ(file.info.frames, 48000);
        } else {
            const auto midi = cvtest::readMidi(cvtest::contentsOf(f.out / row.written));
            ASSERT_TRUE(midi.has_value());
            EXPECT_EQ(midi->tempos, std::vector<std::uint64_t>{666667}); // 90 bpm
            EXPECT_EQ(midi->notes.size(), 8u);                           // four notes on and off
        }
        std::filesystem::remove(f.out / row.written);
    }
}

TEST(ExportCommands, MidiOfTheNotesOrAnErrorWithoutThem) {
    ExportFixture f;
    f.analysisGate->release();
    f.settleAnalysis();
    f.exportAs(4, "notes");
    EXPECT_EQ(f.plugin->controls.prompts.back().defaultName, "Corvalinth-notes.mid");
    EXPECT_EQ(f.plugin->controls.prompts.back().extension, "mid");
    EXPECT_EQ(f.texts().back(), "Exported MIDI: notes.mid");
    const auto midi = cvtest::readMidi(cvtest::contentsOf(f.out / "notes.mid"));
    ASSERT_TRUE(midi.has_value());
    std::vector<int> onsets;
    for (const auto& e : midi->notes)
        if (e.status == cvtest::kOn)
            onsets.push_back(e.note);
    EXPECT_EQ(onsets, (std::vector<int>{60, 62, 64, 65}));

    // Sung a quarter tone flat of a 432 Hz tuning (0.57 st under 440's notes): still the same notes.
    f.host->setParameter(cv::kParamA4, 1.0);
    f.host->idle();
    std::vector<std::uint32_t> ids;
    for (const np::Note& n : f.plugin->Session().document().notes)
        ids.push_back(n.id);
    ASSERT_TRUE(f.plugin->Session().addPitchOffset(ids, np::tuningOffsetSemitones(432.0) - 0.25));
    f.exportAs(4, "at432.mid");
    const auto at432 = cvtest::readMidi(cvtest::contentsOf(f.out / "at432.mid"));
    ASSERT_TRUE(at432.has_value());
    onsets.clear();
    for (const auto& e : at432->notes)
        if (e.status == cvtest::kOn)
            onsets.push_back(e.note);
    EXPECT_EQ(onsets, (std::vector<int>{60, 62, 64, 65}));

    // Every note muted: none can be exported.
    ASSERT_TRUE(f.plugin->Session().setMuted(ids, true));
    f.exportAs(4, "none.mid");
    EXPECT_EQ(f.texts().back(), "Couldn't export the MIDI file: there are no notes to export.");
    EXPECT_EQ(f.plugin->controls.notices.back().kind, cv::NoticeKind::Error);
    EXPECT_FALSE(std::filesystem::exists(f.out / "none.mid"));
}

TEST(ExportJobs, AWavExportCancelledDuringTheRenderWritesNothing) {
    ExportFixture f;
    f.analysisGate->release();
    f.settleAnalysis();
    std::atomic<bool> cancel{true};
    std::atomic<float> progress{0.0f};
    cv::WavExportRequest request;
    request.path = f.out / "cancelled.wav";
    request.hasDocument = true;
    request.document = f.plugin->Session().document();
    const cv::FileJobResult result = cv::runWavExport(request, {cancel, progress});
    EXPECT_EQ(result.message, "WAV export was cancelled");
    EXPECT_FALSE(result.ok);
    EXPECT_TRUE(f.out.names().empty());
    // The render begins at 0 % of its part of the bar, which starts at 10 %: the bar never goes back.
    EXPECT_EQ(progress.load(), 0.1f);
}

} // namespace
