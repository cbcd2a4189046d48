#pragma once

#include <thread>
#include <utility>

namespace np {

// Starts thread running body unless it already runs; the background workers start their thread this
// way on their first request. Returns whether the thread runs afterwards: when it cannot be created
// (no thread resources, no memory for its state) the result is false and thread stays as it was.
template <class Body>
bool startThreadOnce(std::thread& thread, Body&& body) noexcept {
    if (thread.joinable())
        return true;
    try {
        thread = std::thread(std::forward<Body>(body));
        return true;
    } catch (...) {
        return false;
    }
}

} // namespace np
