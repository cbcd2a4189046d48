#pragma once

#include "engine/audio/audio_buffer.h"

#include <memory>

namespace np {

// Audio prepared on the main thread for the audio thread: a render, or the session's captured audio
// itself while no render is ready. It is handed over by unique ownership inside a mailbox node and is
// freed only on the publishing side (publish, clear, drain), never by the realtime processing.
struct PlaybackSource {
    // The source's own samples; played when `shared` is not set.
    AudioBuffer audio;
    // An immutable buffer played instead of `audio` when set, so the captured audio can play without
    // a copy. The last reference may be dropped only on the main thread, which the mailbox guarantees.
    std::shared_ptr<const AudioBuffer> shared;
    // Link for a retired stack when a source travels on its own; unused inside a region node.
    PlaybackSource* next = nullptr;

    // The buffer the audio thread reads. Realtime: wait-free.
    const AudioBuffer& playable() const noexcept { return shared ? *shared : audio; }
};

} // namespace np
