#pragma once

#include "engine/audio/audio_buffer.h"

#include <array>
#include <cstdint>
#include <cstdio>
#include <span>

namespace np {

// Sample coding of an exported WAV file.
enum class WavBitDepth : std::uint8_t {
    Pcm16 = 0,   // signed 16-bit PCM, -32767..32767
    Pcm24 = 1,   // signed 24-bit PCM, -8388607..8388607
    Float32 = 2, // 32-bit IEEE float, unclamped
};

// Shape of the "fmt " chunk.
struct WavFormat {
    int channels = 1; // 1 or 2
    std::uint32_t sampleRateHz = 48000;
    WavBitDepth depth = WavBitDepth::Pcm16;
};

inline constexpr std::size_t kWavHeaderBytes = 44;

// 2, 3 or 4.
int wavBytesPerSample(WavBitDepth depth) noexcept;

// Bytes of one interleaved frame: channels x wavBytesPerSample(depth).
std::size_t wavFrameBytes(int channels, WavBitDepth depth) noexcept;

// The 44 header bytes of a canonical RIFF WAVE file ("RIFF", size, "WAVE", a 16-byte "fmt " chunk,
// "data" and its size) whose data chunk holds dataBytes bytes. The RIFF size counts the pad byte that
// follows an odd data chunk.
std::array<std::uint8_t, kWavHeaderBytes> makeWavHeader(const WavFormat& format, std::uint32_t dataBytes);

// Total file size for dataBytes of sample data: header, data and the pad byte when dataBytes is odd.
std::uint64_t wavFileBytes(std::uint32_t dataBytes) noexcept;

// Sample codes. Values above 1 are clamped to full scale; values below -1 become the negative full
// scale, which is symmetric with the positive one (-32767, not -32768).
std::int16_t encodePcm16(float x) noexcept;
std::int32_t encodePcm24(float x) noexcept;

// Codes count samples of one channel for depth, little-endian, one every stride bytes from out on (the
// frame's size, to interleave): PCM through encodePcm16 / encodePcm24, float as its bits. Any thread; no
// allocation.
void encodeWavChannel(const float* samples, std::int64_t count, WavBitDepth depth, std::uint8_t* out,
                      std::size_t stride) noexcept;

// Interleaves frames [firstFrame, firstFrame + frameCount) of audio into out, coded for depth,
// little-endian. out must hold frameCount * channels * wavBytesPerSample(depth) bytes; the frame range
// must lie inside the buffer. Any thread; no allocation.
void encodeWavFrames(const AudioBuffer& audio, std::int64_t firstFrame, std::int64_t frameCount,
                     WavBitDepth depth, std::span<std::uint8_t> out) noexcept;

// Streams a RIFF WAVE file into a stream it borrows (opened for writing at its start): a provisional
// header on start, data bytes as they come, and on finish the pad byte, the sizes patched into the
// header and a flush, each checked, then the size on disk compared with what was written. Each step
// returns false on any failure, with the system's error number in errorNumber() (the caller words the
// message). Never opens, closes or names a file. One thread at a time.
class WavFileWriter {
public:
    // Writes the provisional header.
    bool start(std::FILE* stream, const WavFormat& format);

    // Appends coded sample bytes; refuses a data chunk that would outgrow its 32-bit size.
    bool writeData(std::span<const std::uint8_t> bytes);

    // Writes the pad byte, patches the sizes, flushes, then checks the size of the file on disk.
    bool finish();

    std::uint32_t dataBytes() const noexcept { return dataBytes_; }
    int errorNumber() const noexcept { return errorNumber_; }

private:
    bool fail(int errorNumber) noexcept;

    std::FILE* stream_ = nullptr;
    WavFormat format_;
    std::uint32_t dataBytes_ = 0;
    int errorNumber_ = 0;
};

} // namespace np
