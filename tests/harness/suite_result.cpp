// Runs a GoogleTest program once for a whole suite (or all of its suites) and reports each case from the
// result file, so that a program paying a costly start-up (a GL context, a virtual X server) starts once a
// suite while CTest still counts every case as passed, failed or skipped (cmake/GTestSuites.cmake).
//
//   suite_result run <result.xml> <program> [arguments...]
//     Runs the program with --gtest_output=xml:<result.xml>, its output passing through. Succeeds when
//     the program ended normally and any failure it had is a case's own (the case's test reports it);
//     ends with kSkipped when every case it ran was skipped; fails otherwise: a crash, a sanitizer's
//     report, a failure outside every case (a suite's set-up or tear-down, a global test environment's),
//     or no readable result.
//   suite_result report <result.xml> <suite> <case>
//     Succeeds when the case passed, ends with kSkipped when it was skipped or not run, and fails when
//     it failed or has no result, printing GoogleTest's messages for it.
//
// The result is read with pugixml, so a message holding markup ("</testcase>", quotes, "]]>") is text.

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <iostream>
#include <pugixml.hpp>
#include <string>
#include <string_view>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace {

// CTest's SKIP_RETURN_CODE for both modes (the one GTestSuites.cmake registers).
constexpr int kSkipped = 77;
// The suite under which GoogleTest reports failures outside every case, as one case with no name.
constexpr std::string_view kOutsideCases = "NonTestSuiteFailure";

// What a failure or skip element says: its text (GoogleTest's CDATA, split around any "]]>"), or its
// message attribute when it has none.
std::string elementText(const pugi::xml_node& element) {
    std::string text;
    for (const pugi::xml_node part : element.children())
        if (part.type() == pugi::node_cdata || part.type() == pugi::node_pcdata)
            text += part.value();
    return text.empty() ? element.attribute("message").value() : text;
}

// Reads the result file; false with the reason in `why` when there is none or it is not XML.
bool readResult(const char* path, pugi::xml_document& result, std::string& why) {
    const pugi::xml_parse_result parsed = result.load_file(path);
    if (parsed)
        return true;
    why = parsed.status == pugi::status_file_not_found ? "" : parsed.description();
    return false;
}

bool isOutsideCases(const pugi::xml_node& testSuite) {
    return testSuite.attribute("name").value() == kOutsideCases;
}

struct Counts {
    int ran = 0, skipped = 0, failed = 0;
};

Counts countCases(const pugi::xml_document& result) {
    Counts counts;
    for (const pugi::xml_node testSuite : result.child("testsuites").children("testsuite")) {
        if (isOutsideCases(testSuite))
            continue;
        for (const pugi::xml_node testCase : testSuite.children("testcase")) {
            if (std::string_view(testCase.attribute("status").value()) != "run")
                continue;
            ++counts.ran;
            if (testCase.child("failure"))
                ++counts.failed;
            else if (std::string_view(testCase.attribute("result").value()) == "skipped")
                ++counts.skipped;
        }
    }
    return counts;
}

// The messages of the failures outside every case, each followed by a blank line; empty when none.
std::string failuresOutsideCases(const pugi::xml_document& result) {
    std::string messages;
    for (const pugi::xml_node testSuite : result.child("testsuites").children("testsuite")) {
        if (!isOutsideCases(testSuite))
            continue;
        for (const pugi::xml_node testCase : testSuite.children("testcase"))
            for (const pugi::xml_node failure : testCase.children("failure"))
                messages += elementText(failure) + "\n\n";
    }
    return messages;
}

int run(const char* resultPath, char** command) {
    std::remove(resultPath); // a result left by an earlier run must not speak for this one
    std::vector<std::string> words;
    for (char** word = command; *word != nullptr; ++word)
        words.emplace_back(*word);
    words.push_back(std::string("--gtest_output=xml:") + resultPath);
    std::vector<char*> argv;
    for (std::string& word : words)
        argv.push_back(word.data());
    argv.push_back(nullptr);

    // The program's standard output passes through here: GoogleTest leaves a suite's own failure (its
    // set-up or tear-down) out of its result and reports it only in its closing lines.
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
    bool suiteFailed = false;
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
            // "[  FAILED  ] Suite: SetUpTestSuite or TearDownTestSuite"
            suiteFailed = suiteFailed || (line.starts_with("[  FAILED  ] ") &&
                                          line.ends_with(": SetUpTestSuite or TearDownTestSuite"));
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
    pugi::xml_document result;
    std::string why;
    if (!readResult(resultPath, result, why)) {
        std::cout << "\nThe program ended with status " << code
                  << (why.empty() ? " and wrote no result.\n"
                                  : " and its result is not XML (" + why + ").\n");
        return 1;
    }
    if (suiteFailed) {
        std::cout << "\nA suite's set-up or tear-down failed (see the output above).\n";
        return 1;
    }
    if (const std::string outside = failuresOutsideCases(result); !outside.empty()) {
        std::cout << "\nA failure outside every test case (in a global test environment's set-up or "
                     "tear-down, or where no test was running):\n\n"
                  << outside;
        return 1;
    }
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
    pugi::xml_document result;
    std::string why;
    if (!readResult(resultPath, result, why)) {
        std::cout << (why.empty()
                          ? "No result file " + std::string(resultPath) + ": the run did not finish.\n"
                          : "The result file " + std::string(resultPath) + " is not XML (" + why + ").\n");
        return 1;
    }
    for (const pugi::xml_node testSuite : result.child("testsuites").children("testsuite")) {
        if (testSuite.attribute("name").value() != suite)
            continue;
        for (const pugi::xml_node testCase : testSuite.children("testcase")) {
            if (testCase.attribute("name").value() != name)
                continue;
            bool failed = false;
            for (const pugi::xml_node failure : testCase.children("failure")) {
                std::cout << elementText(failure) << "\n\n";
                failed = true;
            }
            if (failed)
                return 1;
            if (std::string_view(testCase.attribute("status").value()) != "run") {
                std::cout << "Not run.\n";
                return kSkipped;
            }
            const pugi::xml_node skipped = testCase.child("skipped");
            if (skipped || std::string_view(testCase.attribute("result").value()) == "skipped") {
                std::cout << "Skipped: " << elementText(skipped) << "\n";
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
    std::cerr << "usage: suite_result run <result.xml> <program> [arguments...]\n"
                 "       suite_result report <result.xml> <suite> <case>\n";
    return 2;
}
