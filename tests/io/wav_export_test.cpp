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

bool save(const fs::path& path, const np::AudioBuffer& audio, std::string* error,
          const std::function<bool(float)>& progress = {}) {
    return np::saveWav(path.string(), audio, 48000.0, np::WavBitDepth::Pcm16, error, progress);
}

struct Shape {
    np::WavBitDepth depth;
    int channels;
    std::int64_t frames;
    double rate; // written rounded to the nearest integer
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
    ASSERT_TRUE(np::saveWav((folder / name).string(), bufferOf(channels), s.rate, s.depth, &error)) << error;
    EXPECT_EQ(error, "");
    EXPECT_EQ(folder.names(), Names{name});

    // libsndfile, an independent reader, scales PCM codes by 1/32768 or 1/8388608.
    SF_INFO info{};
    SNDFILE* file = sf_open((folder / name).c_str(), SFM_READ, &info);
    ASSERT_NE(file, nullptr) << sf_strerror(nullptr);
    std::vector<float> samples(static_cast<std::size_t>(info.frames * info.channels));
    EXPECT_EQ(sf_readf_float(file, samples.data(), info.frames), s.frames);
    sf_close(file);
    const int subtype = s.depth == np::WavBitDepth::Pcm16   ? SF_FORMAT_PCM_16
                        : s.depth == np::WavBitDepth::Pcm24 ? SF_FORMAT_PCM_24
                                                            : SF_FORMAT_FLOAT;
    EXPECT_EQ(info.format, SF_FORMAT_WAV | subtype);
    EXPECT_EQ(info.channels, s.channels);
    EXPECT_EQ(info.samplerate, std::lround(s.rate));
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
    // The header, the data and a zero pad byte after odd data: nothing else in the file. The reader
    // ignores the RIFF size, byte rate and block align; they are checked here.
    const auto bytesPerFrame = static_cast<std::uint32_t>(s.channels * np::wavBytesPerSample(s.depth));
    const auto dataBytes = static_cast<std::uint32_t>(s.frames) * bytesPerFrame;
    const auto bytes = contentsOf(folder / name);
    ASSERT_EQ(bytes.size(), 44u + dataBytes + (dataBytes & 1u));
    EXPECT_TRUE((dataBytes & 1u) == 0 || bytes.back() == 0);
    const auto u32At = [&bytes](std::size_t at) {
        return static_cast<std::uint32_t>(bytes[at] | bytes[at + 1] << 8 | bytes[at + 2] << 16 |
                                          bytes[at + 3] << 24);
    };
    EXPECT_EQ(u32At(4), bytes.size() - 8);
    EXPECT_EQ(u32At(28), static_cast<std::uint32_t>(std::lround(s.rate)) * bytesPerFrame);
    EXPECT_EQ(u32At(32), bytesPerFrame | static_cast<std::uint32_t>(np::wavBytesPerSample(s.depth) * 8)
                                             << 16);
    EXPECT_EQ(u32At(40), dataBytes);
}

// Block boundaries of 8192 frames, both channel counts, an odd data chunk with its pad byte, and rates
// rounded and at the limits.
INSTANTIATE_TEST_SUITE_P(DepthsAndChannels, WavExportRoundTrip,
                         testing::Values(Shape{np::WavBitDepth::Pcm16, 2, 20000, 44100.5},
                                         Shape{np::WavBitDepth::Pcm24, 1, 20001, 8000.0},
                                         Shape{np::WavBitDepth::Float32, 2, 8193, 384000.0}));

TEST(WavExport, RefusesWhatItCannotWriteBeforeTouchingTheDisk) {
    const auto mono = bufferOf({{0.1f, 0.2f}});
    const np::AudioBuffer empty;
    np::AudioBuffer three = mono;
    three.channels = 3;
    np::AudioBuffer lying = mono;
    lying.frames = 5; // claims more frames than it stores
    auto invalid = bufferOf({cvtest::sine(220.0, 48000.0, 20000), cvtest::sine(330.0, 48000.0, 20000)});
    invalid.channel(1)[19999] = -INFINITY; // the last sample checked
    const char* const kLimits = "The audio exceeds the supported export limits";
    const struct {
        const char* what;
        const np::AudioBuffer* audio;
        double rate;
        const char* sentence;
    } cases[] = {
        {"no frames", &empty, 48000.0, kLimits},
        {"three channels", &three, 48000.0, kLimits},
        {"storage too short", &lying, 48000.0, kLimits},
        {"rate 7999", &mono, 7999.0, kLimits},
        {"rate 384000.6", &mono, 384000.6, kLimits},
        {"non-finite sample", &invalid, 48000.0, "The rendered audio contains invalid sample values"}};
    cvtest::ScratchFolder folder;
    writeBytes(folder / "keep.wav", kOld);
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        std::string error;
        EXPECT_FALSE(
            np::saveWav((folder / "keep.wav").string(), *c.audio, c.rate, np::WavBitDepth::Pcm16, &error));
        EXPECT_EQ(error, c.sentence);
        EXPECT_EQ(contentsOf(folder / "keep.wav"), kOld);
        EXPECT_EQ(folder.names(), Names{"keep.wav"});
    }
}

