#pragma once

#include <complex>
#include <cstdint>
#include <span>
#include <vector>

namespace np {

// The spectral core of the stretch engine: moves the spectrum of one synthesis frame in frequency by
// a transpose factor and sets its phases so that consecutive frames join up, with identity phase
// locking (Laroche and Dolson, "Improved phase vocoder time-scale modification of audio", 1999).
//
// A peak is a bin of the reference magnitude (the channel sum) above its neighbours within +-2 bins; its
// region runs to the magnitude minima between it and the neighbouring peaks. Each region moves by its
// peak's frequency change: rigidly by whole bins, so the window's shape and with it the overlap-add
// normalisation hold for every factor, and by the remaining fraction of a bin through linear
// interpolation, so the frequency inside a frame matches the frequency between frames (without it, a
// glide jumps half a bin inside the frames whenever the whole-bin shift steps). The whole region turns by
// one phase rotation, the same for every channel, which keeps the stereo image. The rotation continues
// the peak's output phase from the previous frame at the peak's mean source frequency since then (from
// the analysis phase advance) times the mean factor; a peak whose output bin was silent in the previous
// frame keeps its analysis phase, which places tone onsets exactly. At factor 1 with the analysis hop
// equal to the synthesis hop the rotations decay towards zero frame by frame, so the output slides back
// onto the source waveform and then copies it.
class PeakShifter {
public:
    // Spectra are stored in single precision; the transforms around them run in double.
    using Spectrum = std::span<const std::complex<float>>;

    // Takes every buffer for spectra of `bins` bins from an FFT of fftSize with frames intervalSamples
    // apart. Throws std::bad_alloc.
    void configure(int bins, int fftSize, int intervalSamples);
    // Forgets the previous frame: every bin counts as silent. Realtime: wait-free.
    void reset() noexcept;

    // Decides the move of every region for one frame. reference holds the channel sum's spectrum,
    // derivative the spectrum of the same sum under the derivative of the analysis window (for the
    // reassigned frequency of each peak); analysisHop is the input advance since the previous frame
    // (for the mean frequency of each peak in between). relock says the frame is unshifted with the analysis
    // hop equal to the synthesis hop, so the rotations may decay towards the analysis phases. Realtime:
    // wait-free.
    void plan(Spectrum reference, std::span<const std::complex<double>> derivative, double factor,
              std::int64_t analysisHop, bool relock) noexcept;

    // Writes one channel's moved spectrum: each output bin takes the input at its region's fractional
    // source position (linearly interpolated), turned by the region's rotation; zero where no region
    // landed. Realtime: wait-free.
    void apply(Spectrum in, std::span<std::complex<double>> out) const noexcept;

    // Whether the last planned frame produced nothing (a silent reference).
    bool silent() const noexcept { return silent_; }

private:
    struct Region {
        int shift = 0;         // whole bins the region moves by
        float fraction = 0.0f; // and the rest, -0.5..0.5, applied by interpolation
        float turn = 0.0f;     // its phase rotation in radians
        std::complex<float> rotation{1.0f};
    };

    // One output bin as two floats: std::complex<float> temporaries cost a stall each (see moved()).
    struct Bin {
        float re = 0.0f, im = 0.0f;
    };

    // Output bin k of a region: the input at its fractional source position, turned by its rotation.
    Bin moved(Spectrum in, std::size_t k, const Region& region) const noexcept;
    // Fills the first peakCount_ entries of peaks_, ascending.
    void findPeaks() noexcept;

    int bins_ = 0;
    int fftSize_ = 0;
    double advancePerBin_ = 0.0; // phase advance over one interval per bin of frequency
    bool silent_ = true;
    int peakCount_ = 0;
    bool prevRelocked_ = true; // the previous frame was unshifted with equal hops

    // Per bin of this frame.
    std::vector<float> power_;     // |reference|^2
    std::vector<int> owner_;       // output bin -> region index, -1 where nothing landed
    std::vector<float> strength_;  // output bin -> power of the source bin written there
    std::vector<float> frequency_; // output bin -> output frequency (bins) of the owning region
    // Per peak: a peak is above its neighbours within +-2 bins, so there are at most bins / 3 + 1.
    std::vector<int> peaks_;
    std::vector<Region> regions_;
    // Per output bin of the previous frame.
    std::vector<std::complex<float>> prevOutput_; // the moved reference
    std::vector<float> prevFrequency_;
    std::vector<float> prevTurn_;
    std::vector<std::complex<float>> prevReference_; // the reference itself
    bool prevAnalysed_ = false;
    double prevFactor_ =
        1.0; // the factor of the previous frame            // the previous frame's reference phases are known
};

} // namespace np
