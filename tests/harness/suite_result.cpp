// Runs a GoogleTest program once for a whole suite (or all of its suites) and reports each case from the
// result file, so that a program paying a costly start-up (a GL context, a virtual X server) starts once a
// suite while CTest still counts every case as passed, failed or skipped (cmake/GTestSuites.cmake).
//
//   suite_result run <result.json> <program> [arguments...]
//     Runs the program with --gtest_output=json:<result.json>, its output passing through, and adds to the
//     result what each skipped case printed (GoogleTest's JSON report leaves out why a case was skipped).
//     Succeeds when the program ended normally and any failure it had is a case's own (the case's test
//     reports it); ends with kSkipped when every case it ran was skipped; fails otherwise: a crash, a
//     sanitizer's report, a failure outside every case (a suite's set-up or tear-down, a global test
//     environment's), or no readable result.
//   suite_result report <result.json> <suite> <case>
//     Succeeds when the case passed, ends with kSkipped when it was skipped or not run, and fails when
//     it failed or has no result, printing GoogleTest's messages for it.

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iostream>
#include <map>
#include <nlohmann/json.hpp>
#include <string>
#include <string_view>
#include <sys/wait.h>
#include <type_traits>
#include <unistd.h>
#include <vector>

namespace {

using nlohmann::json;

// CTest's SKIP_RETURN_CODE for both modes (the one GTestSuites.cmake registers).
constexpr int kSkipped = 77;
// The suite under which GoogleTest reports failures outside every case, as one case with no name.
constexpr std::string_view kOutsideCases = "NonTestSuiteFailure";
// The key under which the run keeps what a skipped case printed.
constexpr const char* kPrinted = "printed";

// The array under `key`, or an empty one when the object has none.
const json& arrayAt(const json& object, const char* key) {
    static const json kNone = json::array();
    const auto it = object.find(key);
    return it != object.end() && it->is_array() ? *it : kNone;
}

// The string under `key`, or an empty one when the object has none.
std::string textAt(const json& object, const char* key) {
    const auto it = object.find(key);
    return it != object.end() && it->is_string() ? it->get<std::string>() : std::string();
}

// A failure's message as the test wrote it. Where char is signed, GoogleTest escapes each byte from 0x80 up
// on its own ("\u00e2" for the first byte of "…"), so the parsed text holds one code point below 0x100 for
// each such byte, which UTF-8 writes as two bytes starting 0xC2 or 0xC3: those pairs become the byte again.
std::string messageOf(const json& failure) {
    const std::string parsed = textAt(failure, "failure");
    if constexpr (!std::is_signed_v<char>)
        return parsed;
    std::string bytes;
    for (std::size_t i = 0; i < parsed.size(); ++i) {
        const auto lead = static_cast<unsigned char>(parsed[i]);
        if ((lead == 0xC2 || lead == 0xC3) && i + 1 < parsed.size()) {
            const auto next = static_cast<unsigned char>(parsed[++i]);
            bytes += static_cast<char>(((lead & 0x03) << 6) | (next & 0x3F));
        } else {
            bytes += parsed[i];
        }
    }
    return bytes;
}

enum class ReadResult { kMissing, kNotJson, kRead };

// Reads the result file; when it is not JSON, `why` gets the parser's words.
ReadResult readResult(const char* path, json& result, std::string& why) {
    std::ifstream in(path, std::ios::binary);
    if (!in)
        return ReadResult::kMissing;
    try {
        result = json::parse(in);
    } catch (const json::parse_error& error) {
        why = error.what();
        return ReadResult::kNotJson;
    }
    if (!result.is_object()) {
        why = "not an object";
        return ReadResult::kNotJson;
    }
    return ReadResult::kRead;
}

struct Counts {
    int ran = 0, skipped = 0, failed = 0;
};

Counts countCases(const json& result) {
    Counts counts;
    for (const json& testSuite : arrayAt(result, "testsuites")) {
        if (textAt(testSuite, "name") == kOutsideCases)
            continue;
        for (const json& testCase : arrayAt(testSuite, "testsuite")) {
            if (textAt(testCase, "status") != "RUN")
                continue;
            ++counts.ran;
            if (!arrayAt(testCase, "failures").empty())
                ++counts.failed;
            else if (textAt(testCase, "result") == "SKIPPED")
                ++counts.skipped;
        }
    }
    return counts;
}

// The messages of the failures outside every case, each followed by a blank line; empty when none.
std::string failuresOutsideCases(const json& result) {
    std::string messages;
    for (const json& testSuite : arrayAt(result, "testsuites")) {
        if (textAt(testSuite, "name") != kOutsideCases)
            continue;
        for (const json& testCase : arrayAt(testSuite, "testsuite")) {
            for (const json& failure : arrayAt(testCase, "failures"))
                messages += messageOf(failure) + "\n\n";
        }
    }
    return messages;
}

// Follows the program's output line by line for what its JSON report lacks: a suite's own failure, which
// GoogleTest reports only in its closing lines, and what each skipped case printed, from its
// "[ RUN      ] Suite.Case" line to its "[  SKIPPED ] Suite.Case (0 ms)" line.
class OutputWatch {
public:
    bool suiteFailed = false;
    std::map<std::string, std::string, std::less<>> skippedPrinted; // by "Suite.Case"

