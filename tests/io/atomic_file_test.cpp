#include "engine/io/atomic_file.h"
#include "tests/io/storage_test_folder.h"

#include <chrono>
#include <fcntl.h>
#include <fstream>
#include <gtest/gtest.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace fs = std::filesystem;

namespace {

std::vector<std::uint8_t> pattern(std::size_t size, std::uint8_t seed) {
    std::vector<std::uint8_t> bytes(size);
    for (std::size_t i = 0; i < size; ++i) {
        bytes[i] = static_cast<std::uint8_t>((i * 131 + seed) ^ (i >> 11));
    }
    return bytes;
}

std::vector<std::uint8_t> contentsOf(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

void writePlain(const fs::path& path, const std::string& text) {
    std::ofstream(path, std::ios::binary) << text;
}

unsigned modeOf(const fs::path& path) {
    struct stat info {};
    ::stat(path.c_str(), &info);
    return info.st_mode & 0777;
}

// Names in the folder other than the given ones, to show that no temporary was left behind.
std::vector<std::string> extraEntries(const fs::path& folder, std::initializer_list<std::string> expected) {
    std::vector<std::string> extra;
    for (const auto& entry : fs::directory_iterator(folder)) {
        const std::string name = entry.path().filename().string();
        if (std::find(expected.begin(), expected.end(), name) == expected.end()) {
            extra.push_back(name);
        }
    }
    return extra;
}

// The umask would otherwise decide the mode of a non-private file.
class FixedUmask {
public:
    FixedUmask() : previous_(::umask(022)) {}
    ~FixedUmask() { ::umask(previous_); }

private:
    mode_t previous_;
};

} // namespace

TEST(AtomicFile, WritesExactBytesOfAnySizeAndLeavesNoTemporary) {
    cvtest::ScratchFolder folder;
    const fs::path destination = folder / "out.bin";
    // Empty, under one write piece, and across several 1 MiB pieces with a ragged end.
    for (const std::size_t size : {std::size_t{0}, std::size_t{17}, std::size_t{2621440 + 3}}) {
        SCOPED_TRACE(size);
        const auto bytes = pattern(size, static_cast<std::uint8_t>(size));
        std::string error;
        ASSERT_TRUE(np::writeFileAtomically(destination, bytes, &error, true)) << error;
        EXPECT_EQ(contentsOf(destination), bytes);
        EXPECT_TRUE(extraEntries(folder.path(), {"out.bin"}).empty());
    }
}

TEST(AtomicFile, PrivateFilesAreOwnerOnlyAndOthersWorldReadable) {
    FixedUmask umask;
    cvtest::ScratchFolder folder;
    const auto bytes = pattern(10, 1);
    ASSERT_TRUE(np::writeFileAtomically(folder / "private", bytes, nullptr, true));
    ASSERT_TRUE(np::writeFileAtomically(folder / "shared", bytes, nullptr, false));
    EXPECT_EQ(modeOf(folder / "private"), 0600u);
    EXPECT_EQ(modeOf(folder / "shared"), 0644u);

    fs::path temporary;
    ASSERT_TRUE(np::createAtomicTemporaryFile(folder / "private", temporary, nullptr, true));
    EXPECT_EQ(modeOf(temporary), 0600u);
    fs::remove(temporary);
}

TEST(AtomicFile, CreatesMissingFoldersAndUsesTheCurrentFolderForABareName) {
    cvtest::ScratchFolder folder;
    const auto bytes = pattern(100, 2);
    ASSERT_TRUE(np::writeFileAtomically(folder / "a" / "b" / "c.bin", bytes, nullptr, false));
    EXPECT_EQ(contentsOf(folder / "a" / "b" / "c.bin"), bytes);

    const fs::path previous = fs::current_path();
    fs::current_path(folder.path());
    std::string error;
    const bool written = np::writeFileAtomically("bare.bin", bytes, &error, false);
    fs::current_path(previous);
    ASSERT_TRUE(written) << error;
    EXPECT_EQ(contentsOf(folder / "bare.bin"), bytes);
}

TEST(AtomicFile, TemporaryNameHasTheDocumentedFormAndLiesBesideItsDestination) {
    cvtest::ScratchFolder folder;
    const fs::path destination = folder / "take.wav";
    fs::path first;
    fs::path second;
    std::string error;
    ASSERT_TRUE(np::createAtomicTemporaryFile(destination, first, &error, false)) << error;
    ASSERT_TRUE(np::createAtomicTemporaryFile(destination, second, &error, false)) << error;
    EXPECT_NE(first, second);
    EXPECT_EQ(first.parent_path(), destination.parent_path());
    const std::string name = first.filename().string();
    const std::string prefix = "take.wav.tmp." + std::to_string(::getpid()) + ".";
    ASSERT_EQ(name.rfind(prefix, 0), 0u) << name;
    const std::string rest = name.substr(prefix.size());
    ASSERT_EQ(std::count(rest.begin(), rest.end(), '.'), 1) << name;
    EXPECT_EQ(rest.find_first_not_of("0123456789."), std::string::npos) << name;
    EXPECT_EQ(fs::file_size(first), 0u);
}

TEST(AtomicFile, StreamedTemporaryReplacesTheDestination) {
    cvtest::ScratchFolder folder;
    const fs::path destination = folder / "export.wav";
    writePlain(destination, "old");
    fs::path temporary;
    ASSERT_TRUE(np::createAtomicTemporaryFile(destination, temporary, nullptr, false));
    writePlain(temporary, "new content");
    std::string error;
    ASSERT_TRUE(np::replaceFileAtomically(temporary, destination, &error)) << error;
    std::ifstream in(destination);
    EXPECT_EQ(std::string(std::istreambuf_iterator<char>(in), {}), "new content");
    EXPECT_FALSE(fs::exists(temporary));
}

TEST(AtomicFile, ReplacementRefusesATemporaryElsewhereOrMissing) {
    cvtest::ScratchFolder folder;
    fs::create_directories(folder / "other");
    const fs::path destination = folder / "dest";
    writePlain(destination, "old");
    writePlain(folder / "other" / "dest.tmp.1.2.3", "new");
    std::string error;
    EXPECT_FALSE(np::replaceFileAtomically(folder / "other" / "dest.tmp.1.2.3", destination, &error));
    EXPECT_EQ(error, "Atomic replacement requires a temporary file in the destination folder");
    EXPECT_TRUE(fs::exists(folder / "other" / "dest.tmp.1.2.3"));
    EXPECT_EQ(fs::file_size(destination), 3u);

    EXPECT_FALSE(np::replaceFileAtomically(folder / "dest.tmp.9.9.9", destination, &error));
    EXPECT_EQ(error, "Could not reopen the temporary file before replacement");
    EXPECT_EQ(fs::file_size(destination), 3u);
}

TEST(AtomicFile, CleansOnlyItsOwnDayOldTemporariesOfThatDestination) {
    cvtest::ScratchFolder folder;
    const fs::path destination = folder / "prefs.ini";
    const auto now = fs::file_time_type::clock::now();
    struct Entry {
        std::string name;
        std::chrono::seconds age;
        bool directory;
        bool removed;
    };
    using std::chrono::hours;
    using std::chrono::seconds;
    const std::vector<Entry> entries = {
        {"prefs.ini.tmp.12.345.6", hours(24) + seconds(1), false, true},
        {"prefs.ini.tmp.12.345.7", hours(23), false, false},
        {"prefs.ini.tmp.12.345.8", -hours(1), false, false},   // in the future
        {"prefs.ini.tmp.13.345.9", hours(48), true, false},    // a folder
        {"prefs.ini.tmp", hours(48), false, false},            // the user's own file
        {"prefs.ini.tmp.bak", hours(48), false, false},        // the user's own file
        {"prefs.ini.tmp.12.345", hours(48), false, false},     // not our full form
        {"prefs.ini.tmp.12.345.6.7", hours(48), false, false}, // not our full form
        {"prefs.ini.tmp.12.x45.6", hours(48), false, false},   // not digits
        {"other.ini.tmp.12.345.6", hours(48), false, false},   // another destination
        {"xprefs.ini.tmp.12.345.6", hours(48), false, false},  // another destination
    };
    for (const Entry& entry : entries) {
        if (entry.directory) {
            fs::create_directory(folder / entry.name);
        } else {
            writePlain(folder / entry.name, "x");
        }
        fs::last_write_time(folder / entry.name, now - entry.age);
    }
    ASSERT_TRUE(np::writeFileAtomically(destination, pattern(4, 3), nullptr, true));
    for (const Entry& entry : entries) {
        SCOPED_TRACE(entry.name);
        EXPECT_EQ(fs::exists(folder / entry.name), !entry.removed);
    }

    // The streaming path cleans up the same way.
    writePlain(folder / "prefs.ini.tmp.1.1.1", "x");
    fs::last_write_time(folder / "prefs.ini.tmp.1.1.1", now - hours(25));
    fs::path temporary;
    ASSERT_TRUE(np::createAtomicTemporaryFile(destination, temporary, nullptr, true));
    EXPECT_FALSE(fs::exists(folder / "prefs.ini.tmp.1.1.1"));
}

TEST(AtomicFile, CancelAtAnyPollKeepsTheOldFileAndLeavesNoTemporary) {
    cvtest::ScratchFolder folder;
    const fs::path destination = folder / "session.bin";
    const auto oldBytes = pattern(1000, 4);
    ASSERT_TRUE(np::writeFileAtomically(destination, oldBytes, nullptr, true));
    const auto newBytes = pattern(2 * 1048576 + 10, 5);

    int polls = 0;
    ASSERT_TRUE(np::writeFileAtomically(destination, newBytes, nullptr, true, [&] { return ++polls > 0; }));
    ASSERT_TRUE(np::writeFileAtomically(destination, oldBytes, nullptr, true));
    // Start, each of three pieces, after the data, and after the flush just before the rename.
    EXPECT_EQ(polls, 6);

    for (int stopAt = 1; stopAt <= polls; ++stopAt) {
        SCOPED_TRACE(stopAt);
        int calls = 0;
        std::string error;
        EXPECT_FALSE(
            np::writeFileAtomically(destination, newBytes, &error, true, [&] { return ++calls < stopAt; }));
        EXPECT_EQ(error, "File writing was cancelled");
        EXPECT_EQ(contentsOf(destination), oldBytes);
        EXPECT_TRUE(extraEntries(folder.path(), {"session.bin"}).empty());
    }
}

TEST(AtomicFile, RefusesAWriteThatWouldLeaveLessThanOneMebibyteFree) {
    cvtest::ScratchFolder folder;
    const fs::path destination = folder / "huge.bin";
    const fs::space_info space = fs::space(folder.path());
    // The bytes are never touched: the space test comes before the temporary is opened.
    const std::uint8_t byte = 0;
    const std::span<const std::uint8_t> tooLarge(&byte, static_cast<std::size_t>(space.available));
    std::string error;
    EXPECT_FALSE(np::writeFileAtomically(destination, tooLarge, &error, false));
    EXPECT_EQ(error, "There is not enough free disk space to save this file");
    EXPECT_FALSE(fs::exists(destination));
    EXPECT_TRUE(extraEntries(folder.path(), {}).empty());
}

TEST(AtomicFile, BoundedReadAcceptsTheBoundAndRefusesOneByteMore) {
    cvtest::ScratchFolder folder;
    const auto bytes = pattern(3 * 1048576 + 1, 6);
    ASSERT_TRUE(np::writeFileAtomically(folder / "f", bytes, nullptr, false));
    std::vector<std::uint8_t> out{1, 2, 3};
    std::string error;
    ASSERT_TRUE(np::readFileBounded(folder / "f", bytes.size(), out, &error)) << error;
    EXPECT_EQ(out, bytes);

    out = {1, 2, 3};
    EXPECT_FALSE(np::readFileBounded(folder / "f", bytes.size() - 1, out, &error));
    EXPECT_EQ(error, "The file exceeds the supported size limit");
    EXPECT_TRUE(out.empty());
}

TEST(AtomicFile, BoundedReadFailuresLeaveTheOutputEmpty) {
    cvtest::ScratchFolder folder;
    ASSERT_TRUE(np::writeFileAtomically(folder / "f", pattern(2 * 1048576, 7), nullptr, false));
    {
        SCOPED_TRACE("missing file");
        std::vector<std::uint8_t> out{9};
        std::string error;
        EXPECT_FALSE(np::readFileBounded(folder / "missing", 100, out, &error));
        EXPECT_EQ(error.rfind("Could not inspect the file: ", 0), 0u) << error;
        EXPECT_TRUE(out.empty());
    }
    // Start, before the first read, before each of two pieces, and after the last piece.
    for (int stopAt = 1; stopAt <= 5; ++stopAt) {
        SCOPED_TRACE(stopAt);
        int calls = 0;
        std::vector<std::uint8_t> out{9};
        std::string error;
        EXPECT_FALSE(
            np::readFileBounded(folder / "f", 1 << 30, out, &error, [&] { return ++calls < stopAt; }));
        EXPECT_EQ(error, "File reading was cancelled");
        EXPECT_TRUE(out.empty());
    }
    {
        // Its size says 0 but it holds text: the reader must not return it cut short as empty.
        SCOPED_TRACE("file longer than its size");
        std::vector<std::uint8_t> out{9};
        std::string error;
        EXPECT_FALSE(np::readFileBounded("/proc/self/status", 1 << 20, out, &error));
        EXPECT_EQ(error, "The file could not be read completely");
        EXPECT_TRUE(out.empty());
    }
}

TEST(PrivateFolder, CreatesNestedFoldersOwnerOnlyAndRestrictsExistingOnes) {
    cvtest::ScratchFolder folder;
    const fs::path nested = folder / "Library" / "Application Support" / "Corvalinth";
    std::string error;
    ASSERT_TRUE(np::ensurePrivateDirectory(nested, &error)) << error;
    EXPECT_EQ(modeOf(nested), 0700u);

    fs::permissions(nested, fs::perms::all);
    ASSERT_TRUE(np::ensurePrivateDirectory(nested, &error)) << error;
    EXPECT_EQ(modeOf(nested), 0700u);
}

TEST(PrivateFolder, RefusesAnEmptyPathAndAFileInTheWay) {
    cvtest::ScratchFolder folder;
    std::string error;
    EXPECT_FALSE(np::ensurePrivateDirectory("", &error));
    EXPECT_EQ(error, "The private application-data directory path is empty");
    writePlain(folder / "file", "x");
    EXPECT_FALSE(np::ensurePrivateDirectory(folder / "file", &error));
    EXPECT_EQ(error, "The private application-data path is not a directory");
    EXPECT_FALSE(np::ensurePrivateDirectory(folder / "file" / "below", &error));
    EXPECT_EQ(error.rfind("Could not create the private application-data directory: ", 0), 0u) << error;
}

TEST(FileLock, ReportsTheOperationsOwnFailureAndKeepsTheLockFile) {
    cvtest::ScratchFolder folder;
    const fs::path lock = folder / "locks" / "prefs.ini.lock";
    std::string error;
    EXPECT_FALSE(np::withExclusiveFileLock(lock, {}, &error));
    EXPECT_EQ(error, "The locked persistence operation is missing");
    EXPECT_FALSE(fs::exists(lock));

    EXPECT_FALSE(np::withExclusiveFileLock(
        lock,
        [&] {
            error = "Could not parse the preferences";
            return false;
        },
        &error));
    EXPECT_EQ(error, "Could not parse the preferences");
    EXPECT_TRUE(fs::exists(lock));
    EXPECT_EQ(modeOf(lock), 0600u);

    EXPECT_FALSE(np::withExclusiveFileLock(
        lock, []() -> bool { throw std::runtime_error("disk on fire"); }, &error));
    EXPECT_EQ(error, "The locked persistence operation failed: disk on fire");
    EXPECT_FALSE(np::withExclusiveFileLock(
        lock, []() -> bool { throw 7; }, &error));
    EXPECT_EQ(error, "The locked persistence operation failed unexpectedly");

    // After failures and exceptions the lock is free again.
    EXPECT_TRUE(np::withExclusiveFileLock(
        lock, [] { return true; }, &error));
    EXPECT_TRUE(fs::exists(lock));
}

TEST(FileLock, ExcludesOtherProcessesWhileTheOperationRuns) {
    cvtest::ScratchFolder folder;
    const fs::path lock = folder / "prefs.ini.lock";
    int ready[2];
    int release[2];
    ASSERT_EQ(::pipe(ready), 0);
    ASSERT_EQ(::pipe(release), 0);
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        const bool ok = np::withExclusiveFileLock(
            lock,
            [&] {
                char c = 'r';
                char back = 0;
                return ::write(ready[1], &c, 1) == 1 && ::read(release[0], &back, 1) == 1;
            },
            nullptr);
        ::_exit(ok ? 0 : 1);
    }
    // With only the child holding these ends, a child that dies early gives end-of-file, not a hang.
    ::close(ready[1]);
    ::close(release[0]);
    char c = 0;
    ASSERT_EQ(::read(ready[0], &c, 1), 1);
    const int fd = ::open(lock.c_str(), O_RDWR);
    ASSERT_GE(fd, 0);
    EXPECT_NE(::flock(fd, LOCK_EX | LOCK_NB), 0) << "another process could take the lock";
    ASSERT_EQ(::write(release[1], &c, 1), 1);
    int status = 0;
    ::waitpid(child, &status, 0);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    EXPECT_EQ(::flock(fd, LOCK_EX | LOCK_NB), 0) << "the lock was not released";
    ::close(fd);
    ::close(ready[0]);
    ::close(release[1]);
}
