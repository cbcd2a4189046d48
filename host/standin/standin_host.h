#pragma once

// The stand-in host: drives one plug-in the way a DAW does, on the caller's threads (lock-step: a
// unit test calls everything from one thread) or under FreeRunner (a real audio thread, a main thread
// with a 20 ms idle timer, and host threads).
//
// Every plug-in callback runs inside a boundary: an exception that escapes it is caught, recorded
// with the callback's name (escapedExceptions) and the host carries on, as a sturdy DAW would; a
// plug-in that escapes exceptions fails its tests. ProcessBlock and the host automation delivered
// before it (OnParamChange on the audio thread) run inside a RealtimeScope except during offline
// rendering; what they did that a realtime thread must not is summed in realtimeViolations.
//
// Threads: processBlock, run and bounce on the audio thread (one at a time); idle and the editor
// calls on the main thread; configure, activate, automate, state and preset calls from any thread.
// configure waits for a block in progress to end, as hosts stop processing to reconfigure.

#include "framework/host_entry.h"
#include "host/standin/callback.h"
#include "host/standin/fault_injector.h"
#include "host/standin/input_source.h"
#include "host/standin/realtime_check.h"
#include "host/standin/transport.h"

#include <atomic>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

namespace cv::standin {

struct AudioConfig {
    double sampleRate = 48000.0; // passed on as it is, also 0 or absurd values
    int maxBlockFrames = 512;    // 1 .. 1048576
    int inputChannels = 2;       // 0 .. 8; 0 hands the plug-in a null input array
    int outputChannels = 2;      // 0 .. 8
};

struct HostNotification {
    enum class Kind {
        StateChange,
        BeginParamChange,
        ParamChange,
        EndParamChange,
        LatencyChange,
        EditorResize
    };
    Kind kind = Kind::StateChange;
    int paramIdx = -1;
    double value = 0.0; // normalized value, latency frames, or width
    bool fromProcessBlock = false;
};

// Planar float audio the host recorded: channel c at samples[c * frames, (c + 1) * frames).
struct FloatRecording {
    std::vector<float> samples;
    int channels = 0;
    std::int64_t frames = 0;
};

// Takes each block's output of an offline bounce on the bouncing thread, as soon as the plug-in has
// produced it: planes[c][0, frames) for every output channel c < channels.
using BounceSink = std::function<void(const double* const* planes, int channels, int frames)>;

struct EscapedException {
    Callback callback = Callback::None;
    std::string what;
};

struct RestoreOptions {
    bool beginHook = true;    // false: a host that never calls OnRestoreStateBegin
    int idleTicksBetween = 0; // main-thread idle ticks between the hook and the decode
};

class StandinHost : private iplug::IHostAdapter {
public:
    // Takes the plug-in and attaches itself as its host. Installs the terminate trap.
    explicit StandinHost(std::unique_ptr<iplug::Plugin> plugin);
    // Closes the editor and destroys the plug-in (inside the boundary).
    ~StandinHost() override;
    StandinHost(const StandinHost&) = delete;
    StandinHost& operator=(const StandinHost&) = delete;

    iplug::Plugin& plugin() noexcept { return *plugin_; }
    FaultInjector& faults() noexcept { return faults_; }

    // Audio configuration -> OnReset. Throws std::invalid_argument for channel or block counts outside
    // the ranges above (nothing changes then).
    void configure(const AudioConfig& config);
    AudioConfig audioConfig() const;
    void activate(bool active);
    // The input played into the plug-in (position-coded by default); null plays silence.
    void setInput(std::shared_ptr<const InputSource> source);

    // Host automation for the next block: delivered on the audio thread, in the order queued, before
    // ProcessBlock. Any thread.
    void automate(int paramIdx, double value, int sampleOffset);
    // A parameter change from a host thread (no offset): delivered at once on the calling thread.
    void setParameter(int paramIdx, double value);

    // One block. Frames beyond the configured maximum are passed on as they are (the buffers grow).
    void processBlock(const TransportBlock& block);
    void run(const TransportScript& script);
    // Offline bounce: every block flagged offline, back to back; the seconds each block was held.
    std::vector<double> bounce(TransportScript script);
    std::int64_t blocksProcessed() const noexcept { return blocks_.load(std::memory_order_acquire); }

