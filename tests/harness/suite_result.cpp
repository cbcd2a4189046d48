// Runs a GoogleTest program once for a whole suite (or all of its suites) and reports each case from the
// result file, so that a program paying a costly start-up (a GL context, a virtual X server) starts once a
// suite while CTest still counts every case as passed, failed or skipped (cmake/GTestSuites.cmake).
//
//   suite_result run <result.xml> <program> [arguments...]
//     Runs the program with --gtest_output=xml:<result.xml>, its output passing through. Succeeds when
//     the program ended normally and any failure it had is a case's own (the case's test reports it);
//     ends with kSkipped when every case it ran was skipped; fails otherwise: a crash, a sanitizer's
//     report, a failure outside every case (a suite's set-up or tear-down), or no result file.
//   suite_result report <result.xml> <suite> <case>
//     Succeeds when the case passed, ends with kSkipped when it was skipped or not run, and fails when
//     it failed or has no result, printing GoogleTest's messages for it.

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iostream>
#include <sstream>
#include <string>
#include <string_view>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace {

// CTest's SKIP_RETURN_CODE for both modes (the one GTestSuites.cmake registers).
constexpr int kSkipped = 77;

// The value of attribute `name` in the start tag `tag`, still escaped; empty when absent.
std::string_view attribute(std::string_view tag, std::string_view name) {
    const std::string key = " " + std::string(name) + "=\"";
    const std::size_t at = tag.find(key);
    if (at == std::string_view::npos)
        return {};
    const std::size_t begin = at + key.size();
    return tag.substr(begin, tag.find('"', begin) - begin);
}

// An element of the result: its start tag, and what lies between it and its end tag (empty when the start
// tag closes itself).
struct Element {
    std::string_view tag;
    std::string_view body;
};

// The next element named `name` at or after `from` inside `text`; false when there is none.
bool nextElement(std::string_view text, std::string_view name, std::size_t& from, Element& out) {
    const std::string open = "<" + std::string(name) + " ";
    const std::size_t at = text.find(open, from);
    if (at == std::string_view::npos)
        return false;
    const std::size_t tagEnd = text.find('>', at);
    if (tagEnd == std::string_view::npos)
        return false;
    out.tag = text.substr(at, tagEnd + 1 - at);
    if (text[tagEnd - 1] == '/') {
        out.body = {};
        from = tagEnd + 1;
        return true;
    }
    const std::string close = "</" + std::string(name) + ">";
    const std::size_t end = text.find(close, tagEnd);
    if (end == std::string_view::npos)
        return false;
    out.body = text.substr(tagEnd + 1, end - tagEnd - 1);
    from = end + close.size();
    return true;
}

// A message element's text: CDATA sections verbatim, the rest with XML's escapes undone (GoogleTest
// splits a "]]>" in a message across two sections with an escaped "]]&gt;" between them).
std::string messageText(std::string_view body) {
    std::string text;
    std::size_t i = 0;
    while (i < body.size()) {
        if (body.substr(i, 9) == "<![CDATA[") {
            const std::size_t end = body.find("]]>", i + 9);
            text += body.substr(i + 9, end - (i + 9));
            i = end == std::string_view::npos ? body.size() : end + 3;
        } else if (body[i] == '&') {
            static constexpr std::pair<std::string_view, char> kEscapes[] = {
                {"&lt;", '<'},   {"&gt;", '>'},    {"&amp;", '&'},
                {"&quot;", '"'}, {"&apos;", '\''}, {"&#x0A;", '\n'}};
            bool known = false;
            for (const auto& [escape, c] : kEscapes) {
                if (body.substr(i, escape.size()) == escape) {
                    text += c;
                    i += escape.size();
                    known = true;
                    break;
                }
            }
            if (!known)
                text += body[i++];
        } else {
            text += body[i++];
        }
    }
    return text;
}

// What a failure or skip element says: its text, or its message when it has none.
std::string elementText(const Element& element) {
    return messageText(element.body.empty() ? attribute(element.tag, "message") : element.body);
}

bool readFile(const char* path, std::string& text) {
    std::ifstream in(path, std::ios::binary);
    if (!in)
        return false;
    std::ostringstream all;
    all << in.rdbuf();
    text = all.str();
    return true;
}

struct Counts {
    int ran = 0, skipped = 0, failed = 0;
};

Counts countCases(std::string_view result) {
    Counts counts;
    Element testCase;
    for (std::size_t from = 0; nextElement(result, "testcase", from, testCase);) {
        if (attribute(testCase.tag, "status") != "run")
            continue;
        ++counts.ran;
        if (testCase.body.find("<failure ") != std::string_view::npos)
            ++counts.failed;
        else if (attribute(testCase.tag, "result") == "skipped")
            ++counts.skipped;
    }
    return counts;
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

    // The program's standard output passes through here: GoogleTest leaves a failure outside every case
    // (a suite's set-up or tear-down) out of its result and reports it only in its closing lines.
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
    std::string result;
    if (!readFile(resultPath, result)) {
        std::cout << "\nThe program ended with status " << code << " and wrote no result.\n";
        return 1;
    }
    if (suiteFailed) {
        std::cout << "\nA suite's set-up or tear-down failed (see the output above).\n";
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
    std::string result;
    if (!readFile(resultPath, result)) {
        std::cout << "No result file " << resultPath << ": the run did not finish.\n";
        return 1;
    }
    Element testSuite, testCase;
    for (std::size_t from = 0; nextElement(result, "testsuite", from, testSuite);) {
        if (attribute(testSuite.tag, "name") != suite)
            continue;
        for (std::size_t at = 0; nextElement(testSuite.body, "testcase", at, testCase);) {
            if (attribute(testCase.tag, "name") != name)
                continue;
            bool failed = false;
            Element failure;
            for (std::size_t f = 0; nextElement(testCase.body, "failure", f, failure);) {
                std::cout << elementText(failure) << "\n\n";
                failed = true;
            }
            if (failed)
                return 1;
            if (attribute(testCase.tag, "status") != "run") {
                std::cout << "Not run.\n";
                return kSkipped;
            }
            Element skipped;
            std::size_t s = 0;
            const bool saysWhy = nextElement(testCase.body, "skipped", s, skipped);
            if (saysWhy || attribute(testCase.tag, "result") == "skipped") {
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
