#include "engine/io/wav_writer.h"

#include <gtest/gtest.h>
#include <vector>

using Bytes = std::vector<std::uint8_t>;

// The sample codes are checked end to end by the export's round trip through an independent reader,
// which ignores the header's byte rate and block align; those are checked here.
TEST(WavWriter, HeaderBytesFollowTheCanonicalLayout) {
    // "RIFF", size of the rest, "WAVE", "fmt ", 16, format tag, channels, rate, bytes per second,
    // block align, bits, "data", data size; all little-endian.
    const struct {
        const char* what;
        np::WavFormat format;
        std::uint32_t dataBytes;
        Bytes expected;
    } cases[] = {
        {"16-bit stereo",
         {2, 44100, np::WavBitDepth::Pcm16},
         400,
         {'R',  'I', 'F', 'F', 0xB4, 0x01, 0,   0,   'W', 'A',  'V',  'E',  'f', 'm',  't',
          ' ',  16,  0,   0,   0,    1,    0,   2,   0,   0x44, 0xAC, 0,    0,   0x10, 0xB1,
          0x02, 0,   4,   0,   16,   0,    'd', 'a', 't', 'a',  0x90, 0x01, 0,   0}},
        {"24-bit mono, odd data counts its pad byte in the RIFF size",
         {1, 48000, np::WavBitDepth::Pcm24},
         9,
         {'R',  'I', 'F', 'F', 46, 0, 0,   0,   'W', 'A',  'V',  'E', 'f', 'm',  't',
          ' ',  16,  0,   0,   0,  1, 0,   1,   0,   0x80, 0xBB, 0,   0,   0x80, 0x32,
          0x02, 0,   3,   0,   24, 0, 'd', 'a', 't', 'a',  9,    0,   0,   0}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        const auto header = np::makeWavHeader(c.format, c.dataBytes);
        EXPECT_EQ(Bytes(header.begin(), header.end()), c.expected);
    }
}
