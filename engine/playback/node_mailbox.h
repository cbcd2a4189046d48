#pragma once

#include "engine/playback/retired_stack.h"

#include <atomic>
#include <cstdint>
#include <memory>

namespace np {

// Hands nodes from the main thread to the audio thread without locks, and without the audio thread
// ever allocating or freeing. The slot holds at most the newest unconsumed node (or the owner's clear
// marker); the audio thread takes it, uses the node and later retires it onto a lock-free stack; the
// main thread's drain frees retired nodes. A node reaches the consumer only through the slot and
// leaves it only through the retired stack, so it is freed exactly once and never while in use.
//
// At most kMaxOutstanding nodes are published and not yet drained, so memory stays bounded when the
// audio thread stops running (a host that stopped calling): beyond that a new node replaces the
// unconsumed one in the slot, or waits parked until a drain makes room.
//
// Main-thread side (publish, clear, drain, outstanding, hasParked) is not thread-safe: the owner
// serialises it. Node needs a `Node* next` member.
template <class Node>
class NodeMailbox {
public:
    static constexpr std::int64_t kMaxOutstanding = 64;

    // clearMarker: an address that is never a real node, owned by the caller and outliving the mailbox.
    explicit NodeMailbox(Node* clearMarker) noexcept : clearMarker_(clearMarker) {}
    NodeMailbox(const NodeMailbox&) = delete;
    NodeMailbox& operator=(const NodeMailbox&) = delete;

    // Frees retired nodes, the node in the slot and the parked node. The owner frees the nodes its
    // consumer still holds; the audio thread no longer runs at this point.
    ~NodeMailbox() {
        drain();
        freeNode(slot_.exchange(nullptr));
        parked_.reset();
    }

    // Main thread: hands a node over; the audio thread's next take sees it (or a newer one).
    void publish(std::unique_ptr<Node> node) noexcept {
        if (!node)
            return;
        if (outstanding_ < kMaxOutstanding) {
            // A parked node is older than this one and would only be replaced by it.
            parked_.reset();
            publishWithRoom(std::move(node));
            return;
        }
        Node* seen = slot_.load();
        while (seen != nullptr && seen != clearMarker_) {
            if (slot_.compare_exchange_weak(seen, node.get())) {
                // The new node takes the unconsumed one's place: outstanding is unchanged.
                node.release();
                freeNode(seen);
                ++overflows_;
                return;
            }
        }
        // The audio thread holds everything that is outstanding: wait for a drain to make room.
        parked_ = std::move(node);
        ++overflows_;
    }

    // Main thread: tells the audio thread to stop using its current node; frees anything unconsumed.
    void clear() noexcept {
        parked_.reset();
        Node* previous = slot_.exchange(clearMarker_);
        if (previous != nullptr && previous != clearMarker_) {
            freeNode(previous);
            --outstanding_;
        }
    }

    // Main thread: frees every retired node and publishes a parked node once there is room.
    // Returns the number of nodes freed.
    std::int64_t drain() noexcept {
        std::int64_t freed = 0;
        Node* node = retired_.takeAll();
        while (node != nullptr) {
            Node* next = node->next;
            freeNode(node);
            ++freed;
            node = next;
        }
        outstanding_ -= freed;
        if (parked_ && outstanding_ < kMaxOutstanding)
            publishWithRoom(std::move(parked_));
        return freed;
    }

    // Main thread: nodes published and not yet freed by a drain.
    std::int64_t outstanding() const noexcept { return outstanding_; }
    // Main thread: whether a node waits for room.
    bool hasParked() const noexcept { return parked_ != nullptr; }
    // Any thread: hand-overs that displaced or parked something.
    std::uint64_t overflows() const noexcept { return overflows_.load(); }

    // Audio thread: null (nothing new), the clear marker (stop using the current node) or a new node,
    // which the caller uses until it retires it. Realtime: wait-free.
    Node* take() noexcept { return slot_.exchange(nullptr); }
    // Realtime: wait-free.
    bool isClearMarker(const Node* node) const noexcept { return node == clearMarker_; }
    // Audio thread: gives a node back for the main thread to free. Realtime: lock-free.
    void retire(Node* node) noexcept {
        if (node != nullptr && node != clearMarker_)
            retired_.push(node);
    }

private:
    static_assert(std::atomic<Node*>::is_always_lock_free);
    static_assert(std::atomic<std::uint64_t>::is_always_lock_free);

    void freeNode(Node* node) noexcept {
        if (node != nullptr && node != clearMarker_) {
            const std::unique_ptr<Node> owner(node);
        }
    }

    void publishWithRoom(std::unique_ptr<Node> node) noexcept {
        Node* previous = slot_.exchange(node.release());
        if (previous == nullptr) {
            ++outstanding_;
        } else if (previous == clearMarker_) {
            // The audio thread never saw that clear; the new node overtakes it.
            ++outstanding_;
            ++overflows_;
        } else {
            // Never taken by the audio thread: the new node takes its place.
            freeNode(previous);
            ++overflows_;
        }
    }

    std::atomic<Node*> slot_{nullptr};
    Node* const clearMarker_;
    std::unique_ptr<Node> parked_;
    std::int64_t outstanding_ = 0;
    std::atomic<std::uint64_t> overflows_{0};
    RetiredStack<Node> retired_;
};

} // namespace np
