#include "engine/io/wav_export.h"
#include "tests/io/storage_test_folder.h"
#include "tests/support/signals.h"

#include <algorithm>
#include <cmath>
#include <csignal>
#include <gtest/gtest.h>
#include <sndfile.h>
#include <sys/resource.h>

namespace fs = std::filesystem;
using Bytes = std::vector<std::uint8_t>;
using Names = std::set<std::string>;
using cvtest::contentsOf;
using cvtest::writeBytes;

namespace {

const Bytes kOld = {'o', 'l', 'd'};

np::AudioBuffer bufferOf(const std::vector<std::vector<float>>& channels) {
    np::AudioBuffer audio;
    audio.resize(static_cast<int>(channels.size()), static_cast<std::int64_t>(channels[0].size()));
    for (std::size_t c = 0; c < channels.size(); ++c) {
        std::copy(channels[c].begin(), channels[c].end(), audio.channel(static_cast<int>(c)).begin());
    }
    return audio;
}

// What libsndfile, an independent reader, makes of a file; it scales PCM codes by 1/32768 or 1/8388608.
std::vector<float> readWithSndfile(const fs::path& p, SF_INFO& info) {
    SNDFILE* f = sf_open(p.c_str(), SFM_READ, &info);
    EXPECT_NE(f, nullptr) << sf_strerror(nullptr);
    std::vector<float> samples(f != nullptr ? static_cast<std::size_t>(info.frames * info.channels) : 0);
    if (f != nullptr) {
        EXPECT_EQ(sf_readf_float(f, samples.data(), info.frames), info.frames);
        sf_close(f);
    }
    return samples;
}

struct Shape {
    np::WavBitDepth depth;
    int channels;
    std::int64_t frames;
};

class WavExportRoundTrip : public testing::TestWithParam<Shape> {};

} // namespace

TEST_P(WavExportRoundTrip, IndependentReaderSeesTheSameAudio) {
    const Shape s = GetParam();
    std::vector<std::vector<float>> channels;
    for (int c = 0; c < s.channels; ++c) {
        // Loud enough to clip now and then, so clamping is exercised alongside rounding.
        channels.push_back(cvtest::sine(220.0 * (c + 1), 48000.0, s.frames, 1.2f));
    }
    cvtest::ScratchFolder folder;
    const std::string name = "t\xC3\xABst \xE2\x99\xAA.wav"; // a UTF-8 name, "tëst ♪.wav"
    writeBytes(folder / name, Bytes(100000, 0xAB));          // replaced whole
    std::string error = "stale";
    ASSERT_TRUE(np::saveWav((folder / name).string(), bufferOf(channels), 48000.0, s.depth, &error)) << error;
    EXPECT_EQ(error, "");
    EXPECT_EQ(folder.names(), Names{name});
    // An exported file is readable by others, as a user expects of it.
    EXPECT_EQ(fs::status(folder / name).permissions() & fs::perms::all, fs::perms(0644));

    SF_INFO info{};
    const auto samples = readWithSndfile(folder / name, info);
    const int subtype = s.depth == np::WavBitDepth::Pcm16   ? SF_FORMAT_PCM_16
                        : s.depth == np::WavBitDepth::Pcm24 ? SF_FORMAT_PCM_24
                                                            : SF_FORMAT_FLOAT;
    EXPECT_EQ(info.format, SF_FORMAT_WAV | subtype);
    EXPECT_EQ(info.channels, s.channels);
    EXPECT_EQ(info.samplerate, 48000);
    ASSERT_EQ(info.frames, s.frames);
    int mismatches = 0;
    for (std::size_t i = 0; i < samples.size(); ++i) {
        const float x = channels[i % s.channels][i / s.channels];
        const float c = std::clamp(x, -1.0f, 1.0f);
        const float expected = s.depth == np::WavBitDepth::Float32 ? x
                               : s.depth == np::WavBitDepth::Pcm16
                                   ? static_cast<float>(std::lroundf(c * 32767.0f)) / 32768.0f
                                   : static_cast<float>(std::llround(c * 8388607.0)) / 8388608.0f;
        mismatches += samples[i] != expected;
    }
    EXPECT_EQ(mismatches, 0);

    // The patched header, the data and the pad byte: nothing else in the file.
    const auto dataBytes = static_cast<std::uint32_t>(s.frames * s.channels * np::wavBytesPerSample(s.depth));
    const auto bytes = contentsOf(folder / name);
    ASSERT_EQ(bytes.size(), 44u + dataBytes + (dataBytes & 1u));
    const auto header = np::makeWavHeader({s.channels, 48000, s.depth}, dataBytes);
    EXPECT_TRUE(std::equal(header.begin(), header.end(), bytes.begin()));
    EXPECT_TRUE((dataBytes & 1u) == 0 || bytes.back() == 0) << "the pad byte is zero";
}

