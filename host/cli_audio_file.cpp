#include "host/cli_audio_file.h"

#include "engine/analysis/analysis_plan.h"
#include "host/cli_declared_frames.h"
#include "host/cli_files.h"
#include "host/cli_flac_end.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <iomanip>
#include <memory>
#include <optional>
#include <sndfile.h>
#include <sstream>
#include <stdexcept>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>
#include <vector>

namespace cv::cli {
namespace {

// Frames read per call: bounded so that the interleaved staging buffer stays small.
constexpr sf_count_t kChunkFrames = 65536;
// The first room taken for the samples; it then doubles as decoding goes on.
constexpr std::int64_t kFirstCapacityFrames = std::int64_t{1} << 20;
// Standard input is copied to disk up to the largest file that can lie within the limits: every sample
// the buffer holds, coded in 64 bits, plus 64 MiB of other chunks.
constexpr std::uint64_t kStandardInputMaxBytes = np::AudioBuffer::kMaxSamples * 8 + (std::uint64_t{64} << 20);
// libsndfile's code for a header whose shape is incomplete, which it gives for a WAV sample rate of 0 or
// past 2^31 - 1 Hz.
constexpr int kSndfileIncompleteInfo = 24;

struct SndfileCloser {
    void operator()(SNDFILE* file) const { sf_close(file); }
};

std::string number(double value) {
    std::ostringstream text;
    text << value;
    return text.str();
}

std::string systemReason(int errorNumber) {
    return std::strerror(errorNumber);
}

// A redirected file is read in place; a pipe is copied to an unnamed temporary file first, because
// formats such as FLAC, and WAV files whose header was written before their length was known, must seek.
int openStandardInput(std::string& error) {
    struct stat status {};
    const auto fail = [&error](const std::string& sentence) {
        error = sentence;
        return -1;
    };
    if (::fstat(STDIN_FILENO, &status) == 0 && S_ISREG(status.st_mode)) {
        const int fd = ::dup(STDIN_FILENO);
        return fd >= 0 ? fd : fail("Could not read standard input: " + systemReason(errno) + ".");
    }
    std::unique_ptr<std::FILE, int (*)(std::FILE*)> spool(std::tmpfile(), &std::fclose);
    if (!spool)
        return fail("Could not store standard input: " + systemReason(errno) + ".");
    std::vector<char> block(1 << 20);
    std::uint64_t total = 0;
    for (;;) {
        const ssize_t got = ::read(STDIN_FILENO, block.data(), block.size());
        if (got < 0 && errno == EINTR)
            continue;
        if (got < 0)
            return fail("Could not read standard input: " + systemReason(errno) + ".");
        if (got == 0)
            break;
        total += static_cast<std::uint64_t>(got);
        if (total > kStandardInputMaxBytes)
            return fail("Standard input holds more than " + std::to_string(kStandardInputMaxBytes) +
                        " bytes, more than any audio within the limits; save it to a file.");
        if (std::fwrite(block.data(), 1, static_cast<std::size_t>(got), spool.get()) !=
            static_cast<std::size_t>(got))
            return fail("Could not store standard input: " + systemReason(errno) + ".");
    }
    if (std::fflush(spool.get()) != 0)
        return fail("Could not store standard input: " + systemReason(errno) + ".");
    // The copy has no name; the descriptor keeps it alive after the stream is closed.
    FileDescriptor fd(::dup(::fileno(spool.get())));
    if (fd.get() < 0 || ::lseek(fd.get(), 0, SEEK_SET) != 0)
        return fail("Could not store standard input: " + systemReason(errno) + ".");
    return fd.release();
}

// Reads the file open on fd from start, where the descriptor stood when libsndfile was given it.
ReadBytesAt bytesFrom(int fd, off_t start) {
    return [fd, start](std::uint64_t offset, std::span<std::uint8_t> bytes) {
        std::size_t done = 0;
        while (done < bytes.size()) {
            const ssize_t got = ::pread(fd, bytes.data() + done, bytes.size() - done,
                                        start + static_cast<off_t>(offset + done));
            if (got < 0 && errno == EINTR)
                continue;
            if (got <= 0)
                break;
            done += static_cast<std::size_t>(got);
        }
        return done;
    };
}

// A rate as a header declares it, in plain decimals (never in exponent notation): whole hertz in full, a
// fraction to six places or as many more as it takes not to read as whole, and past what any 64-bit field
// holds, a bound.
std::string hertz(long double hz) {
    constexpr long double kBeyond = 1e18L;
    if (!(std::abs(hz) < kBeyond))
        return hz < 0 ? "less than -1000000000000000000" : "more than 1000000000000000000";
    if (hz == std::floor(hz))
        return std::to_string(static_cast<std::int64_t>(hz));
    std::string digits;
    for (int places = 6; places <= 24 && digits.find_last_not_of('0') == digits.find('.'); places += 6) {
        std::ostringstream text;
        text << std::fixed << std::setprecision(places) << hz;
        digits = text.str();
    }
    digits.erase(digits.find_last_not_of('0') + 1);
    return digits;
}

// The sentence for a FLAC stream whose decoding stopped at stoppedFrames, although its final frame, whole
// in the file, ends at endFrames; declaredFrames is 0 for a stream that declares no length.
std::string damagedRefusal(const std::string& name, std::int64_t stoppedFrames, std::int64_t endFrames,
                           std::int64_t declaredFrames, double rate) {
    const auto seconds = [rate](std::int64_t frames) {
        char text[32];
        std::snprintf(text, sizeof text, "%.2f", static_cast<double>(frames) / rate);
        return std::string(text);
    };
    const std::string whose = declaredFrames == endFrames ? "its header declares" : "its last frame ends at";
    // Where the seconds would read alike, the frames tell the two apart.
    if (seconds(stoppedFrames) == seconds(endFrames))
        return name + " is damaged: decoding stopped at frame " + std::to_string(stoppedFrames) + " of the " +
               std::to_string(endFrames) + " frames " + whose + ".";
    return name + " is damaged: decoding stopped at " + seconds(stoppedFrames) + " s of the " +
           seconds(endFrames) + " s " + whose + ".";
}

// The sentence for audio beyond a limit, or empty when frames of channels at rate fit. decoded says
// whether frames were counted while decoding (the file holds at least that many) or declared.
std::string sizeRefusal(const std::string& name, int channels, std::int64_t frames, double rate,
                        bool decoded) {
    const std::string atLeast = decoded ? "at least " : "";
    if (static_cast<double>(frames) / rate > np::kAnalysisMaxSeconds)
        return name + " lasts " + atLeast +
               number(std::round(static_cast<double>(frames) / rate * 10.0) / 10.0) +
               " s; at most 1200 s can be analysed.";
    const std::int64_t samples = channels * frames;
    if (samples <= np::AudioBuffer::kMaxSamples)
        return {};
    const double fitSeconds = static_cast<double>(np::AudioBuffer::kMaxSamples / channels) / rate;
    return name + " holds " + atLeast + std::to_string(samples) + " samples (" + std::to_string(channels) +
           (channels == 1 ? " channel x " : " channels x ") + std::to_string(frames) +
           " frames); an audio buffer holds at most " + std::to_string(np::AudioBuffer::kMaxSamples) +
           " samples, " + number(std::floor(fitSeconds * 10.0) / 10.0) + " s of " +
           (channels == 1 ? "mono" : "stereo") + " audio at " + number(rate) + " Hz.";
}

// Planar samples whose room grows with what was decoded. Channel c starts at c x capacity, so a file that
// ends where its header said is handed on without a copy.
class PlanarSamples {
public:
    explicit PlanarSamples(int channels) : channels_(channels) {}

