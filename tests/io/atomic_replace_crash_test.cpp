// A process killed in the middle of a replacement leaves the destination holding either the complete
// old file or the complete new one.

#include "engine/io/atomic_file.h"
#include "tests/io/storage_test_folder.h"

#include <csignal>
#include <fstream>
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

namespace fs = std::filesystem;

namespace {

std::vector<std::uint8_t> filled(std::size_t size, std::uint8_t value) {
    std::vector<std::uint8_t> bytes(size, value);
    // A distinct last byte shows a file cut short.
    bytes.back() = static_cast<std::uint8_t>(value + 1);
    return bytes;
}

std::vector<std::uint8_t> contentsOf(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// Runs body in a child process and returns its wait status.
template <typename Body>
int inChild(Body body) {
    const pid_t child = ::fork();
    if (child == 0) {
        body();
        ::_exit(0);
    }
    int status = 0;
    ::waitpid(child, &status, 0);
    return status;
}

} // namespace

TEST(AtomicReplaceCrash, KilledAtEachStepLeavesTheOldFileWhole) {
    cvtest::ScratchFolder folder;
    const fs::path destination = folder / "state.bin";
    const auto oldBytes = filled(1536 * 1024, 0x11);
    const auto newBytes = filled(3 * 1048576 + 100, 0x22);
    ASSERT_TRUE(np::writeFileAtomically(destination, oldBytes, nullptr, true));

    // The write polls at its start, before each 1 MiB piece, after the data and after the flush; the
    // child kills itself at each of those points, up to just before the rename.
    constexpr int kPolls = 7;
    for (int killAt = 1; killAt <= kPolls; ++killAt) {
        SCOPED_TRACE(killAt);
        const int status = inChild([&] {
            int calls = 0;
            np::writeFileAtomically(destination, newBytes, nullptr, true, [&] {
                if (++calls == killAt) {
                    ::raise(SIGKILL);
                }
                return true;
            });
        });
        ASSERT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL);
        EXPECT_EQ(contentsOf(destination), oldBytes);
    }

    // Not killed: the new file stands whole.
    const int status = inChild([&] { np::writeFileAtomically(destination, newBytes, nullptr, true); });
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(contentsOf(destination), newBytes);
}

TEST(AtomicReplaceCrash, KilledAtArbitraryMomentsLeavesOneWholeVersion) {
    cvtest::ScratchFolder folder;
    const fs::path destination = folder / "prefs.ini";
    const auto first = filled(700 * 1024, 0x31);
    const auto second = filled(1200 * 1024, 0x41);
    ASSERT_TRUE(np::writeFileAtomically(destination, first, nullptr, true));

    // The child replaces the file with alternating versions until it is killed; the kill lands at a
    // different point of a write each time.
    for (const int delayMicros : {0, 150, 700, 1500, 4000, 9000, 20000}) {
        SCOPED_TRACE(delayMicros);
        int ready[2];
        ASSERT_EQ(::pipe(ready), 0);
        const pid_t child = ::fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            const char c = 'r';
            if (::write(ready[1], &c, 1) != 1) {
                ::_exit(1);
            }
            for (int i = 0;; ++i) {
                np::writeFileAtomically(destination, i % 2 == 0 ? second : first, nullptr, true);
            }
        }
        char c = 0;
        ASSERT_EQ(::read(ready[0], &c, 1), 1);
        ::usleep(static_cast<useconds_t>(delayMicros));
        ::kill(child, SIGKILL);
        int status = 0;
        ::waitpid(child, &status, 0);
        ::close(ready[0]);
        ::close(ready[1]);
        const auto now = contentsOf(destination);
        EXPECT_TRUE(now == first || now == second) << "size " << now.size();
    }
}
