#pragma once

#include "engine/io/project_reader.h"
#include "engine/io/project_writer.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace cvfuzz {

// Reads the input; whatever it holds, the reader must answer with a code and no partial document. A
// document it accepts must be writable again, and a version-3 input must come back byte for byte.
inline void checkProjectReader(const std::uint8_t* data, std::size_t size) {
    const np::DeserializeOutcome outcome = np::deserializeDocumentChecked(data, size, {}, 671088640);
    if (outcome.error != np::DeserializeError::None) {
        if (outcome.document.has_value() || outcome.message.empty()) {
            std::abort();
        }
        return;
    }
    if (!outcome.document || !outcome.message.empty()) {
        std::abort();
    }
    const np::DeserializedDocument& decoded = *outcome.document;
    const std::vector<std::uint8_t> again =
        np::serializeDocument(decoded.document, decoded.anchorFrame, decoded.meta);
    std::uint32_t version = 0;
    std::memcpy(&version, data + 4, sizeof(version));
    if (version == 3 && (again.size() != size || std::memcmp(again.data(), data, size) != 0)) {
        std::abort();
    }
    const np::DeserializeOutcome reread =
        np::deserializeDocumentChecked(again.data(), again.size(), {}, 671088640);
    if (reread.error != np::DeserializeError::None) {
        std::abort();
    }
}

} // namespace cvfuzz