TEST(WavExport, ProgressRisesInTwoPhasesAndACancelAtAnyCallKeepsTheOldFile) {
    const auto audio = bufferOf({cvtest::sine(220.0, 48000.0, 20000), cvtest::sine(330.0, 48000.0, 20000)});
    cvtest::ScratchFolder folder;
    const fs::path path = folder / "dest.wav";
    std::vector<float> seen;
    ASSERT_TRUE(save(path, audio, nullptr, [&](float p) {
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
    for (std::size_t cancelAt = 0; cancelAt < expected.size(); ++cancelAt) {
        SCOPED_TRACE(testing::Message() << "cancel at call " << cancelAt);
        writeBytes(path, kOld);
        std::size_t calls = 0;
        std::string error;
        EXPECT_FALSE(save(path, audio, &error, [&](float) { return calls++ < cancelAt; }));
        EXPECT_EQ(error, "WAV export was cancelled");
        EXPECT_EQ(contentsOf(path), kOld);
        EXPECT_EQ(folder.names(), Names{"dest.wav"});
    }
}

TEST(WavExport, AFullDiskIsReportedWithItsCauseAndTheOldFileStays) {
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
        // The child exits with 0 when saved, 1 when refused naming the system's reason, 2 otherwise.
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
            return error.ends_with(": File too large") ? 1 : 2;
        });
        const bool fits = c.limitBytes == 54;
        EXPECT_EQ(WEXITSTATUS(status), fits ? 0 : 1);
        EXPECT_TRUE(fits ? contentsOf(path).size() == 54u : contentsOf(path) == kOld);
        EXPECT_EQ(folder.names(), Names{"disk.wav"});
    }
}

TEST(WavExport, ReplacesTheFileALinkNamesWithItsModeAndReportsAnUnwritableFolderWithItsCause) {
    // Links, modes and read-only files are decided as for every atomic write; this shows the export
    // goes that way too.
    const auto audio = bufferOf({{0.1f, 0.2f}});
    cvtest::ScratchFolder folder;
    fs::create_directory(folder / "real");
    writeBytes(folder / "real" / "take.wav", kOld);
    fs::permissions(folder / "real" / "take.wav", fs::perms(0600));
    fs::create_symlink("real/take.wav", folder / "link.wav");
    std::string error;
    ASSERT_TRUE(save(folder / "link.wav", audio, &error)) << error;
    EXPECT_TRUE(fs::is_symlink(folder / "link.wav"));
    EXPECT_EQ(contentsOf(folder / "real" / "take.wav").size(), 48u);
    EXPECT_EQ(fs::status(folder / "real" / "take.wav").permissions(), fs::perms(0600));

    // A folder the user may not write; the superuser writes anywhere, so the child gives up its rights.
    const fs::path locked = folder / "locked";
    fs::create_directory(locked);
    fs::permissions(folder.path(), fs::perms(0755));
    fs::permissions(locked, fs::perms(0555));
    const int status = cvtest::runInChild([&] {
        if (::geteuid() == 0 && (::setgid(65534) != 0 || ::setuid(65534) != 0)) {
            return 77;
        }
        return !save(locked / "out.wav", audio, &error) &&
                       error == "Could not create the temporary file: Permission denied"
                   ? 1
                   : 0;
    });
    if (WEXITSTATUS(status) == 77) {
        GTEST_SKIP() << "cannot drop privileges here";
    }
    EXPECT_EQ(WEXITSTATUS(status), 1) << "not refused with the system's reason";
    EXPECT_TRUE(fs::is_empty(locked));
}