// Block boundaries of 8192 frames, both channel counts, and an odd data chunk with its pad byte.
INSTANTIATE_TEST_SUITE_P(DepthsAndChannels, WavExportRoundTrip,
                         testing::Values(Shape{np::WavBitDepth::Pcm16, 2, 20000},
                                         Shape{np::WavBitDepth::Pcm24, 1, 20001},
                                         Shape{np::WavBitDepth::Float32, 2, 8193}));

TEST(WavExport, FullScaleOverRangeAndNegativeValuesGetTheirExactCodes) {
    const auto audio = bufferOf({{1.0f, -1.0f, -1.5f, 1.5f, 0.0f}});
    const struct {
        np::WavBitDepth depth;
        Bytes data; // the 24-bit file's 15 data bytes are followed by a pad byte
    } cases[] = {
        {np::WavBitDepth::Pcm16, {0xFF, 0x7F, 0x01, 0x80, 0x01, 0x80, 0xFF, 0x7F, 0x00, 0x00}},
        {np::WavBitDepth::Pcm24,
         {0xFF, 0xFF, 0x7F, 0x01, 0x00, 0x80, 0x01, 0x00, 0x80, 0xFF, 0xFF, 0x7F, 0x00, 0x00, 0x00, 0x00}},
        {np::WavBitDepth::Float32, {0x00, 0x00, 0x80, 0x3F, 0x00, 0x00, 0x80, 0xBF, 0x00, 0x00,
                                    0xC0, 0xBF, 0x00, 0x00, 0xC0, 0x3F, 0x00, 0x00, 0x00, 0x00}},
    };
    cvtest::ScratchFolder folder;
    for (const auto& c : cases) {
        SCOPED_TRACE(static_cast<int>(c.depth));
        ASSERT_TRUE(np::saveWav((folder / "codes.wav").string(), audio, 44100.0, c.depth, nullptr));
        const auto bytes = contentsOf(folder / "codes.wav");
        ASSERT_GE(bytes.size(), 44u);
        EXPECT_EQ(Bytes(bytes.begin() + 44, bytes.end()), c.data);
    }
}

TEST(WavExport, RefusesShapesAndRatesOutsideTheLimitsWithoutWriting) {
    const auto mono = bufferOf({{0.1f, 0.2f}});
    np::AudioBuffer three = mono;
    three.channels = 3;
    np::AudioBuffer lying = mono;
    lying.frames = 5; // claims more frames than it stores
    const np::AudioBuffer empty;
    const struct {
        const char* what;
        const np::AudioBuffer* audio;
        double rate;
    } cases[] = {{"no frames", &empty, 48000.0},         {"three channels", &three, 48000.0},
                 {"storage too short", &lying, 48000.0}, {"rate 7999", &mono, 7999.0},
                 {"rate 384000.6", &mono, 384000.6},     {"rate NaN", &mono, NAN}};
    cvtest::ScratchFolder folder;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        std::string error;
        EXPECT_FALSE(
            np::saveWav((folder / "x.wav").string(), *c.audio, c.rate, np::WavBitDepth::Pcm16, &error));
        EXPECT_EQ(error, "The audio exceeds the supported export limits");
        EXPECT_TRUE(folder.names().empty());
    }
    // The rate is written rounded to the nearest integer; the limits themselves are accepted.
    for (const auto& [given, written] : {std::pair{44100.5, 44101}, {8000.0, 8000}, {384000.0, 384000}}) {
        SCOPED_TRACE(given);
        SF_INFO info{};
        ASSERT_TRUE(
            np::saveWav((folder / "rate.wav").string(), mono, given, np::WavBitDepth::Pcm24, nullptr));
        readWithSndfile(folder / "rate.wav", info);
        EXPECT_EQ(info.samplerate, written);
    }
}

