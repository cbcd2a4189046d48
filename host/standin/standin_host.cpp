#include "host/standin/standin_host.h"

#include <algorithm>
#include <chrono>
#include <stdexcept>
#include <utility>

namespace cv::standin {
namespace {

constexpr int kMaxChannels = 8;
constexpr int kMaxBlockFrames = 1 << 20;
constexpr std::int64_t kIdleIntervalMs = 20;

// Whether the calling thread is inside ProcessBlock, so notifications can say where they came from.
constinit thread_local bool tInProcess = false;

} // namespace

template <class F>
bool StandinHost::guarded(Callback callback, F&& f) noexcept {
    CallbackMark mark(callback);
    try {
        f();
        return true;
    } catch (const std::exception& e) {
        recordEscape(callback, e.what());
    } catch (...) {
        recordEscape(callback, "an exception of unknown type");
    }
    return false;
}

StandinHost::StandinHost(std::unique_ptr<iplug::Plugin> plugin) : plugin_(std::move(plugin)) {
    if (!plugin_)
        throw std::invalid_argument("The stand-in host needs a plug-in.");
    installTerminateTrap();
    source_ = std::make_shared<PositionCodedSource>();
    iplug::HostEntry::Attach(*plugin_, this);
}

StandinHost::~StandinHost() {
    closeEditor();
    iplug::HostEntry::Attach(*plugin_, nullptr);
    guarded(Callback::Destroy, [&] { plugin_.reset(); });
}

void StandinHost::configure(const AudioConfig& config) {
    if (config.inputChannels < 0 || config.inputChannels > kMaxChannels || config.outputChannels < 0 ||
        config.outputChannels > kMaxChannels)
        throw std::invalid_argument("The stand-in host connects 0 to 8 channels on each side.");
    if (config.maxBlockFrames < 1 || config.maxBlockFrames > kMaxBlockFrames)
        throw std::invalid_argument("The stand-in host's block size must be 1 to 1048576 frames.");
    std::lock_guard lock(audioMutex_);
    config_ = config;
    inputs_.assign(static_cast<std::size_t>(config.inputChannels), {});
    outputs_.assign(static_cast<std::size_t>(config.outputChannels), {});
    ensureBuffers(config.maxBlockFrames);
    havePosition_ = false;
    iplug::HostEntry::SetAudioConfig(*plugin_, config.sampleRate, config.maxBlockFrames, config.inputChannels,
                                     config.outputChannels);
    guarded(Callback::Reset, [&] { plugin_->OnReset(); });
}

AudioConfig StandinHost::audioConfig() const {
    std::lock_guard lock(audioMutex_);
    return config_;
}

void StandinHost::activate(bool active) {
    guarded(Callback::Activate, [&] { plugin_->OnActivate(active); });
}

void StandinHost::setInput(std::shared_ptr<const InputSource> source) {
    std::lock_guard lock(audioMutex_);
    source_ = std::move(source);
}

void StandinHost::automate(int paramIdx, double value, int sampleOffset) {
    std::lock_guard lock(automationMutex_);
    automation_.push_back({paramIdx, value, sampleOffset});
}

void StandinHost::setParameter(int paramIdx, double value) {
    guarded(Callback::ParamChange,
            [&] { iplug::HostEntry::SetParameterFromHost(*plugin_, paramIdx, value, -1); });
}

void StandinHost::ensureBuffers(int frames) {
    for (auto* planes : {&inputs_, &outputs_})
        for (auto& plane : *planes)
            if (plane.size() < static_cast<std::size_t>(frames))
                plane.resize(static_cast<std::size_t>(frames));
    inputPtrs_.clear();
    outputPtrs_.clear();
    for (auto& plane : inputs_)
        inputPtrs_.push_back(plane.data());
    for (auto& plane : outputs_)
        outputPtrs_.push_back(plane.data());
}

void StandinHost::processBlock(const TransportBlock& block) {
    std::lock_guard lock(audioMutex_);
    processLocked(block);
}

void StandinHost::processLocked(const TransportBlock& block) {
    if (block.frames < 0)
        return;
    ensureBuffers(block.frames);
    // Every plug-in call on the audio thread of a realtime block (host automation, then ProcessBlock)
    // runs inside the realtime check; an offline block may wait. The scope's count is read on every
    // path, also when the plug-in throws.
    const auto onAudioThread = [&](const auto& call) {
        if (block.offline) {
            call();
            return;
        }
        RealtimeScope scope;
        struct Read {
            RealtimeScope& s;
            RealtimeCounts& total;
            ~Read() { total += s.violations(); }
        } read{scope, violations_};
        call();
    };
    {
        std::lock_guard lock(automationMutex_);
        delivering_.swap(automation_);
    }
    for (const auto& a : delivering_)
        guarded(Callback::ParamChange, [&] {
            onAudioThread([&] {
                iplug::HostEntry::SetParameterFromHost(*plugin_, a.paramIdx, a.value, a.sampleOffset);
            });
        });
    delivering_.clear();

    // The source plays the reported position when there is one, else continues where it was.
    std::int64_t position = 0;
    if (validPosition(block.samplePos, position))
        havePosition_ = true;
    else
        position = havePosition_ ? nextPosition_ : 0;
    nextPosition_ = position + block.frames;
    if (source_)
        source_->fill(position, block.frames, std::span<double* const>(inputPtrs_));
    else
        for (auto& plane : inputs_)
            std::fill_n(plane.begin(), block.frames, 0.0);
    for (auto& plane : outputs_)
        std::fill_n(plane.begin(), block.frames, 0.0);

    iplug::HostEntry::SetProcessInfo(*plugin_, iplug::ITimeInfo{block.samplePos, block.running},
                                     block.offline);
    double** in = inputs_.empty() ? nullptr : inputPtrs_.data();
    double** out = outputs_.empty() ? nullptr : outputPtrs_.data();
    tInProcess = !block.offline;
    guarded(Callback::Process, [&] { onAudioThread([&] { plugin_->ProcessBlock(in, out, block.frames); }); });
    tInProcess = false;
    if (bounceSink_)
        bounceSink_(outputPtrs_.data(), static_cast<int>(outputPtrs_.size()), block.frames);
    if (recording_) {
        if (recorded_.size() != outputs_.size())
            recorded_.assign(outputs_.size(), {});
        for (std::size_t c = 0; c < outputs_.size(); ++c)
            recorded_[c].insert(recorded_[c].end(), outputs_[c].begin(), outputs_[c].begin() + block.frames);
    }
    blocks_.fetch_add(1, std::memory_order_release);
}

void StandinHost::run(const TransportScript& script) {
    for (const auto& block : script)
        processBlock(block);
}

std::vector<double> StandinHost::bounce(TransportScript script) {
    std::vector<double> held;
    held.reserve(script.size());
    for (auto& block : script) {
        block.offline = true;
        const auto start = std::chrono::steady_clock::now();
        processBlock(block);
        held.push_back(std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
    }
    return held;
}

FloatRecording StandinHost::bounceToFloat(TransportScript script) {
    FloatRecording room;
    for (const auto& block : script)
        room.frames += std::max(block.frames, 0);
    {
        std::lock_guard lock(audioMutex_);
        room.channels = static_cast<int>(outputs_.size());
    }
    if (room.channels > 0 && static_cast<std::uint64_t>(room.frames) >
                                 room.samples.max_size() / static_cast<std::size_t>(room.channels))
        throw std::length_error("The bounce is too long to record.");
    room.samples.resize(static_cast<std::size_t>(room.channels) * static_cast<std::size_t>(room.frames));
    std::int64_t written = 0;
    bounceInto(std::move(script), [&room, &written](const double* const* planes, int channels, int frames) {
        const std::int64_t n = std::min<std::int64_t>(frames, room.frames - written);
        for (int c = 0; c < std::min(channels, room.channels); ++c) {
            float* dst = room.samples.data() +
                         static_cast<std::size_t>(c) * static_cast<std::size_t>(room.frames) +
                         static_cast<std::size_t>(written);
            for (std::int64_t i = 0; i < n; ++i)
                dst[i] = static_cast<float>(planes[c][i]);
        }
        written += n;
    });
    return room;
}

void StandinHost::bounceInto(TransportScript script, BounceSink sink) {
    {
        std::lock_guard lock(audioMutex_);
        bounceSink_ = std::move(sink);
    }
    // The sink goes when the bounce ends, also when a block throws.
    struct Unset {
        StandinHost& host;
        ~Unset() {
            std::lock_guard lock(host.audioMutex_);
            host.bounceSink_ = nullptr;
        }
    } unset{*this};
    bounce(std::move(script));
}

void StandinHost::setRecording(bool on) {
    std::lock_guard lock(audioMutex_);
    recording_ = on;
}

std::vector<std::vector<double>> StandinHost::takeRecording() {
    std::lock_guard lock(audioMutex_);
    return std::exchange(recorded_, {});
}

void StandinHost::idle(int ticks) {
    for (int t = 0; t < ticks; ++t) {
        idleClockMs_.fetch_add(kIdleIntervalMs, std::memory_order_relaxed);
        guarded(Callback::Idle, [&] { plugin_->OnIdle(); });
    }
}

std::optional<iplug::HostStateRecord> StandinHost::saveState() {
    std::optional<iplug::HostStateRecord> record;
    guarded(Callback::SaveState, [&] { record = iplug::HostEntry::SaveState(*plugin_); });
    return record;
}

bool StandinHost::restoreState(const iplug::HostStateRecord& record, RestoreOptions options) {
    if (options.beginHook && !beginRestore())
        return false;
    idle(options.idleTicksBetween);
    return finishRestore(record);
}

bool StandinHost::beginRestore() {
    return guarded(Callback::RestoreBegin, [&] { iplug::HostEntry::BeginRestoreState(*plugin_); });
}

bool StandinHost::finishRestore(const iplug::HostStateRecord& record) {
    bool accepted = false;
    guarded(Callback::RestoreFinish,
            [&] { accepted = iplug::HostEntry::FinishRestoreState(*plugin_, record); });
    return accepted;
}

bool StandinHost::recallPreset(int idx) {
    bool accepted = false;
    guarded(Callback::PresetRecall, [&] { accepted = plugin_->RestorePreset(idx); });
    return accepted;
}

bool StandinHost::openEditor() {
    void* view = nullptr;
    guarded(Callback::EditorOpen, [&] { view = plugin_->OpenWindow(nullptr); });
    return view != nullptr;
}

void StandinHost::closeEditor() {
    guarded(Callback::EditorClose, [&] { plugin_->CloseWindow(); });
}

void StandinHost::resizeEditorWindow(int width, int height) {
    guarded(Callback::EditorResize, [&] {
        plugin_->ConstrainEditorResize(width, height);
        plugin_->OnParentWindowResize(width, height);
    });
}

std::vector<HostNotification> StandinHost::notifications() const {
    std::lock_guard lock(recordMutex_);
    return notifications_;
}

std::vector<EscapedException> StandinHost::escapedExceptions() const {
    std::lock_guard lock(recordMutex_);
    return escaped_;
}

RealtimeCounts StandinHost::realtimeViolations() const {
    std::lock_guard lock(audioMutex_);
    return violations_;
}

void StandinHost::recordEscape(Callback callback, const char* what) noexcept {
    try {
        std::lock_guard lock(recordMutex_);
        escaped_.push_back({callback, what});
    } catch (...) {
        // Out of memory while recording: nothing more can be kept.
    }
}

void StandinHost::notify(HostNotification n) {
    n.fromProcessBlock = tInProcess;
    std::lock_guard lock(recordMutex_);
    notifications_.push_back(n);
}

void StandinHost::InformHostOfStateChange() {
    stateChanges_.fetch_add(1, std::memory_order_relaxed);
    notify({HostNotification::Kind::StateChange});
}

void StandinHost::BeginInformHostOfParamChange(int paramIdx) {
    notify({HostNotification::Kind::BeginParamChange, paramIdx});
}

void StandinHost::InformHostOfParamChange(int paramIdx, double normalizedValue) {
    notify({HostNotification::Kind::ParamChange, paramIdx, normalizedValue});
}

void StandinHost::EndInformHostOfParamChange(int paramIdx) {
    notify({HostNotification::Kind::EndParamChange, paramIdx});
}

void StandinHost::InformHostOfLatencyChange(int latencyFrames) {
    notify({HostNotification::Kind::LatencyChange, -1, static_cast<double>(latencyFrames)});
}

bool StandinHost::ResizeEditorWindow(int width, int height) {
    (void)height;
    notify({HostNotification::Kind::EditorResize, -1, static_cast<double>(width)});
    return true;
}

} // namespace cv::standin
