#include "engine/playback/node_mailbox.h"

#include <gtest/gtest.h>
#include <memory>
#include <vector>

namespace {

struct CountedNode {
    explicit CountedNode(int v) : value(v) { ++live; }
    ~CountedNode() { --live; }
    int value;
    CountedNode* next = nullptr;
    static inline int live = 0;
};

// Plays the audio thread's part by hand, and at the end destroys the mailbox with nodes in its slot,
// parked and retired, proving that every node was freed exactly once.
TEST(NodeMailbox, KeepsOnlyTheNewestUnconsumedNodeAndBoundsMemoryUntilADrain) {
    CountedNode marker(-1);
    auto mailbox = std::make_unique<np::NodeMailbox<CountedNode>>(&marker);
    std::vector<CountedNode*> held;
    const auto publish = [&](int value) { mailbox->publish(std::make_unique<CountedNode>(value)); };
    const auto take = [&] {
        CountedNode* taken = mailbox->take();
        if (taken != nullptr && !mailbox->isClearMarker(taken))
            held.push_back(taken);
        return taken;
    };
    const auto retireHeld = [&] {
        for (CountedNode* node : held)
            mailbox->retire(node);
        held.clear();
    };
    for (int i = 0; i < 500; ++i)
        publish(i); // a stopped consumer keeps only the newest alive
    EXPECT_EQ(std::tuple(CountedNode::live, mailbox->overflows(), mailbox->outstanding()),
              std::tuple(2, 499u, 1));
    EXPECT_EQ(take()->value, 499);
    EXPECT_EQ(mailbox->take(), nullptr);
    publish(1);
    mailbox->clear(); // frees the unconsumed node
    EXPECT_EQ(std::tuple(mailbox->outstanding(), mailbox->isClearMarker(mailbox->take())),
              std::tuple(1l, true));
    mailbox->clear();
    publish(2); // overtakes the clear the consumer never saw
    EXPECT_EQ(std::tuple(mailbox->overflows(), take()->value), std::tuple(500u, 2));
    // With 64 outstanding, an unconsumed node is replaced; once the consumer holds them all, the newest
    // waits parked, replacing an older parked one, until a drain lowers outstanding to 63.
    for (int i = 3; i < 64; ++i) {
        publish(i);
        take();
    }
    publish(100);
    publish(101);
    EXPECT_EQ(std::tuple(mailbox->outstanding(), CountedNode::live, mailbox->hasParked()),
              std::tuple(64, 65, false));
    take();
    const auto overflows = mailbox->overflows();
    publish(102);
    publish(103);
    EXPECT_EQ(std::tuple(CountedNode::live, mailbox->take(), mailbox->overflows()),
              std::tuple(66, nullptr, overflows + 2));
    EXPECT_EQ(mailbox->drain(), 0);
    EXPECT_TRUE(mailbox->hasParked()) << "no room yet";
    mailbox->retire(held.back());
    held.pop_back();
    EXPECT_EQ(mailbox->drain(), 1);
    EXPECT_FALSE(mailbox->hasParked());
    EXPECT_EQ(take()->value, 103);
    publish(104);
    ASSERT_TRUE(mailbox->hasParked());
    mailbox->clear(); // drops a parked node for good
    EXPECT_TRUE(mailbox->isClearMarker(mailbox->take()));
    retireHeld();
    EXPECT_EQ(mailbox->drain(), 64);
    EXPECT_EQ(std::tuple(mailbox->outstanding(), CountedNode::live), std::tuple(0l, 1));
    for (int i = 0; i < 65; ++i) { // leaves a parked node and 64 retired nodes
        publish(i);
        take();
    }
    retireHeld();
    mailbox.reset();
    EXPECT_EQ(CountedNode::live, 1) << "only the clear marker may remain";
}

} // namespace
