#include "plugin/diagnostics.h"

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