TEST(WavExport, NonFiniteSamplesAreRefusedAndTheOldFileStays) {
    cvtest::ScratchFolder folder;
    writeBytes(folder / "keep.wav", kOld);
    for (const auto& [bad, at] : {std::pair{NAN, 0}, {INFINITY, 9000}, {-INFINITY, 19999}}) {
        SCOPED_TRACE(testing::Message() << bad << " at " << at);
        auto right = cvtest::sine(330.0, 48000.0, 20000);
        right[static_cast<std::size_t>(at)] = bad;
        const auto audio = bufferOf({cvtest::sine(220.0, 48000.0, 20000), right});
        std::string error;
        EXPECT_FALSE(
            np::saveWav((folder / "keep.wav").string(), audio, 48000.0, np::WavBitDepth::Float32, &error));
        EXPECT_EQ(error, "The rendered audio contains invalid sample values");
        EXPECT_EQ(contentsOf(folder / "keep.wav"), kOld);
        EXPECT_EQ(folder.names(), Names{"keep.wav"});
    }
}

TEST(WavExport, ProgressRisesInTwoPhasesAndACancelAtAnyCallKeepsTheOldFile) {
    const auto audio = bufferOf({cvtest::sine(220.0, 48000.0, 20000), cvtest::sine(330.0, 48000.0, 20000)});
    cvtest::ScratchFolder folder;
    const fs::path path = folder / "dest.wav";
    std::vector<float> seen;
    ASSERT_TRUE(np::saveWav(path.string(), audio, 48000.0, np::WavBitDepth::Pcm24, nullptr, [&](float p) {
        seen.push_back(p);
        return true;
    }));
    // The check of three blocks per channel takes the first 0.15, the writing of three blocks the rest.
    const std::vector<double> expected = {0.0,  0.03072, 0.06144, 0.075,   0.10572, 0.13644,
                                          0.15, 0.15,    0.49816, 0.84632, 1.0};
    ASSERT_EQ(seen.size(), expected.size());
    for (std::size_t i = 0; i < expected.size(); ++i) {
        EXPECT_NEAR(seen[i], expected[i], 1e-6) << "call " << i;
    }

    fs::remove(path);
    for (std::size_t cancelAt = 0; cancelAt < expected.size(); ++cancelAt) {
        for (const bool hadFile : {true, false}) {
            SCOPED_TRACE(testing::Message()
                         << "cancel at call " << cancelAt << (hadFile ? " over a file" : ""));
            if (hadFile) {
                writeBytes(path, kOld);
            }
            std::size_t calls = 0;
            std::string error;
            EXPECT_FALSE(np::saveWav(path.string(), audio, 48000.0, np::WavBitDepth::Pcm24, &error,
                                     [&](float) { return calls++ < cancelAt; }));
            EXPECT_EQ(error, "WAV export was cancelled");
            EXPECT_EQ(folder.names(), hadFile ? Names{"dest.wav"} : Names{});
            if (hadFile) {
                EXPECT_EQ(contentsOf(path), kOld);
                fs::remove(path);
            }
        }
    }
}

