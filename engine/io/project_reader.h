#pragma once

#include "engine/model/document.h"

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>

namespace np {

// The reader's result code. Each failure carries a fixed sentence in DeserializeOutcome::message.
enum class DeserializeError : std::uint32_t {
    None = 0,
    Empty = 1,              // "The project is empty"
    OverLimit = 2,          // a size or working-set limit
    WrongMagic = 3,         // "This is not a Corvalinth project"
    UnsupportedVersion = 4, // "This project was created by an unsupported version"
    Truncated = 5,          // header or payload shorter than declared
    Damaged = 6,            // "The project is damaged or incomplete" (digest mismatch)
    InvalidContent = 7,     // a content rule of the format
    TrailingData = 8,       // "The project contains unexpected trailing data"
    OutOfMemory = 9,        // "There is not enough memory to open this project"
    Cancelled = 10,         // "Project loading was cancelled"
};

struct DeserializedDocument {
    Document document;
    std::int64_t anchorFrame = 0; // handed back exactly as the writer's caller gave it
    SessionMeta meta;
};

struct DeserializeOutcome {
    std::optional<DeserializedDocument> document; // engaged only on success
    DeserializeError error = DeserializeError::None;
    std::string message; // empty on success
};

// Reads a project of version 1, 2 or 3 with every check, planning memory against the smaller of
// limitBytes and 640 MiB before each allocation. keepGoing may be empty; false stops the load. Never
// throws for bad input and never hands back a partial document. Runs on the caller's thread.
DeserializeOutcome deserializeDocumentChecked(const std::uint8_t* data, std::size_t size,
                                              const std::function<bool()>& keepGoing, std::size_t limitBytes);

} // namespace np
