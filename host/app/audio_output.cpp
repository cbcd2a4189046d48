#include "host/app/audio_output.h"

#include <chrono>
#include <fcntl.h>
#include <portaudio.h>
#include <unistd.h>
#include <vector>

namespace cv::app {
namespace {

constexpr unsigned long kDeviceFrames = 256;

// Realtime: wait-free (the ring's pop).
int Play(const void*, void* output, unsigned long frames, const PaStreamCallbackTimeInfo*,
         PaStreamCallbackFlags, void* user) {
    static_cast<SampleRing*>(user)->Pop(static_cast<float*>(output), frames);
    return paContinue;
}

// The audio libraries PortAudio probes (ALSA, JACK) print to the standard error when a device or server
// is missing; the user hears of it in one line instead. Restores the standard error when it goes.
class QuietStderr {
public:
    QuietStderr() : mSaved(dup(STDERR_FILENO)) {
        const int null = open("/dev/null", O_WRONLY);
        if (mSaved >= 0 && null >= 0)
            dup2(null, STDERR_FILENO);
        if (null >= 0)
            close(null);
    }
    ~QuietStderr() {
        if (mSaved >= 0) {
            dup2(mSaved, STDERR_FILENO);
            close(mSaved);
        }
    }
    QuietStderr(const QuietStderr&) = delete;
    QuietStderr& operator=(const QuietStderr&) = delete;

private:
    int mSaved;
};

} // namespace

AudioOutput::AudioOutput(SampleRing& ring, double sampleRate) : mRing(ring) {
    if (!OpenDevice(sampleRate))
        mClock = std::thread([this, sampleRate] { RunClock(sampleRate); });
}

AudioOutput::~AudioOutput() {
    mStop.store(true);
    if (mClock.joinable())
        mClock.join();
    if (mStream) {
        Pa_StopStream(static_cast<PaStream*>(mStream));
        Pa_CloseStream(static_cast<PaStream*>(mStream));
    }
    if (mPortAudioUp)
        Pa_Terminate();
}

bool AudioOutput::OpenDevice(double sampleRate) {
    QuietStderr quiet;
    if (Pa_Initialize() != paNoError) {
        mReason = "the audio system did not start";
        return false;
    }
    mPortAudioUp = true;
    const PaDeviceIndex device = Pa_GetDefaultOutputDevice();
    if (device == paNoDevice) {
        mReason = "there is no audio output device";
        return false;
    }
    const PaDeviceInfo* info = Pa_GetDeviceInfo(device);
    PaStreamParameters out{};
    out.device = device;
    out.channelCount = mRing.Channels();
    out.sampleFormat = paFloat32;
    out.suggestedLatency = info ? info->defaultLowOutputLatency : 0.05;
    PaStream* stream = nullptr;
    PaError err = Pa_OpenStream(&stream, nullptr, &out, sampleRate, kDeviceFrames, paNoFlag, Play, &mRing);
    if (err == paNoError && (err = Pa_StartStream(stream)) != paNoError)
        Pa_CloseStream(stream);
    if (err != paNoError) {
        mReason = std::string("the output device refused the stream (") + Pa_GetErrorText(err) + ")";
        return false;
    }
    mStream = stream;
    mDeviceName = info && info->name ? info->name : "default output";
    return true;
}

void AudioOutput::RunClock(double sampleRate) {
    std::vector<float> sink(kDeviceFrames * static_cast<std::size_t>(mRing.Channels()));
    const auto period = std::chrono::duration_cast<std::chrono::steady_clock::duration>(
        std::chrono::duration<double>(static_cast<double>(kDeviceFrames) / sampleRate));
    auto next = std::chrono::steady_clock::now();
    while (!mStop.load()) {
        mRing.Pop(sink.data(), kDeviceFrames);
        next += period;
        std::this_thread::sleep_until(next);
    }
}

} // namespace cv::app
