#pragma once

#include "engine/model/document.h"
#include "plugin/dawstate_chunk.h"
#include "plugin/dawstate_values.h"

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>

// The host-state snapshot: what a host save writes. The host may ask for the state on any of its threads
// at any moment, also in the middle of a drag, so the state writer never reads the live session. The main
// thread publishes an immutable snapshot after every change the host must be able to save, and the
// writer (and the offline bounce) serialise the last one published.
namespace cv::dawstate {

// Immutable once published.
struct Snapshot {
    Values values{};          // Volume, Key, Scale, Algorithm, Tempo, A4 index
    bool hasDocument = false; // a session with source audio follows
    // A copy sharing the source audio and the note curves with the session; an empty document
    // (48 kHz, hop 256, frame 2048, no frames, no notes, next id 1) when hasDocument is false.
    np::Document document;
    // Host timeline position where the captured audio starts, in frames at the document's rate (the
    // engine rate at capture time); 0 without a document.
    std::int64_t anchor = 0;
    np::SessionMeta meta;         // derived from values (DawMetaFromParameters)
    std::uint64_t generation = 0; // the store's counter after it was raised for this snapshot
};

// A snapshot of the values alone: no document, anchor 0, generation 0.
Snapshot valuesOnlySnapshot(const Values& values);

// A snapshot of the values and a session: the document (sharing audio and curves) and its anchor;
// generation 0.
Snapshot sessionSnapshot(const Values& values, np::Document document, std::int64_t anchor);

// The latest published snapshot and the counter that stamps snapshots. Any thread: the pointer is only
// ever read and replaced as a whole, atomically, and a snapshot is never changed after it is published.
// The pointer sits under a small mutex held only to copy or swap it, never while a snapshot is freed:
// the standard library's std::atomic<std::shared_ptr> here releases its inner lock after a load with
// relaxed order, so a load and the next store race (ThreadSanitizer reports it). Not for the realtime
// path; only the offline bounce, which may wait, reads it on the audio thread.
class SnapshotStore {
public:
    // The latest snapshot, or null before the first publish.
    std::shared_ptr<const Snapshot> load() const;

    // Moves the snapshot into a new shared object and makes it the latest. Throws std::bad_alloc, in
    // which case the latest snapshot stays.
    void publish(Snapshot snapshot);
    // Makes the given snapshot (which may be null) the latest; the one it replaces is released after
    // the swap, outside the lock.
    void publish(std::shared_ptr<const Snapshot> snapshot);

    // Raises the counter by one for a snapshot being built and returns the new value.
    std::uint64_t raiseGeneration() noexcept;
    // The counter: the generation of the last snapshot built (0 before the first).
    std::uint64_t generation() const noexcept;

private:
    mutable std::mutex mutex_;
    std::shared_ptr<const Snapshot> latest_; // guarded by mutex_
    std::atomic<std::uint64_t> generation_{0};
};

} // namespace cv::dawstate
