#pragma once

// The small plug-in the framework and the stand-in host are tested with: a gain with one automatable
// parameter ("Gain", 0..100 %, sample-accurate host automation), one enumeration that cannot be
// automated ("Mode") and a state chunk. It counts its callbacks, can be told to misbehave on the audio
// thread (allocate, lock), and throws where the host's fault injector says.

#include "framework/plugin.h"
#include "host/standin/fault_injector.h"

#include <array>
#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>

namespace cvtest {

class TestGainPlugin : public iplug::Plugin {
public:
    enum Params { kGain = 0, kMode, kNumParams };
    static constexpr char kMagic[8] = {'T', 'G', 'A', 'I', 'N', '0', '1', '\0'};
    static constexpr int kRingSize = 512; // 511 events between two blocks

    static iplug::Config MakeConfig();
    TestGainPlugin();
    // Where the callbacks' injection points look (null: nowhere). Before the host runs the plug-in.
    void SetFaults(cv::standin::FaultInjector* faults) noexcept { mFaults = faults; }

    void ProcessBlock(double** inputs, double** outputs, int nFrames) override;
    void OnReset() override;
    void OnActivate(bool active) override;
    void OnParamChange(int paramIdx, iplug::EParamSource source, int sampleOffset) override;
    void OnIdle() override;
    bool SerializeState(iplug::IByteChunk& chunk) const override;
    int UnserializeState(const iplug::IByteChunk& chunk, int startPos) override;
    void OnRestoreStateBegin() override;
    void OnUIOpen() override;
    void OnUIClose() override;

    // Text carried in the state after the values (a long note makes a large chunk).
    void SetNote(std::string text);
    std::string Note() const;

    // Misbehaviour on the audio thread, for the realtime check (OnParamChange runs there for host
    // automation).
    std::atomic<bool> allocateInProcess{false};
    std::atomic<bool> lockInProcess{false};
    std::atomic<bool> lockInParamChange{false};

    std::atomic<int> resets{0};
    std::atomic<int> idles{0};
    std::atomic<int> restoreBegins{0};
    std::atomic<int> activeChanges{0};
    std::atomic<int> uiOpens{0};
    std::atomic<int> uiCloses{0};
    mutable std::atomic<int> serializeCalls{0};
    std::atomic<double> lastResetRate{0.0};
    std::atomic<std::int64_t> ringOverflows{0};
    // Every source and offset OnParamChange saw last (for routing tests).
    std::atomic<int> lastParamSource{-1};
    std::atomic<int> lastParamOffset{-2};

private:
    struct GainEvent {
        int offset;
        double gain;
    };

    static double GainOf(double percent) noexcept { return percent / 100.0; }
    void Probe(cv::standin::Callback callback) const;

    cv::standin::FaultInjector* mFaults = nullptr;
    // Host automation: one producer (the thread delivering host automation), one consumer (audio).
    std::array<GainEvent, kRingSize> mRing{};
    std::atomic<int> mWrite{0};
    std::atomic<int> mRead{0};
    // Changes without an offset take effect at the next block start.
    std::atomic<double> mDirectGain{1.0};
    std::atomic<bool> mDirectPending{false};
    double mCurrentGain = 1.0; // audio thread
    std::mutex mMisbehaviourMutex;
    mutable std::mutex mNoteMutex;
    std::string mNote;
};

} // namespace cvtest
