#include "tests/host/standin/test_gain_plugin.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <vector>

namespace cvtest {

using cv::standin::Callback;

iplug::Config TestGainPlugin::MakeConfig() {
    iplug::Config config;
    config.nParams = kNumParams;
    config.nPresets = 2;
    config.channelIOStr = "1-1 2-2";
    config.pluginName = "TestGain";
    config.productName = "TestGain";
    config.mfrName = "Corvalinth tests";
    config.vendorVersion = 0x00010203;
    config.uniqueID = iplug::MakeFourCharCode("TGan");
    config.mfrID = iplug::MakeFourCharCode("Cvts");
    config.plugHasUI = true;
    config.plugWidth = 400;
    config.plugHeight = 300;
    return config;
}

TestGainPlugin::TestGainPlugin() : iplug::Plugin(iplug::InstanceInfo{}, MakeConfig()) {
    GetParam(kGain)->InitDouble("Gain", 100.0, 0.0, 100.0, 0.1, "%");
    GetParam(kMode)->InitEnum("Mode", 0, {"Clean", "Warm", "Hot"}, iplug::IParam::kFlagCannotAutomate);
    MakeDefaultPreset("Default", 1);
}

void TestGainPlugin::Probe(Callback callback) const {
    if (mFaults)
        mFaults->check(callback);
}

void TestGainPlugin::ProcessBlock(double** inputs, double** outputs, int nFrames) {
    Probe(Callback::Process);
    if (allocateInProcess.load(std::memory_order_relaxed)) {
        std::vector<double> scratch(64);
        (void)scratch;
    }
    if (lockInProcess.load(std::memory_order_relaxed)) {
        std::lock_guard lock(mMisbehaviourMutex);
    }
    if (mDirectPending.exchange(false, std::memory_order_acquire))
        mCurrentGain = mDirectGain.load(std::memory_order_relaxed);

    // Drain the automation events, ordered by offset; events at one offset keep their order.
    std::array<GainEvent, kRingSize> events;
    int count = 0;
    int read = mRead.load(std::memory_order_relaxed);
    const int write = mWrite.load(std::memory_order_acquire);
    while (read != write) {
        events[static_cast<std::size_t>(count++)] = mRing[static_cast<std::size_t>(read)];
        read = (read + 1) % kRingSize;
    }
    mRead.store(read, std::memory_order_release);
    // Insertion sort: stable, and unlike std::stable_sort it never takes a buffer.
    for (int i = 1; i < count; ++i)
        for (int j = i; j > 0 && events[static_cast<std::size_t>(j - 1)].offset >
                                     events[static_cast<std::size_t>(j)].offset;
             --j)
            std::swap(events[static_cast<std::size_t>(j - 1)], events[static_cast<std::size_t>(j)]);

    const int nIn = inputs ? NInChansConnected() : 0;
    const int nOut = NOutChansConnected();
    int next = 0;
    for (int i = 0; i < nFrames; ++i) {
        while (next < count && events[static_cast<std::size_t>(next)].offset <= i)
            mCurrentGain = events[static_cast<std::size_t>(next++)].gain;
        for (int c = 0; c < nOut; ++c) {
            if (outputs == nullptr || outputs[c] == nullptr)
                continue;
            const double* in = nIn > 0 ? inputs[std::min(c, nIn - 1)] : nullptr;
            const double x = in ? in[i] : 0.0;
            const double y = x * mCurrentGain;
            outputs[c][i] = std::isfinite(y) ? y : 0.0;
        }
    }
    // Events at or beyond the block's end apply from its last frame on.
    while (next < count)
        mCurrentGain = events[static_cast<std::size_t>(next++)].gain;
}

void TestGainPlugin::OnReset() {
    Probe(Callback::Reset);
    lastResetRate.store(GetSampleRate());
    mRead.store(mWrite.load());
    mCurrentGain = GainOf(GetParam(kGain)->Value());
    resets.fetch_add(1);
}

void TestGainPlugin::OnActivate(bool active) {
    (void)active;
    Probe(Callback::Activate);
    activeChanges.fetch_add(1);
}

void TestGainPlugin::OnParamChange(int paramIdx, iplug::EParamSource source, int sampleOffset) {
    Probe(Callback::ParamChange);
    lastParamSource.store(source, std::memory_order_relaxed);
    lastParamOffset.store(sampleOffset, std::memory_order_relaxed);
    if (lockInParamChange.load(std::memory_order_relaxed)) {
        std::lock_guard lock(mMisbehaviourMutex);
    }
    if (paramIdx != kGain)
        return;
    const double gain = GainOf(GetParam(kGain)->Value());
    const int write = mWrite.load(std::memory_order_relaxed);
    const int after = (write + 1) % kRingSize;
    if (source == iplug::kHost && sampleOffset >= 0 && after != mRead.load(std::memory_order_acquire)) {
        mRing[static_cast<std::size_t>(write)] = {sampleOffset, gain};
        mWrite.store(after, std::memory_order_release);
        return;
    }
    if (source == iplug::kHost && sampleOffset >= 0)
        ringOverflows.fetch_add(1, std::memory_order_relaxed);
    mDirectGain.store(gain, std::memory_order_relaxed);
    mDirectPending.store(true, std::memory_order_release);
}

void TestGainPlugin::OnIdle() {
    Probe(Callback::Idle);
    idles.fetch_add(1);
}

bool TestGainPlugin::SerializeState(iplug::IByteChunk& chunk) const {
    Probe(Callback::SaveState);
    serializeCalls.fetch_add(1);
    chunk.PutBytes(kMagic, sizeof kMagic);
    const double gain = GetParam(kGain)->Value();
    const double mode = GetParam(kMode)->Value();
    chunk.Put(&gain);
    chunk.Put(&mode);
    chunk.PutStr(Note().c_str());
    return true;
}

int TestGainPlugin::UnserializeState(const iplug::IByteChunk& chunk, int startPos) {
    Probe(Callback::RestoreFinish);
    char magic[sizeof kMagic];
    double values[kNumParams];
    std::string text;
    int pos = chunk.GetBytes(magic, sizeof magic, startPos);
    if (pos < 0 || std::memcmp(magic, kMagic, sizeof kMagic) != 0)
        return -1;
    for (double& v : values)
        if ((pos = chunk.Get(&v, pos)) < 0)
            return -1;
    if ((pos = chunk.GetStr(text, pos)) < 0 || pos != chunk.Size())
        return -1;
    // A value its parameter would change is not this plug-in's state.
    for (int i = 0; i < kNumParams; ++i)
        if (!std::isfinite(values[i]) || GetParam(i)->Constrain(values[i]) != values[i])
            return -1;
    for (int i = 0; i < kNumParams; ++i)
        GetParam(i)->Set(values[i]);
    SetNote(std::move(text));
    mDirectGain.store(GainOf(values[kGain]));
    mDirectPending.store(true, std::memory_order_release);
    return pos;
}

void TestGainPlugin::SetNote(std::string text) {
    std::lock_guard lock(mNoteMutex);
    mNote = std::move(text);
}

std::string TestGainPlugin::Note() const {
    std::lock_guard lock(mNoteMutex);
    return mNote;
}

void TestGainPlugin::OnRestoreStateBegin() {
    Probe(Callback::RestoreBegin);
    restoreBegins.fetch_add(1);
}

void TestGainPlugin::OnUIOpen() {
    Probe(Callback::EditorOpen);
    uiOpens.fetch_add(1);
}

void TestGainPlugin::OnUIClose() {
    uiCloses.fetch_add(1);
}

} // namespace cvtest
