// A replacement killed or cancelled part way leaves the destination holding the complete old file, and
// once done, the complete new one.

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

TEST(AtomicReplaceCrash, KilledOrCancelledAtEachPollLeavesTheOldFileWhole) {
    cvtest::ScratchFolder folder;
    const fs::path destination = folder / "state.bin";
    const auto oldBytes = filled(1536 * 1024, 0x11);
    const auto newBytes = filled(3 * 1048576 + 100, 0x22);
    ASSERT_TRUE(np::writeFileAtomically(destination, oldBytes, nullptr, true));
    // The write polls at its start, before each of four pieces, after the data and after the flush, up to
    // just before the rename. A child kills itself at each of those points; a cancel there must also
    // remove the temporary.
    for (int poll = 1; poll <= 7; ++poll) {
        SCOPED_TRACE(poll);
        const int status = cvtest::runInChild([&] {
            int calls = 0;
            return np::writeFileAtomically(destination, newBytes, nullptr, true, [&] {
                if (++calls == poll) {
                    ::raise(SIGKILL);
                }
                return true;
            });
        });
        ASSERT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL);
        EXPECT_EQ(contentsOf(destination), oldBytes);
        for (const auto& entry : fs::directory_iterator(folder.path())) {
            if (entry.path() != destination) {
                fs::remove(entry.path()); // what the killed child left; a day-old one would go by itself
            }
        }
        int calls = 0;
        std::string error;
        EXPECT_FALSE(
            np::writeFileAtomically(destination, newBytes, &error, true, [&] { return ++calls < poll; }));
        EXPECT_EQ(error, "File writing was cancelled");
        EXPECT_EQ(contentsOf(destination), oldBytes);
        EXPECT_EQ(folder.names(), std::set<std::string>{"state.bin"});
    }
    const int status =
        cvtest::runInChild([&] { return np::writeFileAtomically(destination, newBytes, nullptr, true); });
    ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 1) << "the write did not succeed";
    EXPECT_EQ(contentsOf(destination), newBytes);
}
