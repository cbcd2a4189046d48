#include "engine/analysis/analysis_plan.h"

#include "engine/analysis/pyin.h"
#include "engine/audio/audio_buffer.h"

#include <algorithm>
#include <cmath>
#include <optional>
#include <stdexcept>
#include <string>

namespace np {
namespace {

bool within(double value, double lo, double hi) {
    return std::isfinite(value) && value >= lo && value <= hi;
}

bool validRate(double rate) {
    return within(rate, kAnalysisMinSampleRate, kAnalysisMaxSampleRate);
}

// The checks common to both scalings.
bool settingsInBounds(double rate, const AnalysisConfig& in) {
    const OnsetConfig& onset = in.onset;
    const SegmenterConfig& segmenter = in.segmenter;
    return validRate(rate) && onset.frame > 0 && onset.hop > 0 &&
           within(onset.medianWindowSeconds, 0.0, 1200.0) && std::isfinite(onset.thresholdRatio) &&
           onset.thresholdRatio >= 0.0 && within(onset.minGapSeconds, 0.0, 1200.0) &&
           within(segmenter.minSegmentSeconds, 0.0, 1200.0) && std::isfinite(segmenter.splitCents) &&
           segmenter.splitCents >= 0.0 && segmenter.medianFrames >= 0 && segmenter.maxGapFrames >= 0 &&
           within(segmenter.onsetSnapSeconds, 0.0, 1200.0) && std::isfinite(segmenter.silenceDb);
}

// A hop scaled by rounding half up, at least kAnalysisMinScaledHop.
bool scaledHop(long double hop, long double scale, int& out) {
    if (!(hop > 0))
        return false;
    const long double x = hop * scale;
    if (!(x >= 0.5L && x <= kAnalysisMaxScaledCount))
        return false;
    const long double rounded = std::floor(x + 0.5L);
    if (rounded < 1 || rounded > kAnalysisMaxScaledCount)
        return false;
    out = std::max(static_cast<int>(rounded), kAnalysisMinScaledHop);
    return true;
}

// Sums with overflow detection; empty once any addition overflowed.
std::optional<std::uint64_t> add(std::optional<std::uint64_t> a, std::uint64_t b) {
    if (!a || *a > UINT64_MAX - b)
        return std::nullopt;
    return *a + b;
}

std::optional<std::uint64_t> mul(std::uint64_t a, std::uint64_t b) {
    if (a != 0 && b > UINT64_MAX / a)
        return std::nullopt;
    return a * b;
}

// Fills audioBytes and monoBytes; false when the shape or rate is out of bounds.
bool planAudio(int channels, std::int64_t frames, double sampleRate, AnalysisMemoryPlan& plan) {
    if (channels < 1 || channels > kAnalysisMaxChannels || frames < 1 || !validRate(sampleRate))
        return false;
    if (static_cast<double>(frames) / sampleRate > kAnalysisMaxSeconds)
        return false;
    if (static_cast<std::int64_t>(channels) * frames > AudioBuffer::kMaxSamples)
        return false;
    plan.audioBytes = static_cast<std::uint64_t>(channels) * static_cast<std::uint64_t>(frames) * 4;
    plan.monoBytes = channels == 2 ? static_cast<std::uint64_t>(frames) * 4 : 0;
    plan.totalBytes = plan.audioBytes + plan.monoBytes;
    return true;
}

// Onset detection's share: novelty curve, FFT buffers and the onset list. Returns the list's bytes.
std::uint64_t planOnsets(std::int64_t frames, const OnsetConfig& onset, AnalysisMemoryPlan& plan) {
    const std::int64_t frame = onset.frame;
    if (frames < frame)
        return 0;
    const auto count = static_cast<std::uint64_t>((frames - frame) / onset.hop) + 1;
    plan.onsetBytes = count * 16 + static_cast<std::uint64_t>(frame) * 128 + count * 8;
    return count * 8;
}

} // namespace

bool checkedScaledInteger(int value, long double scale, int minimum, bool powerOfTwo, int& out) {
    if (value <= 0 || !std::isfinite(scale) || !(scale > 0))
        return false;
    const long double x = static_cast<long double>(value) * scale;
    if (std::isinf(x) || x > kAnalysisMaxScaledCount || x < 0.5L)
        return false;
    const long double rounded = std::floor(x + 0.5L);
    if (rounded < 1 || rounded > kAnalysisMaxScaledCount)
        return false;
    auto r = static_cast<std::int64_t>(rounded);
    if (powerOfTwo) {
        std::int64_t p = 1;
        while (p < r)
            p *= 2;
        if (p > kAnalysisMaxScaledCount)
            return false;
        r = p;
    }
    out = std::max(static_cast<int>(r), minimum);
    return true;
}

bool scaledAnalysisConfig(double rate, const AnalysisConfig& in, AnalysisConfig& out) {
    if (!settingsInBounds(rate, in))
        return false;
    out = in;
    const long double scale = static_cast<long double>(rate) / 48000.0L;
    int frame = 0;
    int hop = 0;
    int onsetFrame = 0;
    if (in.pyin.frame > static_cast<std::uint32_t>(kAnalysisMaxScaledCount) ||
        !checkedScaledInteger(static_cast<int>(in.pyin.frame), scale, 1, true, frame) ||
        !scaledHop(static_cast<long double>(in.pyin.hop), scale, hop) ||
        !checkedScaledInteger(in.onset.frame, scale, 1, true, onsetFrame))
        return false;
    out.pyin.frame = static_cast<std::uint32_t>(frame);
    out.pyin.hop = static_cast<std::uint32_t>(hop);
    out.onset.frame = onsetFrame;
    out.onset.hop = hop;
    return true;
}

bool scaledPercussiveConfig(double rate, const AnalysisConfig& in, AnalysisConfig& out) {
    if (!settingsInBounds(rate, in))
        return false;
    out = in;
    const long double scale = static_cast<long double>(rate) / 48000.0L;
    int onsetFrame = 0;
    int hop = 0;
    if (!checkedScaledInteger(in.onset.frame, scale, 1, true, onsetFrame) ||
        !scaledHop(static_cast<long double>(in.onset.hop), scale, hop))
        return false;
    out.onset.frame = onsetFrame;
    out.onset.hop = hop;
    return true;
}

AnalysisMemoryPlan planMelodicAnalysisMemory(int channels, std::int64_t frames, double sampleRate,
                                             const AnalysisConfig& config) {
    AnalysisMemoryPlan plan;
    if (!planAudio(channels, frames, sampleRate, plan))
        return AnalysisMemoryPlan{};
    AnalysisConfig scaled;
    if (!scaledAnalysisConfig(sampleRate, config, scaled))
        return plan;
    const std::int64_t pyinFrame = scaled.pyin.frame;
    // The tracker's settings are checked even when the audio is shorter than one of its frames.
    if (!planPYinDecoderMemory(std::max(frames, pyinFrame), sampleRate, scaled.pyin).ok)
        return plan;
    const std::uint64_t onsetList = planOnsets(frames, scaled.onset, plan);

    std::optional<std::uint64_t> total = add(plan.audioBytes + plan.monoBytes, plan.onsetBytes);
    if (frames >= pyinFrame) {
        const PYinDecoderMemoryPlan pyin = planPYinDecoderMemory(frames, sampleRate, scaled.pyin);
        if (!pyin.ok)
            return plan;
        const std::optional<std::uint64_t> tracker =
            add(pyin.decoderBytes, pitchTrackerAllowanceBytes(pyin, scaled.pyin));
        const std::optional<std::uint64_t> pitchFrames = mul(pyin.frames, 320);
        const std::optional<std::uint64_t> notes =
            add(add(add(mul(pyin.frames, 24), onsetList), pyin.frames * 8),
                std::min<std::uint64_t>(pyin.frames, kMaxNotes) * 144);
        if (!tracker || !pitchFrames || !notes)
            return plan;
        plan.pitchTrackerBytes = *tracker;
        plan.pitchFrameBytes = *pitchFrames;
        plan.noteBytes = *notes;
        total = add(add(add(total, *pitchFrames), *tracker), *notes);
        if (!total)
            return plan;
    }
    plan.totalBytes = *total;
    plan.ok = plan.totalBytes <= kAnalysisWorkingSetBytes;
    return plan;
}

AnalysisMemoryPlan planPercussiveAnalysisMemory(int channels, std::int64_t frames, double sampleRate,
                                                const AnalysisConfig& config) {
    AnalysisMemoryPlan plan;
    if (!planAudio(channels, frames, sampleRate, plan))
        return AnalysisMemoryPlan{};
    AnalysisConfig scaled;
    if (!scaledPercussiveConfig(sampleRate, config, scaled))
        return plan;
    planOnsets(frames, scaled.onset, plan);
    std::uint64_t count = 0;
    std::uint64_t extra = 16;
    if (frames >= scaled.onset.frame) {
        const auto n = static_cast<std::uint64_t>((frames - scaled.onset.frame) / scaled.onset.hop);
        count = n + 1;
        extra = n * 8 + 24;
    }
    plan.noteBytes = count * 12 + extra + std::min<std::uint64_t>(count, kMaxNotes) * 144;
    plan.totalBytes = plan.audioBytes + plan.monoBytes + plan.onsetBytes + plan.noteBytes;
    plan.ok = plan.totalBytes <= kAnalysisWorkingSetBytes;
    return plan;
}

void throwAnalysisWorkingSetError(std::size_t bytes) {
    if (bytes == 0)
        throw std::length_error("Audio cannot be analyzed safely. Check its duration, channel count, sample "
                                "rate, and analysis settings.");
    const std::uint64_t mib = (static_cast<std::uint64_t>(bytes) + 1048575) / 1048576;
    throw std::length_error("Analysis needs about " + std::to_string(mib) +
                            " MiB. Shorten the audio, convert stereo to mono, or use a lower sample rate "
                            "(512 MiB analysis limit).");
}

} // namespace np
