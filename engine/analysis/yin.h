#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

namespace np {

// One pitch candidate of a window: a local minimum of YIN's cumulative-mean-normalised difference.
struct YinCandidate {
    double hz = 0.0;    // sampleRate / refined lag
    double value = 0.0; // normalised difference at the minimum, >= 0; lower is more periodic
};

// The YIN estimator (de Cheveigne and Kawahara, "YIN, a fundamental frequency estimator for speech and
// music", JASA 2002) over one window, reporting every local minimum under a threshold rather than
// only the first, so that a probabilistic tracker can weigh them all. The difference function comes
// from an FFT autocorrelation: two real FFTs of twice the window per frame.
//
// All working memory is taken in the constructor; analyze() allocates only when the candidate vector
// grows, so one analyser serves every frame of a track. The transforms run in place in the FFT's own
// buffers, which also hold the difference function. Not thread-safe: one analyser per thread.
class YinFrameAnalyzer {
public:
    // window: samples per analysed frame (>= 2). Lags run from minLag = max(2, trunc(sampleRate /
    // maxHz)) to maxLag = min(trunc(sampleRate / minHz) + 1, window / 2). Throws std::invalid_argument
    // for a window below 2 or a rate or bound that is not finite and positive; std::bad_alloc.
    YinFrameAnalyzer(int window, double sampleRate, double minHz, double maxHz);
    ~YinFrameAnalyzer();
    YinFrameAnalyzer(const YinFrameAnalyzer&) = delete;
    YinFrameAnalyzer& operator=(const YinFrameAnalyzer&) = delete;

    // Clears out and appends the candidates of the window of window() samples starting at frame, in
    // order of increasing lag (decreasing frequency): every tau with d'[tau] < threshold that is no
    // larger than either neighbour, refined by a parabola through its neighbours. A constant window
    // has no candidates: its difference function is exactly zero at every lag, and what the FFT
    // would give instead is rounding noise.
    void analyze(const float* frame, std::vector<YinCandidate>& out, double threshold);

    // analyze() in two steps, so that a caller can test the window's level before paying for the
    // transforms: load() reads the window starting at frame (kept by pointer until analyzeLoaded)
    // and returns its sum of squares, summed in sample order in double precision.
    double load(const float* frame) noexcept;
    void analyzeLoaded(std::vector<YinCandidate>& out, double threshold);

    // Bytes of working memory one analyser of this window holds, for planning threads.
    static std::size_t workingBytes(int window) noexcept;

    int window() const noexcept { return window_; }
    double sampleRate() const noexcept { return sampleRate_; }
    int minLag() const noexcept { return minLag_; }
    int maxLag() const noexcept { return maxLag_; }

private:
    struct Impl;
    int window_ = 0;
    double sampleRate_ = 0.0;
    int minLag_ = 0;
    int maxLag_ = 0;
    std::unique_ptr<Impl> impl_;
};

} // namespace np
