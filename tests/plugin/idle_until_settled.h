#pragma once

// Idle ticks until the plug-in's background work has settled. A capture arms, a deferred action runs and
// a render or analysis result is installed only on a tick after its worker went quiet, and how long a
// worker takes depends on the machine's load: a test that looks after a fixed number of ticks sees the
// outcome on some runs only, and a count of renders read then may miss one that was asked for.

#include "host/standin/standin_host.h"
#include "plugin/Corvalinth.h"
#include "tests/plugin/corvalinth_probe.h"

#include <chrono>
#include <gtest/gtest.h>
#include <thread>

namespace cvtest {

// Longer than any healthy settle needs on a loaded machine under a sanitizer; only a hung worker, or a
// plug-in that keeps asking for work, reaches it.
inline constexpr std::chrono::seconds kSettleDeadline{30};

// Main thread: waits (without ticking) until the analysis, render and note-audition workers are idle,
// runs one idle tick to take what they delivered, and repeats until after such a tick no worker runs or
// holds a result (work the tick asked for may have finished already) and no action waits for them. A
// tick runs only once the workers are quiet, so the simulated clock advances by the ticks the work needs
// and no more. Fails when the deadline passes first.
inline testing::AssertionResult idleUntilSettled(cv::standin::StandinHost& host, Corvalinth& plugin) {
    const auto deadline = std::chrono::steady_clock::now() + kSettleDeadline;
    for (;;) {
        while (!plugin.ReplacementWorkersQuiescent()) {
            if (std::chrono::steady_clock::now() > deadline)
                return testing::AssertionFailure()
                       << "a worker of the plug-in is still busy after " << kSettleDeadline.count() << " s";
            std::this_thread::yield();
        }
        host.idle();
        if (CorvalinthProbe::workersIdle(plugin) && !CorvalinthProbe::deferredWaits(plugin))
            return testing::AssertionSuccess();
        if (std::chrono::steady_clock::now() > deadline)
            return testing::AssertionFailure()
                   << "the plug-in still starts background work after " << kSettleDeadline.count() << " s";
    }
}

} // namespace cvtest