    // Offline bounce recorded as float: room for the script's frames on every output channel is taken
    // once, before the first block, and each block's output is stored in place, so the bounce holds its
    // own size in float and no more, and is handed over as it is. Throws (std::bad_alloc,
    // std::length_error) before any block plays when the room cannot be taken.
    FloatRecording bounceToFloat(TransportScript script);

    // Offline bounce that hands every block's output to sink as it is played and keeps none of it, so
    // the caller stores the bounce in whatever form it needs. The sink runs under the block's lock,
    // outside the plug-in's callback; what it throws ends the bounce and reaches the caller.
    void bounceInto(TransportScript script, BounceSink sink);

    // Output recording (off by default): every block's output appended per output channel.
    void setRecording(bool on);
    std::vector<std::vector<double>> takeRecording();

    // Main thread: `ticks` calls of OnIdle, the simulated clock advancing 20 ms before each.
    void idle(int ticks = 1);
    std::int64_t idleClockMs() const noexcept { return idleClockMs_.load(std::memory_order_relaxed); }

    // State, from any thread. Save returns empty when the plug-in refused or threw.
    std::optional<iplug::HostStateRecord> saveState();
    // Idle ticks between the hook and the decode run on the calling thread (lock-step). A free-running
    // test calls the two steps itself and waits for the main thread's ticks in between.
    bool restoreState(const iplug::HostStateRecord& record, RestoreOptions options = {});
    // The two steps of a restore: OnRestoreStateBegin (false when it threw), then the check and decode.
    bool beginRestore();
    bool finishRestore(const iplug::HostStateRecord& record);
    bool recallPreset(int idx);

    // Main thread: the editor as the platform view factory opens it, and the host's window resizes
    // (ConstrainEditorResize, then OnParentWindowResize with the constrained size).
    bool openEditor();
    void closeEditor();
    void resizeEditorWindow(int width, int height);

    // What the plug-in sent back.
    std::vector<HostNotification> notifications() const;
    int stateChangeCount() const noexcept { return stateChanges_.load(std::memory_order_relaxed); }
    std::vector<EscapedException> escapedExceptions() const;
    RealtimeCounts realtimeViolations() const;

private:
    // IHostAdapter.
    void InformHostOfStateChange() override;
    void BeginInformHostOfParamChange(int paramIdx) override;
    void InformHostOfParamChange(int paramIdx, double normalizedValue) override;
    void EndInformHostOfParamChange(int paramIdx) override;
    void InformHostOfLatencyChange(int latencyFrames) override;
    bool ResizeEditorWindow(int width, int height) override;

    // Runs f inside the boundary; false when an exception escaped.
    template <class F>
    bool guarded(Callback callback, F&& f) noexcept;
    void recordEscape(Callback callback, const char* what) noexcept;
    void notify(HostNotification n);
    void ensureBuffers(int frames);
    void processLocked(const TransportBlock& block);

    std::unique_ptr<iplug::Plugin> plugin_;
    FaultInjector faults_;

    mutable std::mutex audioMutex_; // held for a whole block, and by configure
    AudioConfig config_;
    std::shared_ptr<const InputSource> source_;
    std::vector<std::vector<double>> inputs_, outputs_;
    std::vector<double*> inputPtrs_, outputPtrs_;
    bool havePosition_ = false;
    std::int64_t nextPosition_ = 0; // where the source continues when a block reports no position
    bool recording_ = false;
    std::vector<std::vector<double>> recorded_;
    BounceSink bounceSink_; // while bounceInto runs
    RealtimeCounts violations_;
    std::atomic<std::int64_t> blocks_{0};

    std::mutex automationMutex_;
    struct Automation {
        int paramIdx;
        double value;
        int sampleOffset;
    };
    std::vector<Automation> automation_, delivering_;

    mutable std::mutex recordMutex_;
    std::vector<HostNotification> notifications_;
    std::vector<EscapedException> escaped_;
    std::atomic<int> stateChanges_{0};
    std::atomic<std::int64_t> idleClockMs_{0};
};

} // namespace cv::standin
