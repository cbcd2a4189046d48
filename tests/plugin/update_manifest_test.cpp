#include "plugin/update_manifest.h"

#include <gtest/gtest.h>

namespace {

const std::string kDigest = "0123456789abcdefABCDEF0123456789abcdef0123456789abcdef0123456789";
const std::string kDownload = "https://updates.corvalinth.com/dl/corvalinth.zip";
const std::string kNotes = "https://updates.corvalinth.com/notes";

// A manifest whose members are given as raw JSON text after the opening brace.
std::string manifest(const std::string& version, const std::string& download = kDownload,
                     const std::string& digest = kDigest) {
    return R"({"schema":"1","version":")" + version + R"(","downloadUrl":")" + download +
           R"(","releaseNotesUrl":")" + kNotes + R"(","sha256":")" + digest + R"("})";
}

} // namespace

TEST(UpdateManifest, ComparesVersionsAsNumbers) {
    struct Case {
        const char* version;
        cv::UpdateCheckStatus status;
        const char* message;
    };
    const Case cases[] = {
        {"1.0.1", cv::UpdateCheckStatus::UpdateAvailable, "A Corvalinth update is available."},
        {"1.0.0", cv::UpdateCheckStatus::UpToDate, "You're up to date."},
        {"0.9.9", cv::UpdateCheckStatus::UpToDate, "You're up to date."},
        {"1.0.10", cv::UpdateCheckStatus::UpdateAvailable, "A Corvalinth update is available."},
        {"0.10.0", cv::UpdateCheckStatus::UpToDate, "You're up to date."},
        {"2.0.0", cv::UpdateCheckStatus::UpdateAvailable, "A Corvalinth update is available."},
        {"001.000.002", cv::UpdateCheckStatus::UpdateAvailable, "A Corvalinth update is available."},
        {"999999.0.0", cv::UpdateCheckStatus::UpdateAvailable, "A Corvalinth update is available."},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.version);
        const cv::UpdateCheckResult result = cv::parseUpdateManifest(manifest(c.version), "1.0.0");
        EXPECT_EQ(result.status, c.status);
        EXPECT_EQ(result.message, c.message);
        EXPECT_EQ(result.version, c.version);
        EXPECT_EQ(result.downloadUrl, kDownload);
        EXPECT_EQ(result.releaseNotesUrl, kNotes);
        EXPECT_EQ(result.sha256, kDigest);
    }
}

TEST(UpdateManifest, AcceptsTheStrictSubsetsWhiteSpaceEscapesAndExtraMembers) {
    const std::string body =
        " \t\r\n{ \"note\" : \"a \\\"quoted\\\" \\\\ \\/ text\" ,\n\"schema\":\"1\",\"version\":"
        "\"1.2.3\",\"downloadUrl\":\"https:\\/\\/updates.corvalinth.com\\/x\",\"releaseNotesUrl\""
        ":\"" +
        kNotes + "\",\"sha256\":\"" + kDigest + "\"}\r\n";
    const cv::UpdateCheckResult result = cv::parseUpdateManifest(body, "1.0.0");
    EXPECT_EQ(result.status, cv::UpdateCheckStatus::UpdateAvailable) << result.message;
    EXPECT_EQ(result.downloadUrl, "https://updates.corvalinth.com/x");
}

