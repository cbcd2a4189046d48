#include "engine/model/key_scale.h"

#include <cmath>

namespace np {
namespace {

constexpr std::array<int, 7> kMajorSteps{0, 2, 4, 5, 7, 9, 11};
constexpr std::array<int, 7> kMinorSteps{0, 2, 3, 5, 7, 8, 10};
constexpr std::array<const char*, 12> kNames{"C", "C#", "D", "D#", "E", "F", "F#", "G", "G#", "A", "A#", "B"};

// Floor division, so that octaves of negative notes continue downward.
int floorDiv(int a, int b) noexcept {
    return a / b - ((a % b != 0) && ((a < 0) != (b < 0)) ? 1 : 0);
}

} // namespace

int pitchClass(int note) noexcept {
    return ((note % 12) + 12) % 12;
}

std::array<bool, 12> KeyScale::degrees() const noexcept {
    std::array<bool, 12> mask{};
    // The root is wrapped first: root + s would overflow for a root near the largest int.
    const int rootClass = pitchClass(root);
    const auto mark = [&](const std::array<int, 7>& steps) {
        for (int s : steps)
            mask[static_cast<std::size_t>(pitchClass(rootClass + s))] = true;
    };
    switch (kind) {
    case 0:
        mask.fill(true);
        break;
    case 1:
        mark(kMajorSteps);
        break;
    case 2:
        mark(kMinorSteps);
        break;
    default:
        break;
    }
    return mask;
}

double tuningOffsetSemitones(double a4Hz) noexcept {
    return 12.0 * std::log2(a4Hz / 440.0);
}

double nearestScaleDegree(double pitch, const KeyScale& keyScale, double a4Hz) noexcept {
    const double offset = tuningOffsetSemitones(a4Hz);
    const double t = pitch - offset;
    if (!std::isfinite(t) || std::abs(t) > 1e6)
        return pitch;               // no MIDI pitch; nothing to snap to
    const double r = std::round(t); // halves away from zero
    const auto mask = keyScale.degrees();
    double best = r;
    double bestDistance = 1e9;
    for (int k = -7; k <= 7; ++k) {
        const double n = r + k;
        if (!mask[static_cast<std::size_t>(pitchClass(static_cast<int>(n)))])
            continue;
        const double d = std::abs(n - t);
        // A strict improvement must beat the best by more than rounding noise; an exact tie goes up.
        if (d < bestDistance - 1e-9 || (std::abs(d - bestDistance) < 1e-9 && n > best)) {
            best = n;
            bestDistance = d;
        }
    }
    return best + offset;
}

std::string midiNoteName(int note) {
    return std::string(kNames[static_cast<std::size_t>(pitchClass(note))]) +
           std::to_string(floorDiv(note, 12) - 1);
}

} // namespace np
