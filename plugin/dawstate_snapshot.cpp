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

std::shared_ptr<const Snapshot> SnapshotStore::load() const noexcept {
    return latest_.load(std::memory_order_acquire);
}

void SnapshotStore::publish(Snapshot snapshot) {
    publish(std::make_shared<const Snapshot>(std::move(snapshot)));
}

void SnapshotStore::publish(std::shared_ptr<const Snapshot> snapshot) noexcept {
    // The previous snapshot comes back out of the exchange and is released here, after the atomic
    // section, so freeing a large document never holds up a concurrent reader.
    std::shared_ptr<const Snapshot> previous =
        latest_.exchange(std::move(snapshot), std::memory_order_acq_rel);
    previous.reset();
}

std::uint64_t SnapshotStore::raiseGeneration() noexcept {
    return generation_.fetch_add(1, std::memory_order_acq_rel) + 1;
}

std::uint64_t SnapshotStore::generation() const noexcept {
    return generation_.load(std::memory_order_acquire);
}

} // namespace cv::dawstate
