#include "host/cli_args.h"

#include "host/cli_names.h"

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <limits>

namespace cv::cli {
namespace {

ParsedArgs refuse(std::string error) {
    return ParsedArgs{std::nullopt, std::nullopt, std::move(error), std::nullopt};
}

// Walks the arguments after the command: options "--name value" or "--name=value", and positionals.
class ArgWalker {
public:
    explicit ArgWalker(const std::vector<std::string>& args) : args_(args) {}

    bool done() const { return i_ >= args_.size(); }
    const std::string& current() const { return args_[i_]; }
    // Whether the current argument is an option ("-" alone names standard input).
    bool isOption() const { return current().size() > 1 && current()[0] == '-'; }
    // The option's name without its value.
    std::string name() const { return current().substr(0, current().find('=')); }
    // Moves on; for an option that takes a value, reads it into value (false when there is none).
    bool next(bool takesValue, std::string& value) {
        const std::string& arg = args_[i_++];
        if (!takesValue)
            return true;
        const std::size_t equals = arg.find('=');
        if (equals != std::string::npos) {
            value = arg.substr(equals + 1);
            return true;
        }
        if (done())
            return false;
        value = args_[i_++];
        return true;
    }

private:
    const std::vector<std::string>& args_;
    std::size_t i_ = 1;
};

bool parseAlgorithm(const std::string& value, Algorithm& algorithm, std::string& error) {
    if (value == "melodic")
        algorithm = Algorithm::Melodic;
    else if (value == "percussive")
        algorithm = Algorithm::Percussive;
    else
        error = "unknown algorithm " + quotedName(value) + ": use melodic or percussive";
    return error.empty();
}

ParsedArgs parseAnalyse(const std::vector<std::string>& args) {
    AnalyseCommand command;
    bool haveFile = false;
    for (ArgWalker walk(args); !walk.done();) {
        std::string value, error;
        if (!walk.isOption()) {
            if (haveFile)
                return refuse("only one file can be analysed at a time");
            command.file = walk.current();
            haveFile = true;
            walk.next(false, value);
        } else if (walk.name() == "--json" && walk.current() == "--json") {
            command.format = OutputFormat::Json;
            walk.next(false, value);
        } else if (walk.name() == "--algorithm") {
            if (!walk.next(true, value))
                return refuse("--algorithm needs a value: melodic or percussive");
            if (!parseAlgorithm(value, command.algorithm, error))
                return refuse(error);
        } else {
            return refuse("unknown option " + quotedName(walk.current()));
        }
    }
    if (!haveFile)
        return refuse("no audio file given");
    return ParsedArgs{command, std::nullopt, {}, std::nullopt};
}

bool parseNotes(const std::string& value, std::vector<std::uint32_t>& notes, std::string& error) {
    std::size_t at = 0;
    while (at <= value.size()) {
        const std::size_t comma = std::min(value.find(',', at), value.size());
        const std::string id = value.substr(at, comma - at);
        char* end = nullptr;
        errno = 0;
        const unsigned long long n = std::strtoull(id.c_str(), &end, 10);
        if (id.empty() || id[0] < '0' || id[0] > '9' || end != id.c_str() + id.size() || errno == ERANGE ||
            n < 1 || n > std::numeric_limits<std::uint32_t>::max()) {
            error = "--notes needs note ids from 1 as `analyse` prints them, separated by commas, not " +
                    quotedName(value);
            return false;
        }
        notes.push_back(static_cast<std::uint32_t>(n));
        at = comma + 1;
    }
    return true;
}

bool parseEngine(const std::string& value, EngineChoice& engine, std::string& error) {
    if (value == "auto")
        engine = EngineChoice::Automatic;
    else if (value == "psola")
        engine = EngineChoice::Psola;
    else if (value == "stretch")
        engine = EngineChoice::Stretch;
    else if (value == "vocoder")
        engine = EngineChoice::Vocoder;
    else
        error = "unknown engine " + quotedName(value) + ": use auto, psola, stretch or vocoder";
    return error.empty();
}

ParsedArgs parseRender(const std::vector<std::string>& args) {
    RenderCommand command;
    std::vector<std::string> files;
    for (ArgWalker walk(args); !walk.done();) {
        std::string value, error;
        if (!walk.isOption()) {
            files.push_back(walk.current());
            walk.next(false, value);
            continue;
        }
        const std::string name = walk.name();
        if (name == "--json" && walk.current() == "--json") {
            command.format = OutputFormat::Json;
            walk.next(false, value);
            continue;
        }
        const bool known = name == "--algorithm" || name == "--notes" || name == "--transpose" ||
                           name == "--formant" || name == "--gain" || name == "--stretch" ||
                           name == "--correct" || name == "--engine";
        if (!known)
            return refuse("unknown option " + quotedName(walk.current()));
        if (!walk.next(true, value))
            return refuse(name + " needs a value");
        bool ok = true;
        if (name == "--algorithm")
            ok = parseAlgorithm(value, command.algorithm, error);
        else if (name == "--notes")
            ok = parseNotes(value, command.notes, error);
        else if (name == "--transpose")
            ok = parseNumber(name, value, -24.0, 24.0, "semitones", command.transpose, error);
        else if (name == "--formant")
            ok = parseNumber(name, value, -12.0, 12.0, "semitones", command.formant, error);
        else if (name == "--gain")
            ok = parseNumber(name, value, -60.0, 24.0, "dB", command.gain, error);
        else if (name == "--stretch")
            ok = parseNumber(name, value, 0.125, 8.0, "", command.stretch, error);
        else if (name == "--correct")
            ok = parseNumber(name, value, 0.0, 1.0, "", command.correct, error);
        else
            ok = parseEngine(value, command.engine, error);
        if (!ok)
            return refuse(error);
    }
    if (files.size() != 2)
        return refuse(files.size() < 2 ? "render needs an input audio file and an output WAV file"
                                       : "render takes one input file and one output file");
    command.input = files[0];
    command.output = files[1];
    return ParsedArgs{std::nullopt, command, {}, std::nullopt};
}

ParsedArgs parseHost(const std::vector<std::string>& args) {
    HostCommand command;
    std::vector<std::string> files;
    for (ArgWalker walk(args); !walk.done();) {
        std::string value;
        if (!walk.isOption()) {
            files.push_back(walk.current());
            walk.next(false, value);
            continue;
        }
        if (walk.name() != "--edit")
            return refuse("unknown option " + quotedName(walk.current()));
        if (!walk.next(true, value) || value.empty())
            return refuse("--edit needs an edit script file");
        if (command.script)
            return refuse("only one edit script can be given");
        command.script = value;
    }
    if (files.size() != 2)
        return refuse(files.size() < 2 ? "host needs an input audio file and an output WAV file"
                                       : "host takes one input file and one output file");
    command.input = files[0];
    command.output = files[1];
    ParsedArgs parsed;
    parsed.host = std::move(command);
    return parsed;
}

// The number a word in decimal notation stands for: an optional sign, digits with at most one point
// among them, and an optional exponent ("-2.5", ".5", "1e-310"). Hexadecimal, "inf", "nan", spaces and
// anything after the number are not numbers. A value too small for a double is taken as the nearest
// one (a subnormal, or 0); a value too large for one is none.
std::optional<double> decimalNumber(std::string_view word) {
    std::size_t at = 0;
    const auto digits = [&] {
        const std::size_t from = at;
        while (at < word.size() && word[at] >= '0' && word[at] <= '9')
            ++at;
        return at - from;
    };
    const bool negative = at < word.size() && word[at] == '-';
    if (at < word.size() && (word[at] == '+' || word[at] == '-'))
        ++at;
    const std::size_t mantissa = at;
    std::size_t count = digits();
    if (at < word.size() && word[at] == '.') {
        ++at;
        count += digits();
    }
    if (count == 0)
        return std::nullopt;
    const std::size_t mantissaEnd = at;
    if (at < word.size() && (word[at] == 'e' || word[at] == 'E')) {
        ++at;
        if (at < word.size() && (word[at] == '+' || word[at] == '-'))
            ++at;
        if (digits() == 0)
            return std::nullopt;
    }
    if (at != word.size())
        return std::nullopt;
    // from_chars reads no leading '+' and the same digits in any locale.
    double x = 0.0;
    const std::size_t from = negative ? 0 : mantissa;
    const auto [end, ec] = std::from_chars(word.data() + from, word.data() + word.size(), x);
    if (ec == std::errc() && end == word.data() + word.size() && std::isfinite(x))
        return x + 0.0; // -0 reads as 0
    if (ec != std::errc::result_out_of_range)
        return std::nullopt;
    // Out of range either way: too small when the first significant digit stands after the point by
    // more places than the exponent moves it back.
    const std::string_view digitsOnly = word.substr(mantissa, mantissaEnd - mantissa);
    const std::size_t point = std::min(digitsOnly.find('.'), digitsOnly.size());
    const std::size_t first = digitsOnly.find_first_of("123456789");
    if (first == std::string_view::npos)
        return 0.0;
    // The power of ten of the first significant digit, the exponent's digits counted to at most ten
    // (the exponent of a double's range has four).
    std::int64_t power = first < point ? static_cast<std::int64_t>(point - first - 1)
                                       : -static_cast<std::int64_t>(first - point);
    if (mantissaEnd < word.size()) {
        std::string_view exponent = word.substr(mantissaEnd + 1);
        const bool down = exponent.front() == '-';
        if (exponent.front() == '+' || exponent.front() == '-')
            exponent.remove_prefix(1);
        std::int64_t e = 0;
        for (const char c : exponent)
            e = std::min<std::int64_t>(e * 10 + (c - '0'), 10000000000);
        power += down ? -e : e;
    }
    return power < 0 ? std::optional(0.0) : std::nullopt;
}

} // namespace

bool parseNumber(const std::string& option, const std::string& value, double low, double high,
                 const char* unit, std::optional<double>& out, std::string& error) {
    const std::optional<double> x = decimalNumber(value);
    if (!x || *x < low || *x > high) {
        char range[96];
        std::snprintf(range, sizeof range, "%g to %g%s%s", low, high, *unit ? " " : "", unit);
        error = option + " needs a number from " + range + ", not " + quotedWord(value);
        return false;
    }
    out = *x;
    return true;
}

std::string numberWord(double value) {
    char text[32]; // the longest shortest form of a double, "-2.2250738585072014e-308", has 24
    const std::to_chars_result written = std::to_chars(text, text + sizeof text, value);
    return std::string(text, written.ptr);
}

std::string quotedWord(std::string_view word) {
    std::string out = "\"";
    for (const char c : word.substr(0, kQuotedWordMaxBytes)) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte >= 0x20 && byte < 0x7F) {
            out += c;
        } else {
            char escaped[5];
            std::snprintf(escaped, sizeof escaped, "\\x%02X", byte);
            out += escaped;
        }
    }
    return out + (word.size() > kQuotedWordMaxBytes ? "...\"" : "\"");
}

ParsedArgs parseArgs(const std::vector<std::string>& args) {
    if (args.empty())
        return refuse("no command given");
    if (args[0] == "analyse" || args[0] == "analyze")
        return parseAnalyse(args);
    if (args[0] == "render")
        return parseRender(args);
    if (args[0] == "host")
        return parseHost(args);
    return refuse("unknown command " + quotedName(args[0]));
}

} // namespace cv::cli
