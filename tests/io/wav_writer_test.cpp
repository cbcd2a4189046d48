#include "engine/io/wav_writer.h"

#include <cstring>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <iterator>
#include <unistd.h>
#include <vector>

namespace {

using Bytes = std::vector<std::uint8_t>;

Bytes le16(int v) {
    return {static_cast<std::uint8_t>(v), static_cast<std::uint8_t>(v >> 8)};
}
Bytes le32(std::uint32_t v) {
    return {static_cast<std::uint8_t>(v), static_cast<std::uint8_t>(v >> 8),
            static_cast<std::uint8_t>(v >> 16), static_cast<std::uint8_t>(v >> 24)};
}

Bytes cat(std::initializer_list<Bytes> parts) {
    Bytes out;
    for (const auto& p : parts) {
        out.insert(out.end(), p.begin(), p.end());
    }
    return out;
}

Bytes text(const char* s) {
    return Bytes(s, s + std::strlen(s));
}

TEST(WavWriter, HeaderBytesFollowTheCanonicalLayout) {
    struct Case {
        const char* what;
        np::WavFormat format;
        std::uint32_t dataBytes;
        Bytes expected;
    };
    const Case cases[] = {
        {"16-bit stereo",
         {2, 44100, np::WavBitDepth::Pcm16},
         400,
         cat({text("RIFF"), le32(436), text("WAVE"), text("fmt "), le32(16), le16(1), le16(2), le32(44100),
              le32(176400), le16(4), le16(16), text("data"), le32(400)})},
        {"24-bit mono, odd data counts its pad byte in the RIFF size",
         {1, 48000, np::WavBitDepth::Pcm24},
         9,
         cat({text("RIFF"), le32(46), text("WAVE"), text("fmt "), le32(16), le16(1), le16(1), le32(48000),
              le32(144000), le16(3), le16(24), text("data"), le32(9)})},
        {"float stereo",
         {2, 96000, np::WavBitDepth::Float32},
         0,
         cat({text("RIFF"), le32(36), text("WAVE"), text("fmt "), le32(16), le16(3), le16(2), le32(96000),
              le32(768000), le16(8), le16(32), text("data"), le32(0)})},
        {"24-bit stereo at the highest rate",
         {2, 384000, np::WavBitDepth::Pcm24},
         6,
         cat({text("RIFF"), le32(42), text("WAVE"), text("fmt "), le32(16), le16(1), le16(2), le32(384000),
              le32(2304000), le16(6), le16(24), text("data"), le32(6)})},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        const auto header = np::makeWavHeader(c.format, c.dataBytes);
        EXPECT_EQ(Bytes(header.begin(), header.end()), c.expected);
    }
}

TEST(WavWriter, PcmCodesClampRoundAndStaySymmetric) {
    struct Case {
        float x;
        int pcm16;
        int pcm24;
    };
    const Case cases[] = {
        {1.0f, 32767, 8388607},
        {-1.0f, -32767, -8388607},
        {-1.5f, -32767, -8388607},
        {1.5f, 32767, 8388607},
        {1e30f, 32767, 8388607},
        {-1e30f, -32767, -8388607},
        {0.0f, 0, 0},
        {-0.0f, 0, 0},
        {0.5f, 16384, 4194304},
        {-0.5f, -16384, -4194304},
        {1.0f / 32767.0f, 1, 256},
        {0.4f / 32767.0f, 0, 102},
        {-1.00000012f, -32767, -8388607},
        {0.999999940f, 32767, 8388607},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.x);
        EXPECT_EQ(np::encodePcm16(c.x), c.pcm16);
        EXPECT_EQ(np::encodePcm24(c.x), c.pcm24);
    }
}

class WavFileWriterTest : public testing::Test {
protected:
    void SetUp() override {
        dir_ = std::filesystem::temp_directory_path() /
               ("cv-wavwriter-" + std::to_string(::getpid()) + "-" +
                testing::UnitTest::GetInstance()->current_test_info()->name());
        std::filesystem::remove_all(dir_);
        std::filesystem::create_directories(dir_);
    }
    void TearDown() override { std::filesystem::remove_all(dir_); }

    static Bytes readAll(const std::filesystem::path& p) {
        std::ifstream in(p, std::ios::binary);
        return Bytes(std::istreambuf_iterator<char>(in), {});
    }

    std::filesystem::path dir_;
};

TEST_F(WavFileWriterTest, FinishPatchesSizesAndPadsOddData) {
    const auto path = dir_ / "odd.wav";
    const np::WavFormat format{1, 22050, np::WavBitDepth::Pcm24};
    np::WavFileWriter writer;
    ASSERT_TRUE(writer.open(path, format));
    const Bytes first = {1, 2, 3, 4, 5, 6};
    const Bytes second = {7, 8, 9};
    ASSERT_TRUE(writer.writeData(first));
    ASSERT_TRUE(writer.writeData(second));
    ASSERT_TRUE(writer.finish());

    const auto header = np::makeWavHeader(format, 9);
    const Bytes expected = cat({Bytes(header.begin(), header.end()), first, second, Bytes{0}});
    EXPECT_EQ(readAll(path), expected);
    EXPECT_EQ(np::wavFileBytes(9), 54u);
    EXPECT_EQ(np::wavFileBytes(8), 52u);
    // Nothing may be written after a finish.
    EXPECT_FALSE(writer.writeData(first));
    EXPECT_FALSE(writer.finish());
}

TEST_F(WavFileWriterTest, EmptyDataIsAValidHeaderOnlyFile) {
    const auto path = dir_ / "empty.wav";
    const np::WavFormat format{2, 48000, np::WavBitDepth::Float32};
    np::WavFileWriter writer;
    ASSERT_TRUE(writer.open(path, format));
    ASSERT_TRUE(writer.finish());
    const auto header = np::makeWavHeader(format, 0);
    EXPECT_EQ(readAll(path), Bytes(header.begin(), header.end()));
}

TEST_F(WavFileWriterTest, RefusesWhatItCannotWrite) {
    np::WavFileWriter writer;
    EXPECT_FALSE(writer.open(dir_ / "missing" / "a.wav", {1, 48000, np::WavBitDepth::Pcm16}));
    EXPECT_FALSE(writer.writeData(Bytes{1, 2}));
    EXPECT_FALSE(writer.finish());
    EXPECT_FALSE(writer.open(dir_ / "c.wav", {3, 48000, np::WavBitDepth::Pcm16}));
}

} // namespace
