#pragma once

#include <stdexcept>

namespace np {

// Thrown by long engine operations (resampling, the project reader and writer) when their keep-going
// test says stop.
class OperationCancelled : public std::runtime_error {
public:
    explicit OperationCancelled(const char* message) : std::runtime_error(message) {}
};

// Thrown by the document render when its cancel test says stop.
class RenderCancelled : public std::runtime_error {
public:
    RenderCancelled() : std::runtime_error("Render cancelled") {}
};

} // namespace np
