#include "host/cli_progress.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <unistd.h>

namespace cv::cli {

ProgressLine::ProgressLine() : terminal_(::isatty(STDERR_FILENO) == 1) {}

ProgressLine::~ProgressLine() {
    finish();
}

void ProgressLine::show(const char* phase, float fraction) {
    const int percent = static_cast<int>(std::lround(std::clamp(fraction, 0.0f, 1.0f) * 100.0f));
    if (!terminal_ || (phase == phase_ && percent == percent_))
        return;
    phase_ = phase;
    percent_ = percent;
    std::fprintf(stderr, "\r%s: %3d%%", phase, percent);
    std::fflush(stderr);
    shown_ = true;
}

void ProgressLine::finish() {
    if (shown_)
        std::fputs("\n", stderr);
    shown_ = false;
}

} // namespace cv::cli
