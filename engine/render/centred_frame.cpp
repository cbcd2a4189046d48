#include "engine/render/centred_frame.h"

#include <algorithm>
#include <cmath>

namespace np {

std::int64_t frameCentredAt(const PitchTrack& track, std::int64_t s) noexcept {
    const double hop = std::max<std::uint32_t>(1, track.hop);
    return std::llround((static_cast<double>(s) - track.frame / 2.0) / hop);
}

} // namespace np
