#include "engine/io/atomic_file.h"
#include "tests/io/storage_test_folder.h"

#include <chrono>
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

TEST(AtomicFile, PrivateFilesAreOwnerOnlyAndOthersWorldReadable) {
    const mode_t previous = ::umask(022); // the umask would otherwise decide a shared file's mode
    cvtest::ScratchFolder folder;
    ASSERT_TRUE(np::writeFileAtomically(folder / "private", pattern(10, 1), nullptr, true));
    ASSERT_TRUE(np::writeFileAtomically(folder / "shared", pattern(10, 1), nullptr, false));
    fs::path temporary;
    ASSERT_TRUE(np::createAtomicTemporaryFile(folder / "private", temporary, nullptr, true));
    ::umask(previous);
    EXPECT_EQ(modeOf(folder / "private"), 0600u);
    EXPECT_EQ(modeOf(folder / "shared"), 0644u);
    EXPECT_EQ(modeOf(temporary), 0600u);
}

TEST(AtomicFile, CleansOnlyItsOwnDayOldTemporariesOfThatDestination) {
    using std::chrono::hours;
    // Entries that must stay, with their age in hours.
    const std::pair<std::string, int> kept[] = {
        {"prefs.ini.tmp.12.345.7", 23},  {"prefs.ini.tmp.12.345.8", -1}, // dated in the future
        {"prefs.ini.tmp.13.345.9/", 48},                                 // a folder
        {"prefs.ini.tmp", 48},           {"prefs.ini.tmp.bak", 48},      // the user's own files
        {"prefs.ini.tmp.12.345", 48},    {"prefs.ini.tmp.12.345.6.7", 48}, {"prefs.ini.tmp.12.x45.6", 48},
        {"other.ini.tmp.12.345.6", 48},  {"xprefs.ini.tmp.12.345.6", 48}, // other destinations
    };
    // Both the whole-file write and the streaming path clean up.
    for (const bool streaming : {false, true}) {
        SCOPED_TRACE(streaming ? "streaming" : "whole file");
        cvtest::ScratchFolder folder;
        const auto now = fs::file_time_type::clock::now();
        for (const auto& [name, age] : kept) {
            if (name.back() == '/') {
                fs::create_directory(folder / name);
            } else {
                cvtest::writeBytes(folder / name, {'x'});
            }
            fs::last_write_time(folder / name, now - hours(age));
        }
        // A temporary of this code's own making, a second over a day old.
        fs::path own;
        ASSERT_TRUE(np::createAtomicTemporaryFile(folder / "prefs.ini", own, nullptr, true));
        fs::last_write_time(own, now - hours(24) - std::chrono::seconds(1));
        fs::path temporary;
        ASSERT_TRUE(streaming ? np::createAtomicTemporaryFile(folder / "prefs.ini", temporary, nullptr, true)
                              : np::writeFileAtomically(folder / "prefs.ini", pattern(4, 3), nullptr, true));
        EXPECT_FALSE(fs::exists(own)) << own;
        for (const auto& entry : kept) {
            EXPECT_TRUE(fs::exists(folder / entry.first)) << entry.first;
        }
    }
}

TEST(AtomicFile, CancelAtAnyPollKeepsTheOldFileAndLeavesNoTemporary) {
    cvtest::ScratchFolder folder;
    const fs::path destination = folder / "session.bin";
    const auto oldBytes = pattern(1000, 4);
    const auto newBytes = pattern(2 * 1048576 + 10, 5);
    ASSERT_TRUE(np::writeFileAtomically(destination, oldBytes, nullptr, true));
    // Polls: start, before each of three pieces, after the data, after the flush just before the rename.
    for (int stopAt = 1; stopAt <= 6; ++stopAt) {
        SCOPED_TRACE(stopAt);
        int calls = 0;
        std::string error;
        EXPECT_FALSE(
            np::writeFileAtomically(destination, newBytes, &error, true, [&] { return ++calls < stopAt; }));
        EXPECT_EQ(error, "File writing was cancelled");
        EXPECT_EQ(contentsOf(destination), oldBytes);
        EXPECT_EQ(folder.names(), Names{"session.bin"});
    }
}

TEST(AtomicFile, RefusesAWriteThatWouldLeaveLessThanOneMebibyteFree) {
    cvtest::ScratchFolder folder;
    // The bytes are never touched: the space test comes before the temporary is opened. The size is
    // far beyond the free space, so other processes freeing disk space meanwhile cannot let it through.
    const std::uint8_t byte = 0;
    const std::span<const std::uint8_t> tooLarge(&byte, fs::space(folder.path()).available +
                                                            (std::uintmax_t{1} << 40));
    std::string error;
    EXPECT_FALSE(np::writeFileAtomically(folder / "huge.bin", tooLarge, &error, false));
    EXPECT_EQ(error, "There is not enough free disk space to save this file");
    EXPECT_TRUE(folder.names().empty());
}