    std::int64_t frames() const { return frames_; }
    std::int64_t capacity() const { return capacity_; }

    void grow(std::int64_t capacity) {
        std::vector<float> larger(static_cast<std::size_t>(channels_) * static_cast<std::size_t>(capacity));
        for (int c = 0; c < channels_; ++c)
            std::copy_n(samples_.begin() + c * capacity_, frames_, larger.begin() + c * capacity);
        samples_.swap(larger);
        capacity_ = capacity;
    }

    // Appends count interleaved frames (room must be there); NaN and infinite samples become 0 so that one
    // bad value cannot split a held note. Returns how many were replaced.
    std::int64_t append(const float* interleaved, std::int64_t count) {
        std::int64_t replaced = 0;
        for (int c = 0; c < channels_; ++c) {
            float* out = samples_.data() + c * capacity_ + frames_;
            for (std::int64_t i = 0; i < count; ++i) {
                const float x = interleaved[i * channels_ + c];
                const bool finite = std::isfinite(x);
                out[i] = finite ? x : 0.0f;
                replaced += finite ? 0 : 1;
            }
        }
        frames_ += count;
        return replaced;
    }

    np::AudioBuffer take() {
        // Each channel moves towards the start, so copying forwards never overwrites what is still to come.
        for (int c = 1; c < channels_; ++c)
            std::copy_n(samples_.begin() + c * capacity_, frames_, samples_.begin() + c * frames_);
        samples_.resize(static_cast<std::size_t>(channels_) * static_cast<std::size_t>(frames_));
        if (capacity_ != frames_)
            samples_.shrink_to_fit();
        np::AudioBuffer audio;
        audio.samples = std::move(samples_);
        audio.channels = channels_;
        audio.frames = frames_;
        return audio;
    }

private:
    int channels_;
    std::int64_t frames_ = 0;
    std::int64_t capacity_ = 0;
    std::vector<float> samples_;
};

} // namespace

bool readAudioFile(const std::string& path, Algorithm algorithm, LoadedAudio& out, std::string& error) {
    return detail::readAudioFile(path, algorithm, np::kAnalysisWorkingSetBytes, out, error);
}

bool detail::readAudioFile(const std::string& path, Algorithm algorithm, std::uint64_t workingSetBytes,
                           LoadedAudio& out, std::string& error) {
    const bool standardInput = path == "-";
    const std::string name = inputName(path);
    const FileDescriptor fd(standardInput ? openStandardInput(error)
                                          : openRegularFile(path, path, "an audio file", error));
    if (fd.get() < 0)
        return false;
    // libsndfile reads from where the descriptor stands (standard input may be a file read in part).
    const off_t start = ::lseek(fd.get(), 0, SEEK_CUR);
    struct stat status {};
    const std::uint64_t fileBytes = start >= 0 && ::fstat(fd.get(), &status) == 0 && status.st_size > start
                                        ? static_cast<std::uint64_t>(status.st_size - start)
                                        : 0;
    const ReadBytesAt bytes = bytesFrom(fd.get(), std::max<off_t>(start, 0));
    const DeclaredHeader header = start >= 0 ? declaredHeader(bytes) : DeclaredHeader{};
    // The rate as the header declares it where it can be read, since libsndfile cannot report a WAV rate
    // past 2^31 - 1 Hz and reports an AIFF rate of 0 Hz as 1 Hz and any past 2^31 as 800000000 Hz.
    const auto rateRefusal = [&](const char* verb, long double reported) {
        return name + " " + verb + " a sample rate of " + hertz(header.sampleRateHz.value_or(reported)) +
               " Hz; rates from 8000 to 384000 Hz can be analysed.";
    };
    const auto analysable = [](long double rate) {
        return rate >= np::kAnalysisMinSampleRate && rate <= np::kAnalysisMaxSampleRate;
    };
    SF_INFO info{};
    const std::unique_ptr<SNDFILE, SndfileCloser> file(sf_open_fd(fd.get(), SFM_READ, &info, SF_FALSE));
    if (!file) {
        error = sf_error(nullptr) == kSndfileIncompleteInfo && !analysable(header.sampleRateHz.value_or(0))
                    ? rateRefusal("declares", 0)
                    : "Could not read " + name + ": " + sf_strerror(nullptr);
        return false;
    }
    if (info.channels < 1 || info.channels > np::kAnalysisMaxChannels) {
        error = name + " has " + std::to_string(info.channels) +
                " channels; only mono and stereo can be analysed.";
        return false;
    }
    const double rate = info.samplerate;
    if (!analysable(rate)) {
        error = rateRefusal("has", rate);
        return false;
    }
    const int channels = info.channels;
    // A stream encoded before its length was known (FLAC written into a pipe) declares none, which
    // libsndfile reports as the largest count; its length is then what decoding finds.
    const bool lengthDeclared = info.frames != SF_COUNT_MAX;
    const std::int64_t declared = lengthDeclared ? info.frames : 0;
    error = sizeRefusal(name, channels, declared, rate, false);
    if (!error.empty())
        return false;
    // Audio whose analysis would not fit its working set is refused before a sample of it is read; audio
    // that declares no length, as soon as the frames decoded outgrow it.
    const auto fitsWorkingSet = [&](std::int64_t frames) {
        const np::AnalysisConfig config;
        const np::AnalysisMemoryPlan plan =
            algorithm == Algorithm::Percussive
                ? np::planPercussiveAnalysisMemory(channels, frames, rate, config)
                : np::planMelodicAnalysisMemory(channels, frames, rate, config);
        return std::pair(plan.ok && plan.totalBytes <= workingSetBytes, plan.totalBytes);
    };
    const auto beyondWorkingSet = [&](std::int64_t frames) {
        const auto [fits, bytes] = fitsWorkingSet(frames);
        if (frames == 0 || fits)
            return false;
        try {
            np::throwAnalysisWorkingSetError(bytes);
        } catch (const std::length_error& refusal) {
            error = refusal.what();
        }
        return true;
    };
    if (beyondWorkingSet(declared))
        return false;

    // The declared length caps the room taken until decoding passes it; the limits cap it after that, and
    // for audio that declares no length, the most frames whose analysis fits its working set.
    const auto limitFrames = std::min(static_cast<std::int64_t>(np::kAnalysisMaxSeconds * rate),
                                      np::AudioBuffer::kMaxSamples / channels);
    const auto roomFor = [&](std::int64_t needed, std::int64_t wanted) {
        if (lengthDeclared || fitsWorkingSet(wanted).first)
            return wanted;
        // needed fits; the working set grows with the frames, so the most that fit lie in between.
        std::int64_t fits = needed;
        while (wanted - fits > 1) {
            const std::int64_t middle = fits + (wanted - fits) / 2;
            (fitsWorkingSet(middle).first ? fits : wanted) = middle;
        }
        return fits;
    };
    PlanarSamples samples(channels);
    std::vector<float> chunk(static_cast<std::size_t>(kChunkFrames * channels));
    std::int64_t replaced = 0;
    for (;;) {
        const sf_count_t got = sf_readf_float(file.get(), chunk.data(), kChunkFrames);
        if (got <= 0)
            break;
        const std::int64_t needed = samples.frames() + got;
        if (needed > limitFrames) {
            error = sizeRefusal(name, channels, needed, rate, true);
            return false;
        }
        if (!lengthDeclared && beyondWorkingSet(needed))
            return false;
        if (needed > samples.capacity()) {
            const std::int64_t ceiling = needed <= declared ? declared : limitFrames;
            samples.grow(roomFor(
                needed, std::min(std::max({2 * samples.capacity(), needed, kFirstCapacityFrames}), ceiling)));
        }
        replaced += samples.append(chunk.data(), got);
    }
    // libsndfile's FLAC decoder stops at the first frame it cannot decode, as it does at the end of a file
    // cut short, and reports an error or not as the stop falls within a read. A stream that stops before
    // its final frame, whole in the file, is damaged; one whose file does not end with a whole frame was
    // cut short and is read as far as it goes.
    const int container = info.format & SF_FORMAT_TYPEMASK;
    bool endsWithoutAWholeFrame = false;
    if (container == SF_FORMAT_FLAC) {
        const std::optional<std::int64_t> endFrames = flacEndFrames(bytes, fileBytes);
        if (endFrames && samples.frames() < *endFrames) {
            error = damagedRefusal(name, samples.frames(), *endFrames, declared, rate);
            return false;
        }
        endsWithoutAWholeFrame = !endFrames;
    }
    if (sf_error(file.get()) != SF_ERR_NO_ERROR && !(endsWithoutAWholeFrame && samples.frames() > 0)) {
        error = "Could not read " + name + ": " + sf_strerror(file.get());
        return false;
    }
    if (samples.frames() == 0) {
        error = name + " holds no audio.";
        return false;
    }
    // A file cut short is read as far as it goes; the caller tells the user how much is missing. libsndfile
    // counts the frames a cut WAV, RF64, Wave64 or AIFF file still holds, so the header itself says what
    // was declared.
    const bool headerCounts = container == SF_FORMAT_WAV || container == SF_FORMAT_WAVEX ||
                              container == SF_FORMAT_RF64 || container == SF_FORMAT_W64 ||
                              container == SF_FORMAT_AIFF;
    out.declaredFrames = headerCounts ? header.frames.value_or(0) : declared;
    out.audio = samples.take();
    out.sampleRate = rate;
    out.replacedSamples = replaced;
    out.fileFormat = info.format;
    return true;
}

} // namespace cv::cli
