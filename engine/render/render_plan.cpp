#include "engine/render/render_plan.h"

#include "engine/analysis/pyin.h"
#include "engine/audio/audio_buffer.h"
#include "engine/render/vocoder/vocoder_frames.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace np {
namespace {

bool validRate(double rate) {
    return std::isfinite(rate) && rate >= kRenderMinSampleRate && rate <= kRenderMaxSampleRate;
}

// A running byte count that turns invalid once any step overflows 64 bits.
class Bytes {
public:
    Bytes() = default;
    explicit Bytes(std::uint64_t value) : value_(value) {}
    Bytes& add(std::uint64_t x) {
        ok_ = ok_ && !__builtin_add_overflow(value_, x, &value_);
        return *this;
    }
    Bytes& add(Bytes x) {
        ok_ = ok_ && x.ok_;
        return add(x.value_);
    }
    // Adds a x b.
    Bytes& addProduct(std::uint64_t a, std::uint64_t b) {
        std::uint64_t product = 0;
        ok_ = ok_ && !__builtin_mul_overflow(a, b, &product);
        return add(product);
    }
    bool ok() const { return ok_; }
    std::uint64_t value() const { return value_; }

private:
    std::uint64_t value_ = 0;
    bool ok_ = true;
};

// frames x channels x 4, for frames >= minimum within the sample limit; false otherwise.
bool sampleBytes(int channels, std::int64_t frames, std::int64_t minimum, std::uint64_t& out) {
    if (frames < minimum || frames > AudioBuffer::kMaxSamples / channels)
        return false;
    out = static_cast<std::uint64_t>(frames) * static_cast<std::uint64_t>(channels) * 4;
    return true;
}

// A non-negative integer held exactly by an i64 and by a long double, as a u64; false otherwise.
bool representable(long double x, std::uint64_t& out) {
    if (!std::isfinite(x) || x < 0 || x > 9007199254740992.0L) // 2^53
        return false;
    out = static_cast<std::uint64_t>(x);
    return true;
}

} // namespace

RenderWorkingSetPlan planRenderWorkingSet(int channels, std::int64_t sourceFrames, std::int64_t outputFrames,
                                          std::int64_t unitFrames, double sampleRate,
                                          std::uint64_t unitBuffers, const PYinConfig* retrack,
                                          std::uint64_t extraBytes) {
    RenderWorkingSetPlan plan;
    plan.frames = outputFrames;
    if (channels < 1 || channels > 2 || !validRate(sampleRate) || extraBytes > kRenderWorkingSetBytes ||
        unitBuffers < 1 || unitBuffers > 64)
        return plan;
    if (!sampleBytes(channels, sourceFrames, 1, plan.sourceBytes) ||
        !sampleBytes(channels, outputFrames, 1, plan.outputBytes) ||
        !sampleBytes(channels, unitFrames, 0, plan.unitBytes))
        return plan;
    // unitBuffers <= 64 and unitBytes <= 512 MiB: no overflow is possible here or in base.
    plan.workBytes = unitBuffers * plan.unitBytes + (unitFrames > 0 ? kRenderEngineAllowanceBytes : 0);
    plan.extraBytes = extraBytes;
    const std::uint64_t base = plan.sourceBytes + plan.outputBytes + plan.extraBytes;

    if (retrack == nullptr || unitFrames < static_cast<std::int64_t>(retrack->frame)) {
        plan.peakBytes = base + plan.workBytes;
        plan.fits = plan.peakBytes <= kRenderWorkingSetBytes;
        return plan;
    }
    const PYinDecoderMemoryPlan pyin = planPYinDecoderMemory(unitFrames, sampleRate, *retrack);
    if (!pyin.ok)
        return plan;
    const auto unit = static_cast<std::uint64_t>(unitFrames);
    Bytes analysis;
    analysis.addProduct(344, pyin.frames)
        .addProduct(4, unit)
        .addProduct(48, pyin.states)
        .add(pyin.decoderBytes)
        .addProduct(192, retrack->frame);
    if (!analysis.ok())
        return plan;
    plan.analysisBytes = analysis.value();
    Bytes retrackBytes;
    retrackBytes.addProduct(24, pyin.frames)
        .addProduct(4, unit)
        .addProduct(8, std::max<std::uint64_t>(1, unit / retrack->hop));
    if (!retrackBytes.ok())
        return plan;
    plan.retrackBytes = retrackBytes.value();
    Bytes analysing(base);
    analysing.add(plan.unitBytes).add(plan.analysisBytes);
    Bytes comparing(base);
    comparing.add(plan.workBytes).add(plan.unitBytes).add(plan.retrackBytes);
    if (!analysing.ok() || !comparing.ok())
        return plan;
    plan.peakBytes = std::max(analysing.value(), comparing.value());
    plan.fits = plan.peakBytes <= kRenderWorkingSetBytes;
    return plan;
}

