#include "plugin/update_checker.h"
#include "plugin/update_fetch_curl.h"
#include "tests/io/storage_test_folder.h"
#include "tests/plugin/local_https_server.h"

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <fstream>
#include <gtest/gtest.h>
#include <thread>

namespace {

const std::string kHost(cv::kUpdateHost);

const std::string kGoodManifest =
    R"({"schema":"1","version":"1.2.0",)"
    R"("downloadUrl":"https://updates.corvalinth.com/dl/1.2.0.zip",)"
    R"("releaseNotesUrl":"https://updates.corvalinth.com/notes/1.2.0",)"
    R"("sha256":"00112233445566778899aabbccddeeff00112233445566778899AABBCCDDEEFF"})";

// The server presents a certificate for the update host; every connection, whatever host the URL
// names, is routed to it on loopback, so a fetch that got past a refusal would show up in its counts.
class UpdateFetchCurl : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        // The fetch honours proxy settings like any client; the loopback server must be reached directly.
        for (const char* name : {"https_proxy", "HTTPS_PROXY", "all_proxy", "ALL_PROXY"}) {
            ::unsetenv(name);
        }
    }

    // Made once for the whole program: key generation is the slow part of a test.
    static const cvtest::TestPki& pki() {
        static const cvtest::TestPki made = cvtest::makeTestPki({kHost, "IP:127.0.0.1"});
        return made;
    }
    static const cvtest::TestPki& stranger() {
        static const cvtest::TestPki made = cvtest::makeTestPki({kHost});
        return made;
    }

    cv::HttpsFetchSettings settingsFor(const cvtest::LocalHttpsServer& server) const {
        cv::HttpsFetchSettings settings;
        settings.pinnedCertificatesPem = pki_.authorityPem;
        settings.connectAddress = "127.0.0.1";
        settings.connectPort = server.port();
        return settings;
    }

    struct Fetched {
        bool ok = false;
        std::string body;
        std::string error;
    };
    Fetched fetch(const cv::HttpsFetchSettings& settings, const std::string& url, int timeoutMs = 10000) {
        Fetched out;
        cv::UpdateCancellation token;
        out.ok = cv::fetchHttpsTextWith(settings, url, cv::kUpdateManifestMaxBytes, timeoutMs, token,
                                        out.body, out.error);
        return out;
    }

    const cvtest::TestPki& pki_ = pki();
    const cvtest::TestPki& stranger_ = stranger();
};

// Waits without sleeping until the check thread has stored its result or ended.
std::optional<cv::UpdateCheckResult> finishedResult(cv::UpdateChecker& checker) {
    while (checker.running()) {
        std::this_thread::yield();
    }
    return checker.takeResult();
}

} // namespace

// The parser's outcomes and the checker's sentences are tested offline; here the checker's request itself.
TEST_F(UpdateFetchCurl, CheckerReadsTheManifestOverPinnedHttps) {
    cvtest::LocalHttpsServer server(
        pki_, [&](const std::string&) { return cvtest::httpReply(200, kGoodManifest); });
    cv::UpdateChecker checker(cv::makeHttpsFetch(settingsFor(server)));
    ASSERT_TRUE(checker.start("1.0.0"));
    const std::optional<cv::UpdateCheckResult> result = finishedResult(checker);
    ASSERT_TRUE(result.has_value());
    EXPECT_EQ(result->status, cv::UpdateCheckStatus::UpdateAvailable);
    ASSERT_EQ(server.requestHeads().size(), 1u);
    const std::string head = server.requestHeads()[0];
    EXPECT_EQ(head.rfind("GET /api/releases/latest HTTP/1.1\r\n", 0), 0u) << head;
    for (const char* line : {"\r\nHost: updates.corvalinth.com\r\n", "\r\nAccept: application/json\r\n",
                             "\r\nUser-Agent: Corvalinth Update Checker\r\n"})
        EXPECT_NE(head.find(line), std::string::npos) << head;
}

