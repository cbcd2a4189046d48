// A process killed in the middle of a replacement leaves the destination holding either the complete
// old file or, once the replacement is done, the complete new one.

#include "engine/io/atomic_file.h"
#include "tests/io/storage_test_folder.h"

#include <csignal>
#include <gtest/gtest.h>

namespace fs = std::filesystem;
using cvtest::contentsOf;

namespace {

std::vector<std::uint8_t> filled(std::size_t size, std::uint8_t value) {
    std::vector<std::uint8_t> bytes(size, value);
    bytes.back() = static_cast<std::uint8_t>(value + 1); // a distinct last byte shows a file cut short
    return bytes;
}

} // namespace

TEST(AtomicReplaceCrash, KilledAtEachStepLeavesTheOldFileWhole) {
    cvtest::ScratchFolder folder;
    const fs::path destination = folder / "state.bin";
    const auto oldBytes = filled(1536 * 1024, 0x11);
    const auto newBytes = filled(3 * 1048576 + 100, 0x22);
    ASSERT_TRUE(np::writeFileAtomically(destination, oldBytes, nullptr, true));
    // The write polls at its start, before each of four pieces, after the data and after the flush; the
    // child kills itself at each of those points, up to just before the rename.
    for (int killAt = 1; killAt <= 7; ++killAt) {
        SCOPED_TRACE(killAt);
        const int status = cvtest::runInChild([&] {
            int calls = 0;
            return np::writeFileAtomically(destination, newBytes, nullptr, true, [&] {
                if (++calls == killAt) {
                    ::raise(SIGKILL);
                }
                return true;
            });
        });
        ASSERT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL);
        EXPECT_EQ(contentsOf(destination), oldBytes);
    }
    const int status =
        cvtest::runInChild([&] { return np::writeFileAtomically(destination, newBytes, nullptr, true); });
    ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 1) << "the write did not succeed";
    EXPECT_EQ(contentsOf(destination), newBytes);
}
