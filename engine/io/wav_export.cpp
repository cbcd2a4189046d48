#include "engine/io/wav_export.h"

#include "engine/io/atomic_file.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <vector>

namespace np {

namespace {

constexpr float kCheckShare = 0.15f;

std::filesystem::path pathFromUtf8(const std::string& text) {
    return std::filesystem::path(std::u8string(text.begin(), text.end()));
}

void setError(std::string* error, std::string sentence) {
    if (error != nullptr) {
        *error = std::move(sentence);
    }
}

bool report(const std::function<bool(float)>& progress, double fraction) {
    return !progress || progress(static_cast<float>(fraction));
}

bool withinExportLimits(int channels, std::int64_t frames, double sampleRate, WavBitDepth depth) {
    if (channels < 1 || channels > 2 || frames < 1) {
        return false;
    }
    if (!std::isfinite(sampleRate) || sampleRate < 8000.0 || sampleRate > 384000.0) {
        return false;
    }
    const int depthIndex = static_cast<int>(depth);
    return frames <= AudioBuffer::kMaxSamples / channels && depthIndex >= 0 && depthIndex <= 2;
}

enum class CheckResult { Finite, Invalid, Cancelled };

// The whole buffer is checked before the temporary exists, so a bad render costs no disk traffic.
CheckResult checkFinite(const AudioBuffer& audio, const std::function<bool(float)>& progress) {
    const double total = static_cast<double>(audio.channels) * static_cast<double>(audio.frames);
    double checked = 0.0;
    for (int c = 0; c < audio.channels; ++c) {
        const auto samples = audio.channel(c);
        for (std::int64_t first = 0; first < audio.frames; first += kWavExportBlockFrames) {
            if (!report(progress, kCheckShare * checked / total)) {
                return CheckResult::Cancelled;
            }
            const std::int64_t count = std::min(kWavExportBlockFrames, audio.frames - first);
            const auto block =
                samples.subspan(static_cast<std::size_t>(first), static_cast<std::size_t>(count));
            if (!std::all_of(block.begin(), block.end(), [](float x) { return std::isfinite(x); })) {
                return CheckResult::Invalid;
            }
            checked += static_cast<double>(count);
        }
    }
    return CheckResult::Finite;
}

enum class WriteResult { Written, OpenFailed, WriteFailed, FinishFailed, Cancelled };

// The coded bytes of frames [first, first + count), in scratch (room for one block) or wherever they are.
using BlockBytes = std::function<std::span<const std::uint8_t>(std::int64_t first, std::int64_t count,
                                                               std::span<std::uint8_t> scratch)>;

// Writes every block through the temporary's own stream.
WriteResult writeTemporary(std::FILE* stream, const WavFormat& format, std::int64_t frames,
                           std::span<std::uint8_t> scratch, const BlockBytes& blockBytes,
                           const std::function<bool(float)>& progress, WavFileWriter& writer) {
    if (!writer.start(stream, format)) {
        return WriteResult::OpenFailed;
    }
    const double total = static_cast<double>(frames);
    for (std::int64_t first = 0; first < frames; first += kWavExportBlockFrames) {
        if (!report(progress, kCheckShare + (1.0 - kCheckShare) * static_cast<double>(first) / total)) {
            return WriteResult::Cancelled;
        }
        const std::int64_t count = std::min(kWavExportBlockFrames, frames - first);
        if (!writer.writeData(blockBytes(first, count, scratch))) {
            return WriteResult::WriteFailed;
        }
    }
    return writer.finish() ? WriteResult::Written : WriteResult::FinishFailed;
}

// What both forms share once the samples have passed their checks: the destination and its disk
// checked, the temporary written block by block, closed, and moved into place.
bool writeWavFile(const std::string& path, const WavFormat& format, std::int64_t frames,
                  std::size_t scratchBytes, const BlockBytes& blockBytes, std::string* error,
                  const std::function<bool(float)>& progress) {
    const std::uint64_t dataBytes =
        static_cast<std::uint64_t>(frames) * wavFrameBytes(format.channels, format.depth);
    AtomicFileReplacement replacement;
    if (!replacement.prepare(pathFromUtf8(path), false, error)) {
        return false;
    }
    if (!detail::folderHasRoomFor(replacement.folder(), dataBytes, kWavExportSpareBytes)) {
        setError(error, "There is not enough free disk space to export this WAV");
        return false;
    }

    // Taken before the temporary exists, so running out of memory leaves nothing behind.
    std::vector<std::uint8_t> scratch(scratchBytes);

    if (!replacement.open(error)) {
        return false;
    }
    const auto discard = [&](std::string sentence) {
        setError(error, std::move(sentence));
        replacement.abandon(error);
        return false;
    };
    WavFileWriter writer;
    const auto reason = [&writer] { return ": " + std::string(std::strerror(writer.errorNumber())); };
    switch (writeTemporary(replacement.stream(), format, frames, scratch, blockBytes, progress, writer)) {
    case WriteResult::OpenFailed:
        return discard("Cannot open file for writing: " + path + reason());
    case WriteResult::WriteFailed:
        return discard("Failed writing WAV data: " + path + reason());
    case WriteResult::FinishFailed:
        return discard("The WAV file could not be finalized safely" + reason());
    case WriteResult::Cancelled:
        return discard("WAV export was cancelled");
    case WriteResult::Written:
        break;
    }
    if (!replacement.close(error)) {
        replacement.abandon(error);
        return false;
    }
    if (!report(progress, 1.0)) {
        return discard("WAV export was cancelled");
    }
    return replacement.commit(error);
}

} // namespace

bool saveWav(const std::string& path, const AudioBuffer& audio, double sampleRate, WavBitDepth depth,
             std::string* error, const std::function<bool(float)>& progress) {
    if (error != nullptr) {
        error->clear();
    }
    // A buffer whose storage disagrees with its shape would be read past its end.
    if (!withinExportLimits(audio.channels, audio.frames, sampleRate, depth) ||
        audio.samples.size() != static_cast<std::size_t>(audio.channels * audio.frames)) {
        setError(error, "The audio exceeds the supported export limits");
        return false;
    }
    switch (checkFinite(audio, progress)) {
    case CheckResult::Invalid:
        setError(error, "The rendered audio contains invalid sample values");
        return false;
    case CheckResult::Cancelled:
        setError(error, "WAV export was cancelled");
        return false;
    case CheckResult::Finite:
        break;
    }
    if (!report(progress, kCheckShare)) {
        setError(error, "WAV export was cancelled");
        return false;
    }
    const WavFormat format{audio.channels, static_cast<std::uint32_t>(std::lround(sampleRate)), depth};
    const std::size_t bytesPerFrame = wavFrameBytes(audio.channels, depth);
    const auto code = [&audio, depth, bytesPerFrame](std::int64_t first, std::int64_t count,
                                                     std::span<std::uint8_t> scratch) {
        const auto bytes = scratch.first(static_cast<std::size_t>(count) * bytesPerFrame);
        encodeWavFrames(audio, first, count, depth, bytes);
        return std::span<const std::uint8_t>(bytes);
    };
    return writeWavFile(path, format, audio.frames,
                        static_cast<std::size_t>(std::min(kWavExportBlockFrames, audio.frames)) *
                            bytesPerFrame,
                        code, error, progress);
}

bool saveWav(const std::string& path, const WavData& data, double sampleRate, std::string* error,
             const std::function<bool(float)>& progress) {
    if (error != nullptr) {
        error->clear();
    }
    if (!withinExportLimits(data.channels(), data.frames(), sampleRate, data.depth())) {
        setError(error, "The audio exceeds the supported export limits");
        return false;
    }
    if (data.nonFiniteSamples() > 0) {
        setError(error, "The rendered audio contains invalid sample values");
        return false;
    }
    if (!report(progress, kCheckShare)) {
        setError(error, "WAV export was cancelled");
        return false;
    }
    const WavFormat format{data.channels(), static_cast<std::uint32_t>(std::lround(sampleRate)),
                           data.depth()};
    const std::size_t bytesPerFrame = wavFrameBytes(data.channels(), data.depth());
    const auto inPlace = [&data, bytesPerFrame](std::int64_t first, std::int64_t count,
                                                std::span<std::uint8_t>) {
        return data.bytes().subspan(static_cast<std::size_t>(first) * bytesPerFrame,
                                    static_cast<std::size_t>(count) * bytesPerFrame);
    };
    return writeWavFile(path, format, data.frames(), 0, inPlace, error, progress);
}

} // namespace np
