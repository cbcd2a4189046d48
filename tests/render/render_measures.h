#pragma once

// Measurements of rendered audio for the render tests: Hilbert envelopes, onset positions and precise
// frequencies. Header-only because only the render tests use them.

#include "engine/audio/real_fft.h"
#include "engine/model/document.h"
#include "engine/render/vocoder/spectral_envelope.h"
#include "tests/support/signals.h"

#include <algorithm>
#include <cmath>
#include <complex>
#include <memory>
#include <numbers>
#include <span>
#include <vector>

namespace cvtest {

// A document over the given channels at rate with a flat, voiced track (hop scaled from 256 at 48 kHz).
inline np::Document spanDocument(std::vector<std::vector<float>> channels, double rate, double f0 = 220.0) {
    const auto frames = static_cast<std::int64_t>(channels.front().size());
    auto audio = std::make_shared<np::AudioBuffer>();
    audio->resize(static_cast<int>(channels.size()), frames);
    for (std::size_t c = 0; c < channels.size(); ++c)
        std::copy(channels[c].begin(), channels[c].end(), audio->channel(static_cast<int>(c)).begin());
    np::Document doc;
    doc.sampleRate = rate;
    doc.audio = std::move(audio);
    doc.track.sampleRate = rate;
    doc.track.hop = static_cast<std::uint32_t>(std::max(64L, std::lround(256 * rate / 48000)));
    doc.track.frame = 2048;
    doc.track.frames.assign(static_cast<std::size_t>(frames / doc.track.hop + 1), {f0, 0.9, true, 0});
    return doc;
}

// Sine bursts at hz with abrupt onsets, `on` seconds on and `off` seconds off from `first` seconds on,
// over `seconds`; the onsets (sample positions) go to onsets.
inline std::vector<float> sineBursts(double rate, double seconds, std::vector<std::int64_t>& onsets,
                                     double hz = 440.0, double on = 0.12, double off = 0.08,
                                     double first = 0.1) {
    const auto frames = static_cast<std::int64_t>(seconds * rate);
    std::vector<float> x(static_cast<std::size_t>(frames), 0.0f);
    const auto onFrames = static_cast<std::int64_t>(on * rate);
    for (double t = first; static_cast<std::int64_t>(t * rate) + onFrames < frames; t += on + off) {
        const auto at = static_cast<std::int64_t>(t * rate);
        mixInto(x, sine(hz, rate, onFrames, 0.5f, 0.3), at);
        onsets.push_back(at);
    }
    return x;
}

// The magnitude of the analytic signal of x.
inline std::vector<double> hilbertEnvelope(std::span<const float> x) {
    const std::size_t n = x.size();
    np::RealFft fft(n);
    std::vector<double> in(x.begin(), x.end()), h(n);
    std::vector<std::complex<double>> spectrum(fft.bins());
    fft.forward(in, spectrum);
    // The Hilbert transform turns every positive frequency by -90 degrees.
    for (std::size_t k = 0; k < spectrum.size(); ++k)
        spectrum[k] = (k == 0 || 2 * k == n) ? 0.0 : spectrum[k] * std::complex<double>(0, -1);
    fft.inverse(spectrum, h);
    std::vector<double> env(n);
    for (std::size_t i = 0; i < n; ++i)
        env[i] = std::hypot(in[i], h[i] / static_cast<double>(n));
    return env;
}

// The fractional positions where the envelope first rises through half of `level` after each of the
// given approximate onsets (searched within +-window samples).
inline std::vector<double> halfLevelCrossings(const std::vector<double>& env, double level,
                                              const std::vector<std::int64_t>& near, std::int64_t window) {
    std::vector<double> found;
    for (const std::int64_t at : near) {
        const std::int64_t lo = std::max<std::int64_t>(1, at - window);
        const std::int64_t hi = std::min<std::int64_t>(static_cast<std::int64_t>(env.size()), at + window);
        double position = NAN;
        for (std::int64_t i = lo; i < hi; ++i) {
            const double a = env[static_cast<std::size_t>(i - 1)], b = env[static_cast<std::size_t>(i)];
            if (a < 0.5 * level && b >= 0.5 * level) {
                position = static_cast<double>(i - 1) + (0.5 * level - a) / (b - a);
                break;
            }
        }
        found.push_back(position);
    }
    return found;
}

// The frequency of the strongest component near approxHz around sample centre, from the phase
// advance of a Hann-windowed transform at approxHz between two windows `lag` samples apart.
inline double frequencyNear(std::span<const float> x, double rate, std::int64_t centre, double approxHz,
                            int window = 4096, int lag = 256) {
    const auto at = [&](std::int64_t start) {
        std::complex<double> sum = 0.0;
        const double w = 2.0 * std::numbers::pi * approxHz / rate;
        for (int n = 0; n < window; ++n) {
            const std::int64_t i = start + n;
            if (i < 0 || i >= static_cast<std::int64_t>(x.size()))
                continue;
            const double hann = 0.5 - 0.5 * std::cos(2.0 * std::numbers::pi * n / window);
            sum += hann * x[static_cast<std::size_t>(i)] * std::polar(1.0, -w * static_cast<double>(i));
        }
        return sum;
    };
    const std::int64_t start = centre - window / 2 - lag / 2;
    // The phase is measured against approxHz, so its advance is the frequency error.
    const double advance = std::arg(at(start + lag) / at(start));
    return approxHz + advance * rate / (2.0 * std::numbers::pi * lag);
}

// The peak amplitude in cents of the rateHz component of x's pitch near centreHz over [from, to): a
// least-squares fit of a constant and a sinusoid at rateHz to the pitch measured every 5 ms
// (frequencyNear over 1024 samples).
inline double vibratoCents(std::span<const float> x, double rate, double centreHz, double rateHz,
                           std::int64_t from, std::int64_t to) {
    double s[3][3] = {}, b[3] = {};
    for (std::int64_t c = from; c < to; c += static_cast<std::int64_t>(0.005 * rate)) {
        const double cents = 1200.0 * std::log2(frequencyNear(x, rate, c, centreHz, 1024, 64) / centreHz);
        const double t = 2.0 * std::numbers::pi * rateHz * static_cast<double>(c) / rate;
        const double basis[3] = {1.0, std::sin(t), std::cos(t)};
        for (int r = 0; r < 3; ++r) {
            b[r] += basis[r] * cents;
            for (int k = 0; k < 3; ++k)
                s[r][k] += basis[r] * basis[k];
        }
    }
    // Cramer's rule on the normal equations.
    const auto det = [](const double m[3][3]) {
        return m[0][0] * (m[1][1] * m[2][2] - m[1][2] * m[2][1]) -
               m[0][1] * (m[1][0] * m[2][2] - m[1][2] * m[2][0]) +
               m[0][2] * (m[1][0] * m[2][1] - m[1][1] * m[2][0]);
    };
    double coef[3];
    for (int k = 1; k < 3; ++k) {
        double m[3][3];
        for (int r = 0; r < 3; ++r)
            for (int c = 0; c < 3; ++c)
                m[r][c] = c == k ? b[r] : s[r][c];
        coef[k] = det(m) / det(s);
    }
    return std::hypot(coef[1], coef[2]);
}

// The harmonic-to-noise ratio (dB) of x over [start, start + window): 10 log10(r / (1 - r)) with r the
// normalised autocorrelation at its peak between 0.8 and 1.25 periods (refined by a parabola through
// the lags around it), r limited to 0.9999 (40 dB).
inline double harmonicToNoiseDb(std::span<const float> x, std::int64_t start, int window, double period) {
    const auto correlation = [&](std::int64_t lag) {
        double xy = 0.0, xx = 0.0, yy = 0.0;
        for (std::int64_t i = start; i < start + window - lag; ++i) {
            const double a = x[static_cast<std::size_t>(i)], b = x[static_cast<std::size_t>(i + lag)];
            xy += a * b;
            xx += a * a;
            yy += b * b;
        }
        return xx > 0.0 && yy > 0.0 ? xy / std::sqrt(xx * yy) : 0.0;
    };
    const auto lo = static_cast<std::int64_t>(0.8 * period), hi = static_cast<std::int64_t>(1.25 * period);
    std::int64_t best = lo;
    double peak = -1.0;
    for (std::int64_t lag = lo; lag <= hi; ++lag)
        if (const double r = correlation(lag); r > peak) {
            peak = r;
            best = lag;
        }
    const double before = correlation(best - 1), after = correlation(best + 1);
    const double curvature = before - 2.0 * peak + after;
    const double r = curvature < 0.0 ? peak - 0.125 * (after - before) * (after - before) / curvature : peak;
    const double limited = std::clamp(r, 1e-3, 0.9999);
    return 10.0 * std::log10(limited / (1.0 - limited));
}

// x through a second-order Butterworth section at hz (RBJ's biquad), run forward and then backward so
// that nothing moves in time.
enum class FilterPass { Low, High };
inline std::vector<double> zeroPhaseButterworth(std::span<const float> x, double rate, double hz,
                                                FilterPass pass) {
    const double w = 2.0 * std::numbers::pi * hz / rate, cosW = std::cos(w);
    const double alpha = std::sin(w) * std::numbers::sqrt2 / 2.0, a0 = 1.0 + alpha;
    const double b1 = (pass == FilterPass::Low ? 1.0 - cosW : -(1.0 + cosW)) / a0;
    const double b0 = std::abs(b1) / 2.0, a1 = -2.0 * cosW / a0, a2 = (1.0 - alpha) / a0;
    std::vector<double> y(x.begin(), x.end());
    const auto run = [&](auto begin, auto end) {
        double x1 = 0.0, x2 = 0.0, y1 = 0.0, y2 = 0.0;
        for (auto it = begin; it != end; ++it) {
            const double in = *it, out = b0 * in + b1 * x1 + b0 * x2 - a1 * y1 - a2 * y2;
            x2 = x1;
            x1 = in;
            y2 = y1;
            y1 = out;
            *it = out;
        }
    };
    run(y.begin(), y.end());
    run(y.rbegin(), y.rend());
    return y;
}

// Edges of the units of a document whose notes are each a unit of their own: every note's timeline
// start and end.
struct UnitEdge {
    std::int64_t at = 0;
    bool start = true; // the unit lies after the edge
};

inline std::vector<UnitEdge> noteEdges(const np::Document& doc) {
    std::vector<UnitEdge> edges;
    for (const np::Note& note : doc.notes) {
        edges.push_back({note.start, true});
        edges.push_back({note.start + note.length, false});
    }
    return edges;
}

// The largest magnitude of x's 20 Hz low-pass over x's peak: how far an infrasonic offset reaches. Frames
// closer than `margin` to one of `edges` are left out (none by default).
inline double infrasonicShare(std::span<const float> x, double rate, const std::vector<UnitEdge>& edges = {},
                              std::int64_t margin = 0) {
    const std::vector<double> low = zeroPhaseButterworth(x, rate, 20.0, FilterPass::Low);
    std::vector<bool> skipped(low.size(), false);
    for (const UnitEdge& edge : edges)
        for (std::int64_t i = std::max<std::int64_t>(0, edge.at - margin);
             i < std::min<std::int64_t>(static_cast<std::int64_t>(low.size()), edge.at + margin); ++i)
            skipped[static_cast<std::size_t>(i)] = true;
    double largest = 0.0, peak = 0.0;
    for (std::size_t i = 0; i < low.size(); ++i) {
        if (!skipped[i])
            largest = std::max(largest, std::abs(low[i]));
        peak = std::max(peak, static_cast<double>(std::abs(x[i])));
    }
    return peak > 0.0 ? largest / peak : 0.0;
}

// A rendering y of doc and doc's source (its first channel), both through the same filter.
struct FilteredPair {
    std::vector<double> rendered, source;
};

inline FilteredPair filterBoth(std::span<const float> y, const np::Document& doc, double hz,
                               FilterPass pass) {
    return {zeroPhaseButterworth(y, doc.sampleRate, hz, pass),
            zeroPhaseButterworth(doc.audio->channel(0), doc.sampleRate, hz, pass)};
}

// The largest difference between the 20 Hz low-passes of y and of the source within 25 ms of a unit
// edge: the step an offset carried by a unit makes where it meets the source.
inline double largestEdgeStep(std::span<const float> y, const np::Document& doc) {
    const auto [low, source] = filterBoth(y, doc, 20.0, FilterPass::Low);
    const auto reach = static_cast<std::int64_t>(0.025 * doc.sampleRate);
    double largest = 0.0;
    for (const UnitEdge& edge : noteEdges(doc))
        for (std::int64_t i = std::max<std::int64_t>(0, edge.at - reach);
             i < std::min<std::int64_t>(static_cast<std::int64_t>(source.size()), edge.at + reach); ++i)
            largest = std::max(
                largest, std::abs(low[static_cast<std::size_t>(i)] - source[static_cast<std::size_t>(i)]));
    return largest;
}

// The share of unit edges at which y ticks: its energy above 8 kHz over the 10 ms around the edge stands
// more than 6 dB over the source's there, beyond the excess y carries anyway over the 30 ms inside the
// unit next to its fade (a shift that brightens a whole unit makes no tick).
inline double edgeTickShare(std::span<const float> y, const np::Document& doc) {
    const FilteredPair high = filterBoth(y, doc, 8000.0, FilterPass::High);
    const auto w = static_cast<std::int64_t>(0.005 * doc.sampleRate);
    // Energies in dB with a floor 140 dB below full scale, so that silence in both compares as equal.
    const auto excessDb = [&](std::int64_t from, std::int64_t to) {
        double a = 1e-14 * static_cast<double>(to - from), b = a;
        for (std::int64_t i = std::max<std::int64_t>(0, from);
             i < std::min<std::int64_t>(static_cast<std::int64_t>(high.source.size()), to); ++i) {
            const auto at = static_cast<std::size_t>(i);
            a += high.rendered[at] * high.rendered[at];
            b += high.source[at] * high.source[at];
        }
        return 10.0 * std::log10(a / b);
    };
    const std::vector<UnitEdge> edges = noteEdges(doc);
    int ticks = 0;
    for (const UnitEdge& edge : edges) {
        const std::int64_t inside = edge.start ? edge.at + 2 * w : edge.at - 8 * w;
        ticks += excessDb(edge.at - w, edge.at + w) - std::max(0.0, excessDb(inside, inside + 6 * w)) > 6.0;
    }
    return static_cast<double>(ticks) / static_cast<double>(edges.size());
}

// The root mean square of x over [from, to).
inline double rmsOver(std::span<const float> x, std::int64_t from, std::int64_t to) {
    double sum = 0.0;
    for (std::int64_t i = from; i < to; ++i)
        sum += static_cast<double>(x[static_cast<std::size_t>(i)]) * x[static_cast<std::size_t>(i)];
    return std::sqrt(sum / static_cast<double>(std::max<std::int64_t>(1, to - from)));
}

// How much of reference y holds over [from, to): the least-squares gain of reference in y (1 when y
// is reference, 0 when what y holds is unrelated to it).
inline double projectionOver(std::span<const float> y, std::span<const float> reference, std::int64_t from,
                             std::int64_t to) {
    double yr = 0.0, rr = 0.0;
    for (std::int64_t i = from; i < to; ++i) {
        const double r = reference[static_cast<std::size_t>(i)];
        yr += y[static_cast<std::size_t>(i)] * r;
        rr += r * r;
    }
    return rr > 0.0 ? yr / rr : 0.0;
}

// The median frequency of the voiced frames of track whose windows are centred within [from, to)
// samples; 0 when none is voiced.
inline double medianVoicedHz(const np::PitchTrack& track, std::int64_t from, std::int64_t to) {
    std::vector<double> hz;
    for (std::size_t i = 0; i < track.frames.size(); ++i) {
        const auto centre = static_cast<std::int64_t>(i * track.hop + track.frame / 2);
        if (centre >= from && centre < to && track.frames[i].voiced)
            hz.push_back(track.frames[i].hz);
    }
    if (hz.empty())
        return 0.0;
    std::nth_element(hz.begin(), hz.begin() + static_cast<std::ptrdiff_t>(hz.size() / 2), hz.end());
    return hz[hz.size() / 2];
}

// The frequency of the largest spectral envelope value within [fromHz, toHz) at the middle of x (a
// tone at f0): where its strongest formant in that range lies.
inline double envelopePeakHz(std::span<const float> x, double rate, double f0, double fromHz, double toHz) {
    const std::vector<double> samples(x.begin(), x.end());
    const auto fs = static_cast<int>(rate);
    const np::vocoder::FrameSpectra e = np::vocoder::estimateSpectralEnvelope(
        samples, fs,
        std::vector<double>(
            static_cast<std::size_t>(np::vocoder::frameCount(static_cast<std::int64_t>(x.size()), fs)), f0));
    const std::span<const double> middle = e.frame(e.frames / 2);
    const auto first = middle.begin() + static_cast<std::ptrdiff_t>(fromHz * e.fftSize / rate);
    const auto last = middle.begin() + static_cast<std::ptrdiff_t>(toHz * e.fftSize / rate);
    return static_cast<double>(std::max_element(first, last) - middle.begin()) * rate / e.fftSize;
}

inline double percentile(std::vector<double> v, double p) {
    std::sort(v.begin(), v.end());
    const auto i = static_cast<std::size_t>(std::clamp(p, 0.0, 1.0) * static_cast<double>(v.size() - 1));
    return v[i];
}

} // namespace cvtest