    void line(std::string_view text) {
        constexpr std::size_t kMark = 13; // "[ RUN      ] "
        if (text.starts_with("[ RUN      ] ")) {
            current_ = text.substr(kMark);
            printed_.clear();
        } else if (current_.empty()) {
            // "[  FAILED  ] Suite: SetUpTestSuite or TearDownTestSuite"
            suiteFailed = suiteFailed || (text.starts_with("[  FAILED  ] ") &&
                                          text.ends_with(": SetUpTestSuite or TearDownTestSuite"));
        } else if (text.starts_with("[  SKIPPED ] ") && endsCurrent(text.substr(kMark))) {
            skippedPrinted[current_] = printed_;
            current_.clear();
        } else if ((text.starts_with("[       OK ] ") || text.starts_with("[  FAILED  ] ")) &&
                   endsCurrent(text.substr(kMark))) {
            current_.clear();
        } else {
            printed_.append(text).append("\n");
        }
    }

private:
    // "Suite.Case (0 ms)", or "Suite.Case/0, where GetParam() = 1 (0 ms)" after a failure.
    bool endsCurrent(std::string_view rest) const {
        return rest.starts_with(current_) && (rest.size() == current_.size() ||
                                              rest[current_.size()] == ' ' || rest[current_.size()] == ',');
    }

