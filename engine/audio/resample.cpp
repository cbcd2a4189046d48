#include "engine/audio/resample.h"

#include "engine/audio/cancellation.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <memory>
#include <soxr.h>
#include <stdexcept>
#include <string_view>
#include <vector>

namespace np {
namespace {

constexpr const char* kCancelledMessage = "Resampling was cancelled";
constexpr const char* kRateMessage = "Resampling requires a supported finite sample rate";
constexpr const char* kBudgetMessage =
    "Resampling source and output exceed the 512 MiB audio working-set budget";
constexpr const char* kStallMessage = "The sample-rate converter stopped producing output";

constexpr std::int64_t kBlockValues = 8192;
constexpr int kMaxEmptyBlocks = 8;
// Sample counts stay below 2^62 so that their byte sizes (x4) cannot overflow 64 bits.
constexpr std::uint64_t kSampleCountCeiling = std::uint64_t{1} << 62;

bool supportedRate(double hz) noexcept {
    return std::isfinite(hz) && hz >= kMinSampleRateHz && hz <= kMaxSampleRateHz;
}

// The converted frame count, llroundl(frames * dst / src) in extended precision; false when it is not
// a representable non-negative count.
bool convertedFrames(std::int64_t frames, double srcRate, double dstRate, std::int64_t& out) noexcept {
    const long double x = static_cast<long double>(frames) * static_cast<long double>(dstRate) /
                          static_cast<long double>(srcRate);
    // Counts at 2^63 - 1 and above cannot come back from llroundl; such a count is refused long
    // before, by the sample limit, anyway.
    if (std::isinf(x) || std::isnan(x) || x >= 9223372036854775807.0L)
        return false;
    const long long rounded = std::llroundl(x);
    if (rounded < 0)
        return false;
    out = rounded;
    return true;
}

// Samples of channels x frames, or false when the count reaches 2^62.
bool sampleCount(std::int64_t channels, std::int64_t frames, std::uint64_t& out) noexcept {
    const auto c = static_cast<std::uint64_t>(channels);
    const auto f = static_cast<std::uint64_t>(frames);
    if (c != 0 && f >= kSampleCountCeiling / c)
        return false;
    out = c * f;
    return out < kSampleCountCeiling;
}

void checkKeepGoing(const std::function<bool()>& keepGoing) {
    if (keepGoing && !keepGoing())
        throw OperationCancelled(kCancelledMessage);
}

struct SoxrDeleter {
    void operator()(soxr* converter) const noexcept { soxr_delete(converter); }
};
using Converter = std::unique_ptr<soxr, SoxrDeleter>;

// The converter is libsoxr in double precision, set up to match the filter this system was designed
// around: linear phase; 30 bits of precision, which soxr turns into 30 x 6.02 = 180.6 dB of stop-band
// attenuation (at least the 180.15 dB wanted); and a passband that ends at 98 % of the lower Nyquist
// frequency with the stop band starting at Nyquist, a 2 % transition band. soxr removes the filter's
// group delay itself, so output sample 0 lies at input sample 0. One thread: the caller is already a
// worker thread.
Converter makeConverter(double srcRate, double dstRate) {
    soxr_quality_spec_t quality = soxr_quality_spec(SOXR_32_BITQ, SOXR_LINEAR_PHASE);
    quality.precision = 30.0;
    quality.phase_response = 50.0;
    quality.passband_end = 0.98;
    quality.stopband_begin = 1.0;
    const soxr_io_spec_t io = soxr_io_spec(SOXR_FLOAT64_I, SOXR_FLOAT32_I);
    const soxr_runtime_spec_t runtime = soxr_runtime_spec(1);
    soxr_error_t error = nullptr;
    Converter converter(soxr_create(srcRate, dstRate, 1, &error, &io, &quality, &runtime));
    if (error != nullptr || converter == nullptr) {
        if (error != nullptr && std::string_view(error).find("alloc") != std::string_view::npos)
            throw std::bad_alloc();
        throw std::runtime_error(kStallMessage);
    }
    return converter;
}

// Converts one channel into out (already sized to the converted length).
void convertChannel(std::span<const float> in, std::span<float> out, double srcRate, double dstRate,
                    std::array<double, kBlockValues>& block, const std::function<bool()>& keepGoing) {
    Converter converter = makeConverter(srcRate, dstRate);
    const auto frames = static_cast<std::int64_t>(in.size());
    const auto outFrames = static_cast<std::int64_t>(out.size());
    detail::ConverterStallWatch watch(dstRate / srcRate);
    std::int64_t readPos = 0;
    std::int64_t writePos = 0;
    while (writePos < outFrames) {
        checkKeepGoing(keepGoing);
        const std::int64_t n = std::min(std::max<std::int64_t>(frames - readPos, 0), kBlockValues);
        std::copy_n(in.begin() + readPos, n, block.begin());
        // After the end of the input the converter is fed whole blocks of silence, which flushes it.
        std::fill(block.begin() + n, block.end(), 0.0);

        std::int64_t produced = 0;
        std::size_t fed = 0;
        while (fed < block.size() && writePos < outFrames) {
            std::size_t taken = 0;
            std::size_t made = 0;
            // Output past the converted length stays inside the converter and is discarded with it.
            const soxr_error_t error =
                soxr_process(converter.get(), block.data() + fed, block.size() - fed, &taken,
                             out.data() + writePos, static_cast<std::size_t>(outFrames - writePos), &made);
            if (error != nullptr)
                throw std::runtime_error(kStallMessage);
            fed += taken;
            writePos += static_cast<std::int64_t>(made);
            produced += static_cast<std::int64_t>(made);
            if (taken == 0 && made == 0)
                break;
        }
        if (writePos < outFrames && !watch.blockDone(produced, soxr_delay(converter.get()), n < kBlockValues))
            throw std::runtime_error(kStallMessage);
        readPos += n;
    }
}

} // namespace

namespace detail {

ConverterStallWatch::ConverterStallWatch(double outputPerInput) noexcept : outputPerInput_(outputPerInput) {}

bool ConverterStallWatch::blockDone(std::int64_t produced, double pendingOutput, bool pastInputEnd) noexcept {
    const bool buffering = pendingOutput > lastPending_;
    lastPending_ = pendingOutput;
    if (pastInputEnd) {
        if (flushBlocksAllowed_ < 0) {
            // Silence of ceil(pending / (ratio x block)) blocks must push out everything the converter
            // still owes; the grace of kMaxEmptyBlocks covers rounding inside the converter.
            const double blocksToFlush = std::ceil(std::max(0.0, pendingOutput) /
                                                   (outputPerInput_ * static_cast<double>(kBlockValues)));
            flushBlocksAllowed_ =
                static_cast<std::int64_t>(std::min(blocksToFlush, 1e9)) + kMaxEmptyBlocks + 1;
        }
        if (++flushBlocks_ > flushBlocksAllowed_)
            return false;
    }
    if (produced > 0 || buffering) {
        emptyBlocks_ = 0;
        return true;
    }
    if (emptyBlocks_ >= kMaxEmptyBlocks)
        return false;
    ++emptyBlocks_;
    return true;
}

} // namespace detail

bool checkedResampledAudioShape(const AudioBuffer& audio, double srcRate, double dstRate,
                                std::int64_t& outFrames, std::size_t& outBytes) {
    outFrames = 0;
    outBytes = 0;
    if (!supportedRate(srcRate) || !supportedRate(dstRate))
        return false;
    if (static_cast<std::uint32_t>(audio.channels) > 2 || audio.frames < 0)
        return false;
    std::int64_t frames = 0;
    if (!convertedFrames(audio.frames, srcRate, dstRate, frames))
        return false;
    std::uint64_t samples = 0;
    if (!sampleCount(audio.channels, frames, samples))
        return false;
    outFrames = frames;
    outBytes = static_cast<std::size_t>(samples * 4);
    return samples <= static_cast<std::uint64_t>(AudioBuffer::kMaxSamples);
}

bool checkedResampleWorkingSet(int channels, std::int64_t frames, double srcRate, double dstRate,
                               std::int64_t& outFrames, std::size_t& sourceBytes, std::size_t& outputBytes,
                               std::size_t& totalBytes) {
    outFrames = 0;
    sourceBytes = 0;
    outputBytes = 0;
    totalBytes = 0;
    if (static_cast<std::uint32_t>(channels) >= 3 || frames < 0)
        return false;
    std::uint64_t sourceSamples = 0;
    if (!sampleCount(channels, frames, sourceSamples))
        return false;
    sourceBytes = static_cast<std::size_t>(sourceSamples * 4);
    if (sourceSamples > static_cast<std::uint64_t>(AudioBuffer::kMaxSamples))
        return false;
    if (!supportedRate(srcRate) || !supportedRate(dstRate))
        return false;
    std::int64_t converted = 0;
    if (!convertedFrames(frames, srcRate, dstRate, converted))
        return false;
    outFrames = converted;
    std::uint64_t outputSamples = 0;
    if (!sampleCount(channels, converted, outputSamples))
        return false;
    outputBytes = static_cast<std::size_t>(outputSamples * 4);
    if (outputSamples > static_cast<std::uint64_t>(AudioBuffer::kMaxSamples))
        return false;
    // Both byte counts are below 2^64 / 2 here, so the sum cannot wrap.
    const std::uint64_t sum = sourceSamples * 4 + outputSamples * 4;
    totalBytes = static_cast<std::size_t>(sum + kResampleConverterOverheadBytes);
    return sum <= kResampleAudioBudgetBytes;
}

AudioBuffer resampleBuffer(const AudioBuffer& in, double srcRate, double dstRate,
                           const std::function<bool()>& keepGoing) {
    checkKeepGoing(keepGoing);
    if (!supportedRate(srcRate) || !supportedRate(dstRate))
        throw std::invalid_argument(kRateMessage);
    if (in.frames == 0 || in.channels == 0)
        return in;

    std::int64_t outFrames = 0;
    std::size_t sourceBytes = 0;
    std::size_t outputBytes = 0;
    std::size_t totalBytes = 0;
    if (!checkedResampleWorkingSet(in.channels, in.frames, srcRate, dstRate, outFrames, sourceBytes,
                                   outputBytes, totalBytes))
        throw std::length_error(kBudgetMessage);
    if (srcRate == dstRate)
        return in;

    checkKeepGoing(keepGoing);
    AudioBuffer result;
    result.resize(in.channels, outFrames);
    auto block = std::make_unique<std::array<double, kBlockValues>>();
    block->fill(0.0);
    for (int c = 0; c < in.channels; ++c) {
        checkKeepGoing(keepGoing);
        convertChannel(in.channel(c), result.channel(c), srcRate, dstRate, *block, keepGoing);
    }
    return result;
}

} // namespace np
