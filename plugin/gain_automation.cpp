#include "plugin/gain_automation.h"

#include <algorithm>
#include <bit>
#include <cmath>

namespace cv {
namespace {

// Wrap-aware order of two sequence numbers: true when a was sent before b.
constexpr bool olderThan(std::uint32_t a, std::uint32_t b) noexcept {
    return static_cast<std::int32_t>(a - b) < 0;
}

constexpr std::uint64_t packDirect(std::uint32_t sequence, float gain) noexcept {
    return (static_cast<std::uint64_t>(sequence) << 32) | std::bit_cast<std::uint32_t>(gain);
}

} // namespace

GainAutomation::GainAutomation() noexcept {
    for (std::uint32_t i = 0; i < kCapacity; ++i)
        cells_[i].turn.store(i, std::memory_order_relaxed);
    direct_.store(packDirect(0, 1.0f), std::memory_order_relaxed);
}

// A bounded multi-producer ring: each cell's turn says which position it is ready for, so producers
// claim positions with a compare-exchange and the consumer sees a cell only once it is fully written.
bool GainAutomation::tryPush(const GainAutomationEvent& event) noexcept {
    std::uint32_t pos = writePos_.load(std::memory_order_relaxed);
    for (;;) {
        Cell& cell = cells_[pos & kMask];
        const std::uint32_t turn = cell.turn.load(std::memory_order_acquire);
        const auto diff = static_cast<std::int32_t>(turn - pos);
        if (diff == 0) {
            if (writePos_.compare_exchange_weak(pos, pos + 1, std::memory_order_relaxed)) {
                cell.event = event;
                cell.turn.store(pos + 1, std::memory_order_release);
                return true;
            }
        } else if (diff < 0) {
            return false; // full: the cell still holds an event from one lap ago
        } else {
            pos = writePos_.load(std::memory_order_relaxed);
        }
    }
}

bool GainAutomation::tryPop(GainAutomationEvent& event) noexcept {
    const std::uint32_t pos = readPos_.load(std::memory_order_relaxed);
    Cell& cell = cells_[pos & kMask];
    if (cell.turn.load(std::memory_order_acquire) != pos + 1)
        return false;
    event = cell.event;
    cell.turn.store(pos + kCapacity, std::memory_order_release);
    readPos_.store(pos + 1, std::memory_order_relaxed);
    return true;
}

void GainAutomation::offerDirect(std::uint32_t sequence, float gain) noexcept {
    const std::uint64_t value = packDirect(sequence, gain);
    std::uint64_t seen = direct_.load(std::memory_order_relaxed);
    // Keep the newest: a producer that took its number earlier but arrives later loses.
    while (
        olderThan(static_cast<std::uint32_t>(seen >> 32), sequence) &&
        !direct_.compare_exchange_weak(seen, value, std::memory_order_acq_rel, std::memory_order_relaxed)) {
    }
}

void GainAutomation::queueEvent(int sampleOffset, float gain) noexcept {
    const std::uint32_t sequence = sequence_.fetch_add(1, std::memory_order_relaxed) + 1;
    if (tryPush({sampleOffset, gain, sequence}))
        return;
    offerDirect(sequence, gain);
    overflows_.fetch_add(1, std::memory_order_relaxed);
}

void GainAutomation::setDirect(float gain) noexcept {
    offerDirect(sequence_.fetch_add(1, std::memory_order_relaxed) + 1, gain);
}

int GainAutomation::drain(int frames, std::span<GainAutomationEvent, kMaxDrained> out) noexcept {
    const int lastFrame = std::max(frames - 1, 0);
    int count = 0;
    GainAutomationEvent event{};
    while (count < kCapacity && tryPop(event)) {
        // An event sent before a direct value (or a reset) already in force would undo it.
        if (!olderThan(settled_, event.sequence)) {
            stale_.fetch_add(1, std::memory_order_relaxed);
            continue;
        }
        event.offset = std::clamp(event.offset, 0, lastFrame);
        out[static_cast<std::size_t>(count++)] = event;
    }
    const std::uint64_t direct = direct_.load(std::memory_order_acquire);
    const auto directSequence = static_cast<std::uint32_t>(direct >> 32);
    if (olderThan(settled_, directSequence)) {
        std::int32_t offset = 0;
        for (int i = 0; i < count; ++i)
            if (olderThan(out[static_cast<std::size_t>(i)].sequence, directSequence))
                offset = std::max(offset, out[static_cast<std::size_t>(i)].offset);
        out[static_cast<std::size_t>(count++)] = {
            offset, std::bit_cast<float>(static_cast<std::uint32_t>(direct)), directSequence};
        settled_ = directSequence;
    }
    std::sort(out.begin(), out.begin() + count,
              [](const GainAutomationEvent& a, const GainAutomationEvent& b) {
                  return a.offset != b.offset ? a.offset < b.offset : olderThan(a.sequence, b.sequence);
              });
    return count;
}

void GainAutomation::settleThrough(std::uint32_t sequence) noexcept {
    if (olderThan(settled_, sequence))
        settled_ = sequence;
}

} // namespace cv
