#pragma once

#include <cstdint>
#include <filesystem>
#include <map>
#include <mutex>
#include <span>
#include <string>

// User choices that outlive a project and apply to every plug-in instance, kept in "prefs.ini" in the
// private application data folder. Several instances, in one process or in several, may change the file
// at the same time: every change re-reads it under an exclusive lock, changes the one key and replaces
// the file atomically, so entries other instances wrote meanwhile are kept.
namespace cv {

// The keys and their defaults. Callers clamp what they read to their own ranges.
inline constexpr const char* kPrefExportDepthIdx = "exportDepthIdx"; // 0..2: 16-bit, 24-bit, 32-bit float
inline constexpr int kPrefExportDepthIdxDefault = 1;
inline constexpr const char* kPrefA4Idx = "a4Idx"; // 0..7 into the eight A4 choices; 3 is 440 Hz
inline constexpr int kPrefA4IdxDefault = 3;
inline constexpr const char* kPrefAutosaveEnabled = "autosaveEnabled"; // 0 or 1
inline constexpr int kPrefAutosaveEnabledDefault = 1;
inline constexpr const char* kPrefAutosaveIntervalSec = "autosaveIntervalSec"; // 60, 120, 300 or 600
inline constexpr int kPrefAutosaveIntervalSecDefault = 120;
inline constexpr const char* kPrefUpdateChecksEnabled = "updateChecksEnabled"; // 0 manual, 1 automatic
inline constexpr int kPrefUpdateChecksEnabledDefault = 1;

// Largest "prefs.ini" that is read or written: a larger one is neither read nor overwritten, and a save
// that would make the file larger is refused.
inline constexpr std::uint64_t kPrefsMaxFileBytes = 65536;

// The preferences store. Every method may be called from any thread; one mutex serialises them, and a
// save also holds the file lock "prefs.ini.lock" while it reads, merges and rewrites the file.
class Prefs {
public:
    // The process-wide store on the application data folder, loaded on first use.
    static Prefs& shared();

    // A store on the given folder (which must exist); an empty folder gives a store that cannot save.
    // The process uses shared(); this is for tests and tools.
    explicit Prefs(const std::filesystem::path& folder);

    Prefs(const Prefs&) = delete;
    Prefs& operator=(const Prefs&) = delete;

    // The key's value read as a base-10 int (leading white space and one sign allowed, nothing after the
    // digits); fallback when the key is absent or its text is not such a number within the int range.
    int getInt(const std::string& key, int fallback) const;

    // Sets key to value here and in the file. Refuses an empty key, a key starting with "#" (it would
    // read back as a comment), a key holding "=", a line feed or a carriage return, and a value holding
    // a line feed or a carriage return, with "Couldn't save that preference.". Refuses a save that would
    // make the file larger than kPrefsMaxFileBytes, which could no longer be read, with a sentence naming
    // the file and the limit; the file is left as it is. When the file cannot be saved the value held
    // before is put back. Returns false with a sentence in lastError() on failure.
    bool set(const std::string& key, const std::string& value);

    // The last failure's sentence; empty after a successful save.
    std::string lastError() const;

    // Reads "prefs.ini" text: one key=value per line, ended by LF or CR LF; lines that are empty, start
    // with "#" or hold no "=" are skipped; the key ends at the first "="; nothing else is trimmed; a later
    // key replaces an earlier.
    static void parseValues(std::span<const std::uint8_t> bytes, std::map<std::string, std::string>& values);

    // The file's text for the values: every entry in key order as key=value and a line feed.
    static std::string serializeValues(const std::map<std::string, std::string>& values);

private:
    Prefs();
    void initialize(const std::filesystem::path& folder);
    bool saveKey(const std::string& key, const std::string& value);

    std::map<std::string, std::string> values_; // ordered by byte-wise key comparison
    std::filesystem::path path_;                // folder / "prefs.ini"; empty when it cannot be used
    std::string lastError_;
    mutable std::mutex mutex_; // guards all of the above
};

} // namespace cv
