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

bool withinExportLimits(const AudioBuffer& audio, double sampleRate) {
    if (audio.channels < 1 || audio.channels > 2 || audio.frames < 1) {
        return false;
    }
    if (!std::isfinite(sampleRate) || sampleRate < 8000.0 || sampleRate > 384000.0) {
        return false;
    }
    if (audio.frames > AudioBuffer::kMaxSamples / audio.channels) {
        return false;
    }
    // A buffer whose storage disagrees with its shape would be read past its end.
    return audio.samples.size() == static_cast<std::size_t>(audio.channels * audio.frames);
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

// Codes and writes every block through the temporary's own stream.
WriteResult writeTemporary(std::FILE* stream, const AudioBuffer& audio, const WavFormat& format,
                           std::vector<std::uint8_t>& scratch, const std::function<bool(float)>& progress,
                           WavFileWriter& writer) {
    if (!writer.start(stream, format)) {
        return WriteResult::OpenFailed;
    }
    const auto frameBytes = static_cast<std::size_t>(audio.channels * wavBytesPerSample(format.depth));
    const double frames = static_cast<double>(audio.frames);
    for (std::int64_t first = 0; first < audio.frames; first += kWavExportBlockFrames) {
        if (!report(progress, kCheckShare + (1.0 - kCheckShare) * static_cast<double>(first) / frames)) {
            return WriteResult::Cancelled;
        }
        const std::int64_t count = std::min(kWavExportBlockFrames, audio.frames - first);
        const std::span<std::uint8_t> bytes(scratch.data(), static_cast<std::size_t>(count) * frameBytes);
        encodeWavFrames(audio, first, count, format.depth, bytes);
        if (!writer.writeData(bytes)) {
            return WriteResult::WriteFailed;
        }
    }
    return writer.finish() ? WriteResult::Written : WriteResult::FinishFailed;
}

} // namespace

bool saveWav(const std::string& path, const AudioBuffer& audio, double sampleRate, WavBitDepth depth,
             std::string* error, const std::function<bool(float)>& progress) {
    if (error != nullptr) {
        error->clear();
    }
    const int depthIndex = static_cast<int>(depth);
    if (!withinExportLimits(audio, sampleRate) || depthIndex < 0 || depthIndex > 2) {
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
    const auto dataBytes = static_cast<std::uint64_t>(audio.channels) *
                           static_cast<std::uint64_t>(audio.frames) *
                           static_cast<std::uint64_t>(wavBytesPerSample(depth));
    AtomicFileReplacement replacement;
    if (!replacement.prepare(pathFromUtf8(path), false, error)) {
        return false;
    }
    if (!detail::folderHasRoomFor(replacement.folder(), dataBytes, kWavExportSpareBytes)) {
        setError(error, "There is not enough free disk space to export this WAV");
        return false;
    }

    // Taken before the temporary exists, so running out of memory leaves nothing behind.
    std::vector<std::uint8_t> scratch(
        static_cast<std::size_t>(std::min(kWavExportBlockFrames, audio.frames)) *
        static_cast<std::size_t>(audio.channels * wavBytesPerSample(depth)));

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
    switch (writeTemporary(replacement.stream(), audio, format, scratch, progress, writer)) {
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

} // namespace np