TEST(AtomicFile, BoundedReadAcceptsTheBoundAndRefusesOneByteMore) {
    cvtest::ScratchFolder folder;
    const auto bytes = pattern(3 * 1048576 + 1, 6);
    cvtest::writeBytes(folder / "f", bytes);
    std::vector<std::uint8_t> out{1, 2, 3};
    std::string error;
    ASSERT_TRUE(np::readFileBounded(folder / "f", bytes.size(), out, &error)) << error;
    EXPECT_EQ(out, bytes);
    EXPECT_FALSE(np::readFileBounded(folder / "f", bytes.size() - 1, out, &error));
    EXPECT_EQ(error, "The file exceeds the supported size limit");
    EXPECT_TRUE(out.empty());
    EXPECT_FALSE(np::readFileBounded(folder / "missing", 100, out, &error));
    EXPECT_EQ(error.rfind("Could not inspect the file: ", 0), 0u) << error;
}

TEST(AtomicFile, BoundedReadRefusesAFileChangedAfterItWasMeasured) {
    cvtest::ScratchFolder folder;
    const fs::path path = folder / "f";
    // Polls: start, after measuring the opened file, before each of two pieces, after the last piece.
    // At a poll the file grows or shrinks (new size), or the poll says stop (size 0).
    const std::pair<int, std::uintmax_t> cases[] = {
        {2, 2097153}, {4, 2097153}, {2, 1048576}, {4, 1048583}, {1, 0}, {2, 0}, {3, 0}, {4, 0}, {5, 0}};
    for (const auto& c : cases) {
        const int atPoll = c.first;
        const std::uintmax_t newSize = c.second;
        SCOPED_TRACE(testing::Message() << "poll " << atPoll << " size " << newSize);
        cvtest::writeBytes(path, pattern(2 * 1048576, 7));
        int calls = 0;
        std::vector<std::uint8_t> out{9};
        std::string error;
        EXPECT_FALSE(np::readFileBounded(path, 1 << 30, out, &error, [&] {
            if (++calls == atPoll && newSize != 0) {
                fs::resize_file(path, newSize);
            }
            return calls != atPoll || newSize != 0;
        }));
        EXPECT_EQ(error,
                  newSize != 0 ? "The file could not be read completely" : "File reading was cancelled");
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

TEST(FileLock, ReportsTheOperationsOwnFailureAndIsFreeAfterwards) {
    cvtest::ScratchFolder folder;
    const fs::path lock = folder / "locks" / "prefs.ini.lock";
    std::string error;
    const auto failing = [&] {
        error = "Could not parse the preferences";
        return false;
    };
    EXPECT_FALSE(np::withExclusiveFileLock(lock, failing, &error));
    EXPECT_EQ(error, "Could not parse the preferences");
    EXPECT_EQ(modeOf(lock), 0600u);
    EXPECT_FALSE(np::withExclusiveFileLock(
        lock, []() -> bool { throw std::runtime_error("disk on fire"); }, &error));
    EXPECT_EQ(error, "The locked persistence operation failed: disk on fire");
    // After failures and exceptions the lock is free again, and its file stays.
    EXPECT_TRUE(np::withExclusiveFileLock(
        lock, [] { return true; }, &error));
    EXPECT_TRUE(fs::exists(lock));
}

TEST(FileLock, ExcludesOtherProcessesWhileTheOperationRuns) {
    cvtest::ScratchFolder folder;
    const fs::path lock = folder / "prefs.ini.lock";
    // A fresh process opens the lock file on its own and tries to take it without waiting.
    const auto otherProcessCanLock = [&] {
        const int status = cvtest::runInChild([&] {
            const int fd = ::open(lock.c_str(), O_RDWR);
            return fd >= 0 && ::flock(fd, LOCK_EX | LOCK_NB) == 0;
        });
        return WIFEXITED(status) && WEXITSTATUS(status) == 1;
    };
    bool lockedOut = false;
    ASSERT_TRUE(np::withExclusiveFileLock(
        lock, [&] { return lockedOut = !otherProcessCanLock(); }, nullptr));
    EXPECT_TRUE(lockedOut);
    EXPECT_TRUE(otherProcessCanLock()) << "the lock was not released";
}
