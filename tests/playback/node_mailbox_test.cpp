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

// Plays the audio thread's part by hand. The teardown destroys the mailbox with whatever is still in
// its slot, parked or retired and proves that every node was freed exactly once.
struct NodeMailbox : ::testing::Test {
    void TearDown() override {
        retireHeld();
        mailbox.reset();
        EXPECT_EQ(CountedNode::live, 1) << "only the clear marker may remain";
    }
    void publish(int value) { mailbox->publish(std::make_unique<CountedNode>(value)); }
    CountedNode* takeAndHold() {
        CountedNode* taken = mailbox->take();
        if (taken != nullptr && !mailbox->isClearMarker(taken))
            held.push_back(taken);
        return taken;
    }
    void retireHeld() {
        for (CountedNode* node : held)
            mailbox->retire(node);
        held.clear();
    }

    CountedNode marker{-1};
    std::unique_ptr<np::NodeMailbox<CountedNode>> mailbox =
        std::make_unique<np::NodeMailbox<CountedNode>>(&marker);
    std::vector<CountedNode*> held;
};

TEST_F(NodeMailbox, UnconsumedNodesAreReplacedAndAPublishOvertakesAnUnseenClear) {
    const int base = CountedNode::live;
    for (int i = 0; i < 500; ++i)
        publish(i); // a stopped consumer keeps only the newest alive
    EXPECT_EQ(CountedNode::live - base, 1);
    EXPECT_EQ(mailbox->overflows(), 499u);
    EXPECT_EQ(mailbox->outstanding(), 1);
    EXPECT_EQ(takeAndHold()->value, 499);
    EXPECT_EQ(mailbox->take(), nullptr);
    publish(1);
    mailbox->clear();
    EXPECT_EQ(mailbox->outstanding(), 1) << "clear frees the unconsumed node";
    EXPECT_TRUE(mailbox->isClearMarker(mailbox->take()));
    mailbox->clear();
    publish(2);
    EXPECT_EQ(mailbox->overflows(), 500u);
    EXPECT_EQ(takeAndHold()->value, 2);
    publish(3); // left in the slot for the destructor
}

TEST_F(NodeMailbox, SixtyFourOutstandingNodesBoundMemoryUntilADrain) {
    const int base = CountedNode::live;
    for (int i = 0; i < 63; ++i) {
        publish(i);
        takeAndHold();
    }
    // At the limit an unconsumed node in the slot is replaced.
    publish(100);
    publish(101);
    EXPECT_EQ(mailbox->outstanding(), 64);
    EXPECT_EQ(CountedNode::live - base, 64);
    EXPECT_FALSE(mailbox->hasParked());
    // With every node taken the newest waits parked, replacing an older parked one.
    takeAndHold();
    const auto overflows = mailbox->overflows();
    publish(102);
    publish(103);
    EXPECT_EQ(mailbox->overflows(), overflows + 2);
    EXPECT_EQ(CountedNode::live - base, 65);
    EXPECT_EQ(mailbox->take(), nullptr);
    EXPECT_EQ(mailbox->drain(), 0);
    EXPECT_TRUE(mailbox->hasParked()) << "no room yet";
    // The drain that lowers outstanding to 63 publishes the parked node.
    mailbox->retire(held.back());
    held.pop_back();
    EXPECT_EQ(mailbox->drain(), 1);
    EXPECT_FALSE(mailbox->hasParked());
    EXPECT_EQ(takeAndHold()->value, 103);
    // Clear drops a parked node for good.
    publish(104);
    ASSERT_TRUE(mailbox->hasParked());
    mailbox->clear();
    EXPECT_TRUE(mailbox->isClearMarker(mailbox->take()));
    retireHeld();
    EXPECT_EQ(mailbox->drain(), 64);
    EXPECT_EQ(mailbox->take(), nullptr);
    EXPECT_EQ(mailbox->outstanding(), 0);
    EXPECT_EQ(CountedNode::live - base, 0);
    // Leaves a parked node and 64 retired, never drained, for the destructor.
    for (int i = 0; i < 65; ++i) {
        publish(i);
        takeAndHold();
    }
    retireHeld();
}

} // namespace
