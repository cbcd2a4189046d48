#pragma once

#include <compare>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

// The update service's manifest and what the plug-in makes of it. The service answers an HTTPS GET of
// kUpdateManifestPath on kUpdateHost with one small JSON object of strings: "schema" ("1"), "version",
// "downloadUrl", "releaseNotesUrl" and "sha256"; other members are ignored.
namespace cv {

// The maker's update host: a deployment setting. Every address the plug-in offers must lie on it.
inline constexpr std::string_view kUpdateHost = "updates.corvalinth.com";
inline constexpr std::string_view kUpdateManifestPath = "/api/releases/latest";

// Largest manifest body fetched or parsed, in bytes.
inline constexpr std::size_t kUpdateManifestMaxBytes = 65536;

// "https://" + kUpdateHost + kUpdateManifestPath.
std::string updateManifestUrl();

enum class UpdateCheckStatus : std::uint32_t { UpToDate = 0, UpdateAvailable = 1, Error = 2 };

// The outcome of one check. A new result is an error with every text empty.
struct UpdateCheckResult {
    UpdateCheckStatus status = UpdateCheckStatus::Error;
    std::string version;         // the manifest's version
    std::string downloadUrl;     // on kUpdateHost, https
    std::string releaseNotesUrl; // on kUpdateHost, https
    std::string sha256;          // 64 hexadecimal digits: the SHA-256 of the download
    std::string message;         // a sentence for the user
};

// A release version: three numeric fields, each below 1000000.
struct SemVer {
    std::uint32_t major = 0;
    std::uint32_t minor = 0;
    std::uint32_t patch = 0;
    auto operator<=>(const SemVer&) const = default;
};

// Reads exactly "A.B.C": 1 to 32 bytes, each field 1 to 6 decimal digits (leading zeros allowed), no
// sign, white space or suffix. Leaves out untouched on failure.
bool parseSemVer(std::string_view text, SemVer& out);

// True for 1 to 2048 bytes starting with "https://", kUpdateHost and "/", without a byte at or below
// 0x20 or a 0x7F anywhere.
bool isSafeCorvalinthUrl(const std::string& url);

// True for exactly 64 hexadecimal digits, either case.
bool isSha256(const std::string& text);

// Reads the manifest in one pass with a strict JSON subset (an object of string members only; no
// control or non-ASCII bytes; only the escapes \" \/ \\; keys up to 64 bytes, values up to 2048; no
// key twice; white space only space, tab, line feed and carriage return) and compares its version with
// currentVersion. Status 1 with "A Corvalinth update is available." when the manifest is newer, 0 with
// "You're up to date." otherwise; status 2 with "Couldn't read the update information." (malformed),
// "The update information is incomplete." (a required member missing or schema not "1") or "The update
// information isn't valid." (a version, address or digest refused; every text emptied). Any thread.
UpdateCheckResult parseUpdateManifest(const std::string& body, const std::string& currentVersion);

} // namespace cv
