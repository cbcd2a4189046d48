#include "tests/support/signals.h"

#include <algorithm>
#include <cmath>
#include <numbers>
#include <random>

namespace cvtest {
namespace {
constexpr double kTwoPi = 2.0 * std::numbers::pi;
}

std::vector<float> sine(double hz, double sampleRate, std::int64_t frames, float amplitude, double phase) {
    std::vector<float> out(static_cast<std::size_t>(frames));
    for (std::int64_t i = 0; i < frames; ++i)
        out[static_cast<std::size_t>(i)] =
            amplitude *
            static_cast<float>(std::sin(phase + kTwoPi * hz * static_cast<double>(i) / sampleRate));
    return out;
}

std::vector<float> glide(double startHz, double endHz, double sampleRate, std::int64_t frames,
                         float amplitude) {
    std::vector<float> out(static_cast<std::size_t>(frames));
    double phase = 0.0;
    const double ratio = endHz / startHz;
    for (std::int64_t i = 0; i < frames; ++i) {
        const double t = frames > 1 ? static_cast<double>(i) / static_cast<double>(frames - 1) : 0.0;
        const double hz = startHz * std::pow(ratio, t);
        out[static_cast<std::size_t>(i)] = amplitude * static_cast<float>(std::sin(phase));
        phase = std::fmod(phase + kTwoPi * hz / sampleRate, kTwoPi);
    }
    return out;
}

std::vector<float> vibrato(double centreHz, double depthCents, double rateHz, double sampleRate,
                           std::int64_t frames, float amplitude) {
    std::vector<float> out(static_cast<std::size_t>(frames));
    double phase = 0.0;
    for (std::int64_t i = 0; i < frames; ++i) {
        const double t = static_cast<double>(i) / sampleRate;
        const double hz = centreHz * std::pow(2.0, depthCents * std::sin(kTwoPi * rateHz * t) / 1200.0);
        out[static_cast<std::size_t>(i)] = amplitude * static_cast<float>(std::sin(phase));
        phase = std::fmod(phase + kTwoPi * hz / sampleRate, kTwoPi);
    }
    return out;
}

std::vector<double> vibratoPhase(double centreHz, double depthCents, double rateHz, double sampleRate,
                                 std::int64_t frames) {
    std::vector<double> phase(static_cast<std::size_t>(frames));
    double p = 0.0;
    for (std::int64_t i = 0; i < frames; ++i) {
        phase[static_cast<std::size_t>(i)] = p;
        const double t = static_cast<double>(i) / sampleRate;
        p += kTwoPi * centreHz * std::pow(2.0, depthCents * std::sin(kTwoPi * rateHz * t) / 1200.0) /
             sampleRate;
    }
    return phase;
}

std::vector<float> harmonicFromPhase(const std::vector<double>& phase, int harmonics, float amplitude) {
    std::vector<float> out(phase.size(), 0.0f);
    double norm = 0.0;
    for (int k = 1; k <= harmonics; ++k)
        norm += 1.0 / k;
    for (int k = 1; k <= harmonics; ++k)
        for (std::size_t i = 0; i < phase.size(); ++i)
            out[i] += static_cast<float>(amplitude / norm / k * std::sin(k * phase[i]));
    return out;
}

std::vector<float> harmonicTone(double hz, double sampleRate, std::int64_t frames, int harmonics,
                                float amplitude) {
    std::vector<float> out(static_cast<std::size_t>(frames), 0.0f);
    double norm = 0.0;
    for (int k = 1; k <= harmonics; ++k)
        norm += 1.0 / k;
    for (int k = 1; k <= harmonics && hz * k < sampleRate / 2; ++k)
        for (std::int64_t i = 0; i < frames; ++i)
            out[static_cast<std::size_t>(i)] += static_cast<float>(
                amplitude / norm / k * std::sin(kTwoPi * hz * k * static_cast<double>(i) / sampleRate));
    return out;
}

double vowelAmplitude(double hz) {
    struct Formant {
        double hz, bandwidth;
    };
    constexpr Formant kFormants[] = {{700.0, 110.0}, {1220.0, 120.0}, {2600.0, 160.0}, {3500.0, 250.0}};
    // Second-order resonances with unit gain at 0 Hz.
    double gain = 1.0 / std::sqrt(1.0 + (hz / 200.0) * (hz / 200.0));
    for (const Formant& f : kFormants) {
        const double re = f.hz * f.hz - hz * hz;
        const double im = hz * f.bandwidth;
        gain *= f.hz * f.hz / std::sqrt(re * re + im * im);
    }
    return gain;
}

std::vector<float> vowel(double startHz, double endHz, double vibratoCents, double vibratoHz,
                         double sampleRate, std::int64_t frames, float amplitude) {
    std::vector<double> hz(static_cast<std::size_t>(frames));
    for (std::int64_t i = 0; i < frames; ++i) {
        const double t = static_cast<double>(i) / sampleRate;
        const double along = frames > 1 ? static_cast<double>(i) / static_cast<double>(frames - 1) : 0.0;
        hz[static_cast<std::size_t>(i)] =
            startHz * std::pow(endHz / startHz, along) *
            std::pow(2.0, vibratoCents * std::sin(kTwoPi * vibratoHz * t) / 1200.0);
    }
    return vowelOnContour(hz, sampleRate, amplitude);
}

std::vector<float> vowelOnContour(const std::vector<double>& hz, double sampleRate, float amplitude) {
    // The amplitude curve tabulated every hertz up to the highest harmonic, read with interpolation.
    // Above 10 kHz the vowel lies more than 120 dB down, so harmonics stop there.
    const double top = std::min(0.45 * sampleRate, 10000.0);
    std::vector<double> table(static_cast<std::size_t>(top) + 2);
    for (std::size_t i = 0; i < table.size(); ++i)
        table[i] = amplitude * vowelAmplitude(static_cast<double>(i));
    std::vector<float> out(hz.size());
    double cycles = 0.0;
    for (std::size_t i = 0; i < hz.size(); ++i) {
        // sin(k x) by the Chebyshev recurrence sin((k+1)x) = 2 cos(x) sin(kx) - sin((k-1)x).
        const double x = kTwoPi * cycles;
        const double twoCos = 2.0 * std::cos(x);
        double previous = 0.0, current = std::sin(x), sum = 0.0;
        for (int k = 1; k * hz[i] < top; ++k) {
            const double f = k * hz[i];
            const auto at = static_cast<std::size_t>(f);
            const double a = table[at] + (f - static_cast<double>(at)) * (table[at + 1] - table[at]);
            sum += a * current;
            const double next = twoCos * current - previous;
            previous = current;
            current = next;
        }
        out[i] = static_cast<float>(sum);
        cycles = std::fmod(cycles + hz[i] / sampleRate, 1.0);
    }
    return out;
}

std::vector<float> noise(std::int64_t frames, float amplitude, std::uint32_t seed) {
    std::mt19937 rng(seed);
    std::uniform_real_distribution<float> dist(-amplitude, amplitude);
    std::vector<float> out(static_cast<std::size_t>(frames));
    for (float& v : out)
        v = dist(rng);
    return out;
}

std::vector<float> hit(std::int64_t frames, float amplitude, double decaySeconds, double sampleRate,
                       std::uint32_t seed) {
    std::vector<float> out = noise(frames, amplitude, seed);
    for (std::size_t i = 0; i < out.size(); ++i)
        out[i] *= static_cast<float>(std::exp(-static_cast<double>(i) / (decaySeconds * sampleRate)));
    return out;
}

std::vector<float> silence(std::int64_t frames) {
    return std::vector<float>(static_cast<std::size_t>(frames), 0.0f);
}

void mixInto(std::vector<float>& target, const std::vector<float>& burst, std::int64_t offset, float gain) {
    for (std::size_t i = 0; i < burst.size(); ++i) {
        const std::int64_t at = offset + static_cast<std::int64_t>(i);
        if (at >= 0 && at < static_cast<std::int64_t>(target.size()))
            target[static_cast<std::size_t>(at)] += gain * burst[i];
    }
}

double centsBetween(double a, double b) {
    return 1200.0 * std::log2(a / b);
}

} // namespace cvtest