TEST(UpdateManifest, RefusesEachMalformedIncompleteOrInvalidManifest) {
    const std::string good = manifest("1.0.1");
    const std::string tail = good.substr(1); // the members and the closing brace
    const char* unreadable = "Couldn't read the update information.";
    const char* incomplete = "The update information is incomplete.";
    const char* invalid = "The update information isn't valid.";
    struct Case {
        std::string name;
        std::string body;
        const char* message;
        std::string current = "1.0.0";
    };
    const std::vector<Case> cases = {
        {"empty body", "", unreadable},
        {"over 64 KiB", good + std::string(65537 - good.size(), ' '), unreadable},
        {"number value", R"({"n":1,)" + tail, unreadable},
        {"boolean value", R"({"n":true,)" + tail, unreadable},
        {"null value", R"({"n":null,)" + tail, unreadable},
        {"array value", R"({"n":["a"],)" + tail, unreadable},
        {"nested object", R"({"n":{},)" + tail, unreadable},
        {"\\n escape", R"({"n":"a\nb",)" + tail, unreadable},
        {"\\u escape", R"({"n":"\u0041",)" + tail, unreadable},
        {"raw line feed in a string", "{\"n\":\"a\nb\"," + tail, unreadable},
        {"non-ASCII byte", "{\"n\":\"caf\xc3\xa9\"," + tail, unreadable},
        {"DEL is allowed but 0x80 is not", "{\"n\":\"\x7f\x80\"," + tail, unreadable},
        {"trailing comma", good.substr(0, good.size() - 1) + ",}", unreadable},
        {"second version member", R"({"version":"1.0.1",)" + tail, unreadable},
        {"text after the object", good + "x", unreadable},
        {"second object", good + "{}", unreadable},
        {"form feed as white space", good + "\f", unreadable},
        {"single quotes", "{'schema':'1'}", unreadable},
        {"unterminated string", R"({"schema":"1)", unreadable},
        {"missing colon", R"({"schema" "1"})", unreadable},
        {"missing brace", good.substr(0, good.size() - 1), unreadable},
        {"bare array", R"(["schema"])", unreadable},
        {"key of 65 bytes", "{\"" + std::string(65, 'k') + "\":\"v\"," + tail, unreadable},
        {"value of 2049 bytes", "{\"k\":\"" + std::string(2049, 'v') + "\"," + tail, unreadable},
        {"empty object", "{}", incomplete},
        {"schema 2", R"({"schema":"2",)" + tail.substr(tail.find("\"version\"")), incomplete},
        {"schema missing", "{" + tail.substr(tail.find("\"version\"")), incomplete},
        {"sha256 missing", good.substr(0, good.find(",\"sha256\"")) + "}", incomplete},
        {"two-field version", manifest("1.1"), invalid},
        {"pre-release suffix", manifest("1.1.0-beta"), invalid},
        {"seven-digit field", manifest("1.1000000.0"), invalid},
        {"signed field", manifest("+1.0.0"), invalid},
        {"download on another host", manifest("1.0.1", "https://evil.example/corvalinth.zip"), invalid},
        {"host as a prefix of another", manifest("1.0.1", "https://updates.corvalinth.com.evil.example/x"),
         invalid},
        {"download over http", manifest("1.0.1", "http://updates.corvalinth.com/x"), invalid},
        {"host without a path", manifest("1.0.1", "https://updates.corvalinth.com"), invalid},
        {"space in the address", manifest("1.0.1", "https://updates.corvalinth.com/a b"), invalid},
        {"63-digit digest", manifest("1.0.1", kDownload, kDigest.substr(1)), invalid},
        {"65-digit digest", manifest("1.0.1", kDownload, kDigest + "0"), invalid},
        {"non-hex digest", manifest("1.0.1", kDownload, "g" + kDigest.substr(1)), invalid},
        {"invalid current version", good, invalid, "1.0"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const cv::UpdateCheckResult result = cv::parseUpdateManifest(c.body, c.current);
        EXPECT_EQ(result.status, cv::UpdateCheckStatus::Error);
        EXPECT_EQ(result.message, c.message);
        EXPECT_TRUE(result.version.empty() && result.downloadUrl.empty() && result.releaseNotesUrl.empty() &&
                    result.sha256.empty());
    }
}

TEST(UpdateManifest, LimitsAreInclusive) {
    const std::string key64 = "{\"" + std::string(64, 'k') + "\":\"" + std::string(2048, 'v') + "\",";
    EXPECT_EQ(cv::parseUpdateManifest(key64 + manifest("1.0.1").substr(1), "1.0.0").status,
              cv::UpdateCheckStatus::UpdateAvailable);
    // An escape counts as the one byte it stands for.
    std::string escaped;
    for (int i = 0; i < 2048; ++i) {
        escaped += "\\/";
    }
    EXPECT_EQ(
        cv::parseUpdateManifest("{\"k\":\"" + escaped + "\"," + manifest("1.0.1").substr(1), "1.0.0").status,
        cv::UpdateCheckStatus::UpdateAvailable);
    const std::string url2048 = kDownload + std::string(2048 - kDownload.size(), 'a');
    EXPECT_TRUE(cv::isSafeCorvalinthUrl(url2048));
    EXPECT_FALSE(cv::isSafeCorvalinthUrl(url2048 + "a"));
    cv::SemVer version;
    EXPECT_TRUE(cv::parseSemVer("999999.000000.0", version));
    EXPECT_EQ(version, (cv::SemVer{999999, 0, 0}));
    EXPECT_FALSE(cv::parseSemVer("1.2.3.", version));
    EXPECT_FALSE(cv::parseSemVer("1..3", version));
    EXPECT_FALSE(cv::parseSemVer(" 1.2.3", version));
    EXPECT_FALSE(cv::parseSemVer(std::string(30, '0') + ".1.1", version));
    EXPECT_EQ(version, (cv::SemVer{999999, 0, 0})); // untouched by a refusal
}
