// An export that cannot be written says why: the kind's text, then the job's own reason, for each WAV
// depth and for MIDI, whether the render was refused for the working-set limit or the file could not be
// written; and a chosen name that names no file starts no job at all.

#include "tests/plugin/flow_fixture.h"

#include <fstream>

namespace {

struct ExportFailureFixture : FlowFixture {
    cvtest::ScratchFolder out;
    ExportFailureFixture() {
        configure(48000.0, 512, 1);
        captureAndAnalyse(0, 48000);
    }
    // Exports through menu item `item` to chosen and returns the notices it gave once its job reported.
    std::vector<FakeControls::Notice> exportAs(int item, const std::string& chosen) {
        plugin->controls.notices.clear();
        plugin->PromptExportFile();
        plugin->controls.choose(item);
        plugin->controls.answerPrompt(chosen);
        while (plugin->FileJobRunning()) {
            host->idle();
            std::this_thread::yield();
        }
        std::vector<FakeControls::Notice> notices;
        for (const FakeControls::Notice& n : plugin->controls.notices)
            if (n.kind != cv::NoticeKind::Progress)
                notices.push_back(n);
        return notices;
    }
};

TEST(ExportFailures, EachKindAndRoadSaysWhyAfterTheKindsText) {
    ExportFailureFixture f;
    std::filesystem::create_directory(f.out / "adir");
    for (const char* name : {"locked.wav", "locked.mid"}) {
        std::ofstream(f.out / name) << "mine";
        std::filesystem::permissions(f.out / name, std::filesystem::perms::owner_read);
    }
    const std::set<std::string> before = f.out.names();
    // The playback render the session keeps, three times over, leaves the export's own render no room
    // under the limit, as a take of ten minutes does.
    constexpr std::uint64_t kPlaybackFillingTheLimit = 200u << 20;
    const std::string limit = "render source, output, edited-unit and analysis buffers exceed the 512 MiB "
                              "working-set limit.";
    const struct {
        int item; // 0..2 the WAV depths, 4 MIDI
        std::string chosen;
        std::uint64_t largestRender;
        std::string notice;
        cv::NoticeKind kind = cv::NoticeKind::Error;
    } rows[] = {
        {0, "long", kPlaybackFillingTheLimit, "Couldn't export the WAV file: " + limit},
        {1, "long", kPlaybackFillingTheLimit, "Couldn't export the WAV file: " + limit},
        {2, "long", kPlaybackFillingTheLimit, "Couldn't export the WAV file: " + limit},
        {0, "locked", 0, "Couldn't export the WAV file: the destination file is read-only."},
        {1, "locked.wav", 0, "Couldn't export the WAV file: the destination file is read-only."},
        {2, "locked", 0, "Couldn't export the WAV file: the destination file is read-only."},
        {4, "locked", 0, "Couldn't export the MIDI file: the destination file is read-only."},
        // Refused before a job starts, whatever prompt chose the name.
        {1, "   ", 0, "Name a file to save.", cv::NoticeKind::Warning},
        {4, "adir/", 0, "adir is a folder; name a file inside it.", cv::NoticeKind::Warning},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(testing::Message() << row.item << " " << row.chosen);
        CorvalinthProbe::setLargestRender(*f.plugin, row.largestRender);
        const std::string chosen = row.chosen.find_first_not_of(' ') == std::string::npos
                                       ? row.chosen
                                       : (f.out / row.chosen).string();
        const std::vector<FakeControls::Notice> notices = f.exportAs(row.item, chosen);
        ASSERT_EQ(notices.size(), 1u);
        EXPECT_EQ(notices[0].text, row.notice);
        EXPECT_EQ(notices[0].kind, row.kind);
        EXPECT_EQ(f.out.names(), before);
    }
    EXPECT_EQ(cvtest::contentsOf(f.out / "locked.wav"), cvtest::contentsOf(f.out / "locked.mid"));
    CorvalinthProbe::setLargestRender(*f.plugin, 0);
    EXPECT_EQ(f.exportAs(0, (f.out / "fits").string()).back().text, "Exported WAV: fits.wav");
}

} // namespace