RenderWorkingSetPlan planWorldRenderWorkingSet(int channels, std::int64_t sourceFrames,
                                               std::int64_t outputFrames, std::int64_t analysisFrames,
                                               std::int64_t synthesisFrames, double sampleRate,
                                               bool formantEnvelope) {
    RenderWorkingSetPlan plan;
    plan.frames = outputFrames;
    constexpr std::int64_t kMaxSpan = std::numeric_limits<std::int32_t>::max();
    if (channels < 1 || channels > 2 || !validRate(sampleRate))
        return plan;
    const long double fs = std::nearbyint(static_cast<long double>(sampleRate));
    if (!sampleBytes(channels, sourceFrames, 1, plan.sourceBytes) ||
        !sampleBytes(channels, outputFrames, 1, plan.outputBytes))
        return plan;
    if (analysisFrames < 1 || analysisFrames > kMaxSpan || synthesisFrames < 1 ||
        synthesisFrames > kMaxSpan || !sampleBytes(channels, synthesisFrames, 1, plan.unitBytes))
        return plan;

    // Frame counts of a 5 ms frame period, in extended precision.
    const auto analysis = static_cast<long double>(analysisFrames);
    std::uint64_t frames = 0, millis = 0, synthesis = 0;
    if (!representable(std::trunc(1000.0L * analysis / (5.0L * fs)) + 1, frames) ||
        !representable(std::trunc(1000.0L * analysis / fs) + 1, millis) ||
        !representable(std::ceil(static_cast<long double>(synthesisFrames) / (0.005L * fs)) + 2, synthesis))
        return plan;
    const int fftSize = vocoderFftSize(static_cast<int>(fs));
    if (fftSize <= 0)
        return plan;
    const auto bins = static_cast<std::uint64_t>(fftSize / 2 + 1);
    const auto aF = static_cast<std::uint64_t>(analysisFrames);
    const auto sF = static_cast<std::uint64_t>(synthesisFrames);

    Bytes work;
    work.addProduct(8, aF).addProduct(32, frames).addProduct(16 * frames, bins).addProduct(24, synthesis);
    if (formantEnvelope)
        work.addProduct(8 * synthesis, bins);
    work.addProduct(8, sF).add(plan.unitBytes);
    // The F0 estimator's per-millisecond tables grow with the square of the span.
    work.addProduct(8192, millis).addProduct(4 * millis, millis).addProduct(64, aF).add(8388608);
    work.addProduct(512, static_cast<std::uint64_t>(fftSize)).addProduct(96, sF);
    if (!work.ok())
        return plan;
    plan.workBytes = work.value();
    Bytes peak(plan.sourceBytes);
    peak.add(plan.outputBytes).add(plan.workBytes);
    if (!peak.ok())
        return plan;
    plan.peakBytes = peak.value();
    plan.fits = plan.peakBytes <= kRenderWorkingSetBytes;
    return plan;
}

RenderWorkingSetPlan planRenderResampleWorkingSet(int channels, std::int64_t sourceFrames,
                                                  std::int64_t renderedFrames, double fromRate,
                                                  double toRate) {
    RenderWorkingSetPlan plan;
    if (channels < 1 || channels > 2 || !validRate(fromRate) || !validRate(toRate))
        return plan;
    if (!sampleBytes(channels, sourceFrames, 1, plan.sourceBytes) ||
        !sampleBytes(channels, renderedFrames, 1, plan.outputBytes))
        return plan;
    const long double length = static_cast<long double>(renderedFrames) * toRate / fromRate;
    const long double maxLength = static_cast<long double>(kRenderWorkingSetBytes) / (channels * 4);
    if (!std::isfinite(length) || length < 1 || length > maxLength)
        return plan;
    plan.frames = std::llround(length);
    plan.unitBytes = static_cast<std::uint64_t>(plan.frames) * static_cast<std::uint64_t>(channels) * 4;
    const std::uint64_t sum = plan.sourceBytes + plan.outputBytes + plan.unitBytes;
    plan.overheadBytes = kRenderResampleOverheadBytes;
    plan.peakBytes = sum + kRenderResampleOverheadBytes;
    plan.fits = sum <= kRenderResampleLimitBytes;
    return plan;
}

int vocoderFftSize(int fs) noexcept {
    return fs > 0 ? vocoder::fftSizeForRate(fs) : 0;
}

} // namespace np
