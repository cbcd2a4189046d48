#pragma once

// Chunk mutators for restore tests: what a damaged or foreign project hands back to a plug-in.

#include "framework/host_entry.h"

#include <cstddef>

namespace cv::standin {

// The record with its data cut to `bytes` (unchanged when already shorter).
iplug::HostStateRecord truncated(iplug::HostStateRecord record, std::size_t bytes);
// The record with bit `bit` of its data inverted (counted from the first byte's lowest bit; a bit
// beyond the data changes nothing).
iplug::HostStateRecord bitFlipped(iplug::HostStateRecord record, std::size_t bit);
// The record with `extraBytes` bytes of 0xA5 appended.
iplug::HostStateRecord oversized(iplug::HostStateRecord record, std::size_t extraBytes);

} // namespace cv::standin
