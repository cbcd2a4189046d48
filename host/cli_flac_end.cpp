#include "host/cli_flac_end.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cstring>
#include <span>
#include <vector>

namespace cv::cli {
namespace {

// "fLaC", then the stream-info block: its 4-byte header and 34-byte body.
constexpr std::uint64_t kStreamInfoEnd = 42;
// The shortest frame: a 6-byte header, a 1-byte subframe and the 2-byte CRC.
constexpr std::size_t kMinFrameBytes = 9;

// The frame header's CRC-8 (polynomial 0x07) and the whole frame's CRC-16 (polynomial 0x8005), both from 0,
// most significant bit first.
constexpr auto kCrc8 = [] {
    std::array<std::uint8_t, 256> table{};
    for (int i = 0; i < 256; ++i) {
        auto c = static_cast<std::uint8_t>(i);
        for (int bit = 0; bit < 8; ++bit)
            c = static_cast<std::uint8_t>((c & 0x80) != 0 ? c << 1 ^ 0x07 : c << 1);
        table[static_cast<std::size_t>(i)] = c;
    }
    return table;
}();
constexpr auto kCrc16 = [] {
    std::array<std::uint16_t, 256> table{};
    for (int i = 0; i < 256; ++i) {
        auto c = static_cast<std::uint16_t>(i << 8);
        for (int bit = 0; bit < 8; ++bit)
            c = static_cast<std::uint16_t>((c & 0x8000) != 0 ? c << 1 ^ 0x8005 : c << 1);
        table[static_cast<std::size_t>(i)] = c;
    }
    return table;
}();

std::uint8_t crc8(std::span<const std::uint8_t> bytes) {
    std::uint8_t crc = 0;
    for (const std::uint8_t b : bytes)
        crc = kCrc8[crc ^ b];
    return crc;
}

std::uint16_t crc16(std::span<const std::uint8_t> bytes) {
    std::uint16_t crc = 0;
    for (const std::uint8_t b : bytes)
        crc = static_cast<std::uint16_t>(crc << 8 ^ kCrc16[(crc >> 8) ^ b]);
    return crc;
}

// A frame header whose own CRC is correct.
struct FrameHeader {
    bool variableBlockSize = false;
    std::uint64_t number = 0; // the first sample's number, or with fixed block sizes the frame's
    std::uint32_t blockSamples = 0;
};

std::optional<FrameHeader> frameHeaderAt(std::span<const std::uint8_t> b) {
    // The sync code and blocking strategy, the block-size and rate codes, the channels and sample size.
    if (b.size() < 6 || b[0] != 0xFF || (b[1] & 0xFE) != 0xF8)
        return std::nullopt;
    const int blockCode = b[2] >> 4, rateCode = b[2] & 0x0F;
    if (blockCode == 0 || rateCode == 0x0F || b[3] >> 4 >= 11 || (b[3] & 1) != 0)
        return std::nullopt;
    FrameHeader header;
    header.variableBlockSize = (b[1] & 1) != 0;
    // The number, coded as UTF-8 codes characters but up to 7 bytes long: as many leading ones in its
    // first byte as it has bytes, then 6 bits in each byte that follows.
    const int leadingOnes = std::countl_one(b[4]);
    const std::size_t extraBytes = leadingOnes == 0 ? 0 : static_cast<std::size_t>(leadingOnes) - 1;
    if (leadingOnes == 1 || leadingOnes == 8 || extraBytes > (header.variableBlockSize ? 6u : 5u))
        return std::nullopt;
    header.number = b[4] & (0x7F >> leadingOnes);
    std::size_t at = 5;
    for (std::size_t i = 0; i < extraBytes; ++i, ++at) {
        if (at >= b.size() || (b[at] & 0xC0) != 0x80)
            return std::nullopt;
        header.number = header.number << 6 | (b[at] & 0x3F);
    }
    // The block size and rate, when the codes say they follow.
    const std::size_t blockBytes = blockCode == 6 ? 1 : blockCode == 7 ? 2 : 0;
    const std::size_t rateBytes = rateCode == 12 ? 1 : rateCode == 13 || rateCode == 14 ? 2 : 0;
    if (at + blockBytes + rateBytes >= b.size())
        return std::nullopt;
    if (blockCode == 1)
        header.blockSamples = 192;
    else if (blockCode <= 5)
        header.blockSamples = 576u << (blockCode - 2);
    else if (blockCode <= 7)
        header.blockSamples = (blockCode == 6 ? b[at] : (b[at] << 8 | b[at + 1])) + 1u;
    else
        header.blockSamples = 256u << (blockCode - 8);
    at += blockBytes + rateBytes;
    if (crc8(b.first(at)) != b[at])
        return std::nullopt;
    return header;
}

} // namespace

std::optional<std::int64_t> flacEndFrames(const ReadBytesAt& read, std::uint64_t fileBytes) {
    std::array<std::uint8_t, kStreamInfoEnd> info{};
    if (fileBytes < kStreamInfoEnd + kMinFrameBytes || read(0, info) != info.size() ||
        std::memcmp(info.data(), "fLaC", 4) != 0 || (info[4] & 0x7F) != 0 || info[5] != 0 || info[6] != 0 ||
        info[7] != 34)
        return std::nullopt;
    const std::uint32_t minBlock = info[8] << 8 | info[9], maxBlock = info[10] << 8 | info[11];
    const std::uint64_t start =
        std::max(kStreamInfoEnd, fileBytes - std::min(fileBytes, kFlacEndSearchBytes));
    std::vector<std::uint8_t> tail(static_cast<std::size_t>(fileBytes - start));
    if (read(start, tail) != tail.size())
        return std::nullopt;
    const std::uint16_t lastCrc = static_cast<std::uint16_t>(tail[tail.size() - 2] << 8 | tail.back());
    // The final frame is the one whose CRC, its last two bytes, ends the file: searched backwards from the
    // shortest frame that could, so that a sync code within its own samples is passed over by the CRC.
    int candidates = 0;
    for (std::size_t p = tail.size() - kMinFrameBytes + 1; p-- > 0;) {
        const std::span<const std::uint8_t> frame = std::span(tail).subspan(p);
        const std::optional<FrameHeader> header = frameHeaderAt(frame);
        if (!header)
            continue;
        if (++candidates > kFlacEndMaxCandidates)
            return std::nullopt;
        if (crc16(frame.first(frame.size() - 2)) != lastCrc)
            continue;
        if (header->variableBlockSize)
            return static_cast<std::int64_t>(header->number + header->blockSamples);
        // As the decoder does, a fixed-blocksize stream numbers its frames in the stream info's block size.
        if (minBlock != maxBlock || minBlock == 0)
            return std::nullopt;
        return static_cast<std::int64_t>(header->number * minBlock + header->blockSamples);
    }
    return std::nullopt;
}

} // namespace cv::cli
