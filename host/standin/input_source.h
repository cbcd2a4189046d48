#pragma once

// What the stand-in host plays into the plug-in: a position-coded generator, whose every sample says
// which timeline position (and channel) it came from, or a decoded take laid on the timeline from 0.

#include "engine/audio/audio_buffer.h"

#include <array>
#include <atomic>
#include <cstdint>
#include <memory>
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

// A decoded take, shared and never changed, laid on the timeline from 0: channel c takes the take's
// channel min(c, last); silence outside the take. Files are read by the command line's audio reader,
// which checks them against every limit before it takes memory.
class TrackSource : public InputSource {
public:
    explicit TrackSource(std::shared_ptr<const np::AudioBuffer> audio) : audio_(std::move(audio)) {}
    void fill(std::int64_t position, int frames, std::span<double* const> channels) const noexcept override;

private:
    std::shared_ptr<const np::AudioBuffer> audio_;
};

// A decoded take this source alone owns, laid on the timeline as TrackSource lays it, that the host can
// play one last time from the start: once giveBackAsPlayed is called, the pages of the take behind each
// block it fills from then on are given back to the system, so that a final bounce holds only what it
// has still to play, as a DAW streaming the track from disk would. Positions behind those played then
// read as silence, but for the pages at the edges of each channel, which may keep their samples. fill
// runs on the host's audio thread, giveBackAsPlayed on any.
class OwnedTrackSource : public InputSource {
public:
    explicit OwnedTrackSource(np::AudioBuffer audio) : audio_(std::move(audio)) {}
    void fill(std::int64_t position, int frames, std::span<double* const> channels) const noexcept override;
    void giveBackAsPlayed() noexcept { givingBack_.store(true); }

private:
    // Frames of every channel given back before a whole step is asked again, so that the system is
    // called once per step rather than once per block.
    static constexpr std::int64_t kGiveBackStepFrames = 65536;

    mutable np::AudioBuffer audio_; // its pages behind the play position are given back
    std::atomic<bool> givingBack_{false};
    mutable std::int64_t givenBackFrames_ = 0;
    mutable std::array<float*, 2> givenBackTo_{}; // per channel: where the pages given back end
};

// Writes planar audio as a 32-bit float WAV file. Throws std::runtime_error naming the file on failure.
void writeWav(const std::string& path, const std::vector<std::vector<double>>& planes, double sampleRate);

} // namespace cv::standin
