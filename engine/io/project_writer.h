#pragma once

#include "engine/model/document.h"

#include <cstdint>
#include <functional>
#include <vector>

namespace np {

// Writes a version-3 project for the host state: the document, the position on the host timeline at
// which its audio starts, and the session settings. Plans for the model plus two serialized copies and
// the host chunk's reserve within 640 MiB before the output is allocated (once, at its final size).
// keepGoing may be empty; false stops the save. Runs on the caller's thread and reads only the given,
// immutable snapshot. Throws std::invalid_argument for a broken content rule, std::length_error for a
// limit, np::OperationCancelled on a stop, std::bad_alloc.
std::vector<std::uint8_t> serializeDocumentForDawState(const Document& document, std::int64_t anchorFrame,
                                                       const SessionMeta& settings,
                                                       const std::function<bool()>& keepGoing);

// The same with the plan for a single serialized copy and no reserve, for project files.
std::vector<std::uint8_t> serializeDocument(const Document& document, std::int64_t anchorFrame,
                                            const SessionMeta& settings,
                                            const std::function<bool()>& keepGoing = {});

// The general writer: limitBytes bounds the working set, copies is the number of serialized copies
// alive besides the model, reserveBytes is set aside for the caller.
std::vector<std::uint8_t> serializeDocumentWithLimit(const Document& document, std::int64_t anchorFrame,
                                                     const SessionMeta& settings,
                                                     const std::function<bool()>& keepGoing,
                                                     std::uint64_t limitBytes, int copies,
                                                     std::uint64_t reserveBytes);

} // namespace np
