#include "plugin/update_fetch_curl.h"

#include <algorithm>
#include <chrono>
#include <climits>
#include <curl/curl.h>
#include <memory>
#include <optional>
#include <strings.h>

namespace cv {

namespace {

using Clock = std::chrono::steady_clock;

constexpr const char* kInvalidAddress = "The update service address isn't valid.";
constexpr const char* kCancelled = "The update check was cancelled.";
constexpr const char* kTimedOut = "The update check timed out.";
constexpr const char* kConnectFailed = "Couldn't connect to the update service.";
constexpr const char* kTooLarge = "The update response is too large.";
constexpr const char* kUntrustedRedirect = "The update service redirected to an untrusted address.";
constexpr const char* kTooManyRedirects = "The update service redirected too many times.";
constexpr const char* kInvalidResponse = "The update service returned an invalid response.";
constexpr const char* kProcessingFailed = "Couldn't process the update information.";

struct EasyDeleter {
    void operator()(CURL* easy) const { curl_easy_cleanup(easy); }
};
struct MultiDeleter {
    void operator()(CURLM* multi) const { curl_multi_cleanup(multi); }
};
struct ListDeleter {
    void operator()(curl_slist* list) const { curl_slist_free_all(list); }
};
struct UrlDeleter {
    void operator()(CURLU* url) const { curl_url_cleanup(url); }
};
using Easy = std::unique_ptr<CURL, EasyDeleter>;
using Multi = std::unique_ptr<CURLM, MultiDeleter>;
using List = std::unique_ptr<curl_slist, ListDeleter>;

// Once per process and never undone: the library's global set-up is not safe to repeat or to undo
// while another thread may use it.
bool curlReady() {
    static const bool ready = curl_global_init(CURL_GLOBAL_DEFAULT) == CURLE_OK;
    return ready;
}

// Scheme, host and port (the scheme's default when the URL names none) of an absolute URL.
struct Origin {
    std::string scheme;
    std::string host;
    std::string port;
};

std::optional<std::string> urlPart(CURLU* url, CURLUPart part, unsigned flags) {
    char* text = nullptr;
    if (curl_url_get(url, part, &text, flags) != CURLUE_OK || text == nullptr) {
        return std::nullopt;
    }
    std::string copy(text);
    curl_free(text);
    return copy;
}

std::optional<Origin> originOf(const std::string& text) {
    const std::unique_ptr<CURLU, UrlDeleter> url(curl_url());
    if (!url || curl_url_set(url.get(), CURLUPART_URL, text.c_str(), 0) != CURLUE_OK) {
        return std::nullopt;
    }
    std::optional<std::string> scheme = urlPart(url.get(), CURLUPART_SCHEME, 0);
    std::optional<std::string> host = urlPart(url.get(), CURLUPART_HOST, 0);
    std::optional<std::string> port = urlPart(url.get(), CURLUPART_PORT, CURLU_DEFAULT_PORT);
    if (!scheme || !host || !port || host->empty()) {
        return std::nullopt;
    }
    return Origin{std::move(*scheme), std::move(*host), std::move(*port)};
}

bool isHttps(const Origin& origin) {
    return ::strcasecmp(origin.scheme.c_str(), "https") == 0;
}

bool sameServer(const Origin& a, const Origin& b) {
    return isHttps(a) && isHttps(b) && ::strcasecmp(a.host.c_str(), b.host.c_str()) == 0 && a.port == b.port;
}

// What one request of the fetch received; the body is capped while it arrives.
struct Transfer {
    std::string body;
    std::size_t maxBytes = 0;
    bool tooLarge = false;
    bool callbackFailed = false;
};

std::size_t receiveBody(char* data, std::size_t size, std::size_t count, void* user) {
    auto& transfer = *static_cast<Transfer*>(user);
    const std::size_t bytes = size * count;
    try {
        if (bytes > transfer.maxBytes - transfer.body.size()) {
            transfer.tooLarge = true;
            return 0; // any count other than bytes ends the transfer
        }
        transfer.body.append(data, bytes);
        return bytes;
    } catch (...) {
        transfer.callbackFailed = true;
        return 0;
    }
}

// Keeps the easy handle attached to the multi handle for one request and detaches it on every exit;
// detaching an unfinished transfer closes its connection.
class AttachedTransfer {
public:
    AttachedTransfer(CURLM* multi, CURL* easy) : multi_(multi), easy_(easy) {
        attached_ = curl_multi_add_handle(multi_, easy_) == CURLM_OK;
    }
    AttachedTransfer(const AttachedTransfer&) = delete;
    AttachedTransfer& operator=(const AttachedTransfer&) = delete;
    ~AttachedTransfer() {
        if (attached_) {
            curl_multi_remove_handle(multi_, easy_);
        }
    }
    bool attached() const { return attached_; }

private:
    CURLM* multi_;
    CURL* easy_;
    bool attached_ = false;
};

int millisecondsUntil(Clock::time_point deadline) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    return static_cast<int>(std::clamp<long long>(left, 0, INT_MAX));
}

// Which authorities may anchor the server's chain. Left alone, Debian's library trusts the bundle and
// folder that ca-certificates keeps, the system's store.
bool configureTrust(CURL* easy, const HttpsFetchSettings& settings) {
    if (!settings.pinnedCertificatesPem.empty()) {
        curl_blob pinned{};
        pinned.data = const_cast<char*>(settings.pinnedCertificatesPem.data());
        pinned.len = settings.pinnedCertificatesPem.size();
        pinned.flags = CURL_BLOB_COPY;
        return curl_easy_setopt(easy, CURLOPT_CAINFO, nullptr) == CURLE_OK &&
               curl_easy_setopt(easy, CURLOPT_CAPATH, nullptr) == CURLE_OK &&
               curl_easy_setopt(easy, CURLOPT_CAINFO_BLOB, &pinned) == CURLE_OK;
    }
    if (!settings.trustStoreFile.empty()) {
        return curl_easy_setopt(easy, CURLOPT_CAINFO, settings.trustStoreFile.c_str()) == CURLE_OK &&
               curl_easy_setopt(easy, CURLOPT_CAPATH, nullptr) == CURLE_OK;
    }
    return true;
}

bool configure(CURL* easy, const HttpsFetchSettings& settings, curl_slist* headers, curl_slist* connectTo,
               std::size_t maxBytes, Transfer& transfer) {
    bool ok =
        curl_easy_setopt(easy, CURLOPT_PROTOCOLS_STR, "https") == CURLE_OK &&
        curl_easy_setopt(easy, CURLOPT_REDIR_PROTOCOLS_STR, "https") == CURLE_OK &&
        curl_easy_setopt(easy, CURLOPT_FOLLOWLOCATION, 0L) == CURLE_OK &&
        curl_easy_setopt(easy, CURLOPT_NOSIGNAL, 1L) == CURLE_OK && configureTrust(easy, settings) &&
        curl_easy_setopt(easy, CURLOPT_SSL_VERIFYPEER, 1L) == CURLE_OK &&
        curl_easy_setopt(easy, CURLOPT_SSL_VERIFYHOST, 2L) == CURLE_OK &&
        curl_easy_setopt(easy, CURLOPT_SSLVERSION, static_cast<long>(CURL_SSLVERSION_TLSv1_2)) == CURLE_OK &&
        curl_easy_setopt(easy, CURLOPT_HTTPGET, 1L) == CURLE_OK &&
        curl_easy_setopt(easy, CURLOPT_HTTPHEADER, headers) == CURLE_OK &&
        curl_easy_setopt(easy, CURLOPT_USERAGENT, "Corvalinth Update Checker") == CURLE_OK &&
        // Refuses an announced length above the cap before any of the body arrives.
        curl_easy_setopt(easy, CURLOPT_MAXFILESIZE_LARGE, static_cast<curl_off_t>(maxBytes)) == CURLE_OK &&
        curl_easy_setopt(easy, CURLOPT_WRITEFUNCTION, receiveBody) == CURLE_OK &&
        curl_easy_setopt(easy, CURLOPT_WRITEDATA, &transfer) == CURLE_OK;
    if (ok && connectTo != nullptr) {
        ok = curl_easy_setopt(easy, CURLOPT_CONNECT_TO, connectTo) == CURLE_OK;
    }
    return ok;
}

// The outcome of one request: finished with a library code, or stopped by the caller's rules.
struct RequestOutcome {
    bool finished = false;
    CURLcode code = CURLE_OK;
    const char* stopReason = nullptr;
};

// Runs one request of the easy handle to its end, a cancel or the deadline. The multi handle's wait
// returns on socket activity, on the library's own timers and on the cancellation's wake-up, so the
// loop sleeps until something happens rather than polling on a period.
RequestOutcome runRequest(CURLM* multi, CURL* easy, const UpdateCancellation& cancellation,
                          Clock::time_point deadline) {
    const AttachedTransfer attached(multi, easy);
    if (!attached.attached()) {
        return {false, CURLE_OK, kConnectFailed};
    }
    for (;;) {
        if (cancellation.cancelled()) {
            return {false, CURLE_OK, kCancelled};
        }
        int running = 0;
        if (curl_multi_perform(multi, &running) != CURLM_OK) {
            return {false, CURLE_OK, kConnectFailed};
        }
        int queued = 0;
        while (CURLMsg* message = curl_multi_info_read(multi, &queued)) {
            if (message->msg == CURLMSG_DONE && message->easy_handle == easy) {
                return {true, message->data.result, nullptr};
            }
        }
        if (cancellation.cancelled()) {
            return {false, CURLE_OK, kCancelled};
        }
        const int waitMs = millisecondsUntil(deadline);
        if (waitMs == 0) {
            return {false, CURLE_OK, kTimedOut};
        }
        if (curl_multi_poll(multi, nullptr, 0, waitMs, nullptr) != CURLM_OK) {
            return {false, CURLE_OK, kConnectFailed};
        }
    }
}

const char* failureSentence(CURLcode code, const Transfer& transfer) {
    if (transfer.callbackFailed) {
        return kProcessingFailed;
    }
    if (transfer.tooLarge || code == CURLE_FILESIZE_EXCEEDED) {
        return kTooLarge;
    }
    if (code == CURLE_OPERATION_TIMEDOUT) {
        return kTimedOut;
    }
    return kConnectFailed;
}

bool isRedirect(long status) {
    return status == 301 || status == 302 || status == 303 || status == 307 || status == 308;
}

bool fetchOnce(const HttpsFetchSettings& settings, const std::string& url, std::size_t maxBytes,
               int timeoutMs, const UpdateCancellation& cancellation, std::string& body, std::string& error) {
    const Clock::time_point start = Clock::now();
    const std::optional<Origin> origin = originOf(url);
    if (!origin || !isHttps(*origin)) {
        error = kInvalidAddress;
        return false;
    }
    if (cancellation.cancelled()) {
        error = kCancelled;
        return false;
    }
    if (timeoutMs <= 0 || !curlReady()) {
        error = kConnectFailed;
        return false;
    }
    const Clock::time_point libraryDeadline = start + std::chrono::milliseconds(timeoutMs);
    const Clock::time_point deadline =
        libraryDeadline + std::chrono::milliseconds(std::max(0, settings.graceMs));

    const Multi multi(curl_multi_init());
    const Easy easy(curl_easy_init());
    const List headers(curl_slist_append(nullptr, "Accept: application/json"));
    List connectTo;
    if (!settings.connectAddress.empty()) {
        const std::string route = "::" + settings.connectAddress + ":" + std::to_string(settings.connectPort);
        connectTo.reset(curl_slist_append(nullptr, route.c_str()));
    }
    Transfer transfer;
    transfer.maxBytes = maxBytes;
    if (!multi || !easy || !headers || (!settings.connectAddress.empty() && !connectTo) ||
        !configure(easy.get(), settings, headers.get(), connectTo.get(), maxBytes, transfer)) {
        error = kConnectFailed;
        return false;
    }
    // Declared after the multi handle, so it is gone before the handle is cleaned up.
    const UpdateCancellation::WakeRegistration wakeUp(cancellation,
                                                      [handle = multi.get()] { curl_multi_wakeup(handle); });

    std::string current = url;
    for (int redirects = 0;; ++redirects) {
        transfer.body.clear();
        const int libraryMs = millisecondsUntil(libraryDeadline);
        if (libraryMs == 0) {
            error = kTimedOut;
            return false;
        }
        if (curl_easy_setopt(easy.get(), CURLOPT_URL, current.c_str()) != CURLE_OK ||
            curl_easy_setopt(easy.get(), CURLOPT_TIMEOUT_MS, static_cast<long>(libraryMs)) != CURLE_OK) {
            error = kConnectFailed;
            return false;
        }
        const RequestOutcome outcome = runRequest(multi.get(), easy.get(), cancellation, deadline);
        if (!outcome.finished) {
            error = outcome.stopReason;
            return false;
        }
        if (outcome.code != CURLE_OK) {
            error = failureSentence(outcome.code, transfer);
            return false;
        }
        long status = 0;
        curl_easy_getinfo(easy.get(), CURLINFO_RESPONSE_CODE, &status);
        if (status == 200) {
            body = std::move(transfer.body);
            return true;
        }
        if (!isRedirect(status)) {
            error = kInvalidResponse;
            return false;
        }
        const char* target = nullptr;
        if (curl_easy_getinfo(easy.get(), CURLINFO_REDIRECT_URL, &target) != CURLE_OK || target == nullptr) {
            error = kInvalidResponse;
            return false;
        }
        const std::optional<Origin> next = originOf(target);
        if (!next || !sameServer(*origin, *next)) {
            error = kUntrustedRedirect;
            return false;
        }
        if (redirects == kHttpsFetchMaxRedirects) {
            error = kTooManyRedirects;
            return false;
        }
        current = target;
    }
}

} // namespace

