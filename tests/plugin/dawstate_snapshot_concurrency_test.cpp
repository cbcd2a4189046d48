#include "plugin/dawstate_snapshot.h"

#include <atomic>
#include <gtest/gtest.h>
#include <thread>
#include <vector>

namespace {

// Every field of snapshot n is derived from n, so a torn or half-built snapshot shows.
cv::dawstate::Snapshot numbered(std::uint64_t n) {
    cv::dawstate::Snapshot snapshot;
    snapshot.values = {static_cast<double>(n % 101), 0.0, 0.0, 0.0, 120.0, 3.0};
    snapshot.anchor = static_cast<std::int64_t>(n);
    snapshot.document.nextNoteId = static_cast<std::uint32_t>(n);
    snapshot.document.notes.resize(n % 7);
    snapshot.generation = n;
    return snapshot;
}

bool intact(const cv::dawstate::Snapshot& s) {
    const std::uint64_t n = s.generation;
    return s.anchor == static_cast<std::int64_t>(n) && s.document.nextNoteId == n &&
           s.document.notes.size() == n % 7 && s.values[0] == static_cast<double>(n % 101);
}

} // namespace

TEST(DawStateSnapshotStore, PublishesWholeSnapshotsAndReleasesTheOldOne) {
    cv::dawstate::SnapshotStore store;
    EXPECT_EQ(store.load(), nullptr);
    EXPECT_EQ(store.generation(), 0u);

    auto first = std::make_shared<const cv::dawstate::Snapshot>(numbered(store.raiseGeneration()));
    const std::weak_ptr<const cv::dawstate::Snapshot> watch = first;
    store.publish(std::move(first));
    EXPECT_EQ(store.load()->generation, 1u);

    store.publish(numbered(store.raiseGeneration()));
    EXPECT_TRUE(watch.expired()) << "the store must not keep a replaced snapshot alive";
    const auto latest = store.load();
    EXPECT_EQ(latest->generation, 2u);
    EXPECT_EQ(store.generation(), 2u);
    EXPECT_TRUE(intact(*latest));
}

TEST(DawStateSnapshotStore, ReadersOnOtherThreadsSeeWholeSnapshotsInOrder) {
    cv::dawstate::SnapshotStore store;
    constexpr std::uint64_t kPublishes = 20000;
    std::atomic<bool> done{false};
    std::vector<int> broken(3, 0);
    std::vector<int> backwards(3, 0);
    std::vector<std::thread> readers;
    for (std::size_t r = 0; r < broken.size(); ++r) {
        readers.emplace_back([&, r] {
            std::uint64_t last = 0;
            bool finished = false;
            while (!finished) {
                finished = done.load(); // one more load after the last publish
                const auto snapshot = store.load();
                if (snapshot == nullptr) {
                    continue;
                }
                broken[r] += intact(*snapshot) ? 0 : 1;
                backwards[r] += snapshot->generation < last ? 1 : 0;
                last = snapshot->generation;
            }
            broken[r] += last == kPublishes ? 0 : 1;
        });
    }
    for (std::uint64_t i = 0; i < kPublishes; ++i) {
        store.publish(numbered(store.raiseGeneration()));
    }
    done.store(true);
    for (std::thread& reader : readers) {
        reader.join();
    }
    for (std::size_t r = 0; r < broken.size(); ++r) {
        EXPECT_EQ(broken[r], 0) << "reader " << r;
        EXPECT_EQ(backwards[r], 0) << "reader " << r;
    }
}
