#include "host/cli_declared_frames.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>

namespace cv::cli {
namespace {

// Chunks start after the container's 12-byte header (its id, size and form type); in Wave64, after its
// 40-byte header (the riff GUID, the 64-bit size and the wave GUID).
constexpr std::uint64_t kFirstChunkOffset = 12;
constexpr std::uint64_t kFirstW64ChunkOffset = 40;
constexpr std::uint32_t kNoLength = 0xFFFFFFFF;
// sox cannot go back to write the length into a pipe, so it writes these, rounded down to whole frames.
constexpr std::uint32_t kSoxWavPlaceholderBytes = 0x7FFFF000;
constexpr std::uint32_t kSoxAiffPlaceholderBytes = 0x7F000000;
// 64-bit sizes at or past this declare no length (all ones) or lie: no file holds 2^62 bytes.
constexpr std::uint64_t kMaxSize64 = std::uint64_t{1} << 62;

bool readExactly(const ReadBytesAt& read, std::uint64_t offset, std::span<std::uint8_t> bytes) {
    return read(offset, bytes) == bytes.size();
}

bool is(const std::uint8_t* bytes, const char* id) {
    return std::memcmp(bytes, id, 4) == 0;
}

std::uint32_t u32(const std::uint8_t* p, bool bigEndian) {
    return bigEndian
               ? std::uint32_t{p[0]} << 24 | std::uint32_t{p[1]} << 16 | std::uint32_t{p[2]} << 8 | p[3]
               : std::uint32_t{p[3]} << 24 | std::uint32_t{p[2]} << 16 | std::uint32_t{p[1]} << 8 | p[0];
}

std::uint16_t u16(const std::uint8_t* p, bool bigEndian) {
    return static_cast<std::uint16_t>(bigEndian ? p[0] << 8 | p[1] : p[1] << 8 | p[0]);
}

std::uint64_t u64(const std::uint8_t* p) {
    return std::uint64_t{u32(p + 4, false)} << 32 | u32(p, false);
}

// The next chunk's offset: chunks are padded to an even size.
std::uint64_t nextChunk(std::uint64_t offset, std::uint64_t size) {
    return offset + 8 + size + (size & 1);
}

// The bytes of one sample of a WAV format chunk's coding as libsndfile's decoder counts them (it ignores
// the block-align field): the bit width rounded up to bytes for PCM and float (the extensible format's
// subformats libsndfile reads are these and the two below), one byte for A-law and mu-law, and 0 for
// codings whose blocks hold many frames.
std::uint32_t sampleBytes(std::uint16_t formatTag, std::uint16_t bits) {
    if (formatTag == 0x0006 || formatTag == 0x0007)
        return 1;
    if (formatTag == 0x0001 || formatTag == 0x0003)
        return (bits + 7u) / 8u;
    return 0;
}

// A WAV or Wave64 format chunk's body: its coding, channels, rate and bit width, little- or big-endian.
struct WavFormat {
    std::uint32_t frameBytes = 0; // channels x sample bytes; 0 when frames cannot be counted
    long double sampleRateHz = 0;
};

std::optional<WavFormat> readWavFormat(const ReadBytesAt& read, std::uint64_t offset, std::uint64_t size,
                                       bool bigEndian) {
    // The tag, channels, rate, bytes a second, block align and bit width; the extensible format adds
    // its extra size, valid bits and channel mask, then the subformat GUID whose first two bytes are a tag.
    std::array<std::uint8_t, 26> body{};
    if (size < 16 || !readExactly(read, offset, std::span(body).first(std::min<std::uint64_t>(size, 26))))
        return std::nullopt;
    std::uint16_t tag = u16(&body[0], bigEndian);
    if (tag == 0xFFFE)
        tag = size >= 26 ? u16(&body[24], bigEndian) : 0;
    return WavFormat{u16(&body[2], bigEndian) * sampleBytes(tag, u16(&body[14], bigEndian)),
                     static_cast<long double>(u32(&body[4], bigEndian))};
}

// The frames dataBytes hold, unless the size declares no length.
std::optional<std::int64_t> wavFrames(std::uint64_t dataBytes, std::uint32_t frameBytes) {
    // Less data than one frame declares no frame, which reads as no length at all.
    if (frameBytes == 0 || dataBytes < frameBytes || dataBytes >= kMaxSize64 ||
        dataBytes == kSoxWavPlaceholderBytes - kSoxWavPlaceholderBytes % frameBytes)
        return std::nullopt;
    return static_cast<std::int64_t>(dataBytes / frameBytes);
}

// RIFF, RIFX and RF64, whose ds64 chunk holds the data's size in place of the data chunk's own field
// (libsndfile reads the ds64 size whatever that field says).
DeclaredHeader readWav(const ReadBytesAt& read, bool bigEndian, bool rf64) {
    std::optional<WavFormat> format;
    std::optional<std::uint64_t> dataBytes, ds64DataBytes;
    bool dataFound = false;
    std::uint64_t offset = kFirstChunkOffset;
    for (int chunk = 0; chunk < kDeclaredFramesMaxChunks && !(format && dataFound); ++chunk) {
        std::array<std::uint8_t, 8> header{};
        if (!readExactly(read, offset, header))
            break;
        std::uint64_t size = u32(&header[4], bigEndian);
        if (is(header.data(), "fmt ") && !format) {
            format = readWavFormat(read, offset + 8, size, bigEndian);
            if (!format)
                break;
        } else if (is(header.data(), "ds64") && rf64 && !ds64DataBytes) {
            std::array<std::uint8_t, 16> sizes{};
            if (size < sizes.size() || !readExactly(read, offset + 8, sizes))
                break;
            ds64DataBytes = u64(&sizes[8]);
        } else if (is(header.data(), "data") && !dataFound) {
            dataFound = true;
            dataBytes = rf64 ? ds64DataBytes : std::optional<std::uint64_t>(size);
            if (rf64 && size == kNoLength && ds64DataBytes)
                size = *ds64DataBytes;
        }
        if (size >= kMaxSize64)
            break;
        offset = nextChunk(offset, size);
    }
    DeclaredHeader declared;
    if (format)
        declared.sampleRateHz = format->sampleRateHz;
    if (format && dataBytes && *dataBytes != kNoLength)
        declared.frames = wavFrames(*dataBytes, format->frameBytes);
    return declared;
}

// Wave64 names its chunks by GUID: a four-character id and this suffix; each chunk's 64-bit size counts
// its 24-byte header, and chunks are padded to 8 bytes.
constexpr std::array<std::uint8_t, 12> kW64GuidSuffix = {0xF3, 0xAC, 0xD3, 0x11, 0x8C, 0xD1,
                                                         0x00, 0xC0, 0x4F, 0x8E, 0xDB, 0x8A};
constexpr std::array<std::uint8_t, 16> kW64RiffGuid = {'r',  'i',  'f',  'f',  0x2E, 0x91, 0xCF, 0x11,
                                                       0xA5, 0xD6, 0x28, 0xDB, 0x04, 0xC1, 0x00, 0x00};

bool isW64(const std::uint8_t* guid, const char* id) {
    return is(guid, id) && std::memcmp(guid + 4, kW64GuidSuffix.data(), kW64GuidSuffix.size()) == 0;
}

DeclaredHeader readW64(const ReadBytesAt& read) {
    std::array<std::uint8_t, 16> wave{};
    if (!readExactly(read, 24, wave) || !isW64(wave.data(), "wave"))
        return {};
    std::optional<WavFormat> format;
    std::optional<std::uint64_t> dataBytes;
    std::uint64_t offset = kFirstW64ChunkOffset;
    for (int chunk = 0; chunk < kDeclaredFramesMaxChunks && !(format && dataBytes); ++chunk) {
        std::array<std::uint8_t, 24> header{};
        if (!readExactly(read, offset, header))
            break;
        const std::uint64_t size = u64(&header[16]);
        // A size short of the chunk's own header is malformed (sox writes one into a pipe).
        if (size < header.size() || size >= kMaxSize64)
            break;
        if (isW64(header.data(), "fmt ") && !format) {
            format = readWavFormat(read, offset + 24, size - 24, false);
            if (!format)
                break;
        } else if (isW64(header.data(), "data")) {
            dataBytes = size - 24;
        }
        offset += (size + 7) / 8 * 8;
    }
    DeclaredHeader declared;
    if (format)
        declared.sampleRateHz = format->sampleRateHz;
    if (format && dataBytes)
        declared.frames = wavFrames(*dataBytes, format->frameBytes);
    return declared;
}

// AIFC compressions whose frame count counts frames (not packets of several).
bool countsFrames(const std::uint8_t* compression) {
    for (const char* id : {"NONE", "sowt", "twos", "raw ", "in24", "in32", "fl32", "FL32", "fl64", "FL64",
                           "ulaw", "ULAW", "alaw", "ALAW"})
        if (is(compression, id))
            return true;
    return false;
}

// An 80-bit IEEE 754 extended float, big-endian: a sign and 15-bit exponent, then a 64-bit mantissa whose
// top bit is the integer bit.
long double extendedFloat(const std::uint8_t* p) {
    const int exponent = (p[0] & 0x7F) << 8 | p[1];
    const std::uint64_t mantissa = std::uint64_t{u32(p + 2, true)} << 32 | u32(p + 6, true);
    const long double magnitude = exponent == 0x7FFF
                                      ? HUGE_VALL
                                      : std::ldexp(static_cast<long double>(mantissa), exponent - 16383 - 63);
    return (p[0] & 0x80) != 0 ? -magnitude : magnitude;
}

DeclaredHeader readAiff(const ReadBytesAt& read, bool compressed) {
    std::uint64_t offset = kFirstChunkOffset;
    for (int chunk = 0; chunk < kDeclaredFramesMaxChunks; ++chunk) {
        std::array<std::uint8_t, 8> header{};
        if (!readExactly(read, offset, header))
            break;
        const std::uint32_t size = u32(&header[4], true);
        if (is(header.data(), "COMM")) {
            // Channels (2 bytes), frames (4), sample size (2), rate (10); AIFC adds its compression's id.
            std::array<std::uint8_t, 22> common{};
            const std::size_t needed = compressed ? 22 : 18;
            if (size < needed || !readExactly(read, offset + 8, std::span(common).first(needed)))
                break;
            DeclaredHeader declared{std::nullopt, extendedFloat(&common[8])};
            const std::uint32_t frames = u32(&common[2], true);
            const std::uint32_t frameBytes = u16(&common[0], true) * ((u16(&common[6], true) + 7u) / 8u);
            if ((!compressed || countsFrames(&common[18])) && frames != 0 && frames != kNoLength &&
                (frameBytes == 0 || frames != kSoxAiffPlaceholderBytes / frameBytes))
                declared.frames = frames;
            return declared;
        }
        offset = nextChunk(offset, size);
    }
    return {};
}

} // namespace

DeclaredHeader declaredHeader(const ReadBytesAt& read) {
    std::array<std::uint8_t, 16> head{};
    const std::size_t got = read(0, head);
    if (got >= 12 && (is(&head[0], "RIFF") || is(&head[0], "RIFX") || is(&head[0], "RF64")) &&
        is(&head[8], "WAVE"))
        return readWav(read, is(&head[0], "RIFX"), is(&head[0], "RF64"));
    if (got >= 12 && is(&head[0], "FORM") && (is(&head[8], "AIFF") || is(&head[8], "AIFC")))
        return readAiff(read, is(&head[8], "AIFC"));
    if (got == head.size() && head == kW64RiffGuid)
        return readW64(read);
    return {};
}

} // namespace cv::cli
