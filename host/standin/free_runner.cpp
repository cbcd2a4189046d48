#include "host/standin/free_runner.h"

#include <chrono>
#include <stdexcept>

namespace cv::standin {
namespace {

constexpr auto kIdleInterval = std::chrono::milliseconds(20);

} // namespace

FreeRunner::FreeRunner(StandinHost& host, TransportScript script) : host_(host), script_(std::move(script)) {
    if (script_.empty())
        throw std::invalid_argument("A free-running host needs a transport script with a block.");
    audio_ = std::thread([this] { audioLoop(); });
    main_ = std::thread([this] { mainLoop(); });
}

FreeRunner::~FreeRunner() {
    stop();
}

void FreeRunner::stop() {
    {
        std::lock_guard lock(mutex_);
        stopping_ = true;
    }
    wake_.notify_all();
    progress_.notify_all();
    if (audio_.joinable())
        audio_.join();
    if (main_.joinable())
        main_.join();
    std::lock_guard lock(mutex_);
    work_.clear();
}

std::future<void> FreeRunner::onMainThread(std::function<void()> work) {
    std::packaged_task<void()> task(std::move(work));
    auto done = task.get_future();
    {
        std::lock_guard lock(mutex_);
        if (!stopping_)
            work_.push_back(std::move(task));
    }
    wake_.notify_all();
    return done;
}

std::future<void> FreeRunner::onHostThread(std::function<void()> work) {
    return std::async(std::launch::async, std::move(work));
}

void FreeRunner::waitForBlocks(std::int64_t count) {
    std::unique_lock lock(mutex_);
    const std::int64_t target = blocks_ + count;
    progress_.wait(lock, [&] { return stopping_ || blocks_ >= target; });
}

void FreeRunner::waitForIdleTicks(std::int64_t count) {
    std::unique_lock lock(mutex_);
    const std::int64_t target = idleTicks_ + count;
    progress_.wait(lock, [&] { return stopping_ || idleTicks_ >= target; });
}

void FreeRunner::audioLoop() {
    for (std::size_t i = 0;; i = (i + 1) % script_.size()) {
        {
            std::lock_guard lock(mutex_);
            if (stopping_)
                return;
        }
        host_.processBlock(script_[i]);
        {
            std::lock_guard lock(mutex_);
            ++blocks_;
        }
        progress_.notify_all();
    }
}

void FreeRunner::mainLoop() {
    auto nextTick = std::chrono::steady_clock::now() + kIdleInterval;
    std::unique_lock lock(mutex_);
    while (!stopping_) {
        // The idle timer: wakes at the tick, or earlier for posted work.
        wake_.wait_until(lock, nextTick, [&] { return stopping_ || !work_.empty(); });
        if (stopping_)
            break;
        while (!work_.empty()) {
            auto task = std::move(work_.front());
            work_.pop_front();
            lock.unlock();
            task();
            lock.lock();
        }
        if (std::chrono::steady_clock::now() >= nextTick) {
            lock.unlock();
            host_.idle(1);
            lock.lock();
            ++idleTicks_;
            nextTick += kIdleInterval;
            progress_.notify_all();
        }
    }
}

} // namespace cv::standin
