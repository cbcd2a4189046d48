#include "engine/render/spectral_envelope.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>
#include <limits>
#include <numbers>
#include <stdexcept>
#include <utility>

namespace np {

namespace {

// Four floats, two complex values, in the compilers' portable vector extension.
using Floats4 = float __attribute__((vector_size(16)));
using Ints4 = int __attribute__((vector_size(16)));

Floats4 load4(const float* p) noexcept {
    Floats4 v;
    std::memcpy(&v, p, sizeof v);
    return v;
}

void store4(float* p, Floats4 v) noexcept {
    std::memcpy(p, &v, sizeof v);
}

// What a transform of one length and direction needs besides the data, made once per thread: the
// pairs that the bit-reversal permutation swaps, and the twiddles of every stage, the stage of
// half-length h at [h - 1, 2h - 1), by recurrence in double precision (exact enough for every length
// we use).
struct FftTables {
    std::size_t size = 0;
    std::vector<std::pair<std::size_t, std::size_t>> swaps;
    std::vector<std::complex<float>> twiddles;
};

const FftTables& fftTables(std::size_t n, bool inverse) {
    thread_local std::array<FftTables, 2> cache;
    FftTables& tables = cache[inverse ? 1 : 0];
    if (tables.size == n)
        return tables;
    // Marked for no length until they are whole: should the memory run out halfway, the next call
    // makes them again rather than using pairs of another length.
    tables.size = 0;
    tables.swaps.clear();
    for (std::size_t i = 1, j = 0; i < n; ++i) {
        std::size_t bit = n >> 1;
        for (; (j & bit) != 0; bit >>= 1)
            j ^= bit;
        j ^= bit;
        if (i < j)
            tables.swaps.emplace_back(i, j);
    }
    tables.twiddles.resize(n - 1);
    const double sign = inverse ? 1.0 : -1.0;
    for (std::size_t half = 1; half < n; half *= 2) {
        const std::complex<double> step =
            std::polar(1.0, sign * 2.0 * std::numbers::pi / static_cast<double>(2 * half));
        std::complex<double> twiddle = 1.0;
        for (std::size_t j = 0; j < half; ++j) {
            tables.twiddles[half - 1 + j] = std::complex<float>(twiddle);
            twiddle *= step;
        }
    }
    tables.size = n;
    return tables;
}

// Whether all `count` values are finite and no larger than limit in magnitude.
bool withinRange(const float* x, std::size_t count, float limit) noexcept {
    Ints4 inside = {-1, -1, -1, -1};
    const Floats4 bound = {limit, limit, limit, limit};
    std::size_t i = 0;
    for (; i + 4 <= count; i += 4) {
        const Floats4 v = load4(x + i);
        // A NaN compares false, so it counts as outside.
        inside &= (v <= bound) & (v >= -bound);
    }
    bool all = inside[0] && inside[1] && inside[2] && inside[3];
    for (; i < count; ++i)
        all = all && std::abs(x[i]) <= limit;
    return all;
}

// One butterfly on a (top) and b (bottom) with twiddle w, in plain float arithmetic: the operations of
// std::complex<float>'s product, sum and difference, without the temporaries through which the
// compiler passes them on the stack.
void butterfly(float* a, float* b, std::complex<float> w) noexcept {
    float br = b[0] * w.real() - b[1] * w.imag();
    float bi = b[0] * w.imag() + b[1] * w.real();
    if (std::isnan(br) && std::isnan(bi)) {
        // Infinities: std::complex's product recovers them as C's Annex G requires.
        const std::complex<float> product = std::complex<float>(b[0], b[1]) * w;
        br = product.real();
        bi = product.imag();
    }
    const float ar = a[0], ai = a[1];
    a[0] = ar + br;
    a[1] = ai + bi;
    b[0] = ar - br;
    b[1] = ai - bi;
}

// Two neighbouring butterflies at once, each element computed by the same operations as butterfly().
// Only for finite products: no test for the infinities.
void butterflyPair(float* a, float* b, const std::complex<float>* w) noexcept {
    const Floats4 bottom = load4(b);
    const Floats4 twiddles = load4(reinterpret_cast<const float*>(w));
    const Floats4 real = __builtin_shufflevector(twiddles, twiddles, 0, 0, 2, 2);
    const Floats4 imag = __builtin_shufflevector(twiddles, twiddles, 1, 1, 3, 3);
    const Floats4 swapped = __builtin_shufflevector(bottom, bottom, 1, 0, 3, 2);
    const Floats4 p = bottom * real, q = swapped * imag;
    const Floats4 difference = p - q, sum = p + q;
    // (b.re w.re - b.im w.im, b.im w.re + b.re w.im) for each value.
    const Floats4 product = __builtin_shufflevector(difference, sum, 0, 5, 2, 7);
    const Floats4 top = load4(a);
    store4(a, top + product);
    store4(b, top - product);
}

} // namespace

void fftRadix2(std::vector<std::complex<float>>& data, bool inverse) {
    const std::size_t n = data.size();
    if (n < 2)
        return;
    if ((n & (n - 1)) != 0)
        throw std::invalid_argument("FFT length must be a power of two");
    const FftTables& tables = fftTables(n, inverse);
    for (const auto& [i, j] : tables.swaps)
        std::swap(data[i], data[j]);
    // std::complex<float> is laid out as its real part followed by its imaginary part.
    float* x = reinterpret_cast<float*>(data.data());
    // No complex value grows by more than a factor 2 a stage, so from finite parts below this bound
    // nothing can overflow, and the butterflies need no test for infinities.
    const bool finite = withinRange(x, 2 * n, std::numeric_limits<float>::max() / static_cast<float>(4 * n));
    // Within a stage the butterflies are independent: their order changes no result.
    for (std::size_t half = 1; half < n; half *= 2) {
        const std::complex<float>* w = tables.twiddles.data() + (half - 1);
        for (std::size_t i = 0; i < n; i += 2 * half) {
            if (finite && half > 1) {
                for (std::size_t j = 0; j < half; j += 2)
                    butterflyPair(x + 2 * (i + j), x + 2 * (i + j + half), w + j);
            } else {
                for (std::size_t j = 0; j < half; ++j)
                    butterfly(x + 2 * (i + j), x + 2 * (i + j + half), w[j]);
            }
        }
    }
}

float cepstralLogEnv(std::vector<float>& magnitudes, std::vector<float>& envelope,
                     std::vector<std::complex<float>>& work, int lifter, int smoothBins) {
    const std::size_t n = magnitudes.size();
    envelope.assign(n, 0.0f);
    if (n == 0)
        return std::log(1e-10f);
    work.resize(n);
    if (smoothBins > 0) {
        const auto h =
            static_cast<std::ptrdiff_t>(std::min<std::size_t>(n / 4, static_cast<std::size_t>(smoothBins)));
        const auto size = static_cast<std::ptrdiff_t>(n);
        // k lies within one length of the spectrum on either side, as h <= n / 4.
        const auto at = [&](std::ptrdiff_t k) {
            const std::ptrdiff_t wrapped = k < 0 ? k + size : k >= size ? k - size : k;
            const double m = magnitudes[static_cast<std::size_t>(wrapped)];
            return m * m;
        };
        // A running sum of squares over the circular window; the squares are kept in work meanwhile.
        double sum = 0.0;
        for (std::ptrdiff_t k = -h; k <= h; ++k)
            sum += at(k);
        for (std::ptrdiff_t k = 0; k < size; ++k) {
            work[static_cast<std::size_t>(k)] =
                static_cast<float>(std::sqrt(std::max(0.0, sum) / static_cast<double>(2 * h + 1)));
            sum += at(k + h + 1) - at(k - h);
        }
        for (std::size_t k = 0; k < n; ++k)
            magnitudes[k] = work[k].real();
    }
    const float largest = *std::max_element(magnitudes.begin(), magnitudes.end());
    const float floor = 0.001f * std::max(1e-7f, largest);
    for (std::size_t k = 0; k < n; ++k)
        work[k] = std::log(std::max(floor, magnitudes[k]));
    fftRadix2(work, true);
    const std::size_t keep =
        lifter > 0 ? std::min<std::size_t>(n / 2 - 1, static_cast<std::size_t>(lifter)) : 1;
    const float scale = 1.0f / static_cast<float>(n);
    for (std::size_t k = 0; k < n; ++k) {
        const bool kept = k < keep || k + keep > n; // quefrencies 0..L-1 and N-L+1..N-1
        work[k] = kept ? work[k] * scale : 0.0f;
    }
    fftRadix2(work, false);
    for (std::size_t k = 0; k < n; ++k)
        envelope[k] = work[k].real();
    return std::log(floor);
}

} // namespace np
