// The audio reader on files cut short and on streams that declare no length, and what the commands that
// read through it write to standard error.

#include "host/cli_audio_file.h"
#include "host/cli_declared_frames.h"
#include "host/cli_report.h"
#include "tests/host/audio_files.h"
#include "tests/host/cli_takes.h"
#include "tests/io/storage_test_folder.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <gtest/gtest.h>
#include <regex>
#include <sndfile.h>
#include <sys/wait.h>

namespace {

using cv::cli::Algorithm;
using cv::cli::LoadedAudio;
using cvtest::writeAudio;

constexpr int kRate = 48000;
constexpr std::int64_t kTakeFrames = kRate; // cvtest::shortTake lasts one second

// The frames libsndfile itself decodes from path.
std::int64_t decodedFrames(const std::string& path) {
    SF_INFO info{};
    SNDFILE* file = sf_open(path.c_str(), SFM_READ, &info);
    EXPECT_NE(file, nullptr) << sf_strerror(nullptr);
    std::vector<float> chunk(4096 * static_cast<std::size_t>(info.channels));
    std::int64_t frames = 0;
    for (sf_count_t got; file != nullptr && (got = sf_readf_float(file, chunk.data(), 4096)) > 0;)
        frames += got;
    sf_close(file);
    return frames;
}

void cutTo(const std::string& path, std::size_t bytes) {
    auto contents = cvtest::contentsOf(path);
    ASSERT_LT(bytes, contents.size());
    contents.resize(bytes);
    cvtest::writeBytes(path, contents);
}

// A file cut short is read as far as it goes and tells how much its header declares; the whole file, and
// a file whose header declares no length, declare exactly what is read.
TEST(CliAudioFile, ReadsAFileCutShortAndTellsWhatItsHeaderDeclares) {
    cvtest::ScratchFolder folder;
    enum class Cut { None, Frames, Half, ClaimTwice, Streamed };
    const struct {
        const char* name;
        int format;
        int channels;
        Cut cut;
    } table[] = {
        {"16.wav", SF_FORMAT_WAV | SF_FORMAT_PCM_16, 1, Cut::Frames},
        {"24.wav", SF_FORMAT_WAV | SF_FORMAT_PCM_24, 2, Cut::Frames},
        {"float.wav", SF_FORMAT_WAV | SF_FORMAT_FLOAT, 1, Cut::Frames},
        {"rifx.wav", SF_FORMAT_WAV | SF_FORMAT_PCM_16 | SF_ENDIAN_BIG, 2, Cut::Frames},
        {"16.aiff", SF_FORMAT_AIFF | SF_FORMAT_PCM_16, 2, Cut::Frames},
        {"float.aifc", SF_FORMAT_AIFF | SF_FORMAT_FLOAT, 1, Cut::Frames},
        {"cut.flac", SF_FORMAT_FLAC | SF_FORMAT_PCM_16, 2, Cut::Half},
        {"claims.flac", SF_FORMAT_FLAC | SF_FORMAT_PCM_24, 1, Cut::ClaimTwice},
        {"streamed.wav", SF_FORMAT_WAV | SF_FORMAT_PCM_16, 1, Cut::Streamed},
        {"whole.wav", SF_FORMAT_WAV | SF_FORMAT_PCM_24, 1, Cut::None},
        {"whole.aiff", SF_FORMAT_AIFF | SF_FORMAT_PCM_24, 1, Cut::None},
        {"whole.flac", SF_FORMAT_FLAC | SF_FORMAT_PCM_16, 1, Cut::None},
    };
    for (const auto& row : table) {
        SCOPED_TRACE(row.name);
        const std::string path = folder / row.name;
        writeAudio(path, row.format, row.channels, kRate, cvtest::shortTake(kRate, row.channels));
        const std::size_t bytes = cvtest::contentsOf(path).size();
        // Half a second and one frame short, and a part of the frame before.
        const std::size_t frameBytes = bytes / kTakeFrames; // the header is smaller than a frame each
        std::int64_t read = kTakeFrames, declared = kTakeFrames;
        switch (row.cut) {
        case Cut::None:
            break;
        case Cut::Frames:
            cutTo(path, bytes - (kTakeFrames / 2 - 1) * frameBytes - 1);
            read = kTakeFrames / 2;
            break;
        case Cut::Half:
            cutTo(path, bytes / 2);
            read = decodedFrames(path);
            ASSERT_GT(read, 0);
            ASSERT_LT(read, kTakeFrames);
            break;
        case Cut::ClaimTwice:
            cvtest::claimFlacFrames(path, 2 * kTakeFrames);
            declared = 2 * kTakeFrames;
            break;
        case Cut::Streamed: {
            auto streamed = cvtest::contentsOf(path);
            std::fill_n(streamed.begin() + 40, 4, 0xFF); // the data size of the canonical header
            streamed.resize(bytes - (kTakeFrames / 2 - 1) * frameBytes - 1);
            cvtest::writeBytes(path, streamed);
            read = kTakeFrames / 2;
            declared = 0;
            break;
        }
        }
        LoadedAudio loaded;
        std::string error;
        ASSERT_TRUE(cv::cli::readAudioFile(path, Algorithm::Melodic, loaded, error)) << error;
        EXPECT_EQ(loaded.audio.frames, read);
        EXPECT_EQ(loaded.declaredFrames, declared);
        // What was read is the take's start, within 16-bit rounding.
        const std::vector<float> take = cvtest::shortTake(kRate, row.channels);
        float worst = 0.0f;
        for (std::int64_t i = 0; i < read; ++i)
            worst = std::max(worst,
                             std::abs(loaded.audio.channel(row.channels - 1)[static_cast<std::size_t>(i)] -
                                      take[static_cast<std::size_t>(i * row.channels + row.channels - 1)]));
        EXPECT_LT(worst, 1e-4f);
        char expected[160] = "";
        if (read < declared)
            std::snprintf(expected, sizeof expected,
                          "corvalinth: warning: %s is truncated: %.2f s of the %.2f s its header declares "
                          "were read.\n",
                          path.c_str(), static_cast<double>(read) / kRate,
                          static_cast<double>(declared) / kRate);
        EXPECT_EQ(cv::cli::truncatedFileNotice(path, loaded.audio.frames, loaded.declaredFrames, kRate),
                  expected);
    }
    EXPECT_EQ(cv::cli::truncatedFileNotice("take.wav", 100000, 230000, 48000.0),
              "corvalinth: warning: take.wav is truncated: 2.08 s of the 4.79 s its header declares were "
              "read.\n");
    EXPECT_EQ(cv::cli::truncatedFileNotice("-", 229990, 230000, 48000.0),
              "corvalinth: warning: standard input is truncated: 229990 of the 230000 frames its header "
              "declares were read.\n");
}

using Bytes = std::vector<std::uint8_t>;

// A chunk: its four-character id, its size in the container's byte order, its body and a pad byte when
// the body's size is odd.
Bytes chunk(const char* id, const Bytes& body, bool bigEndian = false, std::uint32_t size = 0xDEADBEEF) {
    Bytes out(id, id + 4);
    const std::uint32_t n = size == 0xDEADBEEF ? static_cast<std::uint32_t>(body.size()) : size;
    for (int i = 0; i < 4; ++i)
        out.push_back(static_cast<std::uint8_t>(n >> (bigEndian ? 24 - 8 * i : 8 * i)));
    out.insert(out.end(), body.begin(), body.end());
    if (body.size() % 2 == 1)
        out.push_back(0);
    return out;
}

Bytes concat(std::initializer_list<Bytes> parts) {
    Bytes out;
    for (const Bytes& part : parts)
        out.insert(out.end(), part.begin(), part.end());
    return out;
}

std::optional<std::int64_t> declaredFramesOf(const Bytes& file) {
    return cv::cli::declaredFrames([&](std::uint64_t offset, std::span<std::uint8_t> bytes) -> std::size_t {
        if (offset >= file.size())
            return 0;
        const std::size_t count = std::min<std::uint64_t>(bytes.size(), file.size() - offset);
        std::memcpy(bytes.data(), file.data() + offset, count);
        return count;
    });
}

// Headers made by hand: a length is found wherever the chunks lie, and only where it counts frames.
TEST(CliDeclaredFrames, FindsTheLengthOnlyWhereTheHeaderDeclaresFrames) {
    // PCM (tag 1), stereo, 16-bit: 4-byte blocks.
    const auto format = [](std::uint8_t tag) {
        return chunk("fmt ", {tag, 0, 2, 0, 0x80, 0xBB, 0, 0, 0, 0xEE, 2, 0, 4, 0, 16, 0});
    };
    const auto wav = [](const Bytes& chunks) {
        return concat({{'R', 'I', 'F', 'F', 0, 0, 0, 0}, {'W', 'A', 'V', 'E'}, chunks});
    };
    const auto data = [](std::uint32_t size) { return chunk("data", {}, false, size); };
    // Mono, 1000 frames, 16-bit; AIFC adds its compression.
    const auto comm = [](std::uint32_t frames, const char* compression) {
        Bytes body{0,
                   1,
                   static_cast<std::uint8_t>(frames >> 24),
                   static_cast<std::uint8_t>(frames >> 16),
                   static_cast<std::uint8_t>(frames >> 8),
                   static_cast<std::uint8_t>(frames),
                   0,
                   16};
        body.resize(18, 0);
        if (compression != nullptr)
            body.insert(body.end(), compression, compression + 4);
        return chunk("COMM", body, true);
    };
    const auto aiff = [](const char* form, const Bytes& chunks) {
        return concat({{'F', 'O', 'R', 'M', 0, 0, 0, 0}, Bytes(form, form + 4), chunks});
    };
    Bytes manyChunks;
    for (int i = 0; i <= cv::cli::kDeclaredFramesMaxChunks; ++i)
        manyChunks = concat({manyChunks, chunk("junk", {})});
    const struct {
        const char* name;
        Bytes file;
        std::optional<std::int64_t> frames;
    } table[] = {
        {"wav", wav(concat({format(1), data(4000)})), 1000},
        {"odd chunk before the format", wav(concat({chunk("LIST", {1, 2, 3}), format(1), data(4000)})), 1000},
        {"format after the data", wav(concat({chunk("data", Bytes(8)), format(1)})), 2},
        {"cut before the format", wav(data(4000)), std::nullopt},
        {"float, a part block", wav(concat({format(3), data(4003)})), 1000},
        {"streamed: no length", wav(concat({format(1), data(0xFFFFFFFF)})), std::nullopt},
        {"no data yet", wav(concat({format(1), data(0)})), std::nullopt},
        {"less than a block", wav(concat({format(1), data(3)})), std::nullopt},
        {"ADPCM blocks hold many frames", wav(concat({format(2), data(4000)})), std::nullopt},
        {"RF64 keeps its length elsewhere",
         concat({{'R', 'F', '6', '4', 0, 0, 0, 0}, {'W', 'A', 'V', 'E'}, format(1), data(4000)}),
         std::nullopt},
        {"format cut short", wav(chunk("fmt ", {1, 0, 2, 0})), std::nullopt},
        {"too many chunks", wav(concat({manyChunks, format(1), data(4000)})), std::nullopt},
        {"aiff", aiff("AIFF", concat({chunk("NAME", {'x'}, true), comm(1000, nullptr)})), 1000},
        {"aifc, uncompressed", aiff("AIFC", comm(1000, "sowt")), 1000},
        {"aifc, packets of frames", aiff("AIFC", comm(1000, "ima4")), std::nullopt},
        {"aiff of no length", aiff("AIFF", comm(0, nullptr)), std::nullopt},
        {"FLAC is libsndfile's to read", Bytes{'f', 'L', 'a', 'C', 0, 0, 0, 34, 0, 0, 0, 0}, std::nullopt},
        {"empty", {}, std::nullopt},
    };
    for (const auto& row : table) {
        SCOPED_TRACE(row.name);
        EXPECT_EQ(declaredFramesOf(row.file), row.frames);
    }
}

// A command's exit code and both its output streams, run as the user runs the program (piped: a file
// given on standard input).
cvtest::CommandRun runProgram(const std::string& args, const std::string& piped = "") {
    cvtest::ScratchFolder folder;
    const std::string errors = folder / "errors.txt";
    const std::string line =
        (piped.empty() ? "" : "cat '" + piped + "' | ") + CV_CLI_PROGRAM + " " + args + " 2>'" + errors + "'";
    std::FILE* pipe = ::popen(line.c_str(), "r");
    cvtest::CommandRun run;
    for (int c; (c = std::fgetc(pipe)) != EOF;)
        run.out.push_back(static_cast<char>(c));
    const int status = ::pclose(pipe);
    run.code = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    const auto bytes = cvtest::contentsOf(errors);
    run.err.assign(bytes.begin(), bytes.end());
    return run;
}

// Off a terminal, standard error holds only whole lines of warnings and errors: nothing for a whole take,
// and the one truncation warning, from every command that reads a cut take; the JSON report stays the
// one object on standard output.
TEST(CliCommands, WarnOnceOfATruncatedFileAndShowNoProgressOffATerminal) {
    cvtest::ScratchFolder folder;
    const std::string whole = folder / "whole.wav", cut = folder / "cut.wav", out = folder / "out.wav";
    writeAudio(whole, SF_FORMAT_WAV | SF_FORMAT_PCM_24, 1, kRate, cvtest::shortTake(kRate));
    writeAudio(cut, SF_FORMAT_WAV | SF_FORMAT_PCM_24, 1, kRate, cvtest::shortTake(kRate));
    cutTo(cut, 44 + 3 * kRate / 2); // half a second of 24-bit mono after the canonical header
    const std::string warning = " is truncated: 0.50 s of the 1.00 s its header declares were read.\n";
    const struct {
        std::string args;
        std::string piped;
        std::string err;
    } table[] = {
        {"analyse '" + whole + "'", "", ""},
        {"analyse --json '" + whole + "'", "", ""},
        {"analyse --json '" + cut + "'", "", "corvalinth: warning: " + cut + warning},
        {"analyse -", cut, "corvalinth: warning: standard input" + warning},
        {"render '" + cut + "' '" + out + "' --notes 1 --gain -6", "",
         "corvalinth: warning: " + cut + warning},
        {"host '" + cut + "' '" + out + "'", "", "corvalinth: warning: " + cut + warning},
    };
    for (const auto& row : table) {
        SCOPED_TRACE(row.args);
        const cvtest::CommandRun run = runProgram(row.args, row.piped);
        EXPECT_EQ(run.code, 0);
        EXPECT_EQ(run.err, row.err);
        if (row.args.starts_with("analyse --json")) {
            EXPECT_TRUE(run.out.starts_with("{\"file\":") && run.out.ends_with("}\n")) << run.out;
            EXPECT_EQ(run.out.find('\n'), run.out.size() - 1) << run.out;
        }
    }
}

// A stream that declares no length is held to the analysis's working set as its frames arrive: decoding
// stops within a chunk of the limit, with the sentence a file declaring as much gets before it is read.
TEST(CliAudioFile, RefusesAStreamWithoutALengthAsSoonAsItOutgrowsTheAnalysis) {
    cvtest::ScratchFolder folder;
    constexpr int rate = 8000;
    constexpr std::int64_t frames = 2000000;
    constexpr std::uint64_t workingSetBytes = 4 << 20;
    const std::string sized = folder / "sized.flac", unsized = folder / "unsized.flac";
    writeAudio(sized, SF_FORMAT_FLAC | SF_FORMAT_PCM_16, 1, rate, std::vector<float>(frames, 0.0f));
    std::filesystem::copy_file(sized, unsized);
    cvtest::claimFlacFrames(unsized, 0);
    const std::regex sentence(R"re(Analysis needs about (\d+) MiB\. Shorten the audio, convert stereo to )re"
                              R"re(mono, or use a lower sample rate \(512 MiB analysis limit\)\.)re");
    for (const Algorithm algorithm : {Algorithm::Melodic, Algorithm::Percussive}) {
        SCOPED_TRACE(algorithm == Algorithm::Melodic ? "melodic" : "percussive");
        LoadedAudio loaded;
        std::string error;
        ASSERT_FALSE(cv::cli::detail::readAudioFile(sized, algorithm, workingSetBytes, loaded, error));
        std::smatch words;
        ASSERT_TRUE(std::regex_match(error, words, sentence)) << error;
        EXPECT_GT(std::stoi(words[1]), 5) << "the whole file is planned";
        ASSERT_FALSE(cv::cli::detail::readAudioFile(unsized, algorithm, workingSetBytes, loaded, error));
        ASSERT_TRUE(std::regex_match(error, words, sentence)) << error;
        EXPECT_EQ(std::stoi(words[1]), 5) << "decoding went on past the limit";
        EXPECT_EQ(loaded.audio.frames, 0);
        // Within the analysis's own limit the stream is read whole.
        ASSERT_TRUE(cv::cli::readAudioFile(unsized, algorithm, loaded, error)) << error;
        EXPECT_EQ(loaded.audio.frames, frames);
        EXPECT_EQ(loaded.declaredFrames, 0);
    }
}

} // namespace
