#pragma once

// AudioOutput: plays what a SampleRing holds through the default output device (PortAudio, stereo 32-bit
// float at the asked rate). Without a device that opens at that rate, a clock thread takes the audio from
// the ring at the same pace and drops it, so a transport fed from the ring still runs in real time.

#include "host/app/sample_ring.h"

#include <atomic>
#include <memory>
#include <string>
#include <thread>

namespace cv::app {

class AudioOutput {
public:
    // Starts playing from ring (which outlives this object) at sampleRate.
    AudioOutput(SampleRing& ring, double sampleRate);
    ~AudioOutput();
    AudioOutput(const AudioOutput&) = delete;
    AudioOutput& operator=(const AudioOutput&) = delete;

    // Whether a device plays the audio, and which (empty for the silent clock).
    bool HasDevice() const { return mStream != nullptr; }
    const std::string& DeviceName() const { return mDeviceName; }
    // Why no device plays it, when none does.
    const std::string& Reason() const { return mReason; }

private:
    bool OpenDevice(double sampleRate);
    void RunClock(double sampleRate);

    SampleRing& mRing;
    void* mStream = nullptr; // PaStream
    bool mPortAudioUp = false;
    std::string mDeviceName;
    std::string mReason;
    std::atomic<bool> mStop{false};
    std::thread mClock;
};

} // namespace cv::app
