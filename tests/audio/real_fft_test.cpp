#include "engine/audio/real_fft.h"

#include <cmath>
#include <complex>
#include <gtest/gtest.h>
#include <numbers>
#include <vector>

TEST(RealFft, ForwardFindsASineAndInverseIsUnnormalised) {
    const std::size_t n = 64;
    np::RealFft fft(n);
    std::vector<double> in(n);
    for (std::size_t i = 0; i < n; ++i)
        in[i] = std::cos(2.0 * std::numbers::pi * 5.0 * static_cast<double>(i) / n);
    std::vector<std::complex<double>> spectrum(fft.bins());
    fft.forward(in, spectrum);
    EXPECT_NEAR(spectrum[5].real(), n / 2.0, 1e-9);
    EXPECT_NEAR(std::abs(spectrum[4]), 0.0, 1e-9);

    std::vector<double> back(n);
    fft.inverse(spectrum, back);
    for (std::size_t i = 0; i < n; ++i)
        EXPECT_NEAR(back[i], in[i] * n, 1e-9);
}
