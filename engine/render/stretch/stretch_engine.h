#pragma once

#include "engine/audio/real_fft.h"
#include "engine/render/stretch/peak_shifter.h"

#include <complex>
#include <cstdint>
#include <memory>
#include <vector>

namespace np {

// Time and pitch stretching of planar float audio with a fixed latency: a short-time Fourier engine
// whose synthesis frames come every interval H output samples, each analysed from a Hann window of W
// input samples at the input position that the caller's input-to-output ratio gives, moved in frequency
// by the transpose factor (see PeakShifter) and overlap-added under a second Hann window.
//
// Alignment: output sample o of a process run corresponds to input sample i when
//   i - (inputs consumed before) = (o - (outputs produced before)) x nIn / nOut - inputLatency()
//                                  - outputLatency() x nIn / nOut,
// that is, after outputLatency() output samples and inputLatency() input samples; neither depends on
// the transpose factor, so a pitch glide never moves the audio in time. A caller that renders a span
// of ratio r (input per output) therefore primes the engine with seek(seekLength(r) input samples before
// the span, r) and discards lround(outputLatency() + inputLatency() / r) output samples.
//
// There is no tonality limit: every peak, however high, moves by the transpose factor.
//
// configure allocates everything; reset, setTransposeFactor, seek and process never allocate, lock or
// throw, and their output is a deterministic function of the calls made since configure or reset.
class StretchEngine {
public:
    StretchEngine();
    ~StretchEngine();
    StretchEngine(StretchEngine&&) noexcept;
    StretchEngine& operator=(StretchEngine&&) noexcept;

    // channels 1..2, blockSamples W (the analysis window, 16..65536) and intervalSamples H (the synthesis
    // hop, 1..W/2). Takes every buffer; throws std::invalid_argument for settings out of range and
    // std::bad_alloc. Leaves the engine reset with factor 1.
    void configure(int channels, int blockSamples, int intervalSamples);
    // Forgets all audio; keeps the configuration and the factor. Realtime: no allocation.
    void reset() noexcept;
    // The transpose factor (frequency multiplier, > 0) of the frames made from now on. Realtime.
    void setTransposeFactor(double factor) noexcept;

    int channels() const noexcept { return channels_; }
    int blockSamples() const noexcept { return block_; }
    int intervalSamples() const noexcept { return interval_; }
    // Input samples from the centre of an analysis window to its end.
    int inputLatency() const noexcept { return block_ - block_ / 2; }
    // Output samples from the start of a synthesis frame to its centre.
    int outputLatency() const noexcept { return block_ / 2; }
    // The input needed by seek before a run at playbackRate input samples per output sample:
    // W + ceil(playbackRate x (W - H)).
    std::int64_t seekLength(double playbackRate) const noexcept;

    // Resets, then primes the engine with `frames` input samples per channel that precede the first
    // input of the next process call, at playbackRate input samples per output sample. Produces no
    // output. inputs holds channels() pointers, or is null for silence; fewer frames than seekLength
    // count as silence before them. Realtime: no allocation.
    void seek(const float* const* inputs, std::int64_t frames, double playbackRate) noexcept;

    // Consumes exactly inputFrames samples per channel and produces exactly outputFrames per channel,
    // spreading the input evenly over the output. inputs and outputs hold channels() pointers; inputs
    // may be null for inputFrames samples of silence. Realtime: no allocation.
    void process(const float* const* inputs, std::int64_t inputFrames, float* const* outputs,
                 std::int64_t outputFrames) noexcept;

private:
    // The input of one call: stream samples [start, start + frames) in `data` (null: silence), the W
    // samples before them in the history.
    struct InputView {
        const float* const* data = nullptr;
        std::int64_t start = 0;
        std::int64_t frames = 0;
    };

    // Makes frames and emits output positions [from, to): frames at output position T read the input
    // window that ends at anchorIn + (T - anchorOut) x slope. outputs may be null (discarded).
    void run(const InputView& in, double anchorIn, std::int64_t anchorOut, double slope,
             float* const* outputs, std::int64_t from, std::int64_t to) noexcept;
    void makeFrame(const InputView& in, std::int64_t inputEnd) noexcept;
    void readWindow(const InputView& in, int channel, std::int64_t inputEnd) noexcept;
    void keepHistory(const InputView& in) noexcept;

    int channels_ = 0;
    int block_ = 0;
    int interval_ = 0;
    int fftSize_ = 0;
    int bins_ = 0;
    double factor_ = 1.0;

    std::unique_ptr<RealFft> fft_;
    PeakShifter shifter_;
    std::vector<float> window_;     // Hann, W
    std::vector<float> derivative_; // its derivative per sample, W
    std::vector<double> norm_;      // 1 / sum of squared windows, by (position - first frame) mod H
    std::vector<float> raw_;        // one channel's input window, W
    std::vector<float> mixRaw_;     // the channels' sum over the same window, W
    std::vector<std::vector<std::complex<float>>> spectra_; // per channel
    std::vector<std::complex<float>> reference_;            // channel sum (stereo only)
    std::vector<std::vector<float>> history_;               // per channel: the W input samples before
    std::vector<std::vector<float>> accumulator_;           // per channel: overlap-add ring
    std::int64_t accumulatorMask_ = 0;

    std::int64_t inputPosition_ = 0;  // stream position of the next input sample
    std::int64_t outputPosition_ = 0; // stream position of the next output sample
    std::int64_t nextFrame_ = 0;      // output position where the next synthesis frame starts
    std::int64_t firstFrame_ = 0;     // where the first frame after a reset started
    std::int64_t lastInputEnd_ = 0;   // input position of the previous frame
};

} // namespace np
