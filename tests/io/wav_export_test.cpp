#include "engine/io/wav_export.h"
#include "tests/support/signals.h"

#include <algorithm>
#include <cmath>
#include <csignal>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <iterator>
#include <set>
#include <sndfile.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace {

namespace fs = std::filesystem;
using Bytes = std::vector<std::uint8_t>;

np::AudioBuffer bufferOf(const std::vector<std::vector<float>>& channels) {
    np::AudioBuffer audio;
    audio.resize(static_cast<int>(channels.size()), static_cast<std::int64_t>(channels[0].size()));
    for (std::size_t c = 0; c < channels.size(); ++c) {
        std::copy(channels[c].begin(), channels[c].end(), audio.channel(static_cast<int>(c)).begin());
    }
    return audio;
}

Bytes readAll(const fs::path& p) {
    std::ifstream in(p, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), {});
}

void writeAll(const fs::path& p, const Bytes& bytes) {
    std::ofstream out(p, std::ios::binary);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

// What libsndfile, an independent reader, makes of a file.
struct ReadBack {
    SF_INFO info{};
    std::vector<int> ints;     // full-scale 32-bit, as libsndfile scales PCM
    std::vector<float> floats; // for float files
};

ReadBack readWithSndfile(const fs::path& p) {
    ReadBack r;
    SNDFILE* f = sf_open(p.c_str(), SFM_READ, &r.info);
    EXPECT_NE(f, nullptr) << sf_strerror(nullptr);
    if (f == nullptr) {
        return r;
    }
    const auto n = static_cast<std::size_t>(r.info.frames * r.info.channels);
    if ((r.info.format & SF_FORMAT_SUBMASK) == SF_FORMAT_FLOAT) {
        r.floats.resize(n);
        EXPECT_EQ(sf_readf_float(f, r.floats.data(), r.info.frames), r.info.frames);
    } else {
        r.ints.resize(n);
        EXPECT_EQ(sf_readf_int(f, r.ints.data(), r.info.frames), r.info.frames);
    }
    sf_close(f);
    return r;
}

class WavExportTest : public testing::Test {
protected:
    void SetUp() override {
        dir_ = fs::temp_directory_path() / ("cv-wavexport-" + std::to_string(::getpid()) + "-" +
                                            testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::remove_all(dir_);
        fs::create_directories(dir_);
        fs::permissions(dir_, fs::perms(0755));
    }
    void TearDown() override {
        std::error_code ec;
        fs::permissions(dir_, fs::perms(0755), ec);
        fs::remove_all(dir_, ec);
    }

    std::set<std::string> entries() const {
        std::set<std::string> names;
        for (const auto& e : fs::directory_iterator(dir_)) {
            names.insert(e.path().filename().string());
        }
        return names;
    }

    std::string pathOf(const std::string& name) const { return (dir_ / name).string(); }

    fs::path dir_;
};

struct Shape {
    np::WavBitDepth depth;
    int channels;
    std::int64_t frames;
};

class WavExportRoundTrip : public WavExportTest, public testing::WithParamInterface<Shape> {};

TEST_P(WavExportRoundTrip, IndependentReaderSeesTheSameAudio) {
    const Shape s = GetParam();
    std::vector<std::vector<float>> channels;
    for (int c = 0; c < s.channels; ++c) {
        // Loud enough to clip now and then, so clamping is exercised alongside rounding.
        channels.push_back(cvtest::sine(220.0 * (c + 1), 48000.0, s.frames, 1.2f));
    }
    const auto audio = bufferOf(channels);
    const auto path = pathOf("take.wav");
    std::string error = "stale";
    ASSERT_TRUE(np::saveWav(path, audio, 48000.0, s.depth, &error)) << error;
    EXPECT_EQ(error, "");
    EXPECT_EQ(entries(), std::set<std::string>{"take.wav"});

    const auto r = readWithSndfile(path);
    EXPECT_EQ(r.info.channels, s.channels);
    EXPECT_EQ(r.info.samplerate, 48000);
    EXPECT_EQ(r.info.frames, s.frames);
    const int expectedSub = s.depth == np::WavBitDepth::Pcm16   ? SF_FORMAT_PCM_16
                            : s.depth == np::WavBitDepth::Pcm24 ? SF_FORMAT_PCM_24
                                                                : SF_FORMAT_FLOAT;
    EXPECT_EQ(r.info.format, SF_FORMAT_WAV | expectedSub);

    int mismatches = 0;
    for (std::int64_t f = 0; f < s.frames; ++f) {
        for (int c = 0; c < s.channels; ++c) {
            const float x = channels[c][f];
            const std::size_t i = static_cast<std::size_t>(f * s.channels + c);
            const float clamped = std::clamp(x, -1.0f, 1.0f);
            switch (s.depth) {
            case np::WavBitDepth::Pcm16:
                mismatches += r.ints[i] != static_cast<int>(std::lroundf(clamped * 32767.0f)) * 65536;
                break;
            case np::WavBitDepth::Pcm24:
                mismatches += r.ints[i] != static_cast<int>(std::llround(clamped * 8388607.0)) * 256;
                break;
            case np::WavBitDepth::Float32:
                mismatches += r.floats[i] != x;
                break;
            }
        }
    }
    EXPECT_EQ(mismatches, 0);

    // Header, data and pad byte: nothing else in the file.
    const auto dataBytes = static_cast<std::uint32_t>(s.frames * s.channels * np::wavBytesPerSample(s.depth));
    const auto bytes = readAll(path);
    ASSERT_EQ(bytes.size(), 44u + dataBytes + (dataBytes & 1u));
    const auto header = np::makeWavHeader({s.channels, 48000, s.depth}, dataBytes);
    EXPECT_TRUE(std::equal(header.begin(), header.end(), bytes.begin()));
    if (dataBytes & 1u) {
        EXPECT_EQ(bytes.back(), 0);
    }
}

INSTANTIATE_TEST_SUITE_P(
    DepthsAndChannels, WavExportRoundTrip,
    testing::Values(Shape{np::WavBitDepth::Pcm16, 1, 20000}, Shape{np::WavBitDepth::Pcm16, 2, 8192},
                    Shape{np::WavBitDepth::Pcm24, 1, 20001}, Shape{np::WavBitDepth::Pcm24, 2, 1},
                    Shape{np::WavBitDepth::Float32, 1, 8193}, Shape{np::WavBitDepth::Float32, 2, 20000}));

TEST_F(WavExportTest, FullScaleOverRangeAndNegativeValuesGetTheirExactCodes) {
    const auto audio = bufferOf({{1.0f, -1.0f, -1.5f, 1.5f, 0.0f}});
    struct Case {
        np::WavBitDepth depth;
        Bytes data;
    };
    const Case cases[] = {
        {np::WavBitDepth::Pcm16, {0xFF, 0x7F, 0x01, 0x80, 0x01, 0x80, 0xFF, 0x7F, 0x00, 0x00}},
        {np::WavBitDepth::Pcm24,
         {0xFF, 0xFF, 0x7F, 0x01, 0x00, 0x80, 0x01, 0x00, 0x80, 0xFF, 0xFF, 0x7F, 0x00, 0x00, 0x00}},
        {np::WavBitDepth::Float32, {0x00, 0x00, 0x80, 0x3F, 0x00, 0x00, 0x80, 0xBF, 0x00, 0x00,
                                    0xC0, 0xBF, 0x00, 0x00, 0xC0, 0x3F, 0x00, 0x00, 0x00, 0x00}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(static_cast<int>(c.depth));
        const auto path = pathOf("codes.wav");
        ASSERT_TRUE(np::saveWav(path, audio, 44100.0, c.depth, nullptr));
        const auto bytes = readAll(path);
        ASSERT_GE(bytes.size(), 44u + c.data.size());
        EXPECT_EQ(Bytes(bytes.begin() + 44, bytes.begin() + 44 + static_cast<std::ptrdiff_t>(c.data.size())),
                  c.data);
        // The 24-bit file holds 15 data bytes and so ends in a pad byte.
        EXPECT_EQ(bytes.size(), 44u + c.data.size() + (c.data.size() & 1u));
    }
}

TEST_F(WavExportTest, RefusesShapesAndRatesOutsideTheLimitsWithoutWriting) {
    const auto mono = bufferOf({{0.1f, 0.2f}});
    np::AudioBuffer three = mono;
    three.channels = 3;
    np::AudioBuffer lying = mono;
    lying.frames = 5; // claims more frames than it stores
    const np::AudioBuffer empty;
    struct Case {
        const char* what;
        const np::AudioBuffer* audio;
        double rate;
    };
    const Case cases[] = {{"no frames", &empty, 48000.0},         {"three channels", &three, 48000.0},
                          {"storage too short", &lying, 48000.0}, {"rate 7999", &mono, 7999.0},
                          {"rate 384000.6", &mono, 384000.6},     {"rate NaN", &mono, std::nan("")},
                          {"rate infinite", &mono, INFINITY}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        std::string error;
        EXPECT_FALSE(np::saveWav(pathOf("x.wav"), *c.audio, c.rate, np::WavBitDepth::Pcm16, &error));
        EXPECT_EQ(error, "The audio exceeds the supported export limits");
        EXPECT_TRUE(entries().empty());
    }
    struct RateCase {
        double given;
        int written;
    };
    for (const RateCase c : {RateCase{44100.4, 44100}, RateCase{44100.5, 44101}, RateCase{8000.0, 8000},
                             RateCase{384000.0, 384000}}) {
        SCOPED_TRACE(c.given);
        ASSERT_TRUE(np::saveWav(pathOf("rate.wav"), mono, c.given, np::WavBitDepth::Pcm24, nullptr));
        EXPECT_EQ(readWithSndfile(pathOf("rate.wav")).info.samplerate, c.written);
    }
}

TEST_F(WavExportTest, NonFiniteSamplesAreRefusedAndTheOldFileStays) {
    const Bytes old = {'o', 'l', 'd'};
    writeAll(dir_ / "keep.wav", old);
    for (const float bad : {std::nanf(""), INFINITY, -INFINITY}) {
        for (const std::int64_t at : {std::int64_t{0}, std::int64_t{9000}, std::int64_t{19999}}) {
            SCOPED_TRACE(testing::Message() << bad << " at " << at);
            auto right = cvtest::sine(330.0, 48000.0, 20000);
            right[static_cast<std::size_t>(at)] = bad;
            const auto audio = bufferOf({cvtest::sine(220.0, 48000.0, 20000), right});
            std::string error;
            EXPECT_FALSE(np::saveWav(pathOf("keep.wav"), audio, 48000.0, np::WavBitDepth::Float32, &error));
            EXPECT_EQ(error, "The rendered audio contains invalid sample values");
            EXPECT_EQ(readAll(dir_ / "keep.wav"), old);
            EXPECT_EQ(entries(), std::set<std::string>{"keep.wav"});
        }
    }
}

TEST_F(WavExportTest, ProgressRisesFromZeroToOneInItsTwoPhases) {
    {
        SCOPED_TRACE("one frame, one channel");
        std::vector<float> seen;
        ASSERT_TRUE(np::saveWav(pathOf("one.wav"), bufferOf({{0.5f}}), 48000.0, np::WavBitDepth::Pcm16,
                                nullptr, [&](float p) {
                                    seen.push_back(p);
                                    return true;
                                }));
        EXPECT_EQ(seen, (std::vector<float>{0.0f, 0.15f, 0.15f, 1.0f}));
    }
    {
        SCOPED_TRACE("20000 stereo frames: three blocks per channel");
        const auto audio =
            bufferOf({cvtest::sine(220.0, 48000.0, 20000), cvtest::sine(330.0, 48000.0, 20000)});
        std::vector<float> seen;
        ASSERT_TRUE(
            np::saveWav(pathOf("two.wav"), audio, 48000.0, np::WavBitDepth::Pcm24, nullptr, [&](float p) {
                seen.push_back(p);
                return true;
            }));
        const std::vector<double> expected = {0.0,
                                              0.15 * 8192 / 40000,
                                              0.15 * 16384 / 40000,
                                              0.15 * 20000 / 40000,
                                              0.15 * 28192 / 40000,
                                              0.15 * 36384 / 40000,
                                              0.15,
                                              0.15,
                                              0.15 + 0.85 * 8192 / 20000,
                                              0.15 + 0.85 * 16384 / 20000,
                                              1.0};
        ASSERT_EQ(seen.size(), expected.size());
        for (std::size_t i = 0; i < expected.size(); ++i) {
            EXPECT_NEAR(seen[i], expected[i], 1e-6) << "call " << i;
        }
    }
}

TEST_F(WavExportTest, CancelAtAnyProgressCallKeepsTheOldFileAndLeavesNoTemporary) {
    const auto audio = bufferOf({cvtest::sine(220.0, 48000.0, 20000)});
    int calls = 0;
    ASSERT_TRUE(np::saveWav(pathOf("count.wav"), audio, 48000.0, np::WavBitDepth::Pcm16, nullptr, [&](float) {
        ++calls;
        return true;
    }));
    fs::remove(dir_ / "count.wav");
    ASSERT_EQ(calls, 3 + 1 + 3 + 1);

    const Bytes old = {'o', 'l', 'd'};
    for (int cancelAt = 0; cancelAt < calls; ++cancelAt) {
        for (const bool hadFile : {true, false}) {
            SCOPED_TRACE(testing::Message()
                         << "cancel at call " << cancelAt << (hadFile ? " over a file" : ""));
            if (hadFile) {
                writeAll(dir_ / "dest.wav", old);
            }
            int seen = 0;
            std::string error;
            EXPECT_FALSE(np::saveWav(pathOf("dest.wav"), audio, 48000.0, np::WavBitDepth::Pcm16, &error,
                                     [&](float) { return seen++ < cancelAt; }));
            EXPECT_EQ(error, "WAV export was cancelled");
            if (hadFile) {
                EXPECT_EQ(readAll(dir_ / "dest.wav"), old);
                EXPECT_EQ(entries(), std::set<std::string>{"dest.wav"});
                fs::remove(dir_ / "dest.wav");
            } else {
                EXPECT_TRUE(entries().empty());
            }
        }
    }
}

TEST_F(WavExportTest, ReplacesAnExistingFileAndAcceptsAUtf8Name) {
    const std::string name = "t\xC3\xABst \xE2\x99\xAA.wav"; // "tëst ♪.wav"
    writeAll(dir_ / name, Bytes(100000, 0xAB));
    const auto audio = bufferOf({{0.25f, -0.25f}, {0.5f, -0.5f}});
    ASSERT_TRUE(np::saveWav(pathOf(name), audio, 48000.0, np::WavBitDepth::Pcm16, nullptr));
    EXPECT_EQ(entries(), std::set<std::string>{name});
    const auto r = readWithSndfile(dir_ / name);
    EXPECT_EQ(r.info.frames, 2);
    EXPECT_EQ(readAll(dir_ / name).size(), 44u + 8u);
    // Files written for export are readable by others, as a user expects of an exported file.
    EXPECT_EQ(fs::status(dir_ / name).permissions() & fs::perms::all, fs::perms(0644));
}

// Runs body in a forked child and hands back its exit code and the sentence it reported, so that a
// process-wide limit (file size, user id) never touches the test program itself.
struct ChildResult {
    int exitCode = -1;
    std::string error;
};

template <class Body>
ChildResult runInChild(Body body) {
    int fds[2];
    if (::pipe(fds) != 0) {
        ADD_FAILURE() << "pipe failed";
        return {};
    }
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::close(fds[0]);
        std::string error;
        const int code = body(error);
        [[maybe_unused]] const auto written = ::write(fds[1], error.data(), error.size());
        ::close(fds[1]);
        ::_exit(code);
    }
    ::close(fds[1]);
    ChildResult result;
    char buffer[512];
    ssize_t n = 0;
    while ((n = ::read(fds[0], buffer, sizeof buffer)) > 0) {
        result.error.append(buffer, static_cast<std::size_t>(n));
    }
    ::close(fds[0]);
    int status = 0;
    ::waitpid(pid, &status, 0);
    result.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return result;
}

TEST_F(WavExportTest, AFullDiskIsReportedAndTheOldFileStays) {
    // Three frames of 24-bit mono: 9 data bytes, a pad byte, 54 bytes in all.
    const auto small = bufferOf({{0.1f, 0.2f, 0.3f}});
    const auto large = bufferOf({cvtest::sine(220.0, 48000.0, 48000), cvtest::sine(330.0, 48000.0, 48000)});
    struct Case {
        const char* what;
        const np::AudioBuffer* audio;
        rlim_t limitBytes;
        bool fits;
    };
    const Case cases[] = {
        {"room for the whole file", &small, 54, true},
        {"no room for the pad byte", &small, 53, false},
        {"no room for the last data byte", &small, 52, false},
        {"no room for the header", &small, 20, false},
        {"full in the middle of the data", &large, 100000, false},
        {"full at the first block", &large, 44, false},
    };
    const Bytes old = {'o', 'l', 'd'};
    const auto path = pathOf("disk.wav");
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        writeAll(path, old);
        const auto child = runInChild([&](std::string& error) {
            std::signal(SIGXFSZ, SIG_IGN); // a write past the limit then fails with EFBIG
            const rlimit limit{c.limitBytes, c.limitBytes};
            if (::setrlimit(RLIMIT_FSIZE, &limit) != 0) {
                return 77;
            }
            return np::saveWav(path, *c.audio, 48000.0, np::WavBitDepth::Pcm24, &error) ? 0 : 1;
        });
        ASSERT_NE(child.exitCode, 77) << "could not set a file-size limit";
        if (c.fits) {
            EXPECT_EQ(child.exitCode, 0) << child.error;
            EXPECT_EQ(readAll(path).size(), 54u);
        } else {
            EXPECT_EQ(child.exitCode, 1);
            EXPECT_TRUE(child.error == "Failed writing WAV data: " + path ||
                        child.error == "The WAV file could not be finalized safely")
                << child.error;
            EXPECT_EQ(readAll(path), old);
        }
        EXPECT_EQ(entries(), std::set<std::string>{"disk.wav"});
    }
}

TEST_F(WavExportTest, AnUnwritableFolderIsReportedAndTheOldFileStays) {
    const auto audio = bufferOf({{0.1f, 0.2f}});
    {
        SCOPED_TRACE("the folder is a plain file");
        writeAll(dir_ / "notafolder", Bytes{'x'});
        std::string error;
        EXPECT_FALSE(
            np::saveWav(pathOf("notafolder") + "/out.wav", audio, 48000.0, np::WavBitDepth::Pcm16, &error));
        EXPECT_FALSE(error.empty());
        EXPECT_EQ(readAll(dir_ / "notafolder"), Bytes{'x'});
    }
    {
        SCOPED_TRACE("the destination is a folder");
        fs::create_directory(dir_ / "taken.wav");
        std::string error;
        EXPECT_FALSE(np::saveWav(pathOf("taken.wav"), audio, 48000.0, np::WavBitDepth::Pcm16, &error));
        EXPECT_FALSE(error.empty());
        EXPECT_TRUE(fs::is_directory(dir_ / "taken.wav"));
        EXPECT_EQ(entries(), (std::set<std::string>{"notafolder", "taken.wav"}));
    }
    {
        SCOPED_TRACE("a folder the user may not write");
        const Bytes old = {'o', 'l', 'd'};
        const auto sub = dir_ / "locked";
        fs::create_directory(sub);
        writeAll(sub / "out.wav", old);
        fs::permissions(sub, fs::perms(0555));
        const auto path = (sub / "out.wav").string();
        const auto child = runInChild([&](std::string& error) {
            // The superuser writes anywhere, so the child gives up its rights first.
            if (::geteuid() == 0 && (::setgid(65534) != 0 || ::setuid(65534) != 0)) {
                return 77;
            }
            return np::saveWav(path, audio, 48000.0, np::WavBitDepth::Pcm16, &error) ? 0 : 1;
        });
        fs::permissions(sub, fs::perms(0755));
        if (child.exitCode == 77) {
            GTEST_SKIP() << "cannot drop privileges here";
        }
        EXPECT_EQ(child.exitCode, 1);
        EXPECT_FALSE(child.error.empty());
        EXPECT_EQ(readAll(sub / "out.wav"), old);
        EXPECT_EQ(std::distance(fs::directory_iterator(sub), fs::directory_iterator()), 1);
    }
}

} // namespace
