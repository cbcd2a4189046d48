#include "plugin/dawstate_reader.h"

#include <utility>

namespace cv::dawstate {

ReadResult readStateChunk(std::span<const std::uint8_t> bytes, const iplug::IEditorDelegate& parameters) {
    ReadResult result;
    if (bytes.size() > kMaxChunkBytes) {
        result.refusal = ReadRefusal::TooLarge;
        return result;
    }
    const DecodeResult decoded = decode(bytes, kMaxChunkBytes, TrailerPolicy::Strict);
    result.chunkStatus = decoded.status;
    if (decoded.status != DecodeStatus::Ok) {
        result.refusal = ReadRefusal::Chunk;
        return result;
    }
    const DecodedState& state = decoded.state;
    if (!valuesFitParameters(state.values, parameters)) {
        result.refusal = ReadRefusal::Values;
        return result;
    }
    if (!state.hasDocument) {
        result.snapshot = valuesOnlySnapshot(state.values);
        result.end = state.end;
        return result;
    }
    np::DeserializeOutcome outcome =
        np::deserializeDocumentChecked(bytes.data() + state.payloadOffset,
                                       static_cast<std::size_t>(state.payloadLength), {}, kMaxChunkBytes);
    if (!outcome.document) {
        result.refusal = ReadRefusal::Session;
        result.sessionError = outcome.error;
        result.sessionMessage = std::move(outcome.message);
        return result;
    }
    result.snapshot =
        sessionSnapshot(state.values, std::move(outcome.document->document), outcome.document->anchorFrame);
    result.end = state.end;
    return result;
}

} // namespace cv::dawstate
