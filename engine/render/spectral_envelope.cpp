#include "engine/render/spectral_envelope.h"

#include <algorithm>
#include <cmath>
#include <numbers>
#include <stdexcept>
#include <utility>

namespace np {

void fftRadix2(std::vector<std::complex<float>>& data, bool inverse) {
    const std::size_t n = data.size();
    if (n < 2)
        return;
    if ((n & (n - 1)) != 0)
        throw std::invalid_argument("FFT length must be a power of two");
    for (std::size_t i = 1, j = 0; i < n; ++i) {
        std::size_t bit = n >> 1;
        for (; (j & bit) != 0; bit >>= 1)
            j ^= bit;
        j ^= bit;
        if (i < j)
            std::swap(data[i], data[j]);
    }
    const double sign = inverse ? 1.0 : -1.0;
    for (std::size_t length = 2; length <= n; length <<= 1) {
        // Twiddles by recurrence in double precision: exact enough for every length we use.
        const std::complex<double> step =
            std::polar(1.0, sign * 2.0 * std::numbers::pi / static_cast<double>(length));
        const std::size_t half = length / 2;
        std::complex<double> twiddle = 1.0;
        for (std::size_t j = 0; j < half; ++j) {
            const auto w = std::complex<float>(twiddle);
            for (std::size_t i = j; i < n; i += length) {
                const std::complex<float> a = data[i];
                const std::complex<float> b = data[i + half] * w;
                data[i] = a + b;
                data[i + half] = a - b;
            }
            twiddle *= step;
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
        const auto at = [&](std::ptrdiff_t k) {
            const double m = magnitudes[static_cast<std::size_t>(((k % size) + size) % size)];
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
