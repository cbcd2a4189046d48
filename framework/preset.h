#pragma once

// One factory preset: its name and the state chunk it restores.

#include "framework/byte_chunk.h"

#include <string>

namespace iplug {

struct IPreset {
    bool mInitialized = false; // set once a chunk was made for it
    std::string mName = "empty";
    IByteChunk mChunk;
};

} // namespace iplug
