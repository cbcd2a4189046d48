#include "engine/render/vocoder/synthesis.h"

#include "engine/audio/real_fft.h"
#include "engine/render/vocoder/spectral_envelope.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <complex>
#include <numbers>
#include <stdexcept>

namespace np::vocoder {
namespace {

constexpr double kPi = std::numbers::pi;
constexpr double kMaxPower = 1e30;
// Pulses and noise pieces are laid this far into the response buffer (a quarter of it), so that the
// short lead-in of the aperiodicity weighting and of a fractional delay stays in front of them.
int leadSamples(int fftSize) {
    return fftSize / 4;
}

double heldPower(double p) {
    return std::isfinite(p) ? std::clamp(p, kPowerFloor, kMaxPower) : kPowerFloor;
}

bool voiced(double f0) {
    return std::isfinite(f0) && f0 > 0.0;
}

// A small, fast generator (SplitMix64) of uniform noise with unit variance.
class Noise {
public:
    explicit Noise(std::uint64_t seed) : state_(seed) {}
    double next() {
        std::uint64_t z = (state_ += 0x9e3779b97f4a7c15ULL);
        z = (z ^ (z >> 30)) * 0xbf58476d1ce4e5b9ULL;
        z = (z ^ (z >> 27)) * 0x94d049bb133111ebULL;
        z ^= z >> 31;
        const double uniform = static_cast<double>(z >> 11) * 0x1.0p-53; // 0..1
        return (2.0 * uniform - 1.0) * std::numbers::sqrt3;
    }

private:
    std::uint64_t state_;
};

void checkFrames(const SynthesisFrames& frames, int sampleRate, std::int64_t outputLength) {
    detail::checkSignal(outputLength, sampleRate);
    if (frames.f0Hz.empty() || frames.envelopes.size() != frames.f0Hz.size() ||
        frames.aperiodicities.size() != frames.f0Hz.size())
        throw std::invalid_argument(
            "The vocoder synthesis needs one F0, envelope and aperiodicity per frame");
    if (frames.fftSize < 16 || frames.fftSize > 131072 ||
        !std::has_single_bit(static_cast<unsigned>(frames.fftSize)))
        throw std::invalid_argument("The vocoder synthesis needs a power-of-two FFT size from 16 to 131072");
    for (std::size_t j = 0; j < frames.f0Hz.size(); ++j)
        if (frames.envelopes[j] == nullptr || frames.aperiodicities[j] == nullptr)
            throw std::invalid_argument("The vocoder synthesis was given a missing spectrum");
}

class Synthesizer {
public:
    Synthesizer(const SynthesisFrames& frames, int sampleRate, std::int64_t outputLength, std::uint64_t seed)
        : frames_(frames), sampleRate_(sampleRate), period_(framePeriodSamples(sampleRate)),
          fftSize_(frames.fftSize), bins_(frames.fftSize / 2 + 1), fft_(static_cast<std::size_t>(fftSize_)),
          time_(static_cast<std::size_t>(fftSize_)), work_(static_cast<std::size_t>(bins_)),
          periodic_(static_cast<std::size_t>(bins_)), aperiodic_(static_cast<std::size_t>(bins_)),
          response_(static_cast<std::size_t>(bins_)), taper_(makeTaper(fftSize_)),
          noiseLowCut_(makeNoiseLowCut(fftSize_, sampleRate)), noise_(seed),
          out_(static_cast<std::size_t>(outputLength), 0.0) {}

    std::vector<double> run() {
        const auto length = static_cast<std::int64_t>(out_.size());
        const auto count = static_cast<int>(frames_.f0Hz.size());
        delay_ = typicalDelay();
        for (int j = 0; j < count; ++j) {
            const std::int64_t start = j == 0 ? 0 : std::llround((j - 0.5) * period_);
            const std::int64_t end = j == count - 1 ? length : std::llround((j + 0.5) * period_);
            if (start >= length)
                break;
            if (end <= start)
                continue;
            prepare(j);
            queueNoise(start, std::min(end, length));
            addPulses(j, start, std::min(end, length));
        }
        flushNoise();
        for (double& v : out_)
            if (!std::isfinite(v))
                v = 0.0;
        return std::move(out_);
    }

private:
    double f0(int j) const {
        const double f = frames_.f0Hz[static_cast<std::size_t>(j)];
        return voiced(f) ? std::min(f, sampleRate_ / 2.0) : 0.0;
    }

