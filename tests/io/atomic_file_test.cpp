#include "engine/io/atomic_file.h"
#include "engine/io/wav_export.h"
#include "tests/io/storage_test_folder.h"

#include <chrono>
#include <climits>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace fs = std::filesystem;
using cvtest::contentsOf;
using Names = std::set<std::string>;

namespace {

std::vector<std::uint8_t> pattern(std::size_t size, std::uint8_t seed) {
    std::vector<std::uint8_t> bytes(size);
    for (std::size_t i = 0; i < size; ++i) {
        bytes[i] = static_cast<std::uint8_t>((i * 131 + seed) ^ (i >> 11));
    }
    return bytes;
}

unsigned modeOf(const fs::path& path) {
    struct stat info {};
    ::stat(path.c_str(), &info);
    return info.st_mode & 0777;
}

} // namespace

TEST(AtomicFile, WritesExactBytesOfAnySizeIntoNewFoldersAndLeavesNoTemporary) {
    cvtest::ScratchFolder folder;
    // Empty, under one write piece, and across several 1 MiB pieces with a ragged end.
    for (const std::size_t size : {std::size_t{0}, std::size_t{17}, std::size_t{2621440 + 3}}) {
        SCOPED_TRACE(size);
        const auto bytes = pattern(size, static_cast<std::uint8_t>(size));
        std::string error;
        ASSERT_TRUE(np::writeFileAtomically(folder / "new" / "out.bin", bytes, &error, true)) << error;
        EXPECT_EQ(contentsOf(folder / "new" / "out.bin"), bytes);
        EXPECT_EQ(std::distance(fs::directory_iterator(folder / "new"), fs::directory_iterator()), 1);
    }
    // A bare name lies in the current folder, which is also the one flushed after the rename.
    const fs::path previous = fs::current_path();
    fs::current_path(folder.path());
    std::string error;
    const bool written = np::writeFileAtomically("bare.bin", pattern(100, 2), &error, false);
    fs::current_path(previous);
    EXPECT_TRUE(written) << error;
    EXPECT_EQ(contentsOf(folder / "bare.bin"), pattern(100, 2));
}

TEST(AtomicFile, KeepsTheModeOfTheFileItReplacesAndRefusesAReadOnlyOne) {
    const mode_t previous = ::umask(022); // the umask would otherwise decide a new shared file's mode
    cvtest::ScratchFolder folder;
    // Mode before the write (0 for none), private or not, mode after.
    const struct {
        unsigned before;
        bool privateFile;
        unsigned after;
    } cases[] = {
        {0, true, 0600}, {0, false, 0644}, {0600, false, 0600}, {0640, false, 0640}, {0644, true, 0600}};
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << std::oct << c.before << (c.privateFile ? " private" : ""));
        fs::remove(folder / "f");
        if (c.before != 0) {
            cvtest::writeBytes(folder / "f", {'x'});
            fs::permissions(folder / "f", fs::perms(c.before));
        }
        std::string error;
        ASSERT_TRUE(np::writeFileAtomically(folder / "f", pattern(10, 1), &error, c.privateFile)) << error;
        EXPECT_EQ(modeOf(folder / "f"), c.after);
    }
    ::umask(previous);
    // Refused even for the superuser, whom the mode does not stop from writing.
    fs::permissions(folder / "f", fs::perms(0444));
    std::string error;
    EXPECT_FALSE(np::writeFileAtomically(folder / "f", pattern(20, 2), &error, false));
    EXPECT_EQ(error, "The destination file is read-only");
    EXPECT_EQ(contentsOf(folder / "f"), pattern(10, 1));
    EXPECT_EQ(folder.names(), Names{"f"});
}

TEST(AtomicFile, ASaveThroughSymbolicLinksReplacesTheLinkedFileInItsOwnFolder) {
    cvtest::ScratchFolder folder;
    fs::create_directories(folder / "real");
    fs::create_directories(folder / "links");
    cvtest::writeBytes(folder / "real" / "song.bin", {'o', 'l', 'd'});
    fs::create_symlink("../real/song.bin", folder / "links" / "first"); // relative to the link's folder
    fs::create_symlink(folder / "links" / "first", folder / "links" / "second"); // a chain
    fs::create_symlink("../real/new.bin", folder / "links" / "dangling");        // names a file to create
    const std::pair<const char*, const char*> cases[] = {
        {"second", "song.bin"}, {"first", "song.bin"}, {"dangling", "new.bin"}};
    for (const auto& [link, target] : cases) {
        SCOPED_TRACE(link);
        const auto bytes = pattern(100, static_cast<std::uint8_t>(link[0]));
        std::string error;
        ASSERT_TRUE(np::writeFileAtomically(folder / "links" / link, bytes, &error, false)) << error;
        EXPECT_TRUE(fs::is_symlink(folder / "links" / link));
        EXPECT_EQ(contentsOf(folder / "real" / target), bytes);
    }
    EXPECT_EQ(std::distance(fs::directory_iterator(folder / "real"), fs::directory_iterator()), 2);
    fs::create_symlink("loop", folder / "links" / "loop");
    std::string error;
    EXPECT_FALSE(np::writeFileAtomically(folder / "links" / "loop", pattern(1, 1), &error, false));
    EXPECT_EQ(error, "Could not follow the destination's links: Too many levels of symbolic links");
}

