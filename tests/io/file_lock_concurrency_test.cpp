#include "engine/io/atomic_file.h"
#include "tests/io/storage_test_folder.h"

#include <gtest/gtest.h>
#include <string>
#include <thread>
#include <vector>

namespace fs = std::filesystem;

namespace {

std::uint64_t parse(const std::vector<std::uint8_t>& bytes) {
    return bytes.empty() ? 0 : std::stoull(std::string(bytes.begin(), bytes.end()));
}

} // namespace

// Read-modify-write cycles under the lock lose no update, and every read sees a whole file.
TEST(FileLockConcurrency, ReadModifyWriteCyclesLoseNoUpdate) {
    cvtest::ScratchFolder folder;
    const fs::path counter = folder / "counter.txt";
    const fs::path lock = folder / "counter.txt.lock";
    constexpr int kThreads = 4;
    constexpr int kRounds = 40;
    std::vector<std::thread> threads;
    std::vector<int> failures(kThreads, 0);
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&, t] {
            for (int r = 0; r < kRounds; ++r) {
                std::string error;
                const bool ok = np::withExclusiveFileLock(
                    lock,
                    [&] {
                        std::vector<std::uint8_t> bytes;
                        if (fs::exists(counter) && !np::readFileBounded(counter, 64, bytes, &error)) {
                            return false;
                        }
                        const std::string next = std::to_string(parse(bytes) + 1);
                        return np::writeFileAtomically(
                            counter, {reinterpret_cast<const std::uint8_t*>(next.data()), next.size()},
                            &error, true);
                    },
                    &error);
                failures[t] += ok ? 0 : 1;
            }
        });
    }
    for (auto& thread : threads) {
        thread.join();
    }
    for (int t = 0; t < kThreads; ++t) {
        EXPECT_EQ(failures[t], 0) << t;
    }
    std::vector<std::uint8_t> bytes;
    ASSERT_TRUE(np::readFileBounded(counter, 64, bytes, nullptr));
    EXPECT_EQ(parse(bytes), std::uint64_t{kThreads * kRounds});
}