    // The spectra of frame j, reused while consecutive frames share their spectra and voicing: the
    // minimum-phase response of the envelope, split between the pulses (periodic_, by sqrt(1 - A)) and
    // the noise (aperiodic_, by sqrt(A); everything on an unvoiced frame). The phase comes from the
    // envelope alone: an aperiodicity near 1 in a weak band would otherwise put deep notches into the
    // log magnitude, whose frame-to-frame changes move the pulses' group delay and jitter the pitch.
    void prepare(int j) {
        const double* envelope = frames_.envelopes[static_cast<std::size_t>(j)];
        const double* aperiodicity = frames_.aperiodicities[static_cast<std::size_t>(j)];
        const bool isVoiced = f0(j) > 0.0;
        if (prepared_ && envelope == envelope_ && aperiodicity == aperiodicity_ && isVoiced == voiced_)
            return;
        flushNoise(); // with the spectra it was queued under
        if (!prepared_ || envelope != envelope_) {
            for (int k = 0; k < bins_; ++k)
                work_[static_cast<std::size_t>(k)] = {0.5 * std::log(heldPower(envelope[k])), 0.0};
            minimumPhase(response_);
        }
        prepared_ = true;
        envelope_ = envelope;
        aperiodicity_ = aperiodicity;
        voiced_ = isVoiced;
        for (int k = 0; k < bins_; ++k) {
            const double a = aperiodicity[k];
            const double share = isVoiced ? (std::isfinite(a) ? std::clamp(a, 0.0, 1.0) : 1.0) : 1.0;
            periodic_[static_cast<std::size_t>(k)] =
                response_[static_cast<std::size_t>(k)] * std::sqrt(1.0 - share);
            aperiodic_[static_cast<std::size_t>(k)] = response_[static_cast<std::size_t>(k)] *
                                                      std::sqrt(share) *
                                                      noiseLowCut_[static_cast<std::size_t>(k)];
        }
    }

    // The minimum-phase spectrum whose log magnitude is the real part of work_: the real cepstrum,
    // folded onto positive quefrencies, exponentiated back.
    void minimumPhase(std::vector<std::complex<double>>& out) {
        fft_.inverse(work_, time_);
        const double scale = 1.0 / fftSize_;
        time_[0] *= scale;
        for (int n = 1; n < fftSize_ / 2; ++n)
            time_[static_cast<std::size_t>(n)] *= 2.0 * scale;
        time_[static_cast<std::size_t>(fftSize_ / 2)] *= scale;
        std::fill(time_.begin() + fftSize_ / 2 + 1, time_.end(), 0.0);
        fft_.forward(time_, out);
        for (auto& bin : out)
            bin = std::exp(bin);
    }

    // The energy delay of the response of the voiced frames' mean log envelope. The pulses are all
    // laid this much early: one delay for the whole output, as a delay that followed each frame's
    // envelope would move the pulses against each other and jitter the pitch.
    double typicalDelay() {
        std::fill(work_.begin(), work_.end(), 0.0);
        int voicedFrames = 0;
        // Runs of frames sharing an envelope (a held frame) are added once, weighted by their length.
        const double* run = nullptr;
        int runLength = 0;
        const auto addRun = [&] {
            for (int k = 0; run != nullptr && k < bins_; ++k)
                work_[static_cast<std::size_t>(k)] += runLength * 0.5 * std::log(heldPower(run[k]));
        };
        for (int j = 0; j < static_cast<int>(frames_.f0Hz.size()); ++j) {
            if (f0(j) <= 0.0)
                continue;
            ++voicedFrames;
            const double* envelope = frames_.envelopes[static_cast<std::size_t>(j)];
            if (envelope != run) {
                addRun();
                run = envelope;
                runLength = 0;
            }
            ++runLength;
        }
        addRun();
        if (voicedFrames == 0)
            return 0.0;
        for (auto& bin : work_)
            bin /= voicedFrames;
        minimumPhase(response_);
        return energyDelay(response_);
    }

    // Where the energy of a response lies after its start, in samples: the power-weighted mean of its
    // group delay, which equals the time centroid of its squared response. A minimum-phase formant
    // response rings on after it starts; without laying the pulses this much early, the output's
    // periodicity would follow the F0 contour with that lag.
    double energyDelay(const std::vector<std::complex<double>>& response) const {
        double weighted = 0.0, total = 0.0;
        for (std::size_t k = 0; k + 1 < response.size(); ++k) {
            const std::complex<double> step = response[k + 1] * std::conj(response[k]);
            const double weight = std::abs(step);
            weighted += weight * -std::arg(step) * fftSize_ / (2.0 * kPi);
            total += weight;
        }
        return total > 0.0 ? std::clamp(weighted / total, 0.0, fftSize_ / 8.0) : 0.0;
    }

