#include "host/cli_declared_frames.h"

#include <array>
#include <cstring>

namespace cv::cli {
namespace {

// Chunks start after the container's 12-byte header (its id, size and form type).
constexpr std::uint64_t kFirstChunkOffset = 12;
constexpr std::uint32_t kNoLength = 0xFFFFFFFF;

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

// The next chunk's offset: chunks are padded to an even size.
std::uint64_t nextChunk(std::uint64_t offset, std::uint32_t size) {
    return offset + 8 + size + (size & 1);
}

// Codings whose block holds one frame, so that the data's size over the block size counts frames: PCM,
// IEEE float, A-law, mu-law, and the extensible format, whose subformats libsndfile reads are these.
bool blockIsOneFrame(std::uint16_t formatTag) {
    return formatTag == 0x0001 || formatTag == 0x0003 || formatTag == 0x0006 || formatTag == 0x0007 ||
           formatTag == 0xFFFE;
}

std::optional<std::int64_t> wavFrames(const ReadBytesAt& read, bool bigEndian) {
    std::optional<std::uint16_t> blockBytes;
    std::optional<std::uint32_t> dataBytes;
    std::uint64_t offset = kFirstChunkOffset;
    for (int chunk = 0; chunk < kDeclaredFramesMaxChunks && !(blockBytes && dataBytes); ++chunk) {
        std::array<std::uint8_t, 8> header{};
        if (!readExactly(read, offset, header))
            return std::nullopt;
        const std::uint32_t size = u32(&header[4], bigEndian);
        if (is(header.data(), "fmt ") && !blockBytes) {
            std::array<std::uint8_t, 16> format{};
            if (size < format.size() || !readExactly(read, offset + 8, format) ||
                !blockIsOneFrame(u16(&format[0], bigEndian)))
                return std::nullopt;
            blockBytes = u16(&format[12], bigEndian);
        } else if (is(header.data(), "data") && !dataBytes) {
            dataBytes = size;
        }
        offset = nextChunk(offset, size);
    }
    // Less data than one block declares no frame, which reads as no length at all.
    if (!blockBytes || !dataBytes || *blockBytes == 0 || *dataBytes < *blockBytes || *dataBytes == kNoLength)
        return std::nullopt;
    return *dataBytes / *blockBytes;
}

// AIFC compressions whose frame count counts frames (not packets of several).
bool countsFrames(const std::uint8_t* compression) {
    for (const char* id : {"NONE", "sowt", "twos", "raw ", "in24", "in32", "fl32", "FL32", "fl64", "FL64",
                           "ulaw", "ULAW", "alaw", "ALAW"})
        if (is(compression, id))
            return true;
    return false;
}

std::optional<std::int64_t> aiffFrames(const ReadBytesAt& read, bool compressed) {
    std::uint64_t offset = kFirstChunkOffset;
    for (int chunk = 0; chunk < kDeclaredFramesMaxChunks; ++chunk) {
        std::array<std::uint8_t, 8> header{};
        if (!readExactly(read, offset, header))
            return std::nullopt;
        const std::uint32_t size = u32(&header[4], true);
        if (is(header.data(), "COMM")) {
            // Channels (2 bytes), frames (4), sample size (2), rate (10); AIFC adds its compression's id.
            std::array<std::uint8_t, 22> common{};
            const std::size_t needed = compressed ? 22 : 18;
            if (size < needed || !readExactly(read, offset + 8, std::span(common).first(needed)) ||
                (compressed && !countsFrames(&common[18])))
                return std::nullopt;
            const std::uint32_t frames = u32(&common[2], true);
            if (frames == 0 || frames == kNoLength)
                return std::nullopt;
            return frames;
        }
        offset = nextChunk(offset, size);
    }
    return std::nullopt;
}

} // namespace

std::optional<std::int64_t> declaredFrames(const ReadBytesAt& read) {
    std::array<std::uint8_t, 12> head{};
    if (!readExactly(read, 0, head))
        return std::nullopt;
    if ((is(&head[0], "RIFF") || is(&head[0], "RIFX")) && is(&head[8], "WAVE"))
        return wavFrames(read, is(&head[0], "RIFX"));
    if (is(&head[0], "FORM") && (is(&head[8], "AIFF") || is(&head[8], "AIFC")))
        return aiffFrames(read, is(&head[8], "AIFC"));
    return std::nullopt;
}

} // namespace cv::cli