TEST(WavExport, ATemporarySwappedForALinkWhileWrittenIsNeitherFollowedNorMovedIntoPlace) {
    const auto audio = bufferOf({cvtest::sine(220.0, 48000.0, 20000)});
    cvtest::ScratchFolder folder;
    writeBytes(folder / "victim", kOld);
    writeBytes(folder / "out.wav", kOld);
    // Once writing has begun, someone who may write to the folder swaps the temporary for a link.
    bool swapped = false;
    const auto swap = [&](float fraction) {
        for (const auto& entry : fs::directory_iterator(folder.path())) {
            if (fraction > 0.15f && !swapped &&
                entry.path().filename().string().starts_with("out.wav.tmp.")) {
                fs::create_symlink(folder / "victim", folder / "racer");
                fs::rename(folder / "racer", entry.path());
                swapped = true;
            }
        }
        return true;
    };
    std::string error;
    EXPECT_FALSE(save(folder / "out.wav", audio, &error, swap));
    ASSERT_TRUE(swapped);
    EXPECT_EQ(error, "The temporary file was replaced by another file while it was written");
    EXPECT_EQ(contentsOf(folder / "victim"), kOld);
    EXPECT_EQ(contentsOf(folder / "out.wav"), kOld);
    EXPECT_EQ(folder.names(), (Names{"out.wav", "victim"}));
}

// Audio coded into WAV data as it is made, appended in uneven steps, is written byte for byte as the
// audio itself would be; frames past the room taken are dropped.
TEST(WavExport, DataCodedAsItIsMadeIsWrittenAsTheAudioItHolds) {
    const Shape shapes[] = {{np::WavBitDepth::Pcm16, 2, 20000, 44100.5},
                            {np::WavBitDepth::Pcm24, 1, 20001, 8000.0},
                            {np::WavBitDepth::Float32, 2, 8193, 384000.0}};
    cvtest::ScratchFolder folder;
    for (const Shape& s : shapes) {
        SCOPED_TRACE(static_cast<int>(s.depth));
        std::vector<std::vector<float>> channels;
        for (int c = 0; c < s.channels; ++c) {
            channels.push_back(cvtest::sine(220.0 * (c + 1), 48000.0, s.frames, 1.2f));
            channels.back()[7] = -1.5f; // clamped, and below -1 coded as the negative full scale
        }
        np::WavData data(s.channels, s.depth, s.frames);
        for (const std::int64_t step : {1000, 7, 20000}) {
            std::vector<const float*> planes;
            for (const auto& channel : channels)
                planes.push_back(channel.data() + std::min(data.frames(), s.frames));
            data.append(planes.data(), std::min(step, s.frames - data.frames()));
        }
        const std::vector<const float*> more(2, channels[0].data());
        EXPECT_EQ(data.append(more.data(), 3), 0);
        ASSERT_EQ(data.frames(), s.frames);
        std::string error;
        ASSERT_TRUE(np::saveWav((folder / "data.wav").string(), data, s.rate, &error)) << error;
        ASSERT_TRUE(
            np::saveWav((folder / "audio.wav").string(), bufferOf(channels), s.rate, s.depth, &error));
        EXPECT_EQ(contentsOf(folder / "data.wav"), contentsOf(folder / "audio.wav"));
    }
}

TEST(WavExport, RefusesDataItCannotWriteWithTheSentencesOfAudio) {
    EXPECT_THROW(np::WavData(3, np::WavBitDepth::Pcm16, 10), std::length_error);
    EXPECT_THROW(np::WavData(1, np::WavBitDepth::Pcm16, np::AudioBuffer::kMaxSamples + 1), std::length_error);
    const float samples[] = {0.1f, NAN, 0.3f};
    const float* plane = samples;
    const auto coded = [&](std::int64_t frames, np::WavBitDepth depth) {
        np::WavData data(1, depth, 3);
        data.append(&plane, frames);
        return data;
    };
    const char* const kLimits = "The audio exceeds the supported export limits";
    const struct {
        const char* what;
        np::WavData data;
        double rate;
        const char* sentence;
    } cases[] = {{"no frames", coded(0, np::WavBitDepth::Pcm16), 48000.0, kLimits},
                 {"rate 7999", coded(1, np::WavBitDepth::Pcm16), 7999.0, kLimits},
                 {"rate 384000.6", coded(1, np::WavBitDepth::Pcm16), 384000.6, kLimits},
                 {"no such depth", coded(1, static_cast<np::WavBitDepth>(3)), 48000.0, kLimits},
                 {"non-finite sample", coded(3, np::WavBitDepth::Float32), 48000.0,
                  "The rendered audio contains invalid sample values"}};
    cvtest::ScratchFolder folder;
    writeBytes(folder / "keep.wav", kOld);
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        std::string error;
        EXPECT_FALSE(np::saveWav((folder / "keep.wav").string(), c.data, c.rate, &error));
        EXPECT_EQ(error, c.sentence);
        EXPECT_EQ(contentsOf(folder / "keep.wav"), kOld);
        EXPECT_EQ(folder.names(), Names{"keep.wav"});
    }
}