HttpsFetchSettings updateServiceFetchSettings() {
    return HttpsFetchSettings{};
}

bool fetchHttpsTextWith(const HttpsFetchSettings& settings, const std::string& url, std::size_t maxBytes,
                        int timeoutMs, const UpdateCancellation& cancellation, std::string& body,
                        std::string& error) {
    body.clear();
    error.clear();
    try {
        if (fetchOnce(settings, url, maxBytes, timeoutMs, cancellation, body, error)) {
            return true;
        }
    } catch (...) {
        error = kProcessingFailed;
    }
    body.clear();
    return false;
}

UpdateFetch makeHttpsFetch(HttpsFetchSettings settings) {
    return [settings = std::move(settings)](const std::string& url, std::size_t maxBytes, int timeoutMs,
                                            const UpdateCancellation& cancellation, std::string& body,
                                            std::string& error) {
        return fetchHttpsTextWith(settings, url, maxBytes, timeoutMs, cancellation, body, error);
    };
}

bool fetchHttpsText(const std::string& url, std::size_t maxBytes, int timeoutMs,
                    const UpdateCancellation& cancellation, std::string& body, std::string& error) {
    return fetchHttpsTextWith(updateServiceFetchSettings(), url, maxBytes, timeoutMs, cancellation, body,
                              error);
}

} // namespace cv