    // Adds time_ (an unnormalised inverse transform) at output position origin, through taper_.
    void addBuffer(std::int64_t origin) {
        const auto length = static_cast<std::int64_t>(out_.size());
        const std::int64_t from = std::max<std::int64_t>(0, -origin);
        const std::int64_t to = std::min<std::int64_t>(fftSize_, length - origin);
        for (std::int64_t i = from; i < to; ++i)
            out_[static_cast<std::size_t>(origin + i)] +=
                time_[static_cast<std::size_t>(i)] * taper_[static_cast<std::size_t>(i)];
    }

    // The buffer's weights: the transform's 1 / N, faded in over the first half of the lead and out
    // over the last eighth. The circular buffer wraps a response's far tail and the slowly decaying
    // lead-in of a fractional delay onto its edges; cut off abruptly, they would leak from the
    // strongest bins into all others (a floor about 60 dB down), smoothly faded, they do not.
    static std::vector<double> makeTaper(int fftSize) {
        std::vector<double> taper(static_cast<std::size_t>(fftSize), 1.0 / fftSize);
        const int in = leadSamples(fftSize) / 2, out = fftSize / 8;
        for (int i = 0; i < in; ++i)
            taper[static_cast<std::size_t>(i)] *= 0.5 - 0.5 * std::cos(kPi * (i + 0.5) / in);
        for (int i = 0; i < out; ++i)
            taper[static_cast<std::size_t>(fftSize - 1 - i)] *= 0.5 - 0.5 * std::cos(kPi * (i + 0.5) / out);
        return taper;
    }

    // The noise's weights per bin: 0 at DC, rising as sin^2 to 1 at the F0 floor. Below the lowest F0
    // the analysis serves, an envelope is held level rather than measured, and noise drawn there would
    // wander below 20 Hz, an offset the source does not have.
    static std::vector<double> makeNoiseLowCut(int fftSize, int sampleRate) {
        std::vector<double> weights(static_cast<std::size_t>(fftSize / 2 + 1), 1.0);
        for (std::size_t k = 0; k < weights.size(); ++k) {
            const double hz = static_cast<double>(k) * sampleRate / fftSize;
            if (hz >= kF0FloorHz)
                break;
            weights[k] = std::pow(std::sin(0.5 * kPi * hz / kF0FloorHz), 2);
        }
        return weights;
    }

    // Noise is filtered in pieces of at most a quarter of the FFT: after a quarter of lead-in, that
    // leaves more than a third of the buffer for the response's tail before the fade-out. Cells that
    // share their spectra (a held frame) are gathered into full pieces before they are filtered.
    void queueNoise(std::int64_t start, std::int64_t end) {
        const std::int64_t piece = fftSize_ / 4;
        if (start != noiseEnd_) {
            flushNoise();
            noiseStart_ = start;
        }
        noiseEnd_ = end;
        for (; noiseEnd_ - noiseStart_ >= piece; noiseStart_ += piece)
            addNoise(noiseStart_, noiseStart_ + piece);
    }

    void flushNoise() {
        if (noiseEnd_ > noiseStart_)
            addNoise(noiseStart_, noiseEnd_);
        noiseStart_ = noiseEnd_;
    }

    void addNoise(std::int64_t start, std::int64_t end) {
        const int lead = leadSamples(fftSize_);
        std::fill(time_.begin(), time_.end(), 0.0);
        for (std::int64_t i = start; i < end; ++i)
            time_[static_cast<std::size_t>(lead + i - start)] = noise_.next();
        fft_.forward(time_, work_);
        for (int k = 0; k < bins_; ++k)
            work_[static_cast<std::size_t>(k)] *= aperiodic_[static_cast<std::size_t>(k)];
        fft_.inverse(work_, time_);
        addBuffer(start - lead);
    }

    // The F0 at sample n inside frame j's cell: linear between the two frames around n when both are
    // voiced, else frame j's own.
    double f0At(std::int64_t n, int j) const {
        const double u = static_cast<double>(n) / period_;
        const int last = static_cast<int>(frames_.f0Hz.size()) - 1;
        const int j0 = std::min(static_cast<int>(u), last);
        const int j1 = std::min(j0 + 1, last);
        const double lo = f0(j0), hi = f0(j1);
        if (lo <= 0.0 || hi <= 0.0)
            return f0(j);
        const double a = std::min(1.0, u - j0);
        return (1.0 - a) * lo + a * hi;
    }

