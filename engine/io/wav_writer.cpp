#include "engine/io/wav_writer.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <limits>
#include <sys/stat.h>

namespace np {

namespace {

constexpr std::uint16_t kFormatTagPcm = 1;
constexpr std::uint16_t kFormatTagFloat = 3;

// The RIFF size field counts everything after itself: 36 header bytes, the data and its pad byte.
// Keeping the data below this bound keeps that field within 32 bits.
constexpr std::uint32_t kMaxDataBytes = std::numeric_limits<std::uint32_t>::max() - 37;

void storeU16(std::uint8_t* out, std::uint16_t value) noexcept {
    out[0] = static_cast<std::uint8_t>(value);
    out[1] = static_cast<std::uint8_t>(value >> 8);
}

void storeU32(std::uint8_t* out, std::uint32_t value) noexcept {
    out[0] = static_cast<std::uint8_t>(value);
    out[1] = static_cast<std::uint8_t>(value >> 8);
    out[2] = static_cast<std::uint8_t>(value >> 16);
    out[3] = static_cast<std::uint8_t>(value >> 24);
}

void storeTag(std::uint8_t* out, const char (&tag)[5]) noexcept {
    std::memcpy(out, tag, 4);
}

} // namespace

int wavBytesPerSample(WavBitDepth depth) noexcept {
    return 2 + static_cast<int>(depth);
}

std::size_t wavFrameBytes(int channels, WavBitDepth depth) noexcept {
    return static_cast<std::size_t>(channels) * static_cast<std::size_t>(wavBytesPerSample(depth));
}

std::uint64_t wavFileBytes(std::uint32_t dataBytes) noexcept {
    return kWavHeaderBytes + static_cast<std::uint64_t>(dataBytes) + (dataBytes & 1u);
}

std::array<std::uint8_t, kWavHeaderBytes> makeWavHeader(const WavFormat& format, std::uint32_t dataBytes) {
    const auto bytesPerSample = static_cast<std::uint32_t>(wavBytesPerSample(format.depth));
    const auto channels = static_cast<std::uint32_t>(format.channels);
    const std::uint32_t blockAlign = channels * bytesPerSample;
    const std::uint64_t riffSize = wavFileBytes(dataBytes) - 8;

    std::array<std::uint8_t, kWavHeaderBytes> h{};
    storeTag(&h[0], "RIFF");
    storeU32(&h[4], static_cast<std::uint32_t>(std::min<std::uint64_t>(riffSize, 0xFFFFFFFFu)));
    storeTag(&h[8], "WAVE");
    storeTag(&h[12], "fmt ");
    storeU32(&h[16], 16);
    storeU16(&h[20], format.depth == WavBitDepth::Float32 ? kFormatTagFloat : kFormatTagPcm);
    storeU16(&h[22], static_cast<std::uint16_t>(channels));
    storeU32(&h[24], format.sampleRateHz);
    storeU32(&h[28],
             static_cast<std::uint32_t>(static_cast<std::uint64_t>(format.sampleRateHz) * blockAlign));
    storeU16(&h[32], static_cast<std::uint16_t>(blockAlign));
    storeU16(&h[34], static_cast<std::uint16_t>(bytesPerSample * 8));
    storeTag(&h[36], "data");
    storeU32(&h[40], dataBytes);
    return h;
}

std::int16_t encodePcm16(float x) noexcept {
    // Single precision throughout, so a sample codes the same however the caller computed it.
    const float y = x < -1.0f ? -32767.0f : std::min(x, 1.0f) * 32767.0f;
    return std::isnan(y) ? std::int16_t{0} : static_cast<std::int16_t>(std::lroundf(y));
}

std::int32_t encodePcm24(float x) noexcept {
    const float c = x < -1.0f ? -1.0f : std::min(x, 1.0f);
    return std::isnan(c) ? 0 : static_cast<std::int32_t>(std::llround(static_cast<double>(c) * 8388607.0));
}

void encodeWavChannel(const float* samples, std::int64_t count, WavBitDepth depth, std::uint8_t* out,
                      std::size_t stride) noexcept {
    for (std::int64_t f = 0; f < count; ++f, out += stride) {
        const float x = samples[f];
        switch (depth) {
        case WavBitDepth::Pcm16:
            storeU16(out, static_cast<std::uint16_t>(encodePcm16(x)));
            break;
        case WavBitDepth::Pcm24: {
            const auto v = static_cast<std::uint32_t>(encodePcm24(x));
            out[0] = static_cast<std::uint8_t>(v);
            out[1] = static_cast<std::uint8_t>(v >> 8);
            out[2] = static_cast<std::uint8_t>(v >> 16);
            break;
        }
        case WavBitDepth::Float32: {
            std::uint32_t bits = 0;
            std::memcpy(&bits, &x, sizeof bits);
            storeU32(out, bits);
            break;
        }
        }
    }
}

void encodeWavFrames(const AudioBuffer& audio, std::int64_t firstFrame, std::int64_t frameCount,
                     WavBitDepth depth, std::span<std::uint8_t> out) noexcept {
    const std::size_t bytesPerSample = static_cast<std::size_t>(wavBytesPerSample(depth));
    const std::size_t stride = wavFrameBytes(audio.channels, depth);
    for (int c = 0; c < audio.channels; ++c) {
        encodeWavChannel(audio.channel(c).data() + firstFrame, frameCount, depth,
                         out.data() + static_cast<std::size_t>(c) * bytesPerSample, stride);
    }
}

bool WavFileWriter::fail(int errorNumber) noexcept {
    errorNumber_ = errorNumber;
    stream_ = nullptr;
    return false;
}

bool WavFileWriter::start(std::FILE* stream, const WavFormat& format) {
    stream_ = stream;
    format_ = format;
    dataBytes_ = 0;
    errorNumber_ = 0;
    if (stream_ == nullptr || format.channels < 1 || format.channels > 2) {
        return fail(EINVAL);
    }
    // Provisional sizes of zero; finish() patches them once the data length is known.
    const auto header = makeWavHeader(format_, 0);
    if (std::fwrite(header.data(), 1, header.size(), stream_) != header.size()) {
        return fail(errno);
    }
    return true;
}

bool WavFileWriter::writeData(std::span<const std::uint8_t> bytes) {
    if (stream_ == nullptr) {
        return false;
    }
    if (bytes.size() > static_cast<std::size_t>(kMaxDataBytes - dataBytes_)) {
        return fail(EFBIG);
    }
    if (std::fwrite(bytes.data(), 1, bytes.size(), stream_) != bytes.size()) {
        return fail(errno);
    }
    dataBytes_ += static_cast<std::uint32_t>(bytes.size());
    return true;
}

bool WavFileWriter::finish() {
    if (stream_ == nullptr) {
        return false;
    }
    // Buffered writes surface a full disk only when flushed, so every step that can push bytes out is
    // checked; a file that merely looks finished must never be handed on.
    if ((dataBytes_ & 1u) != 0 && std::fputc(0, stream_) == EOF) {
        return fail(errno);
    }
    if (std::fflush(stream_) != 0 || std::fseek(stream_, 0, SEEK_SET) != 0) {
        return fail(errno);
    }
    const auto header = makeWavHeader(format_, dataBytes_);
    if (std::fwrite(header.data(), 1, header.size(), stream_) != header.size() || std::fflush(stream_) != 0) {
        return fail(errno);
    }
    struct stat written {};
    if (::fstat(::fileno(stream_), &written) != 0) {
        return fail(errno);
    }
    if (static_cast<std::uint64_t>(written.st_size) != wavFileBytes(dataBytes_)) {
        return fail(EIO);
    }
    stream_ = nullptr;
    return true;
}

} // namespace np
