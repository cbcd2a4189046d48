#pragma once

#include <complex>
#include <cstddef>
#include <memory>
#include <span>

namespace np {

// A real FFT of one fixed size in double precision (FFTW), unnormalised in both directions: a forward
// transform followed by an inverse one returns the input multiplied by size().
//
// Plans are made once in the constructor and reused; FFTW's planner is not thread-safe, so plan
// creation and destruction are serialised by a process-wide mutex, while transforms of distinct
// RealFft objects may run concurrently. Not realtime-safe to construct; forward/inverse never allocate.
class RealFft {
public:
    // size >= 1. Throws std::bad_alloc when FFTW cannot allocate.
    explicit RealFft(std::size_t size);
    ~RealFft();
    RealFft(RealFft&&) noexcept;
    RealFft& operator=(RealFft&&) noexcept;
    RealFft(const RealFft&) = delete;
    RealFft& operator=(const RealFft&) = delete;

    std::size_t size() const noexcept { return size_; }
    std::size_t bins() const noexcept { return size_ / 2 + 1; }

    // in holds size() values, out bins() values.
    void forward(std::span<const double> in, std::span<std::complex<double>> out) noexcept;
    // in holds bins() values, out size() values.
    void inverse(std::span<const std::complex<double>> in, std::span<double> out) noexcept;

    // The transforms' own aligned buffers, for callers that fill and read them in place and so save
    // the copies of forward() and inverse(). The same plans run either way, so results are identical.
    std::span<double> timeBuffer() noexcept;                   // size() values
    std::span<std::complex<double>> spectrumBuffer() noexcept; // bins() values
    // timeBuffer() -> spectrumBuffer(); the time buffer is kept.
    void forwardInPlace() noexcept;
    // spectrumBuffer() -> timeBuffer(); the spectrum buffer is overwritten with scratch values.
    void inverseInPlace() noexcept;

private:
    struct Plans;
    std::size_t size_ = 0;
    std::unique_ptr<Plans> plans_;
};

} // namespace np
