#include "plugin/dawstate_writer.h"

#include "engine/io/project_writer.h"

#include <array>
#include <climits>
#include <cstdint>
#include <vector>

namespace cv::dawstate {
namespace {

// Puts the chunk back to its size on entry when the write is refused.
class ChunkRollback {
public:
    explicit ChunkRollback(iplug::IByteChunk& chunk) : chunk_(chunk), size_(chunk.Size()) {}
    ~ChunkRollback() {
        if (!kept_) {
            chunk_.Resize(size_); // shrinking: never allocates
        }
    }
    ChunkRollback(const ChunkRollback&) = delete;
    ChunkRollback& operator=(const ChunkRollback&) = delete;

    bool keep() {
        kept_ = true;
        return true;
    }

private:
    iplug::IByteChunk& chunk_;
    int size_;
    bool kept_ = false;
};

bool withinLimit(const iplug::IByteChunk& chunk) {
    return static_cast<std::uint64_t>(chunk.Size()) <= kMaxChunkBytes;
}

} // namespace

bool writeStateChunk(iplug::IByteChunk& chunk, const Snapshot* published, const Values& liveValues) {
    Values values = published != nullptr ? published->values : liveValues;
    values[kValueVolume] = liveValues[kValueVolume];
    const auto header = encodeCurrentHeader(values);
    if (!header) {
        return false;
    }

    ChunkRollback rollback(chunk);
    chunk.PutBytes(header->data(), static_cast<int>(header->size()));
    if (!withinLimit(chunk)) {
        return false;
    }
    const std::uint8_t hasDocument = published != nullptr && published->hasDocument ? 1 : 0;
    chunk.Put(&hasDocument);
    if (!withinLimit(chunk)) {
        return false;
    }
    if (hasDocument == 0) {
        return rollback.keep();
    }

    std::vector<std::uint8_t> payload;
    try {
        payload =
            np::serializeDocumentForDawState(published->document, published->anchor, published->meta, {});
    } catch (...) {
        // A session the writer refuses, or one it has no memory for, fails the save and nothing else.
        return false;
    }
    if (payload.size() > kMaxChunkBytes) {
        return false;
    }
    const std::uint64_t length = payload.size();
    std::array<std::uint8_t, kLengthBytes> lengthBytes{};
    for (std::size_t i = 0; i < lengthBytes.size(); ++i) {
        lengthBytes[i] = static_cast<std::uint8_t>(length >> (8 * i));
    }
    chunk.PutBytes(lengthBytes.data(), static_cast<int>(lengthBytes.size()));
    const std::uint64_t expected = static_cast<std::uint64_t>(chunk.Size()) + length;
    if (expected > kMaxChunkBytes || expected > static_cast<std::uint64_t>(INT_MAX)) {
        return false;
    }
    chunk.PutBytes(payload.data(), static_cast<int>(length));
    if (static_cast<std::uint64_t>(chunk.Size()) != expected) {
        return false;
    }
    return rollback.keep();
}

} // namespace cv::dawstate
