#pragma once

// The progress of a long step, shown only where a person watches it: on a terminal, standard error shows
// one line rewritten in place; elsewhere (a pipe, a file) nothing, so that captured errors hold only whole
// lines of warnings and errors.

namespace cv::cli {

class ProgressLine {
public:
    ProgressLine();
    ~ProgressLine();
    ProgressLine(const ProgressLine&) = delete;
    ProgressLine& operator=(const ProgressLine&) = delete;

    // Shows "phase: NN%" for fraction (0..1, clamped) in place of what was shown, when it changed.
    void show(const char* phase, float fraction);
    // Ends the shown line, so that what is written next starts a line of its own.
    void finish();

private:
    bool terminal_;
    bool shown_ = false;
    const char* phase_ = nullptr;
    int percent_ = -1;
};

} // namespace cv::cli
