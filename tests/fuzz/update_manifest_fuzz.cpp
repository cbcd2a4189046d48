// The update manifest parser on arbitrary bodies: it never crashes, and whatever it accepts obeys the
// rules a result promises to the overlay (valid version, addresses on the update host, a digest).

#include "plugin/update_manifest.h"

#include <cstdint>
#include <cstdlib>
#include <string>

namespace {

void check(bool condition) {
    if (!condition) {
        std::abort();
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string body(reinterpret_cast<const char*>(data), size);
    const cv::UpdateCheckResult result = cv::parseUpdateManifest(body, "1.0.0");
    cv::SemVer version;
    switch (result.status) {
    case cv::UpdateCheckStatus::UpToDate:
    case cv::UpdateCheckStatus::UpdateAvailable:
        check(cv::parseSemVer(result.version, version));
        check((version > cv::SemVer{1, 0, 0}) == (result.status == cv::UpdateCheckStatus::UpdateAvailable));
        check(cv::isSafeCorvalinthUrl(result.downloadUrl) && cv::isSafeCorvalinthUrl(result.releaseNotesUrl));
        check(cv::isSha256(result.sha256));
        // Accepted text is printable ASCII: nothing else survives the parser.
        for (const char c : result.downloadUrl + result.releaseNotesUrl + result.version) {
            check(c > 0x20 && c < 0x7F);
        }
        break;
    case cv::UpdateCheckStatus::Error:
        check(result.version.empty() && result.downloadUrl.empty() && result.releaseNotesUrl.empty() &&
              result.sha256.empty());
        check(result.message == "Couldn't read the update information." ||
              result.message == "The update information is incomplete." ||
              result.message == "The update information isn't valid.");
        break;
    default:
        check(false);
    }
    // The same body parses the same way again.
    check(cv::parseUpdateManifest(body, "1.0.0").message == result.message);
    return 0;
}
