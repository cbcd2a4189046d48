#pragma once

// What the stand-in host plays into the plug-in: a position-coded generator, whose every sample says
// which timeline position (and channel) it came from, or a WAV file laid on the timeline from 0.

#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace cv::standin {

class InputSource {
public:
    virtual ~InputSource() = default;
    // Fills `frames` frames of each channel for the timeline positions from `position` on.
    virtual void fill(std::int64_t position, int frames,
                      std::span<double* const> channels) const noexcept = 0;
};

// Sample at position p, channel c: +-((p mod 2^20) + 1) / 2^21, positive on channel 0, negative on the
// others. Exact in double and in float, never 0, so silence and positions tell apart.
class PositionCodedSource : public InputSource {
public:
    static double code(std::int64_t position, int channel) noexcept;
    // The position (mod 2^20) a coded sample came from, or -1 for a value that is not a code.
    static std::int64_t decode(double sample) noexcept;
    void fill(std::int64_t position, int frames, std::span<double* const> channels) const noexcept override;
};

// A WAV (or any libsndfile format) file in memory, channel c taking file channel min(c, last); zeros
// outside the file. Throws std::runtime_error naming the file when it cannot be read.
class FileSource : public InputSource {
public:
    explicit FileSource(const std::string& path);
    double sampleRate() const noexcept { return sampleRate_; }
    int channels() const noexcept { return static_cast<int>(planes_.size()); }
    std::int64_t frames() const noexcept {
        return planes_.empty() ? 0 : static_cast<std::int64_t>(planes_[0].size());
    }
    void fill(std::int64_t position, int frames, std::span<double* const> channels) const noexcept override;

private:
    double sampleRate_ = 0.0;
    std::vector<std::vector<double>> planes_;
};

// Writes planar audio as a 32-bit float WAV file. Throws std::runtime_error naming the file on failure.
void writeWav(const std::string& path, const std::vector<std::vector<double>>& planes, double sampleRate);

} // namespace cv::standin
