#include "engine/audio/real_fft.h"

#include <algorithm>
#include <fftw3.h>
#include <mutex>
#include <new>

namespace np {
namespace {

std::mutex& plannerMutex() {
    static std::mutex m;
    return m;
}

} // namespace

// The plans work on their own aligned buffers; forward and inverse copy in and out, which keeps the
// interface free of FFTW's alignment rules, while the in-place calls let hot loops use the buffers
// directly. A real-to-complex plan keeps its input; a complex-to-real plan may overwrite its input.
struct RealFft::Plans {
    double* real = nullptr;
    fftw_complex* spectrum = nullptr;
    fftw_plan forwardPlan = nullptr;
    fftw_plan inversePlan = nullptr;

    explicit Plans(std::size_t n) {
        std::lock_guard lock(plannerMutex());
        real = fftw_alloc_real(n);
        spectrum = fftw_alloc_complex(n / 2 + 1);
        if (real != nullptr && spectrum != nullptr) {
            const int size = static_cast<int>(n);
            forwardPlan = fftw_plan_dft_r2c_1d(size, real, spectrum, FFTW_ESTIMATE);
            inversePlan = fftw_plan_dft_c2r_1d(size, spectrum, real, FFTW_ESTIMATE);
        }
        if (forwardPlan == nullptr || inversePlan == nullptr) {
            releaseLocked();
            throw std::bad_alloc();
        }
    }
    ~Plans() {
        std::lock_guard lock(plannerMutex());
        releaseLocked();
    }
    void releaseLocked() noexcept {
        if (forwardPlan != nullptr)
            fftw_destroy_plan(forwardPlan);
        if (inversePlan != nullptr)
            fftw_destroy_plan(inversePlan);
        fftw_free(real);
        fftw_free(spectrum);
        forwardPlan = inversePlan = nullptr;
        real = nullptr;
        spectrum = nullptr;
    }
};

RealFft::RealFft(std::size_t size)
    : size_(size), plans_(std::make_unique<Plans>(std::max<std::size_t>(size, 1))) {}
RealFft::~RealFft() = default;
RealFft::RealFft(RealFft&&) noexcept = default;
RealFft& RealFft::operator=(RealFft&&) noexcept = default;

void RealFft::forward(std::span<const double> in, std::span<std::complex<double>> out) noexcept {
    std::copy_n(in.begin(), size_, plans_->real);
    fftw_execute(plans_->forwardPlan);
    const auto* spectrum = reinterpret_cast<const std::complex<double>*>(plans_->spectrum);
    std::copy_n(spectrum, bins(), out.begin());
}

void RealFft::inverse(std::span<const std::complex<double>> in, std::span<double> out) noexcept {
    auto* spectrum = reinterpret_cast<std::complex<double>*>(plans_->spectrum);
    std::copy_n(in.begin(), bins(), spectrum);
    fftw_execute(plans_->inversePlan);
    std::copy_n(plans_->real, size_, out.begin());
}

std::span<double> RealFft::timeBuffer() noexcept {
    return {plans_->real, size_};
}

std::span<std::complex<double>> RealFft::spectrumBuffer() noexcept {
    return {reinterpret_cast<std::complex<double>*>(plans_->spectrum), bins()};
}

void RealFft::forwardInPlace() noexcept {
    fftw_execute(plans_->forwardPlan);
}

void RealFft::inverseInPlace() noexcept {
    fftw_execute(plans_->inversePlan);
}

} // namespace np
