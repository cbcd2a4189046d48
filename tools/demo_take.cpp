#include "tools/demo_take.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <numbers>
#include <random>

namespace cvdemo {
namespace {

enum class Lead { Silence, Slide, Consonant };

struct Phrase {
    double midi;
    double seconds;
    Lead lead; // what comes before the note
};

// Seven notes: a sung line with silences, consonants ("s", "sh") and slides between some of them.
constexpr Phrase kMelody[] = {
    {57.0, 0.45, Lead::Silence},   {60.0, 0.40, Lead::Slide},   {62.0, 0.40, Lead::Silence},
    {64.0, 0.50, Lead::Consonant}, {62.0, 0.35, Lead::Slide},   {60.0, 0.40, Lead::Silence},
    {55.0, 0.45, Lead::Consonant}, {57.0, 0.60, Lead::Silence},
};

constexpr double kGapSeconds = 0.12;
constexpr double kConsonantSeconds = 0.08;
constexpr double kSlideSeconds = 0.06;
constexpr double kVibratoHz = 5.5;
constexpr double kVibratoCents = 25.0;
constexpr double kVibratoDelaySeconds = 0.15;
constexpr double kAttackSeconds = 0.015;
constexpr double kReleaseSeconds = 0.03;
constexpr float kVoiceLevel = 0.25f;
constexpr float kConsonantLevel = 0.12f;

double hzOf(double midi) {
    return 440.0 * std::pow(2.0, (midi - 69.0) / 12.0);
}

// Appends one voiced phrase of legato notes, starting at index first, to mono; returns the index after.
std::size_t voicePhrase(std::size_t first, double rate, std::vector<float>& mono,
                        std::vector<DemoNote>& notes) {
    constexpr std::size_t count = std::size(kMelody);
    std::size_t last = first + 1;
    while (last < count && kMelody[last].lead == Lead::Slide)
        ++last;
    double total = 0.0;
    for (std::size_t i = first; i < last; ++i)
        total += kMelody[i].seconds;
    const auto start = static_cast<std::int64_t>(mono.size());
    const auto length = static_cast<std::int64_t>(total * rate);
    double phase = 0.0;
    std::size_t note = first;
    double noteStart = 0.0;
    for (std::int64_t n = 0; n < length; ++n) {
        const double t = static_cast<double>(n) / rate;
        while (note + 1 < last && t >= noteStart + kMelody[note].seconds) {
            noteStart += kMelody[note].seconds;
            ++note;
        }
        const double inNote = t - noteStart;
        double midi = kMelody[note].midi;
        if (note > first && inNote < kSlideSeconds) {
            const double x = inNote / kSlideSeconds;
            const double eased = 0.5 - 0.5 * std::cos(std::numbers::pi * x);
            midi = kMelody[note - 1].midi + (kMelody[note].midi - kMelody[note - 1].midi) * eased;
        }
        if (inNote > kVibratoDelaySeconds)
            midi += kVibratoCents / 100.0 *
                    std::sin(2.0 * std::numbers::pi * kVibratoHz * (inNote - kVibratoDelaySeconds));
        const double hz = hzOf(midi);
        phase += 2.0 * std::numbers::pi * hz / rate;
        double value = 0.0;
        for (int k = 1; k <= 12 && k * hz < rate * 0.45; ++k)
            value += std::sin(k * phase) / k;
        const double envelope = std::min({1.0, t / kAttackSeconds, (total - t) / kReleaseSeconds});
        mono.push_back(static_cast<float>(kVoiceLevel * envelope * value));
    }
    double at = static_cast<double>(start) / rate;
    for (std::size_t i = first; i < last; ++i) {
        notes.push_back({at, kMelody[i].midi});
        at += kMelody[i].seconds;
    }
    return last;
}

// A hiss: white noise through a first difference, so its energy lies high like an "s".
void appendConsonant(double rate, std::uint32_t seed, std::vector<float>& mono) {
    std::minstd_rand random(seed);
    std::uniform_real_distribution<float> uniform(-1.0f, 1.0f);
    const auto length = static_cast<std::int64_t>(kConsonantSeconds * rate);
    float previous = 0.0f;
    for (std::int64_t n = 0; n < length; ++n) {
        const float white = uniform(random);
        const double t = static_cast<double>(n) / static_cast<double>(length);
        const double envelope = std::sin(std::numbers::pi * t);
        mono.push_back(static_cast<float>(kConsonantLevel * envelope * (white - previous)));
        previous = white;
    }
}

} // namespace

DemoTake makeDemoTake(double sampleRate) {
    DemoTake take;
    take.sampleRate = sampleRate;
    const auto gap = static_cast<std::size_t>(kGapSeconds * sampleRate);
    take.mono.assign(static_cast<std::size_t>(0.3 * sampleRate), 0.0f);
    std::size_t i = 0;
    std::uint32_t seed = 1;
    while (i < std::size(kMelody)) {
        if (i > 0) {
            if (kMelody[i].lead == Lead::Consonant) {
                take.mono.insert(take.mono.end(), gap / 2, 0.0f);
                appendConsonant(sampleRate, seed++, take.mono);
            } else {
                take.mono.insert(take.mono.end(), gap, 0.0f);
            }
        }
        i = voicePhrase(i, sampleRate, take.mono, take.notes);
    }
    take.mono.insert(take.mono.end(), static_cast<std::size_t>(0.3 * sampleRate), 0.0f);
    return take;
}

} // namespace cvdemo