namespace cvtest {

// The energy of x over [start, start + length) left after a least-squares fit of `harmonics` harmonics of
// the instantaneous phase `phase` (radians of the fundamental per sample), relative to the energy of x,
// in dB.
inline double harmonicResidualDb(std::span<const float> x, const std::vector<double>& phase,
                                 std::int64_t start, std::int64_t length, int harmonics) {
    const auto m = static_cast<std::size_t>(2 * harmonics);
    std::vector<double> a(m * m, 0.0), b(m, 0.0), basis(m);
    const auto fill = [&](std::int64_t i) {
        for (int k = 0; k < harmonics; ++k) {
            basis[static_cast<std::size_t>(2 * k)] = std::cos((k + 1) * phase[static_cast<std::size_t>(i)]);
            basis[static_cast<std::size_t>(2 * k + 1)] =
                std::sin((k + 1) * phase[static_cast<std::size_t>(i)]);
        }
    };
    double energy = 0.0;
    for (std::int64_t i = start; i < start + length; ++i) {
        fill(i);
        const double v = x[static_cast<std::size_t>(i)];
        energy += v * v;
        for (std::size_t r = 0; r < m; ++r) {
            b[r] += basis[r] * v;
            for (std::size_t c = r; c < m; ++c)
                a[r * m + c] += basis[r] * basis[c];
        }
    }
    for (std::size_t r = 0; r < m; ++r)
        for (std::size_t c = 0; c < r; ++c)
            a[r * m + c] = a[c * m + r];
    // Gaussian elimination with partial pivoting.
    for (std::size_t col = 0; col < m; ++col) {
        std::size_t pivot = col;
        for (std::size_t r = col + 1; r < m; ++r)
            if (std::abs(a[r * m + col]) > std::abs(a[pivot * m + col]))
                pivot = r;
        for (std::size_t c = 0; c < m; ++c)
            std::swap(a[col * m + c], a[pivot * m + c]);
        std::swap(b[col], b[pivot]);
        for (std::size_t r = col + 1; r < m; ++r) {
            const double f = a[r * m + col] / a[col * m + col];
            for (std::size_t c = col; c < m; ++c)
                a[r * m + c] -= f * a[col * m + c];
            b[r] -= f * b[col];
        }
    }
    std::vector<double> coef(m);
    for (std::size_t r = m; r-- > 0;) {
        double s = b[r];
        for (std::size_t c = r + 1; c < m; ++c)
            s -= a[r * m + c] * coef[c];
        coef[r] = s / a[r * m + r];
    }
    double residual = 0.0;
    for (std::int64_t i = start; i < start + length; ++i) {
        fill(i);
        double fit = 0.0;
        for (std::size_t r = 0; r < m; ++r)
            fit += coef[r] * basis[r];
        const double d = x[static_cast<std::size_t>(i)] - fit;
        residual += d * d;
    }
    return 10.0 * std::log10(residual / energy);
}

} // namespace cvtest