TEST_F(UpdateFetchCurl, RefusesBadResponsesAndFollowsOnlySameServerHttpsRedirects) {
    const std::string manifestUrl = cv::updateManifestUrl();
    const std::string cap(cv::kUpdateManifestMaxBytes, 'x');
    struct Case {
        const char* name;
        cvtest::LocalHttpsServer::Handler handler;
        const char* error; // empty: the fetch succeeds
        int connections;
    };
    const auto redirectTo = [](const std::string& location) {
        return cvtest::httpReply(302, "", "Location: " + location + "\r\n");
    };
    // /hop/N redirects to /hop/N-1 (relative), /hop/0 answers.
    const auto hops = [&](int count) {
        return [&, count](const std::string& target) {
            const int left = target == "/api/releases/latest" ? count : std::stoi(target.substr(5));
            return left == 0 ? cvtest::httpReply(200, kGoodManifest)
                             : redirectTo("/hop/" + std::to_string(left - 1));
        };
    };
    const std::vector<Case> cases = {
        {"body of exactly the cap", [&](const std::string&) { return cvtest::httpReply(200, cap); }, "", 1},
        {"announced length over the cap",
         [&](const std::string&) { return cvtest::httpReply(200, cap + "x"); },
         "The update response is too large.", 1},
        {"unannounced body over the cap",
         [&](const std::string&) { return cvtest::httpReply(200, cap + "x", "", false); },
         "The update response is too large.", 1},
        {"not found", [&](const std::string&) { return cvtest::httpReply(404, "{}"); },
         "The update service returned an invalid response.", 1},
        {"redirect without a location", [&](const std::string&) { return cvtest::httpReply(302, ""); },
         "The update service returned an invalid response.", 1},
        {"three same-server hops", hops(3), "", 4},
        {"four same-server hops", hops(4), "The update service redirected too many times.", 4},
        {"redirect to http on the same host",
         [&](const std::string&) { return redirectTo("http://" + kHost + "/api/releases/latest"); },
         "The update service redirected to an untrusted address.", 1},
        {"redirect to another host",
         [&](const std::string&) { return redirectTo("https://downloads.example.net/api/releases/latest"); },
         "The update service redirected to an untrusted address.", 1},
        {"redirect to another port",
         [&](const std::string&) { return redirectTo("https://" + kHost + ":8443/api/releases/latest"); },
         "The update service redirected to an untrusted address.", 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        cvtest::LocalHttpsServer server(pki_, c.handler);
        const Fetched got = fetch(settingsFor(server), manifestUrl);
        EXPECT_EQ(got.ok, std::string(c.error).empty());
        EXPECT_EQ(got.error, c.error);
        if (got.ok) {
            EXPECT_FALSE(got.body.empty());
        } else {
            EXPECT_TRUE(got.body.empty());
        }
        // A refused redirect is refused before any connection is made.
        EXPECT_EQ(server.connectionCount(), c.connections);
    }
}

TEST_F(UpdateFetchCurl, TrustsOnlyThePinnedAuthorityForTheUrlsHost) {
    cvtest::LocalHttpsServer server(pki_, [](const std::string&) { return cvtest::httpReply(200, "{}"); });
    const cv::HttpsFetchSettings pinned = settingsFor(server);
    cv::HttpsFetchSettings stranger = pinned;
    stranger.pinnedCertificatesPem = stranger_.authorityPem;
    cv::HttpsFetchSettings nothingTrusted = pinned;
    nothingTrusted.pinnedCertificatesPem.clear();
    struct Case {
        const char* name;
        const cv::HttpsFetchSettings& settings;
        std::string url;
        const char* error;
    };
    const std::vector<Case> cases = {
        {"another authority pinned", stranger, cv::updateManifestUrl(),
         "Couldn't connect to the update service."},
        {"a name the certificate lacks", pinned, "https://other.example.net/api/releases/latest",
         "Couldn't connect to the update service."},
        {"nothing pinned: the system's store, which lacks the authority", nothingTrusted,
         cv::updateManifestUrl(), "Couldn't connect to the update service."},
        {"plain http", pinned, "http://" + kHost + "/api/releases/latest",
         "The update service address isn't valid."},
        {"not an address", pinned, "updates corvalinth", "The update service address isn't valid."},
        {"the pinned authority", pinned, cv::updateManifestUrl(), ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const Fetched got = fetch(c.settings, c.url);
        EXPECT_EQ(got.ok, std::string(c.error).empty());
        EXPECT_EQ(got.error, c.error);
    }
    // Three refused handshakes and the one that passed; the refusals before connecting made none.
    EXPECT_EQ(server.connectionCount(), 4);
    EXPECT_EQ(server.requestHeads().size(), 1u);
}

// The service's own settings trust the system's store, not pins; the store's place is the seam the test
// hands its authority through. A closed port on loopback stands in for a machine without network.
TEST_F(UpdateFetchCurl, ChecksAgainstTheTrustStore) {
    const std::string upToDate =
        R"({"schema":"1","version":"1.0.0",)" + kGoodManifest.substr(kGoodManifest.find("\"downloadUrl\""));
    std::atomic<const std::string*> offered{&upToDate};
    cvtest::LocalHttpsServer server(
        pki_, [&](const std::string&) { return cvtest::httpReply(200, *offered.load()); });
    const cvtest::ScratchFolder folder;
    const auto storeOf = [&](const std::string& name, const std::string& pem) {
        std::ofstream(folder / name) << pem;
        return (folder / name).string();
    };
    const std::string trusted = storeOf("trusted.pem", pki_.authorityPem);
    const std::string strangers = storeOf("strangers.pem", stranger_.authorityPem);
    const int closedPort = [&] { return cvtest::LocalHttpsServer(pki_, {}).port(); }();
    struct Case {
        const char* name;
        const std::string* manifest;
        std::string store;
        int port;
        cv::UpdateCheckStatus status;
        const char* message;
        int connections; // the server's count after the row
    };
    const std::vector<Case> cases = {
        {"authority in the store, same version", &upToDate, trusted, server.port(),
         cv::UpdateCheckStatus::UpToDate, "You're up to date.", 1},
        {"authority in the store, newer version", &kGoodManifest, trusted, server.port(),
         cv::UpdateCheckStatus::UpdateAvailable, "A Corvalinth update is available.", 2},
        {"authority not in the store", &kGoodManifest, strangers, server.port(), cv::UpdateCheckStatus::Error,
         "Couldn't connect to the update service.", 3},
        {"the system's store, which lacks the authority", &kGoodManifest, "", server.port(),
         cv::UpdateCheckStatus::Error, "Couldn't connect to the update service.", 4},
        {"no network", &kGoodManifest, "", closedPort, cv::UpdateCheckStatus::Error,
         "Couldn't connect to the update service.", 4},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        offered = c.manifest;
        cv::HttpsFetchSettings settings = cv::updateServiceFetchSettings();
        settings.trustStoreFile = c.store;
        settings.connectAddress = "127.0.0.1";
        settings.connectPort = c.port;
        cv::UpdateChecker checker(cv::makeHttpsFetch(settings));
        ASSERT_TRUE(checker.start("1.0.0"));
        const std::optional<cv::UpdateCheckResult> result = finishedResult(checker);
        ASSERT_TRUE(result.has_value());
        EXPECT_EQ(result->status, c.status);
        EXPECT_EQ(result->message, c.message);
        EXPECT_EQ(server.connectionCount(), c.connections);
    }
    EXPECT_EQ(server.requestHeads().size(), 2u);
}

TEST_F(UpdateFetchCurl, StalledServerTimesOut) {
    cvtest::LocalHttpsServer server(pki_, [](const std::string&) { return cvtest::HttpsReply{"", true}; });
    cv::HttpsFetchSettings settings = settingsFor(server);
    settings.graceMs = 100;
    const Fetched got = fetch(settings, cv::updateManifestUrl(), 200);
    EXPECT_FALSE(got.ok);
    EXPECT_EQ(got.error, "The update check timed out.");
    EXPECT_EQ(server.requestHeads().size(), 1u);
}

TEST_F(UpdateFetchCurl, CancelEndsAStalledFetchLongBeforeItsTimeout) {
    cvtest::LocalHttpsServer server(pki_, [](const std::string&) { return cvtest::HttpsReply{"", true}; });
    const cv::HttpsFetchSettings settings = settingsFor(server);
    cv::UpdateCancellation token;
    std::string body;
    std::string error;
    bool ok = true;
    // The timeout is far beyond the bound below: only the cancel's wake-up can end the fetch in time.
    std::thread fetching([&] {
        ok = cv::fetchHttpsTextWith(settings, cv::updateManifestUrl(), cv::kUpdateManifestMaxBytes, 120000,
                                    token, body, error);
    });
    server.waitForRequests(1);
    const auto cancelledAt = std::chrono::steady_clock::now();
    token.request();
    fetching.join();
    const auto endedAfter = std::chrono::steady_clock::now() - cancelledAt;
    EXPECT_FALSE(ok);
    EXPECT_EQ(error, "The update check was cancelled.");
    // Typically under a millisecond; the bound leaves room for a loaded CI machine and sanitizers while
    // staying far below the timeout. The wake-up itself is checked on the token (UpdateCancellation tests).
    EXPECT_LT(endedAfter, std::chrono::milliseconds(500));

    // A token cancelled before the fetch starts stops it before any connection.
    const Fetched before = [&] {
        Fetched out;
        cv::UpdateCancellation cancelled;
        cancelled.request();
        out.ok = cv::fetchHttpsTextWith(settings, cv::updateManifestUrl(), cv::kUpdateManifestMaxBytes,
                                        120000, cancelled, out.body, out.error);
        return out;
    }();
    EXPECT_EQ(before.error, "The update check was cancelled.");
    EXPECT_EQ(server.connectionCount(), 1);
}
