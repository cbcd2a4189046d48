#pragma once

#include "framework/byte_chunk.h"
#include "plugin/dawstate_snapshot.h"

// The host-state writer: turns the last published snapshot into the chunk a host save stores.
namespace cv::dawstate {

// Appends the chunk: the current header of the values to save, the has-document flag and, when the
// snapshot holds a session, its length and the session in the project format. The values are the
// snapshot's (the live parameter values when nothing was published yet), with the live Volume, the one
// automatable parameter, always. Any host thread: reads only the immutable snapshot and the given values.
//
// Returns false, with the chunk as it was, when a value breaks its rule, the chunk would pass 640 MiB,
// or the session cannot be written (any exception of the project writer: a broken content rule, its
// working-set limit, memory). An allocation failure while growing the chunk itself propagates.
bool writeStateChunk(iplug::IByteChunk& chunk, const Snapshot* published, const Values& liveValues);

} // namespace cv::dawstate