    std::string current_, printed_;
};

// Adds to each skipped case of the result what it printed, and writes the result back.
void keepSkippedPrinted(json& result, const OutputWatch& watch, const char* resultPath) {
    if (watch.skippedPrinted.empty() || !result["testsuites"].is_array())
        return;
    for (json& testSuite : result["testsuites"]) {
        const std::string suite = textAt(testSuite, "name");
        if (!testSuite.is_object() || !testSuite["testsuite"].is_array())
            continue;
        for (json& testCase : testSuite["testsuite"]) {
            const auto printed = watch.skippedPrinted.find(suite + "." + textAt(testCase, "name"));
            if (testCase.is_object() && printed != watch.skippedPrinted.end())
                testCase[kPrinted] = printed->second;
        }
    }
    // A case's output may hold bytes that are not UTF-8; they are replaced rather than refused.
    std::ofstream(resultPath, std::ios::binary | std::ios::trunc)
        << result.dump(2, ' ', false, json::error_handler_t::replace) << "\n";
}

int run(const char* resultPath, char** command) {
    std::remove(resultPath); // a result left by an earlier run must not speak for this one
    std::vector<std::string> words;
    for (char** word = command; *word != nullptr; ++word)
        words.emplace_back(*word);
    words.push_back(std::string("--gtest_output=json:") + resultPath);
    std::vector<char*> argv;
    for (std::string& word : words)
        argv.push_back(word.data());
    argv.push_back(nullptr);

    int out[2];
    if (pipe(out) != 0) {
        std::perror("suite_result: pipe");
        return 1;
    }
    const pid_t pid = fork();
    if (pid < 0) {
        std::perror("suite_result: fork");
        return 1;
    }
    if (pid == 0) {
        dup2(out[1], STDOUT_FILENO);
        close(out[0]);
        close(out[1]);
        execvp(argv[0], argv.data());
        std::fprintf(stderr, "suite_result: cannot start %s: %s\n", argv[0], std::strerror(errno));
        _exit(127);
    }
    close(out[1]);
    OutputWatch watch;
    std::string line;
    char chunk[4096];
    for (;;) {
        const ssize_t n = read(out[0], chunk, sizeof chunk);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            break;
        std::fwrite(chunk, 1, static_cast<std::size_t>(n), stdout);
        for (ssize_t i = 0; i < n; ++i) {
            if (chunk[i] != '\n') {
                line += chunk[i];
                continue;
            }
            watch.line(line);
            line.clear();
        }
    }
    close(out[0]);
    std::fflush(stdout);
    int status = 0;
    while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    if (WIFSIGNALED(status)) {
        std::cout << "\nThe program was ended by signal " << WTERMSIG(status) << ".\n";
        return 1;
    }
    const int code = WEXITSTATUS(status);
    json result;
    std::string why;
    switch (readResult(resultPath, result, why)) {
    case ReadResult::kMissing:
        std::cout << "\nThe program ended with status " << code << " and wrote no result.\n";
        return 1;
    case ReadResult::kNotJson:
        // GoogleTest 1.12 leaves out the comma before the suite it adds for such a failure.
        std::cout
            << "\nThe program ended with status " << code << ", and its result is not valid JSON (" << why
            << "). GoogleTest 1.12 writes such a result after a failure outside every test case, such as "
               "in a global test environment's set-up or tear-down (see the output above).\n";
        return 1;
    case ReadResult::kRead:
        break;
    }
    if (watch.suiteFailed) {
        std::cout << "\nA suite's set-up or tear-down failed (see the output above).\n";
        return 1;
    }
    if (const std::string outside = failuresOutsideCases(result); !outside.empty()) {
        std::cout
            << "\nA failure outside every test case (in a global test environment's set-up or tear-down, "
               "or where no test was running):\n\n"
            << outside;
        return 1;
    }
    keepSkippedPrinted(result, watch, resultPath);
    const Counts counts = countCases(result);
    if (code == 0 && counts.ran > 0)
        return counts.skipped == counts.ran ? kSkipped : 0;
    if (code == 1 && counts.failed > 0)
        return 0; // each failed case's own test fails and shows its messages
    std::cout << "\nThe program ended with status " << code << " after running " << counts.ran
              << " cases, of which " << counts.failed
              << " failed: something outside the cases failed (see the output above).\n";
    return 1;
}

int report(const char* resultPath, std::string_view suite, std::string_view name) {
    json result;
    std::string why;
    switch (readResult(resultPath, result, why)) {
    case ReadResult::kMissing:
        std::cout << "No result file " << resultPath << ": the run did not finish.\n";
        return 1;
    case ReadResult::kNotJson:
        std::cout << "The result file " << resultPath << " is not valid JSON (" << why << ").\n";
        return 1;
    case ReadResult::kRead:
        break;
    }
    for (const json& testSuite : arrayAt(result, "testsuites")) {
        if (textAt(testSuite, "name") != suite)
            continue;
        for (const json& testCase : arrayAt(testSuite, "testsuite")) {
            if (textAt(testCase, "name") != name)
                continue;
            const json& failures = arrayAt(testCase, "failures");
            for (const json& failure : failures)
                std::cout << messageOf(failure) << "\n\n";
            if (!failures.empty())
                return 1;
            if (textAt(testCase, "status") != "RUN") {
                std::cout << "Not run.\n";
                return kSkipped;
            }
            if (textAt(testCase, "result") == "SKIPPED") {
                const std::string printed = textAt(testCase, kPrinted);
                std::cout << (printed.empty() ? "Skipped.\n" : "Skipped; the case printed:\n" + printed);
                return kSkipped;
            }
            return 0;
        }
    }
    std::cout << "No result for " << suite << "." << name << " in " << resultPath << ".\n";
    return 1;
}

} // namespace

int main(int argc, char** argv) {
    const std::string_view mode = argc > 1 ? argv[1] : "";
    if (mode == "run" && argc >= 4)
        return run(argv[2], argv + 3);
    if (mode == "report" && argc == 5)
        return report(argv[2], argv[3], argv[4]);
    std::cerr << "usage: suite_result run <result.json> <program> [arguments...]\n"
                 "       suite_result report <result.json> <suite> <case>\n";
    return 2;
}
