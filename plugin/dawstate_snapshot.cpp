#include "plugin/dawstate_snapshot.h"

#include <utility>

namespace cv::dawstate {

Snapshot valuesOnlySnapshot(const Values& values) {
    Snapshot snapshot;
    snapshot.values = values;
    snapshot.meta = DawMetaFromParameters(values);
    return snapshot;
}

Snapshot sessionSnapshot(const Values& values, np::Document document, std::int64_t anchor) {
    Snapshot snapshot = valuesOnlySnapshot(values);
    snapshot.hasDocument = true;
    snapshot.document = std::move(document);
    snapshot.anchor = anchor;
    return snapshot;
}

std::shared_ptr<const Snapshot> SnapshotStore::load() const {
    const std::lock_guard<std::mutex> lock(mutex_);
    return latest_;
}

void SnapshotStore::publish(Snapshot snapshot) {
    publish(std::make_shared<const Snapshot>(std::move(snapshot)));
}

void SnapshotStore::publish(std::shared_ptr<const Snapshot> snapshot) {
    {
        const std::lock_guard<std::mutex> lock(mutex_);
        latest_.swap(snapshot);
    }
    // `snapshot` now holds the previous one: freeing a large document here never holds up a reader.
}

std::uint64_t SnapshotStore::raiseGeneration() noexcept {
    return generation_.fetch_add(1, std::memory_order_acq_rel) + 1;
}

std::uint64_t SnapshotStore::generation() const noexcept {
    return generation_.load(std::memory_order_acquire);
}

} // namespace cv::dawstate
