#include "plugin/edit_macros.h"

#include <algorithm>
#include <cmath>

namespace cv {

std::int64_t quantizeGridSamples(double tempoBpm, int gridIndex, double sampleRate) noexcept {
    const double beat = kBeatFraction[static_cast<std::size_t>(std::clamp(gridIndex, 0, 2))];
    const double grid = 60.0 / tempoBpm * beat * sampleRate;
    if (!std::isfinite(grid) || grid < 0.0 || grid >= 9.2e18)
        return 0;
    return static_cast<std::int64_t>(grid);
}

std::optional<double> unisonTargetMidi(std::vector<double> pitches, const np::KeyScale& keyScale,
                                       double a4Hz) {
    if (pitches.empty())
        return std::nullopt;
    const std::size_t mid = pitches.size() / 2;
    std::nth_element(pitches.begin(), pitches.begin() + static_cast<std::ptrdiff_t>(mid), pitches.end());
    const double median = pitches[mid];

    const double offset = np::tuningOffsetSemitones(a4Hz);
    const double wanted = median - offset;
    const double rounded = std::round(wanted);
    if (!std::isfinite(rounded) || std::abs(rounded) > 1e6) // no MIDI pitch lies out there
        return std::nullopt;
    const std::array<bool, 12> degrees = keyScale.degrees();
    double best = rounded;
    double bestDistance = 1e9;
    for (double c = rounded - 7.0; c <= rounded + 7.0; c += 1.0) {
        if (!degrees[static_cast<std::size_t>(np::pitchClass(static_cast<int>(c)))])
            continue;
        const double distance = std::abs(c - wanted);
        // Ascending candidates: an equally near one later in the walk is the higher one.
        if (distance < bestDistance - 1e-9 || std::abs(distance - bestDistance) <= 1e-9) {
            best = c;
            bestDistance = distance;
        }
    }
    return offset + best;
}

} // namespace cv
