#pragma once

#include "engine/io/project_reader.h"
#include "framework/editor_delegate.h"
#include "plugin/dawstate_snapshot.h"

#include <optional>
#include <span>
#include <string>

// The host-state reader: checks a chunk handed back by a host restore and decodes it into a snapshot.
namespace cv::dawstate {

// Why a chunk was refused.
enum class ReadRefusal : std::uint8_t {
    None = 0,
    TooLarge = 1, // the bytes pass 640 MiB
    Chunk = 2,    // the decoder refused it (chunkStatus)
    Values = 3,   // a value is not one its parameter can hold
    Session = 4,  // the project reader refused the session (sessionError, sessionMessage)
};

struct ReadResult {
    ReadRefusal refusal = ReadRefusal::None;
    DecodeStatus chunkStatus = DecodeStatus::Ok;
    np::DeserializeError sessionError = np::DeserializeError::None;
    std::string sessionMessage;       // the project reader's sentence for a refused session
    std::optional<Snapshot> snapshot; // engaged only when accepted; generation 0, for the caller to stamp
    std::uint64_t end = 0;            // bytes the chunk occupies; the caller's new read position
};

// Decodes the chunk (strict: nothing may follow it), checks the six values against the parameters'
// own constrain rules and reads the session, if any, with every check of the project reader within
// 640 MiB. The snapshot carries the chunk's values and the settings derived from them; the settings
// stored inside the session are not used. Any host thread; long for a large session, and not
// cancellable. Never throws for bad input; an allocation failure outside the project reader propagates.
ReadResult readStateChunk(std::span<const std::uint8_t> bytes, const iplug::IEditorDelegate& parameters);

} // namespace cv::dawstate
