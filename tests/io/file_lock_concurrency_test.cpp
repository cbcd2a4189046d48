#include "engine/io/atomic_file.h"
#include "tests/io/storage_test_folder.h"

#include <gtest/gtest.h>
#include <string>
#include <thread>
#include <vector>

namespace fs = std::filesystem;

// Read-modify-write cycles under the lock lose no update, and every read sees a whole file.
TEST(FileLockConcurrency, ReadModifyWriteCyclesLoseNoUpdate) {
    cvtest::ScratchFolder folder;
    const fs::path counter = folder / "counter.txt";
    const auto parse = [](const std::vector<std::uint8_t>& bytes) {
        return bytes.empty() ? 0 : std::stoi(std::string(bytes.begin(), bytes.end()));
    };
    constexpr int kThreads = 4;
    constexpr int kRounds = 40;
    std::vector<int> failures(kThreads, 0);
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&, t] {
            for (int r = 0; r < kRounds; ++r) {
                std::string error;
                const auto cycle = [&] {
                    std::vector<std::uint8_t> bytes;
                    if (fs::exists(counter) && !np::readFileBounded(counter, 64, bytes, &error)) {
                        return false;
                    }
                    const std::string next = std::to_string(parse(bytes) + 1);
                    return np::writeFileAtomically(
                        counter, {reinterpret_cast<const std::uint8_t*>(next.data()), next.size()}, &error,
                        true);
                };
                failures[t] += np::withExclusiveFileLock(folder / "counter.txt.lock", cycle, &error) ? 0 : 1;
            }
        });
    }
    for (auto& thread : threads) {
        thread.join();
    }
    EXPECT_EQ(failures, std::vector<int>(kThreads, 0));
    EXPECT_EQ(parse(cvtest::contentsOf(counter)), kThreads * kRounds);
}