    void addPulses(int j, std::int64_t start, std::int64_t end) {
        if (!voiced_) {
            inVoicedRun_ = false;
            return;
        }
        for (std::int64_t n = start; n < end; ++n) {
            const double step = f0At(n, j) / sampleRate_;
            if (!inVoicedRun_) {
                // A voiced run starts with a pulse centred on its first sample.
                inVoicedRun_ = true;
                phase_ = 0.0;
                addPulse(static_cast<double>(n) - delay_, step);
            }
            const double next = phase_ + step;
            if (next >= 1.0)
                addPulse(static_cast<double>(n) + (1.0 - phase_) / step - delay_, step);
            phase_ = next >= 1.0 ? next - 1.0 : next;
        }
    }

    // One pulse at a fractional sample position: sqrt(T0) times the periodic response, delayed by the
    // lead plus the fraction by a linear phase, laid the lead before the pulse's sample.
    void addPulse(double position, double cyclesPerSample) {
        const int lead = leadSamples(fftSize_);
        const double whole = std::floor(position);
        const double delay = lead + (position - whole);
        const double gain = std::sqrt(1.0 / cyclesPerSample);
        const std::complex<double> rotation = std::polar(1.0, -2.0 * kPi * delay / fftSize_);
        std::complex<double> phasor = gain;
        for (int k = 0; k < bins_; ++k) {
            work_[static_cast<std::size_t>(k)] = periodic_[static_cast<std::size_t>(k)] * phasor;
            phasor *= rotation;
        }
        // No Nyquist bin: a delay cannot be real there.
        work_.back() = 0.0;
        fft_.inverse(work_, time_);
        addWithoutMean(static_cast<std::int64_t>(whole) - lead, delay, 1.0 / cyclesPerSample);
    }

    // Adds time_ through taper_ at output position origin, as addBuffer does, less its sum spread under a
    // Hann bump two periods long (period in samples) centred on the pulse's centroid (near `at` in the
    // buffer). A pulse keeps its low-frequency response, which the F0's changes, the envelope's changes
    // and the starts and stops of voicing would turn into an offset that steps at a unit's edges; the
    // bump takes it out where it lies, and as a Hann bump two periods long is zero at every harmonic of
    // the period (and such bumps a period apart add up to a constant), the harmonics keep their levels.
    void addWithoutMean(std::int64_t origin, double at, double period) {
        double sum = 0.0, moment = 0.0;
        for (int i = 0; i < fftSize_; ++i) {
            const double v = time_[static_cast<std::size_t>(i)] * taper_[static_cast<std::size_t>(i)];
            sum += v;
            moment += v * i;
        }
        addBuffer(origin);
        if (sum == 0.0)
            return;
        const double centre = std::clamp(moment / sum, at - period, at + period);
        const auto from = static_cast<std::int64_t>(std::floor(centre - period)) + 1;
        const auto to = static_cast<std::int64_t>(std::ceil(centre + period));
        double total = 0.0;
        for (std::int64_t i = from; i < to; ++i)
            total += 0.5 + 0.5 * std::cos(kPi * (static_cast<double>(i) - centre) / period);
        if (!(total > 0.0))
            return;
        const auto length = static_cast<std::int64_t>(out_.size());
        for (std::int64_t i = std::max(from, -origin); i < std::min(to, length - origin); ++i)
            out_[static_cast<std::size_t>(origin + i)] -=
                sum / total * (0.5 + 0.5 * std::cos(kPi * (static_cast<double>(i) - centre) / period));
    }

    const SynthesisFrames& frames_;
    double sampleRate_;
    double period_;
    int fftSize_;
    int bins_;
    RealFft fft_;
    std::vector<double> time_;
    std::vector<std::complex<double>> work_;
    std::vector<std::complex<double>> periodic_;
    std::vector<std::complex<double>> aperiodic_;
    std::vector<std::complex<double>> response_; // minimum-phase response of the current envelope
    std::vector<double> taper_;
    std::vector<double> noiseLowCut_; // makeNoiseLowCut
    const double* envelope_ = nullptr;
    const double* aperiodicity_ = nullptr;
    bool voiced_ = false;
    bool prepared_ = false;
    double delay_ = 0.0; // typicalDelay()
    bool inVoicedRun_ = false;
    double phase_ = 0.0;
    std::int64_t noiseStart_ = 0, noiseEnd_ = 0; // output samples whose noise is queued
    Noise noise_;
    std::vector<double> out_;
};

} // namespace

std::vector<double> synthesize(const SynthesisFrames& frames, int sampleRate, std::int64_t outputLength,
                               std::uint64_t noiseSeed) {
    checkFrames(frames, sampleRate, outputLength);
    return Synthesizer(frames, sampleRate, outputLength, noiseSeed).run();
}

} // namespace np::vocoder