// What cannot be replaced is refused by the check alone, before any work, with the sentence the save
// itself would give; the check creates nothing, not even the destination's folder.
TEST(AtomicFile, RefusesAtTheCheckWhatTheSaveWouldRefuseAndANameWithNoRoomForItsTemporary) {
    cvtest::ScratchFolder folder;
    const std::size_t longest = NAME_MAX - np::kTemporarySuffixMaxBytes;
    const std::string tooLong = "The destination's file name is too long: names of at most " +
                                std::to_string(longest) + " bytes can be saved here";
    cvtest::writeBytes(folder / "locked", {'x'});
    fs::permissions(folder / "locked", fs::perms(0444));
    fs::create_directory(folder / "dir");
    ASSERT_EQ(::mkfifo((folder / "fifo").c_str(), 0600), 0);
    fs::create_symlink("dir", folder / "to-dir");
    const std::pair<fs::path, std::string> cases[] = {
        {fs::path("new") / std::string(longest, 'n'), ""}, // the longest name, in a folder yet to make
        {fs::path("new") / std::string(longest + 1, 'n'), tooLong},
        {std::string(NAME_MAX, 'n'), tooLong},
        {"locked", "The destination file is read-only"},
        {"dir", "The destination exists but is not a regular file"},
        {"to-dir", "The destination exists but is not a regular file"},
        {"fifo", "The destination exists but is not a regular file"},
    };
    for (const auto& [name, sentence] : cases) {
        SCOPED_TRACE(name.string().substr(0, 20));
        std::string error;
        EXPECT_EQ(np::checkReplaceableDestination(folder / name, &error), sentence.empty());
        EXPECT_EQ(error, sentence);
        EXPECT_FALSE(fs::exists(folder / "new"));
        error.clear();
        EXPECT_EQ(np::writeFileAtomically(folder / name, pattern(10, 1), &error, false), sentence.empty());
        EXPECT_EQ(error, sentence);
        fs::remove_all(folder / "new");
    }
    EXPECT_EQ(folder.names(), (Names{"dir", "fifo", "locked", "to-dir"}));
}

TEST(AtomicFile, CleansOnlyItsOwnDayOldTemporariesOfThatDestination) {
    using std::chrono::hours;
    // Entries with their age in hours; only the first, a temporary of this code's own making a second
    // over a day old, may go.
    const std::pair<std::string, std::chrono::seconds> entries[] = {
        {"prefs.ini.tmp.12.345.6", hours(24) + std::chrono::seconds(1)},
        {"prefs.ini.tmp.12.345.7", hours(23)},
        {"prefs.ini.tmp.12.345.8", -hours(1)},  // dated in the future
        {"prefs.ini.tmp.13.345.9/", hours(48)}, // a folder
        {"prefs.ini.tmp", hours(48)},
        {"prefs.ini.tmp.bak", hours(48)}, // the user's own files
        {"prefs.ini.tmp.12.345", hours(48)},
        {"prefs.ini.tmp.12.x45.6", hours(48)},
        {"xprefs.ini.tmp.12.345.6", hours(48)}, // another destination
    };
    cvtest::ScratchFolder folder;
    const auto now = fs::file_time_type::clock::now();
    for (const auto& [name, age] : entries) {
        if (name.back() == '/') {
            fs::create_directory(folder / name);
        } else {
            cvtest::writeBytes(folder / name, {'x'});
        }
        fs::last_write_time(folder / name, now - age);
    }
    ASSERT_TRUE(np::writeFileAtomically(folder / "prefs.ini", pattern(4, 3), nullptr, true));
    EXPECT_FALSE(fs::exists(folder / entries[0].first));
    for (std::size_t i = 1; i < std::size(entries); ++i) {
        EXPECT_TRUE(fs::exists(folder / entries[i].first)) << entries[i].first;
    }
}

TEST(AtomicFile, FreeSpaceMustExceedTheWriteByTheMargin) {
    // A mebibyte for whole-file writes, a mebibyte and 4 KiB for WAV exports, measured on a 5 GB disk.
    for (const auto& [spare, written] :
         {std::pair{np::kAtomicWriteSpareBytes, 1048576}, {np::kWavExportSpareBytes, 1052672}}) {
        SCOPED_TRACE(written);
        const std::uintmax_t available = 5000000000;
        EXPECT_TRUE(np::detail::freeSpaceAllows(available, available - written, spare));
        EXPECT_FALSE(np::detail::freeSpaceAllows(available, available - written + 1, spare));
        EXPECT_FALSE(np::detail::freeSpaceAllows(available, available + 1, spare));
    }
    // The check comes before the temporary: a write far beyond the free space leaves nothing behind.
    cvtest::ScratchFolder folder;
    const std::uint8_t byte = 0;
    const std::span<const std::uint8_t> tooLarge(&byte, fs::space(folder.path()).available +
                                                            (std::uintmax_t{1} << 40));
    std::string error;
    EXPECT_FALSE(np::writeFileAtomically(folder / "huge.bin", tooLarge, &error, false));
    EXPECT_EQ(error, "There is not enough free disk space to save this file");
    EXPECT_TRUE(folder.names().empty());
}

