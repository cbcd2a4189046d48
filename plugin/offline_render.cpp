// The offline (bounce) path: while the host renders offline, the audio callback makes sure the region
// of the current revision is installed before it plays a block, waiting on the audio thread for the
// render if need be. This is the one place where the audio thread may lock, allocate and wait; a
// realtime host never reaches it.

#include "plugin/Corvalinth.h"

namespace {

// How often a bounce asks again for a render that was cancelled under it (Escape, a quiesce) before
// it gives the revision up as failed.
constexpr int kOfflineAttempts = 3;

} // namespace

Corvalinth::OfflineInstall Corvalinth::InstallRenderForOfflineProcessing() {
    std::unique_lock lock(offlineMutex_, std::defer_lock);
    const std::uint64_t generation = playbackGeneration_.load();
    std::optional<cv::RenderPair> current;
    try {
        lock.lock();
        if (offline_.key == 0)
            return OfflineInstall::Nothing;
        current = cv::RenderPair{offline_.key, generation};
        // The render flow requested for an older generation (a rate change, an edit while this path
        // held the lock): the key is rendered again for this one.
        if (offline_.requestGeneration != generation && !RequestOfflineRender(generation)) {
            offline_.failed = current;
            return OfflineInstall::Unavailable;
        }
        if (offline_.installed == current)
            return OfflineInstall::Installed;
        if (offline_.failed == current)
            return OfflineInstall::Unavailable;

        for (int attempt = 0; attempt < kOfflineAttempts; ++attempt) {
            const std::uint64_t id = offlineRequestId_.load();
            std::optional<np::RenderWorker::Result> result;
            if (id != 0)
                result = renderWorker_.waitTakeResult(id);
            if (!result) {
                // Cancelled or superseded under the bounce, which still needs this revision.
                if (playbackGeneration_.load() != generation || !RequestOfflineRender(generation))
                    break;
                continue;
            }
            const cv::RenderTags expected{offline_.key, offline_.requestSessionGeneration, generation};
            const bool accepted =
                playbackGeneration_.load() == generation &&
                cv::renderResultCurrent({result->tagA, result->tagB, result->tagC}, expected) &&
                result->error.empty() && result->audio != nullptr && offline_.anchorValid &&
                np::AudioBuffer::fits(result->audio->channels, result->audio->frames);
            if (!accepted) {
                offline_.failedReason = std::move(result->error); // the idle loop's notice gives it
                break;
            }
            InstallRenderedRegion(std::move(result->audio), offline_.anchor, generation);
            offline_.installed = current;
            return OfflineInstall::Installed;
        }
        offline_.failed = current;
        return OfflineInstall::Unavailable;
    } catch (...) {
        if (lock.owns_lock() && current)
            offline_.failed = current;
        return OfflineInstall::Unavailable;
    }
}

bool Corvalinth::RequestOfflineRender(std::uint64_t generation) {
    if (offline_.document == nullptr)
        return false;
    const np::Document& document = *offline_.document;
    offline_.requestGeneration = generation;
    offline_.anchorValid = np::scaleFramePosition(offline_.documentAnchor, document.sampleRate,
                                                  EngineSampleRate(), offline_.anchor);
    offline_.installed.reset();
    offline_.failed.reset();
    offline_.failedReason.clear();
    offlineRequestId_.store(0);
    np::RenderOptions options;
    options.reservedBytes = RenderReserveBytes();
    renderWorker_.requestRender(document, offline_.key, EngineSampleRate(), std::move(options),
                                offline_.requestSessionGeneration, generation, &offlineRequestId_);
    return true;
}
