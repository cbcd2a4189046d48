#include "plugin/diagnostics.h"
#include "tests/plugin/corvalinth_fixture.h"

#include <gtest/gtest.h>

TEST(Diagnostics, FormatsTheFixedReport) {
    cv::DiagnosticsValues values;
    values.sampleRateHz = 48000.0;
    values.blockSize = 512;
    values.inputChannels = 2;
    values.outputChannels = 2;
    values.playbackDrops = 1;
    values.hostDrops = 2;
    values.auditionDrops = 3;
    values.automationOverflows = 18446744073709551615ull;
    EXPECT_EQ(cv::formatDiagnostics(values),
              std::string("Corvalinth 1.0.0\nBuild: Public release\nOS: ") + cv::kDiagnosticsSystemName +
                  "\nFormat: AU\nSample rate: 48000.0 Hz\nBlock size: 512\nChannels in/out: 2/2\n"
                  "Queue overflows (playback/host/audition/automation): 1/2/3/18446744073709551615\n");
}

TEST(Diagnostics, CutsALongReportToTheBuffer) {
    const std::string format(1000, 'f');
    cv::DiagnosticsValues values;
    values.pluginFormat = format.c_str();
    const std::string text = cv::formatDiagnostics(values);
    ASSERT_EQ(text.size(), cv::kDiagnosticsBufferBytes - 1);
    EXPECT_EQ(text.substr(text.size() - 10), std::string(10, 'f'));
    values.pluginFormat = nullptr;
    EXPECT_NE(cv::formatDiagnostics(values).find("\nFormat: \n"), std::string::npos);
}

TEST(Diagnostics, CopiedFromThePluginOnlyWithAnOpenEditor) {
    CorvalinthFixture f;
    f.configure(48000.0, 512, 2);
    EXPECT_FALSE(f.plugin->CopyDiagnostics());
    EXPECT_FALSE(f.plugin->controls.clipboard.has_value());
    f.plugin->editorOpen = true;
    ASSERT_TRUE(f.plugin->CopyDiagnostics());
    const std::string text = f.plugin->controls.clipboard.value_or("");
    for (const char* line :
         {"\nSample rate: 48000.0 Hz\n", "\nBlock size: 512\n", "\nChannels in/out: 2/2\n"})
        EXPECT_NE(text.find(line), std::string::npos) << line;
    f.plugin->controls.clipboardRefuses = true;
    EXPECT_FALSE(f.plugin->CopyDiagnostics());
}

TEST(UpdateCheck, ThePluginsCheckEndsOnTheFailedPageWithoutAFetch) {
    CorvalinthFixture f; // its fetch is empty: nothing reaches the network
    EXPECT_EQ(f.plugin->UpdateStatus(), cv::UpdateStatusWord::Nothing);
    f.plugin->CheckForUpdates(true);
    while (f.plugin->UpdateStatus() == cv::UpdateStatusWord::Checking) {
        f.host->idle();
        std::this_thread::yield();
    }
    EXPECT_EQ(f.plugin->UpdateStatus(), cv::UpdateStatusWord::Error);
    EXPECT_EQ(f.plugin->LastUpdateResult().message, "Couldn't check for updates.");
    f.plugin->DismissTransientUpdateStatus();
    EXPECT_EQ(f.plugin->UpdateStatus(), cv::UpdateStatusWord::Nothing);
}