TEST(AtomicFile, BoundedReadTakesTheBoundAndRefusesMoreOrAFileChangedWhileRead) {
    cvtest::ScratchFolder folder;
    const fs::path path = folder / "f";
    const auto bytes = pattern(2 * 1048576 + 1, 6);
    cvtest::writeBytes(path, bytes);
    std::vector<std::uint8_t> out{1, 2, 3};
    std::string error;
    ASSERT_TRUE(np::readFileBounded(path, bytes.size(), out, &error)) << error;
    EXPECT_EQ(out, bytes);
    EXPECT_FALSE(np::readFileBounded(path, bytes.size() - 1, out, &error));
    EXPECT_EQ(error, "The file exceeds the supported size limit");
    EXPECT_TRUE(out.empty());
    EXPECT_FALSE(np::readFileBounded(folder / "missing", 100, out, &error));
    EXPECT_TRUE(error.starts_with("Could not inspect the file: ")) << error;
    // Polls: start, after measuring the opened file, before each of three pieces, after the last. At a
    // poll the file grows or shrinks to a new size, or (size 0) the poll says stop.
    const std::pair<int, std::uintmax_t> cases[] = {{2, 3145729}, {5, 1048583}, {1, 0}, {3, 0}, {6, 0}};
    for (const auto& [poll, size] : cases) {
        SCOPED_TRACE(testing::Message() << "poll " << poll << " size " << size);
        cvtest::writeBytes(path, bytes);
        int calls = 0;
        out = {9};
        EXPECT_FALSE(np::readFileBounded(path, 1 << 30, out, &error, [&, atPoll = poll, newSize = size] {
            if (++calls == atPoll && newSize != 0) {
                fs::resize_file(path, newSize);
            }
            return calls != atPoll || newSize != 0;
        }));
        EXPECT_EQ(error, size != 0 ? "The file could not be read completely" : "File reading was cancelled");
        EXPECT_TRUE(out.empty());
    }
}

TEST(PrivateFolder, CreatesOwnerOnlyFoldersAndRefusesAFileInTheWay) {
    cvtest::ScratchFolder folder;
    const fs::path nested = folder / "Library" / "Application Support" / "Corvalinth";
    std::string error;
    ASSERT_TRUE(np::ensurePrivateDirectory(nested, &error)) << error;
    EXPECT_EQ(modeOf(nested), 0700u);
    fs::permissions(nested, fs::perms::all);
    ASSERT_TRUE(np::ensurePrivateDirectory(nested, &error)) << error;
    EXPECT_EQ(modeOf(nested), 0700u);

    EXPECT_FALSE(np::ensurePrivateDirectory("", &error));
    EXPECT_EQ(error, "The private application-data directory path is empty");
    cvtest::writeBytes(folder / "file", {'x'});
    EXPECT_FALSE(np::ensurePrivateDirectory(folder / "file", &error));
    EXPECT_EQ(error, "The private application-data path is not a directory");
}

TEST(FileLock, ExcludesOtherProcessesAndIsFreeAgainAfterAFailureOrAnException) {
    cvtest::ScratchFolder folder;
    const fs::path lock = folder / "locks" / "prefs.ini.lock";
    // A fresh process opens the lock file on its own and tries to take it without waiting.
    const auto otherProcessCanLock = [&] {
        const int status = cvtest::runInChild([&] {
            const int fd = ::open(lock.c_str(), O_RDWR);
            return fd >= 0 && ::flock(fd, LOCK_EX | LOCK_NB) == 0;
        });
        return WIFEXITED(status) && WEXITSTATUS(status) == 1;
    };
    bool lockedOut = false;
    std::string error;
    const auto failing = [&] {
        lockedOut = !otherProcessCanLock();
        error = "Could not parse the preferences";
        return false;
    };
    EXPECT_FALSE(np::withExclusiveFileLock(lock, failing, &error));
    EXPECT_TRUE(lockedOut);
    EXPECT_EQ(error, "Could not parse the preferences");
    EXPECT_EQ(modeOf(lock), 0600u);
    EXPECT_FALSE(np::withExclusiveFileLock(
        lock, []() -> bool { throw std::runtime_error("disk on fire"); }, &error));
    EXPECT_EQ(error, "The locked persistence operation failed: disk on fire");
    EXPECT_TRUE(otherProcessCanLock()) << "the lock was not released";
}