TEST(WavExport, AFullDiskIsReportedAndTheOldFileStays) {
    // Three frames of 24-bit mono: 9 data bytes, a pad byte, 54 bytes in all.
    const auto small = bufferOf({{0.1f, 0.2f, 0.3f}});
    const auto large = bufferOf({cvtest::sine(220.0, 48000.0, 48000), cvtest::sine(330.0, 48000.0, 48000)});
    const struct {
        const char* what;
        const np::AudioBuffer* audio;
        rlim_t limitBytes;
    } cases[] = {{"room for the whole file", &small, 54},
                 {"no room for the pad byte", &small, 53},
                 {"no room for the header", &small, 20},
                 {"full in the middle of the data", &large, 100000}};
    cvtest::ScratchFolder folder;
    const std::string path = (folder / "disk.wav").string();
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        writeBytes(path, kOld);
        // The child exits with 0 when saved, 1 when refused with the disk's sentence, 2 otherwise.
        const int status = cvtest::runInChild([&] {
            std::signal(SIGXFSZ, SIG_IGN); // a write past the limit then fails with EFBIG
            const rlimit limit{c.limitBytes, c.limitBytes};
            std::string error;
            if (::setrlimit(RLIMIT_FSIZE, &limit) != 0) {
                return 77;
            }
            if (np::saveWav(path, *c.audio, 48000.0, np::WavBitDepth::Pcm24, &error)) {
                return 0;
            }
            return error == "Failed writing WAV data: " + path ||
                           error == "The WAV file could not be finalized safely"
                       ? 1
                       : 2;
        });
        const bool fits = c.limitBytes == 54;
        EXPECT_EQ(WEXITSTATUS(status), fits ? 0 : 1);
        EXPECT_TRUE(fits ? contentsOf(path).size() == 54u : contentsOf(path) == kOld);
        EXPECT_EQ(folder.names(), Names{"disk.wav"});
    }
}

TEST(WavExport, AnUnwritableFolderIsReportedAndTheOldFileStays) {
    const auto audio = bufferOf({{0.1f, 0.2f}});
    cvtest::ScratchFolder folder;
    writeBytes(folder / "notafolder", {'x'});
    fs::create_directory(folder / "taken.wav");
    for (const char* name : {"notafolder/out.wav", "taken.wav"}) {
        SCOPED_TRACE(name);
        std::string error;
        EXPECT_FALSE(np::saveWav((folder / name).string(), audio, 48000.0, np::WavBitDepth::Pcm16, &error));
        EXPECT_FALSE(error.empty());
        EXPECT_EQ(contentsOf(folder / "notafolder"), Bytes{'x'});
        EXPECT_TRUE(fs::is_directory(folder / "taken.wav"));
        EXPECT_EQ(folder.names(), (Names{"notafolder", "taken.wav"}));
    }

    // A folder the user may not write; the superuser writes anywhere, so the child gives up its rights.
    const fs::path locked = folder / "locked";
    fs::create_directory(locked);
    writeBytes(locked / "out.wav", kOld);
    fs::permissions(folder.path(), fs::perms(0755));
    fs::permissions(locked, fs::perms(0555));
    const int status = cvtest::runInChild([&] {
        std::string error;
        if (::geteuid() == 0 && (::setgid(65534) != 0 || ::setuid(65534) != 0)) {
            return 77;
        }
        return !np::saveWav((locked / "out.wav").string(), audio, 48000.0, np::WavBitDepth::Pcm16, &error) &&
                       !error.empty()
                   ? 1
                   : 0;
    });
    fs::permissions(locked, fs::perms(0755));
    if (WEXITSTATUS(status) == 77) {
        GTEST_SKIP() << "cannot drop privileges here";
    }
    EXPECT_EQ(WEXITSTATUS(status), 1) << "not refused with a sentence";
    EXPECT_EQ(contentsOf(locked / "out.wav"), kOld);
    EXPECT_EQ(std::distance(fs::directory_iterator(locked), fs::directory_iterator()), 1);
}
