#pragma once

#include <atomic>

namespace np {

// The lock-free stack on which the audio thread puts the nodes it has stopped using, so that the main
// thread can free them. Nodes are linked through their `next` member. There is one pusher (the audio
// thread) and the only pop takes the whole chain at once, so the stack has no ABA hazard.
template <class Node>
class RetiredStack {
public:
    RetiredStack() = default;
    RetiredStack(const RetiredStack&) = delete;
    RetiredStack& operator=(const RetiredStack&) = delete;

    // Audio thread. Realtime: lock-free; the loop repeats only while a drain swaps the head.
    void push(Node* node) noexcept {
        Node* head = head_.load();
        do {
            node->next = head;
        } while (!head_.compare_exchange_weak(head, node));
    }

    // Main thread: detaches and returns the whole chain (null when empty). The caller owns its nodes.
    Node* takeAll() noexcept { return head_.exchange(nullptr); }

private:
    static_assert(std::atomic<Node*>::is_always_lock_free);
    std::atomic<Node*> head_{nullptr};
};

} // namespace np
