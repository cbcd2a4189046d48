#include "engine/playback/node_mailbox.h"
#include "tests/support/alloc_counter.h"

#include <atomic>
#include <cstdint>
#include <gtest/gtest.h>
#include <random>
#include <thread>

namespace {

// check == ~value; the destructor breaks the pair, so a node read after it was freed shows.
struct StressNode {
    explicit StressNode(std::uint64_t v) : value(v), check(~v) { ++live; }
    ~StressNode() {
        --live;
        check = value;
    }
    bool intact() const { return check == ~value; }
    std::uint64_t value;
    std::uint64_t check;
    StressNode* next = nullptr;
    static inline std::atomic<int> live{0};
};

TEST(NodeMailbox, ConsumerAndPublisherRaceWithoutLossLeakOrAllocation) {
    StressNode marker(0); // counted in live too
    std::atomic<bool> done{false};
    int broken = 0;
    int outOfOrder = 0;
    std::int64_t nodesSeen = 0;
    cvtest::AllocationCounts audioCounts;
    {
        np::NodeMailbox<StressNode> mailbox(&marker);
        std::thread audio([&] {
            cvtest::ScopedAllocationCounter counter;
            StressNode* current = nullptr;
            std::uint64_t lastValue = 0;
            while (!done.load()) {
                StressNode* taken = mailbox.take();
                if (taken == nullptr) {
                    broken += current != nullptr && !current->intact() ? 1 : 0;
                    continue;
                }
                mailbox.retire(current);
                current = mailbox.isClearMarker(taken) ? nullptr : taken;
                if (current == nullptr)
                    continue;
                broken += current->intact() ? 0 : 1;
                // Values are published in increasing order; the slot only ever shows a newer one.
                outOfOrder += current->value <= lastValue ? 1 : 0;
                lastValue = current->value;
                ++nodesSeen;
            }
            mailbox.retire(current);
            audioCounts = counter.counts();
        });

        std::mt19937 random(7);
        std::uint64_t nextValue = 1;
        int boundBreaches = 0;
        for (int i = 0; i < 100000; ++i) {
            const auto action = random() % 100;
            if (action < 80)
                mailbox.publish(std::make_unique<StressNode>(nextValue++));
            else if (action < 83)
                mailbox.clear();
            else if (action < 85)
                mailbox.drain();
            else
                std::this_thread::yield();
            // 64 outstanding, one parked, the one being built and the marker.
            boundBreaches += mailbox.outstanding() > 64 || StressNode::live.load() > 67 ? 1 : 0;
        }
        done.store(true);
        audio.join();
        EXPECT_EQ(boundBreaches, 0);
    }
    EXPECT_EQ(broken, 0);
    EXPECT_EQ(outOfOrder, 0);
    EXPECT_GT(nodesSeen, 0);
    EXPECT_EQ(StressNode::live.load(), 1) << "every node is freed exactly once";
    EXPECT_EQ(audioCounts.allocations, 0u);
    EXPECT_EQ(audioCounts.frees, 0u);
}

} // namespace
