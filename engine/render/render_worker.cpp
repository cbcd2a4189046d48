#include "engine/render/render_worker.h"

#include "engine/audio/cancellation.h"
#include "engine/audio/resample.h"
#include "engine/audio/worker_thread.h"
#include "engine/render/document_render.h"
#include "engine/render/render_plan.h"

#include <exception>
#include <stdexcept>
#include <utility>

namespace np {
namespace {

// The render at the host's rate. The converted length is llround(frames x outputRate / document rate)
// and its first sample lies on the render's first, so the region stays sample-aligned to the host
// timeline. The conversion is planned beside the source and what the caller already holds before it
// takes memory.
AudioBuffer toOutputRate(AudioBuffer rendered, const Document& doc, double outputRate,
                         const RenderOptions& options) {
    if (!(outputRate > 0.0) || outputRate == doc.sampleRate)
        return rendered;
    const std::int64_t sourceFrames = doc.audio ? doc.audio->frames : 0;
    const RenderWorkingSetPlan plan = planRenderResampleWorkingSet(
        rendered.channels, sourceFrames, rendered.frames, doc.sampleRate, outputRate);
    if (!plan.fits || plan.peakBytes > kRenderWorkingSetBytes ||
        options.reservedBytes > kRenderWorkingSetBytes - plan.peakBytes)
        throw std::length_error(kRenderResampleWorkingSetMessage);
    return resampleBuffer(rendered, doc.sampleRate, outputRate, [&options] { return !options.cancelled(); });
}

// Stores message as the result's error; a message that cannot be stored leaves it empty, and the
// missing audio still marks the failure.
void setError(RenderWorker::Result& result, const char* message) noexcept {
    try {
        result.error = message;
    } catch (...) {
        result.error.clear();
    }
}

} // namespace

RenderWorker::RenderWorker() : RenderWorker(Render{}) {}

RenderWorker::RenderWorker(Render render) : render_(std::move(render)) {
    if (!render_)
        render_ = [](const Document& doc, const RenderOptions& options) {
            return renderDocument(doc, options);
        };
}

RenderWorker::~RenderWorker() {
    destroying_.store(true);
    {
        const std::lock_guard lock(mutex_);
        stop_ = true;
    }
    wake_.notify_all();
    if (thread_.joinable())
        thread_.join();
}

std::uint64_t RenderWorker::requestRender(Document doc, std::uint64_t tagA, double outputRate,
                                          RenderOptions options, std::uint64_t tagB, std::uint64_t tagC,
                                          std::atomic<std::uint64_t>* outId) {
    // What this request replaces (and the request itself when the thread cannot start) is released
    // after the lock.
    std::optional<Job> job = Job{std::move(doc), tagA, tagB, tagC, 0, outputRate, std::move(options)};
    std::optional<Job> replaced;
    std::optional<Result> dropped;
    std::uint64_t id = 0;
    {
        const std::lock_guard lock(mutex_);
        id = generation_.fetch_add(1) + 1;
        replaced.swap(pending_);
        dropped.swap(result_);
        progress_.store(0.0f);
        if (ensureThreadStartedLocked()) {
            job->id = id;
            pending_.swap(job);
        } else {
            result_ = Result{nullptr, id, tagA, tagB, tagC, kStartFailedMessage};
        }
        if (outId)
            outId->store(id);
    }
    wake_.notify_all();
    return id;
}

void RenderWorker::cancel() {
    std::optional<Job> dropped;
    std::optional<Result> droppedResult;
    {
        const std::lock_guard lock(mutex_);
        generation_.fetch_add(1);
        dropped.swap(pending_);
        droppedResult.swap(result_);
        progress_.store(0.0f);
    }
    wake_.notify_all();
}

std::optional<RenderWorker::Result> RenderWorker::takeResult() {
    std::optional<Result> taken;
    const std::lock_guard lock(mutex_);
    taken.swap(result_);
    return taken;
}

bool RenderWorker::resultWaiting() const {
    const std::lock_guard lock(mutex_);
    return result_.has_value();
}

std::optional<RenderWorker::Result> RenderWorker::waitTakeResult(std::uint64_t id) {
    if (id == 0)
        return std::nullopt;
    std::unique_lock lock(mutex_);
    const auto resultWaiting = [&] { return result_ && result_->requestId == id; };
    // Waits while the id is current, its result is not waiting and a render for it may still come.
    wake_.wait(lock, [&] {
        return stop_ || !(generation_.load() == id && !resultWaiting() && (rendering_ || pending_));
    });
    std::optional<Result> taken;
    if (!stop_ && generation_.load() == id && resultWaiting())
        taken.swap(result_);
    return taken;
}

bool RenderWorker::busy() const {
    const std::lock_guard lock(mutex_);
    return rendering_ || pending_.has_value();
}

RenderHints RenderWorker::hintsSnapshot() const {
    const std::lock_guard lock(mutex_);
    return hints_;
}

bool RenderWorker::ensureThreadStartedLocked() {
    return startThreadOnce(thread_, [this] { run(); });
}

std::optional<RenderWorker::Result> RenderWorker::execute(Job& job, RenderHints& hints) {
    Result result{nullptr, job.id, job.tagA, job.tagB, job.tagC, {}};
    try {
        {
            const std::lock_guard lock(mutex_);
            hints = hints_;
        }
        RenderOptions options = std::move(job.options);
        options.hints = &hints;
        // A superseded render neither owns the progress line nor goes on.
        options.progress = [this, id = job.id, forward = std::move(options.progress)](float fraction) {
            if (generation_.load() == id)
                progress_.store(fraction);
            if (forward)
                forward(fraction);
        };
        options.cancel = [this, id = job.id, own = std::move(options.cancel)] {
            return destroying_.load() || generation_.load() != id || (own && own());
        };
        AudioBuffer rendered = render_(job.document, options);
        result.audio = std::make_unique<AudioBuffer>(
            toOutputRate(std::move(rendered), job.document, job.outputRate, options));
    } catch (const RenderCancelled&) {
        return std::nullopt;
    } catch (const OperationCancelled&) {
        return std::nullopt;
    } catch (const std::exception& e) {
        setError(result, e.what());
    } catch (...) {
        setError(result, kUnexpectedFailureMessage);
    }
    return result;
}

void RenderWorker::run() {
    for (;;) {
        std::optional<Job> job;
        {
            std::unique_lock lock(mutex_);
            wake_.wait(lock, [this] { return stop_ || pending_.has_value(); });
            if (stop_)
                return;
            job.swap(pending_);
            rendering_ = true;
        }

        RenderHints hints;
        std::optional<Result> outcome = execute(*job, hints);

        {
            const std::lock_guard lock(mutex_);
            // Only a result of the current request is delivered, and only a delivered render's engine
            // choices are kept; whatever is not kept is freed after the lock.
            if (outcome && generation_.load() == job->id) {
                result_.swap(outcome);
                hints_.engineByNote.swap(hints.engineByNote);
                hints_.timeDomainByNote.swap(hints.timeDomainByNote);
            }
            rendering_ = false;
        }
        // Also after a cancelled or stale run: waitTakeResult may be waiting for this one to end.
        wake_.notify_all();
    }
}

} // namespace np
