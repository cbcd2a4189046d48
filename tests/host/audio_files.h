#pragma once

// Audio files written for the command-line and editor front-end tests, including ones whose headers lie.

#include "tests/io/storage_test_folder.h"

#include <cstdint>
#include <gtest/gtest.h>
#include <sndfile.h>
#include <string>
#include <vector>

namespace cvtest {

inline void writeAudio(const std::string& path, int format, int channels, int rate,
                       const std::vector<float>& interleaved) {
    SF_INFO info{0, rate, channels, format, 0, 0};
    SNDFILE* file = sf_open(path.c_str(), SFM_WRITE, &info);
    ASSERT_NE(file, nullptr) << sf_strerror(nullptr);
    const auto frames = static_cast<sf_count_t>(interleaved.size()) / channels;
    EXPECT_EQ(sf_writef_float(file, interleaved.data(), frames), frames);
    sf_close(file);
}

// Makes the FLAC file at path claim claimedFrames, which the decoder believes; 0 claims no length, as
// a stream written into a pipe does.
inline void claimFlacFrames(const std::string& path, std::uint32_t claimedFrames) {
    auto bytes = contentsOf(path);
    // The 36-bit sample count of the stream-info block ends at byte 25; the claims fit its low 32 bits.
    bytes[21] &= 0xF0;
    for (int i = 0; i < 4; ++i)
        bytes[22 + i] = static_cast<std::uint8_t>(claimedFrames >> (24 - 8 * i));
    writeBytes(path, bytes);
}

// One second of silence in a FLAC file whose header claims claimedFrames.
inline std::string flacClaiming(const ScratchFolder& folder, const std::string& name, int rate,
                                std::uint32_t claimedFrames) {
    const std::string path = folder / name;
    writeAudio(path, SF_FORMAT_FLAC | SF_FORMAT_PCM_16, 1, rate, std::vector<float>(rate, 0.0f));
    claimFlacFrames(path, claimedFrames);
    return path;
}

} // namespace cvtest
