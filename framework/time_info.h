#pragma once

// The host's transport as the plug-in sees it during one ProcessBlock call.

namespace iplug {

struct ITimeInfo {
    // The timeline position of the block's first frame, in frames at the host's rate: -1 when the
    // host gives none. Hosts also send NaN, infinities, negative values and values beyond the 64-bit
    // range: the plug-in checks before it converts.
    double mSamplePos = -1.0;
    bool mTransportIsRunning = false;
};

} // namespace iplug
