#include "engine/playback/node_mailbox.h"

#include <gtest/gtest.h>
#include <memory>
#include <vector>

namespace {

// Counts live nodes so that every test can prove which nodes were freed and that none leaked.
struct CountedNode {
    explicit CountedNode(int v) : value(v) { ++live; }
    ~CountedNode() { --live; }
    int value;
    CountedNode* next = nullptr;
    static inline int live = 0;
};

struct NodeMailbox : ::testing::Test {
    void TearDown() override {
        for (CountedNode* node : held)
            std::unique_ptr<CountedNode>{node}.reset();
        mailbox.reset();
        EXPECT_EQ(CountedNode::live, 1)
            << "only the clear marker may remain: a node leaked or was freed twice";
    }

    void publish(int value) { mailbox->publish(std::make_unique<CountedNode>(value)); }
    // What the audio thread does: take the slot and keep any real node in use.
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

TEST_F(NodeMailbox, TwoPublishesBeforeATakeKeepOnlyTheNewest) {
    const int base = CountedNode::live;
    publish(1);
    publish(2);
    EXPECT_EQ(CountedNode::live - base, 1);
    EXPECT_EQ(mailbox->overflows(), 1u);
    EXPECT_EQ(mailbox->outstanding(), 1);
    CountedNode* taken = takeAndHold();
    ASSERT_NE(taken, nullptr);
    EXPECT_EQ(taken->value, 2);
    EXPECT_EQ(mailbox->take(), nullptr);
}

TEST_F(NodeMailbox, PublishThenClearLeavesOnlyTheClearMarker) {
    publish(1);
    takeAndHold();
    const auto before = mailbox->outstanding();
    publish(2);
    mailbox->clear();
    EXPECT_EQ(mailbox->outstanding(), before);
    EXPECT_TRUE(mailbox->isClearMarker(mailbox->take()));
    // An unconsumed clear overtaken by a publish counts as an overflow and yields the node.
    mailbox->clear();
    publish(3);
    EXPECT_EQ(mailbox->overflows(), 1u);
    EXPECT_EQ(takeAndHold()->value, 3);
}

TEST_F(NodeMailbox, AStoppedConsumerKeepsOneNodeAlive) {
    const int base = CountedNode::live;
    for (int i = 0; i < 500; ++i)
        publish(i);
    EXPECT_EQ(CountedNode::live - base, 1);
    EXPECT_EQ(mailbox->overflows(), 499u);
    EXPECT_EQ(mailbox->outstanding(), 1);
}

TEST_F(NodeMailbox, SixtyFourOutstandingNodesBoundMemoryUntilADrain) {
    const int base = CountedNode::live;
    for (int i = 0; i < 63; ++i) {
        publish(i);
        takeAndHold();
    }
    {
        SCOPED_TRACE("at the limit an unconsumed node in the slot is replaced");
        publish(100);
        EXPECT_EQ(mailbox->outstanding(), 64);
        publish(101);
        EXPECT_EQ(mailbox->outstanding(), 64);
        EXPECT_EQ(CountedNode::live - base, 64);
        EXPECT_FALSE(mailbox->hasParked());
    }
    takeAndHold();
    {
        SCOPED_TRACE("with every node taken the newest waits parked, replacing an older parked one");
        const auto overflows = mailbox->overflows();
        publish(102);
        publish(103);
        EXPECT_TRUE(mailbox->hasParked());
        EXPECT_EQ(mailbox->overflows(), overflows + 2);
        EXPECT_EQ(CountedNode::live - base, 65);
        EXPECT_EQ(mailbox->take(), nullptr);
        EXPECT_EQ(mailbox->drain(), 0);
        EXPECT_TRUE(mailbox->hasParked()) << "no room yet";
    }
    {
        SCOPED_TRACE("the drain that lowers outstanding to 63 publishes the parked node");
        mailbox->retire(held.back());
        held.pop_back();
        EXPECT_EQ(mailbox->drain(), 1);
        EXPECT_FALSE(mailbox->hasParked());
        EXPECT_EQ(mailbox->outstanding(), 64);
        EXPECT_EQ(takeAndHold()->value, 103);
    }
    retireHeld();
    EXPECT_EQ(mailbox->drain(), 64);
    EXPECT_EQ(mailbox->outstanding(), 0);
    EXPECT_EQ(CountedNode::live - base, 0);
}

TEST_F(NodeMailbox, ClearDropsAParkedNode) {
    for (int i = 0; i < 64; ++i) {
        publish(i);
        takeAndHold();
    }
    publish(200);
    ASSERT_TRUE(mailbox->hasParked());
    mailbox->clear();
    EXPECT_FALSE(mailbox->hasParked());
    EXPECT_TRUE(mailbox->isClearMarker(mailbox->take()));
    retireHeld();
    mailbox->drain();
    EXPECT_EQ(mailbox->take(), nullptr) << "the dropped parked node must not come back";
}

TEST_F(NodeMailbox, DestructionFreesSlotParkedAndRetiredNodes) {
    for (int i = 0; i < 64; ++i) {
        publish(i);
        takeAndHold();
    }
    publish(300); // parked
    retireHeld(); // retired, never drained
    mailbox.reset();
    EXPECT_EQ(CountedNode::live, 1) << "only the clear marker, which the owner keeps, remains";
}

} // namespace
