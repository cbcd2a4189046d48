#include "plugin/update_manifest.h"

#include <optional>
#include <set>

namespace cv {

namespace {

constexpr std::size_t kMaxKeyBytes = 64;
constexpr std::size_t kMaxValueBytes = 2048;
constexpr std::size_t kMaxVersionBytes = 32;
constexpr std::size_t kMaxVersionFieldDigits = 6;
constexpr std::size_t kMaxUrlBytes = 2048;

UpdateCheckResult errorResult(const char* message) {
    UpdateCheckResult result;
    result.message = message;
    return result;
}

// One pass over the body; each read either consumes what it expects or fails.
class ManifestReader {
public:
    explicit ManifestReader(std::string_view text) : text_(text) {}

    void skipWhiteSpace() {
        while (at_ < text_.size() &&
               (text_[at_] == ' ' || text_[at_] == '\t' || text_[at_] == '\n' || text_[at_] == '\r')) {
            ++at_;
        }
    }

    bool take(char expected) {
        if (at_ < text_.size() && text_[at_] == expected) {
            ++at_;
            return true;
        }
        return false;
    }

    bool atEnd() const { return at_ == text_.size(); }

    // A quoted string of printable ASCII with the escapes \" \/ \\, at most maxBytes once unescaped.
    std::optional<std::string> string(std::size_t maxBytes) {
        if (!take('"')) {
            return std::nullopt;
        }
        std::string out;
        while (at_ < text_.size()) {
            auto byte = static_cast<unsigned char>(text_[at_++]);
            if (byte == '"') {
                return out;
            }
            if (byte < 0x20 || byte >= 0x80) {
                return std::nullopt;
            }
            if (byte == '\\') {
                if (at_ == text_.size()) {
                    return std::nullopt;
                }
                byte = static_cast<unsigned char>(text_[at_++]);
                if (byte != '"' && byte != '/' && byte != '\\') {
                    return std::nullopt;
                }
            }
            if (out.size() == maxBytes) {
                return std::nullopt;
            }
            out.push_back(static_cast<char>(byte));
        }
        return std::nullopt;
    }

private:
    std::string_view text_;
    std::size_t at_ = 0;
};

struct ManifestFields {
    std::optional<std::string> schema;
    std::optional<std::string> version;
    std::optional<std::string> downloadUrl;
    std::optional<std::string> releaseNotesUrl;
    std::optional<std::string> sha256;
};

std::optional<std::string>* fieldFor(ManifestFields& fields, const std::string& key) {
    if (key == "schema") {
        return &fields.schema;
    }
    if (key == "version") {
        return &fields.version;
    }
    if (key == "downloadUrl") {
        return &fields.downloadUrl;
    }
    if (key == "releaseNotesUrl") {
        return &fields.releaseNotesUrl;
    }
    if (key == "sha256") {
        return &fields.sha256;
    }
    return nullptr;
}

// The object's members; false for anything outside the accepted subset.
bool readManifest(std::string_view body, ManifestFields& fields) {
    ManifestReader reader(body);
    std::set<std::string> seen;
    reader.skipWhiteSpace();
    if (!reader.take('{')) {
        return false;
    }
    reader.skipWhiteSpace();
    if (!reader.take('}')) {
        do {
            reader.skipWhiteSpace();
            std::optional<std::string> key = reader.string(kMaxKeyBytes);
            reader.skipWhiteSpace();
            if (!key || !reader.take(':')) {
                return false;
            }
            reader.skipWhiteSpace();
            std::optional<std::string> value = reader.string(kMaxValueBytes);
            reader.skipWhiteSpace();
            if (!value || !seen.insert(*key).second) {
                return false;
            }
            if (std::optional<std::string>* field = fieldFor(fields, *key)) {
                *field = std::move(*value);
            }
        } while (reader.take(','));
        if (!reader.take('}')) {
            return false;
        }
    }
    reader.skipWhiteSpace();
    return reader.atEnd();
}

bool isHexDigit(char c) {
    return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
}

} // namespace

std::string updateManifestUrl() {
    return "https://" + std::string(kUpdateHost) + std::string(kUpdateManifestPath);
}

bool parseSemVer(std::string_view text, SemVer& out) {
    if (text.empty() || text.size() > kMaxVersionBytes) {
        return false;
    }
    std::uint32_t fields[3] = {};
    std::size_t at = 0;
    for (int field = 0; field < 3; ++field) {
        if (field > 0 && (at == text.size() || text[at++] != '.')) {
            return false;
        }
        std::size_t digits = 0;
        std::uint32_t value = 0;
        while (at < text.size() && text[at] >= '0' && text[at] <= '9') {
            if (++digits > kMaxVersionFieldDigits) {
                return false;
            }
            value = value * 10 + static_cast<std::uint32_t>(text[at++] - '0');
        }
        if (digits == 0) {
            return false;
        }
        fields[field] = value;
    }
    if (at != text.size()) {
        return false;
    }
    out = SemVer{fields[0], fields[1], fields[2]};
    return true;
}

bool isSafeCorvalinthUrl(const std::string& url) {
    const std::string prefix = "https://" + std::string(kUpdateHost) + "/";
    if (url.empty() || url.size() > kMaxUrlBytes || url.compare(0, prefix.size(), prefix) != 0) {
        return false;
    }
    for (const char c : url) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte <= 0x20 || byte == 0x7F) {
            return false;
        }
    }
    return true;
}

bool isSha256(const std::string& text) {
    if (text.size() != 64) {
        return false;
    }
    for (const char c : text) {
        if (!isHexDigit(c)) {
            return false;
        }
    }
    return true;
}

UpdateCheckResult parseUpdateManifest(const std::string& body, const std::string& currentVersion) {
    if (body.empty() || body.size() > kUpdateManifestMaxBytes) {
        return errorResult("Couldn't read the update information.");
    }
    ManifestFields fields;
    if (!readManifest(body, fields)) {
        return errorResult("Couldn't read the update information.");
    }
    if (!fields.schema || !fields.version || !fields.downloadUrl || !fields.releaseNotesUrl ||
        !fields.sha256 || *fields.schema != "1") {
        return errorResult("The update information is incomplete.");
    }
    SemVer current;
    SemVer offered;
    if (!parseSemVer(currentVersion, current) || !parseSemVer(*fields.version, offered) ||
        !isSafeCorvalinthUrl(*fields.downloadUrl) || !isSafeCorvalinthUrl(*fields.releaseNotesUrl) ||
        !isSha256(*fields.sha256)) {
        return errorResult("The update information isn't valid.");
    }
    UpdateCheckResult result;
    result.version = std::move(*fields.version);
    result.downloadUrl = std::move(*fields.downloadUrl);
    result.releaseNotesUrl = std::move(*fields.releaseNotesUrl);
    result.sha256 = std::move(*fields.sha256);
    if (offered > current) {
        result.status = UpdateCheckStatus::UpdateAvailable;
        result.message = "A Corvalinth update is available.";
    } else {
        result.status = UpdateCheckStatus::UpToDate;
        result.message = "You're up to date.";
    }
    return result;
}

} // namespace cv
