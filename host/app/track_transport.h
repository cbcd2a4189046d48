#pragma once

// TrackTransport: the window host's own transport over the track, as a DAW's: the keyboard plays, stops
// and rewinds it on the main thread; the audio thread takes one block's position and running flag at a
// time, advancing while it plays and stopping at the end of the track.

#include "host/standin/transport.h"

#include <atomic>
#include <cstdint>

namespace cv::app {

class TrackTransport {
public:
    explicit TrackTransport(std::int64_t trackFrames) : mTrackFrames(trackFrames) {}

    // Main thread. Playing from the end of the track starts again from its beginning.
    void TogglePlay() {
        if (!mPlaying.load() && mPosition.load() >= mTrackFrames)
            mPosition.store(0);
        mPlaying.store(!mPlaying.load());
    }
    void Rewind() { mPosition.store(0); }
    bool Playing() const { return mPlaying.load(); }
    std::int64_t Position() const { return mPosition.load(); }

    // Audio thread: the next block of frames frames. A rewind made while the block was taken stands.
    cv::standin::TransportBlock NextBlock(int frames) {
        const bool running = mPlaying.load();
        std::int64_t position = mPosition.load();
        const cv::standin::TransportBlock block{frames, static_cast<double>(position), running, false};
        if (running) {
            if (position + frames >= mTrackFrames)
                mPlaying.store(false);
            mPosition.compare_exchange_strong(position, position + frames);
        }
        return block;
    }

private:
    const std::int64_t mTrackFrames;
    std::atomic<bool> mPlaying{false};
    std::atomic<std::int64_t> mPosition{0};
};

} // namespace cv::app
