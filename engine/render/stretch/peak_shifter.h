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
// region runs to the magnitude minima between it and the neighbouring peaks. Each region moves rigidly
// by a whole number of bins, so the window's shape and therefore the overlap-add normalisation hold for
// every factor, and the whole region turns by one phase rotation, the same for every channel, which
// keeps the stereo image. The rotation makes the peak's phase continue from the previous frame's output
// at the average of its old and new frequency; a peak whose output bin was silent in the previous frame
// keeps its analysis phase, which places tone onsets exactly. At factor 1 with the analysis hop equal to
// the synthesis hop the rotation decays towards zero each frame, so the output converges back onto the
// source waveform.
class PeakShifter {
public:
    // Takes every buffer for spectra of `bins` bins from an FFT of fftSize with frames intervalSamples
    // apart. Throws std::bad_alloc.
    void configure(int bins, int fftSize, int intervalSamples);
    // Forgets the previous frame: every bin counts as silent. Realtime: wait-free.
    void reset() noexcept;

    // Decides the move of every region for one frame. reference holds the channel sum's spectrum,
    // derivative the spectrum of the same sum under the derivative of the analysis window (for the
    // reassigned frequency of each peak). relock asks the rotations to decay towards the analysis
    // phases. Realtime: wait-free, no allocation.
    void plan(std::span<const std::complex<double>> reference,
              std::span<const std::complex<double>> derivative, double factor, bool relock) noexcept;

    // Writes one channel's moved spectrum: out[k] = in[k - shift] x rotation of the region that owns k,
    // zero where no region landed. Realtime: wait-free.
    void apply(std::span<const std::complex<double>> in, std::span<std::complex<double>> out) const noexcept;

    // Whether the last planned frame produced nothing (a silent reference).
    bool silent() const noexcept { return silent_; }

private:
    struct Region {
        int shift = 0;                // bins the region moves by
        double fraction = 0.0;
        std::complex<double> turn{1}; // its phase rotation
    };

    std::complex<double> interpolate(std::span<const std::complex<double>> in, std::size_t k,
                                     const Region& region) const noexcept;
    // Fills the first peakCount_ entries of peaks_, ascending.
    void findPeaks() noexcept;
    int bins_ = 0;
    int fftSize_ = 0;
    double advancePerBin_ = 0.0; // phase advance over one interval per bin of frequency
    bool silent_ = true;
    int peakCount_ = 0;

    std::vector<double> magnitude_; // |reference| of this frame
    std::vector<int> peaks_;        // peak bins, ascending
    std::vector<Region> regions_;   // one per peak
    std::vector<int> owner_;        // output bin -> region index, -1 where nothing landed
    std::vector<double> strength_;  // output bin -> |reference| of the bin written there
    std::vector<double> frequency_; // output bin -> output frequency (bins) of the owning region
    std::vector<double> prevPhase_; // previous frame's output phase per bin
    std::vector<double> prevMagnitude_;
    std::vector<double> prevFrequency_;
    std::vector<double> prevTurn_;   // previous frame's rotation per output bin
    bool prevRelocked_ = true;       // the previous frame was unshifted with equal hops
};

} // namespace np
