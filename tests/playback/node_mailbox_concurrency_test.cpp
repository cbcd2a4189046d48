#include "engine/playback/node_mailbox.h"
#include "tests/support/alloc_counter.h"

#include <atomic>
#include <cstdint>
#include <gtest/gtest.h>
#include <random>
#include <thread>

namespace {

// The payload hides an invariant (check == ~value), so a node read after it was freed or while it
// was being written shows up as a broken pair.
struct StressNode {
    explicit StressNode(std::uint64_t v, bool counted = true) : value(v), check(~v), counted(counted) {
        if (counted)
            ++live;
    }
    ~StressNode() {
        if (counted)
            --live;
        check = value; // a second free or a late read sees a broken pair
    }
    std::uint64_t value;
    std::uint64_t check;
    bool counted;
    StressNode* next = nullptr;
    static inline std::atomic<int> live{0};
};

TEST(NodeMailbox, ConsumerAndPublisherRaceWithoutLossLeakOrAllocation) {
    constexpr int kActions = 100000;
    StressNode marker(0, false);
    std::atomic<bool> done{false};
    int brokenPayloads = 0;
    std::uint64_t lastValue = 0;
    int outOfOrder = 0;
    std::int64_t nodesSeen = 0;
    cvtest::AllocationCounts audioCounts;
    {
        np::NodeMailbox<StressNode> mailbox(&marker);
        std::thread audio([&] {
            cvtest::ScopedAllocationCounter counter;
            StressNode* current = nullptr;
            while (!done.load()) {
                StressNode* taken = mailbox.take();
                if (taken == nullptr) {
                    if (current != nullptr && current->check != ~current->value)
                        ++brokenPayloads;
                    continue;
                }
                mailbox.retire(current);
                current = nullptr;
                if (mailbox.isClearMarker(taken))
                    continue;
                if (taken->check != ~taken->value)
                    ++brokenPayloads;
                // Values are published in increasing order; the slot only ever shows a newer one.
                if (taken->value <= lastValue)
                    ++outOfOrder;
                lastValue = taken->value;
                ++nodesSeen;
                current = taken;
            }
            mailbox.retire(current);
            audioCounts = counter.counts();
        });

        std::mt19937 random(7);
        std::uniform_int_distribution<int> action(0, 99);
        std::uint64_t nextValue = 1;
        int boundBreaches = 0;
        for (int i = 0; i < kActions; ++i) {
            const int a = action(random);
            if (a < 80)
                mailbox.publish(std::make_unique<StressNode>(nextValue++));
            else if (a < 83)
                mailbox.clear();
            else if (a < 85)
                mailbox.drain();
            else
                std::this_thread::yield();
            // 64 outstanding, one parked and the one being built.
            if (mailbox.outstanding() > np::NodeMailbox<StressNode>::kMaxOutstanding ||
                StressNode::live.load() > 66)
                ++boundBreaches;
        }
        done.store(true);
        audio.join();
        EXPECT_EQ(boundBreaches, 0);
        EXPECT_GT(nextValue, 1u);
    }
    EXPECT_EQ(brokenPayloads, 0);
    EXPECT_EQ(outOfOrder, 0);
    EXPECT_GT(nodesSeen, 0);
    EXPECT_EQ(StressNode::live.load(), 0) << "every node is freed exactly once";
    EXPECT_EQ(audioCounts.allocations, 0u);
    EXPECT_EQ(audioCounts.frees, 0u);
}

} // namespace
