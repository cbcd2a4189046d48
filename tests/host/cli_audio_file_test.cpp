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

// Writes value into bytes at offset, in the byte order given.
void put(std::vector<std::uint8_t>& bytes, std::size_t offset, std::uint32_t value, int size,
         bool bigEndian) {
    for (int i = 0; i < size; ++i)
        bytes[offset + i] = static_cast<std::uint8_t>(value >> (bigEndian ? 8 * (size - 1 - i) : 8 * i));
}

// A file cut short is read as far as it goes and tells how much its header declares; the whole file, and
// a file whose header declares no length, declare exactly what is read. A FLAC stream whose decoding
// stops before its last whole frame is damaged, not cut, and is refused.
TEST(CliAudioFile, ReadsAFileCutShortAndTellsWhatItsHeaderDeclares) {
    cvtest::ScratchFolder folder;
    // Cut::AfterARead leaves the frames of the reader's first read and part of the next frame, so that the
    // decoder stops at the start of a read, where libsndfile reports the stop as an error.
    enum class Cut { None, Frames, Half, AfterARead, Damaged };
    // What the header says: as written, no length (streamed into a pipe), twice the frames it holds, the
    // placeholder length sox writes into a pipe, or a block-align field that is not channels x sample bytes.
    enum class Header { AsWritten, NoLength, ClaimTwice, SoxPlaceholder, BlockAlign2, BlockAlign8 };
    const struct {
        const char* name;
        int format;
        int channels;
        Cut cut;
        Header header = Header::AsWritten;
        int rate = kRate; // the take lasts one second: as many frames
    } table[] = {
        {"16.wav", SF_FORMAT_WAV | SF_FORMAT_PCM_16, 1, Cut::Frames},
        {"24.wav", SF_FORMAT_WAV | SF_FORMAT_PCM_24, 2, Cut::Frames},
        {"float.wav", SF_FORMAT_WAV | SF_FORMAT_FLOAT, 1, Cut::Frames},
        {"rifx.wav", SF_FORMAT_WAV | SF_FORMAT_PCM_16 | SF_ENDIAN_BIG, 2, Cut::Frames},
        {"16.aiff", SF_FORMAT_AIFF | SF_FORMAT_PCM_16, 2, Cut::Frames},
        {"float.aifc", SF_FORMAT_AIFF | SF_FORMAT_FLOAT, 1, Cut::Frames},
        {"16.rf64", SF_FORMAT_RF64 | SF_FORMAT_PCM_16, 2, Cut::Frames},
        {"24.w64", SF_FORMAT_W64 | SF_FORMAT_PCM_24, 1, Cut::Frames},
        {"cut.flac", SF_FORMAT_FLAC | SF_FORMAT_PCM_16, 2, Cut::Half},
        {"claims.flac", SF_FORMAT_FLAC | SF_FORMAT_PCM_24, 1, Cut::None, Header::ClaimTwice},
        {"streamed.wav", SF_FORMAT_WAV | SF_FORMAT_PCM_16, 1, Cut::Frames, Header::NoLength},
        {"streamed.flac", SF_FORMAT_FLAC | SF_FORMAT_PCM_16, 1, Cut::Half, Header::NoLength},
        {"read.flac", SF_FORMAT_FLAC | SF_FORMAT_PCM_16, 1, Cut::AfterARead, Header::AsWritten, 96000},
        {"sox.wav", SF_FORMAT_WAV | SF_FORMAT_PCM_24, 2, Cut::None, Header::SoxPlaceholder},
        {"sox.aiff", SF_FORMAT_AIFF | SF_FORMAT_PCM_16, 1, Cut::None, Header::SoxPlaceholder},
        {"align2.wav", SF_FORMAT_WAV | SF_FORMAT_PCM_16, 2, Cut::None, Header::BlockAlign2},
        {"align8.wav", SF_FORMAT_WAV | SF_FORMAT_PCM_16, 2, Cut::Frames, Header::BlockAlign8},
        {"whole.wav", SF_FORMAT_WAV | SF_FORMAT_PCM_24, 1, Cut::None},
        {"whole.aiff", SF_FORMAT_AIFF | SF_FORMAT_PCM_24, 1, Cut::None},
        {"whole.flac", SF_FORMAT_FLAC | SF_FORMAT_PCM_16, 1, Cut::None},
        {"damaged.flac", SF_FORMAT_FLAC | SF_FORMAT_PCM_16, 1, Cut::Damaged},
        {"damaged-streamed.flac", SF_FORMAT_FLAC | SF_FORMAT_PCM_24, 2, Cut::Damaged, Header::NoLength},
    };
    for (const auto& row : table) {
        SCOPED_TRACE(row.name);
        const std::string path = folder / row.name;
        const std::int64_t frames = row.rate;
        writeAudio(path, row.format, row.channels, row.rate, cvtest::shortTake(row.rate, row.channels));
        auto bytes = cvtest::contentsOf(path);
        const std::size_t wholeBytes = bytes.size();
        const bool flac = (row.format & SF_FORMAT_TYPEMASK) == SF_FORMAT_FLAC;
        std::int64_t read = frames, declared = frames;
        // The fields of the canonical WAV header, of libsndfile's AIFF header, whose COMM chunk comes
        // first, and of the FLAC stream-info block.
        const std::uint32_t frameBytes =
            row.channels * ((row.format & SF_FORMAT_SUBMASK) == SF_FORMAT_PCM_24 ? 3 : 2);
        switch (row.header) {
        case Header::AsWritten:
            break;
        case Header::NoLength:
            flac ? put(bytes, 22, 0, 4, true) : put(bytes, 40, 0xFFFFFFFF, 4, false);
            declared = 0;
            break;
        case Header::ClaimTwice:
            put(bytes, 22, 2 * frames, 4, true);
            declared = 2 * frames;
            break;
        case Header::SoxPlaceholder:
            (row.format & SF_FORMAT_TYPEMASK) == SF_FORMAT_WAV
                ? put(bytes, 40, 0x7FFFF000 - 0x7FFFF000 % frameBytes, 4, false)
                : put(bytes, 22, 0x7F000000 / frameBytes, 4, true);
            declared = 0;
            break;
        case Header::BlockAlign2:
        case Header::BlockAlign8:
            put(bytes, 32, row.header == Header::BlockAlign2 ? 2 : 8, 2, false);
            break;
        }
        // Half a second and one frame short, and a part of the frame before; the header is smaller than a
        // frame each.
        const std::size_t frameBytesOnDisk = wholeBytes / frames;
        switch (row.cut) {
        case Cut::None:
            break;
        case Cut::Frames:
            bytes.resize(wholeBytes - (frames / 2 - 1) * frameBytesOnDisk - 1);
            read = frames / 2;
            break;
        case Cut::Half:
            bytes.resize(wholeBytes / 2);
            break;
        case Cut::AfterARead: {
            // The longest cut at which at most 65536 frames decode.
            std::size_t fewer = wholeBytes / 2, more = wholeBytes;
            while (more - fewer > 1) {
                const std::size_t middle = (fewer + more) / 2;
                cvtest::writeBytes(path,
                                   {bytes.begin(), bytes.begin() + static_cast<std::ptrdiff_t>(middle)});
                (decodedFrames(path) > 65536 ? more : fewer) = middle;
            }
            bytes.resize(fewer);
            break;
        }
        case Cut::Damaged:
            std::fill_n(bytes.begin() + wholeBytes / 3, 2000, 0);
            break;
        }
        cvtest::writeBytes(path, bytes);
        if (row.cut == Cut::Half || row.cut == Cut::AfterARead || row.cut == Cut::Damaged) {
            read = decodedFrames(path);
            ASSERT_TRUE(row.cut != Cut::AfterARead || read == 65536);
            ASSERT_GT(read, 0);
            ASSERT_LT(read, frames);
        }
        LoadedAudio loaded;
        std::string error;
        const bool accepted = cv::cli::readAudioFile(path, Algorithm::Melodic, loaded, error);
        if (row.cut == Cut::Damaged) {
            char expected[160];
            std::snprintf(expected, sizeof expected,
                          "%s is damaged: decoding stopped at %.2f s of the 1.00 s %s.", path.c_str(),
                          static_cast<double>(read) / row.rate,
                          declared == 0 ? "its last frame ends at" : "its header declares");
            EXPECT_FALSE(accepted);
            EXPECT_EQ(error, expected);
            continue;
        }
        ASSERT_TRUE(accepted) << error;
        EXPECT_EQ(loaded.audio.frames, read);
        EXPECT_EQ(loaded.declaredFrames, declared);
        // What was read is the take's start, within 16-bit rounding.
        const std::vector<float> take = cvtest::shortTake(row.rate, row.channels);
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
                          path.c_str(), static_cast<double>(read) / row.rate,
                          static_cast<double>(declared) / row.rate);
        EXPECT_EQ(cv::cli::truncatedFileNotice(path, loaded.audio.frames, loaded.declaredFrames, row.rate),
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
    return cv::cli::declaredHeader([&](std::uint64_t offset, std::span<std::uint8_t> bytes) -> std::size_t {
               if (offset >= file.size())
                   return 0;
               const std::size_t count = std::min<std::uint64_t>(bytes.size(), file.size() - offset);
               std::memcpy(bytes.data(), file.data() + offset, count);
               return count;
           })
        .frames;
}

// Headers made by hand: a length is found wherever the chunks lie, and only where it counts frames.
TEST(CliDeclaredFrames, FindsTheLengthOnlyWhereTheHeaderDeclaresFrames) {
    // Stereo at 48000 Hz; PCM (tag 1), 16-bit: 4-byte frames, which the block-align field may misstate.
    const auto format = [](std::uint8_t tag, std::uint8_t blockAlign = 4, std::uint8_t bits = 16) {
        return chunk("fmt ", {tag, 0, 2, 0, 0x80, 0xBB, 0, 0, 0, 0xEE, 2, 0, blockAlign, 0, bits, 0});
    };
    const auto wav = [](const Bytes& chunks) {
        return concat({{'R', 'I', 'F', 'F', 0, 0, 0, 0}, {'W', 'A', 'V', 'E'}, chunks});
    };
    const auto data = [](std::uint32_t size) { return chunk("data", {}, false, size); };
    const auto u64 = [](std::uint64_t value) {
        Bytes out;
        for (int i = 0; i < 8; ++i)
            out.push_back(static_cast<std::uint8_t>(value >> 8 * i));
        return out;
    };
    // RF64 keeps its sizes in the ds64 chunk: the file's, the data's, the samples', and a table of others.
    const auto rf64 = [&](std::uint64_t dataBytes) {
        return concat({{'R', 'F', '6', '4', 0xFF, 0xFF, 0xFF, 0xFF, 'W', 'A', 'V', 'E'},
                       chunk("ds64", concat({u64(0), u64(dataBytes), u64(0), {0, 0, 0, 0}})),
                       format(1),
                       data(0xFFFFFFFF)});
    };
    // Wave64 names its chunks by GUID, and its 64-bit sizes count the 24-byte chunk header.
    const auto w64 = [&](const Bytes& fmtBody, std::uint64_t dataSize) {
        const Bytes suffix{0xF3, 0xAC, 0xD3, 0x11, 0x8C, 0xD1, 0x00, 0xC0, 0x4F, 0x8E, 0xDB, 0x8A};
        return concat({{'r', 'i', 'f', 'f', 0x2E, 0x91, 0xCF, 0x11, 0xA5, 0xD6, 0x28, 0xDB, 0x04, 0xC1, 0, 0},
                       u64(0),
                       {'w', 'a', 'v', 'e'},
                       suffix,
                       {'f', 'm', 't', ' '},
                       suffix,
                       u64(24 + fmtBody.size()),
                       fmtBody,
                       {'d', 'a', 't', 'a'},
                       suffix,
                       u64(dataSize)});
    };
    Bytes w64Format = format(1);
    w64Format.erase(w64Format.begin(), w64Format.begin() + 8); // its body
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
        {"block align says 2", wav(concat({format(1, 2), data(4000)})), 1000},
        {"block align says 0", wav(concat({format(1, 0), data(4000)})), 1000},
        {"sox's placeholder: no length", wav(concat({format(1), data(0x7FFFF000)})), std::nullopt},
        {"sox's placeholder in 6-byte frames", wav(concat({format(1, 6, 24), data(0x7FFFEFFC)})),
         std::nullopt},
        {"not sox's placeholder", wav(concat({format(1, 6, 24), data(0x7FFFF000)})), 0x7FFFF000 / 6},
        {"RF64 with its ds64", rf64(4000), 1000},
        {"RF64 of no length", rf64(0), std::nullopt},
        {"W64", w64(w64Format, 24 + 4000), 1000},
        {"W64 from sox into a pipe", w64(w64Format, 0x17), std::nullopt},
        {"W64 format cut short", w64(Bytes(4), 24 + 4000), std::nullopt},
        {"too many chunks", wav(concat({manyChunks, format(1), data(4000)})), std::nullopt},
        {"aiff", aiff("AIFF", concat({chunk("NAME", {'x'}, true), comm(1000, nullptr)})), 1000},
        {"aifc, uncompressed", aiff("AIFC", comm(1000, "sowt")), 1000},
        {"aifc, packets of frames", aiff("AIFC", comm(1000, "ima4")), std::nullopt},
        {"aiff of no length", aiff("AIFF", comm(0, nullptr)), std::nullopt},
        {"aiff with sox's placeholder", aiff("AIFF", comm(0x7F000000 / 2, nullptr)), std::nullopt},
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

// Off a terminal, standard error holds only whole lines of warnings and errors: nothing for a whole take
// (nor for one piped with sox's placeholder length), and the one truncation warning, from every command
// that reads a cut take; the JSON report stays the one object on standard output. A damaged take is
// refused, and nothing is written.
TEST(CliCommands, WarnOnceOfATruncatedFileAndShowNoProgressOffATerminal) {
    cvtest::ScratchFolder folder;
    const std::string whole = folder / "whole.wav", cut = folder / "cut.wav", out = folder / "out.wav",
                      sox = folder / "sox.wav", damaged = folder / "damaged.flac",
                      unwritten = folder / "no.wav";
    writeAudio(whole, SF_FORMAT_WAV | SF_FORMAT_PCM_24, 1, kRate, cvtest::shortTake(kRate));
    writeAudio(cut, SF_FORMAT_WAV | SF_FORMAT_PCM_24, 1, kRate, cvtest::shortTake(kRate));
    cutTo(cut, 44 + 3 * kRate / 2); // half a second of 24-bit mono after the canonical header
    auto bytes = cvtest::contentsOf(whole);
    put(bytes, 40, 0x7FFFEFFF, 4, false); // 0x7FFFF000 in whole 3-byte frames
    cvtest::writeBytes(sox, bytes);
    writeAudio(damaged, SF_FORMAT_FLAC | SF_FORMAT_PCM_16, 1, kRate, cvtest::shortTake(kRate));
    bytes = cvtest::contentsOf(damaged);
    std::fill_n(bytes.begin() + bytes.size() / 3, 2000, 0);
    cvtest::writeBytes(damaged, bytes);
    char stopped[16];
    std::snprintf(stopped, sizeof stopped, "%.2f", static_cast<double>(decodedFrames(damaged)) / kRate);
    const std::string warning = " is truncated: 0.50 s of the 1.00 s its header declares were read.\n";
    const struct {
        std::string args;
        std::string piped;
        std::string err;
        int code = 0;
    } table[] = {
        {"analyse '" + whole + "'", "", ""},
        {"analyse --json '" + whole + "'", "", ""},
        {"analyse --json '" + cut + "'", "", "corvalinth: warning: " + cut + warning},
        {"analyse -", cut, "corvalinth: warning: standard input" + warning},
        {"analyse -", sox, ""},
        {"render '" + cut + "' '" + out + "' --notes 1 --gain -6", "",
         "corvalinth: warning: " + cut + warning},
        {"host '" + cut + "' '" + out + "'", "", "corvalinth: warning: " + cut + warning},
        {"render '" + damaged + "' '" + unwritten + "' --gain -6", "",
         "corvalinth: " + damaged + " is damaged: decoding stopped at " + stopped +
             " s of the 1.00 s its header declares.\n",
         1},
    };
    for (const auto& row : table) {
        SCOPED_TRACE(row.args);
        const cvtest::CommandRun run = runProgram(row.args, row.piped);
        EXPECT_EQ(run.code, row.code);
        EXPECT_EQ(run.err, row.err);
        if (row.args.starts_with("analyse --json")) {
            EXPECT_TRUE(run.out.starts_with("{\"file\":") && run.out.ends_with("}\n")) << run.out;
            EXPECT_EQ(run.out.find('\n'), run.out.size() - 1) << run.out;
        }
    }
    EXPECT_FALSE(std::filesystem::exists(unwritten));
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
