#pragma once

// Shared by the render benchmarks: how many units each engine rendered, read from a render's hints.

#include "engine/render/render_types.h"

#include <benchmark/benchmark.h>

namespace cvbench {

// Sets the counters psolaUnits, worldUnits and stretchUnits: the units (each keyed by its first note)
// that the pitch-synchronous engine, the vocoder and the stretch engine rendered.
inline void reportEngineUnits(benchmark::State& state, const np::RenderHints& hints) {
    int psola = 0, world = 0, stretch = 0;
    for (const auto& [id, engine] : hints.engineByNote) {
        psola += engine == np::RenderEngine::Psola;
        world += engine == np::RenderEngine::World;
        stretch += engine == np::RenderEngine::Stretch;
    }
    state.counters["psolaUnits"] = psola;
    state.counters["worldUnits"] = world;
    state.counters["stretchUnits"] = stretch;
}

} // namespace cvbench
