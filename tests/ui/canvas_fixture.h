#pragma once

// The note canvas under test: documents of fixed notes, a fake host that records what the canvas asks of
// the plug-in, a bare graphics context holding one canvas over that host, and the whole editor of a real
// plug-in in the stand-in host. At 1280 x 816 the canvas control is (14, 114, 1266, 688) and its grid
// (66, 138, 1252, 674); the fresh view maps frame f to x = 66 + f / 256 and pitch p to y = 138 + 14 (84 - p).

#include "engine/audio/peak_cache.h"
#include "framework/graphics/offscreen.h"
#include "framework/graphics/testing/test_driver.h"
#include "tests/support/signals.h"
#include "tests/ui/editor_fixture.h"
#include "ui/editor_commands.h"
#include "ui/editor_view.h"

#include <functional>
#include <gtest/gtest.h>
#include <memory>
#include <span>
#include <stdexcept>
#include <string>
#include <vector>

namespace cvtest {

inline constexpr iplug::igraphics::IRECT kCanvasControl{14.f, 114.f, 1266.f, 688.f};

inline float XOf(double frame) {
    return 66.f + static_cast<float>(frame / 256.0);
}
inline float YOf(double pitch) {
    return 138.f + static_cast<float>(14.0 * (84.0 - pitch));
}

struct CanvasNote {
    std::int64_t start = 0;
    std::int64_t length = 0;
    double pitch = 60.0;
};

// Mono 48 kHz audio of `frames` (a quiet 220 Hz tone), a pitch track of hop 256 and one note per entry:
// ids from 1, source span equal to the timeline span, a flat pitch curve.
inline np::Document CanvasDocument(const std::vector<CanvasNote>& notes, std::int64_t frames = 48000 * 20) {
    np::Document doc;
    doc.sampleRate = 48000.0;
    auto audio = std::make_shared<np::AudioBuffer>();
    audio->resize(1, frames);
    // 2400 frames hold eleven whole cycles: the tone is one period laid end to end, which spares every
    // editor test twenty seconds of sines.
    const std::vector<float> period = cvtest::sine(220.0, 48000.0, 2400, 0.4f);
    const std::span<float> out = audio->channel(0);
    for (std::size_t i = 0; i < out.size(); ++i)
        out[i] = period[i % period.size()];
    doc.audio = audio;
    doc.track.frames.resize(static_cast<std::size_t>(frames / 256 + 1));
    for (const CanvasNote& s : notes) {
        np::Note n;
        n.id = doc.nextNoteId++;
        n.sourceStart = n.start = s.start;
        n.sourceEnd = s.start + s.length;
        n.length = s.length;
        n.pitch = s.pitch;
        n.pitchCurve =
            std::make_shared<const std::vector<float>>(static_cast<std::size_t>(s.length / 256), 0.f);
        n.levelCurve = n.pitchCurve;
        doc.notes.push_back(n);
    }
    return doc;
}

// What the canvas asked of its host, with the host's answers under test control.
struct FakeCanvasHost : cv::ui::CanvasHost {
    np::EditSession session;
    np::PeakCache peaks;
    double tempo = 120.0;
    int edited = 0;                    // OnDocumentEdited calls
    int editedOutsideGesture = 0;      // of them, with no gesture open (a publication)
    std::vector<bool> failures;        // ReportUiEditFailure arguments
    std::vector<std::string> audition; // "start 1", "update 1", "stop"
    std::function<void()> onEdited;    // runs inside OnDocumentEdited (may throw)
    std::function<void()> onToggleSplit;

    np::EditSession& Session() override { return session; }
    const np::PeakCache* Peaks() override { return peaks.levels.empty() ? nullptr : &peaks; }
    double TempoBpm() const override { return tempo; }
    void OnDocumentEdited() override {
        ++edited;
        editedOutsideGesture += session.inGesture() ? 0 : 1;
        if (onEdited)
            onEdited();
    }
    void ReportUiEditFailure(bool changed) override { failures.push_back(changed); }
    void StartLiveAudition(std::uint32_t id) override { audition.push_back("start " + std::to_string(id)); }
    void UpdateLiveAudition(std::uint32_t id) override { audition.push_back("update " + std::to_string(id)); }
    void StopLiveAudition() override { audition.push_back("stop"); }
    void ToggleSplitMode() override {
        if (onToggleSplit)
            onToggleSplit();
    }
};

// The plug-in's commands as the inspector and the key handler see them, over a session of the test's:
// counts what they are asked, with the background work and a failure of the macro settings under test
// control.
struct FakeEditorCommands : cv::ui::EditorCommands {
    np::EditSession& session;
    cv::MacroSettings macros;
    bool failMacros = false;     // Macros() throws
    bool backgroundWork = false; // what BackgroundWorkCancellable answers
    int edited = 0;
    int cancels = 0;      // CancelBackgroundWork calls
    int splitToggles = 0; // ToggleSplitMode calls
    std::vector<bool> failures;

    explicit FakeEditorCommands(np::EditSession& s) : session(s) {}
    np::EditSession& Session() override { return session; }
    void OnDocumentEdited() override { ++edited; }
    void ReportUiEditFailure(bool changed) override { failures.push_back(changed); }
    void Undo() override {}
    void Redo() override {}
    void SplitAtPlayhead() override {}
    void MergeSelection() override {}
    void ToggleSplitMode() override { ++splitToggles; }
    void ApplyPitchMacro() override {}
    void ApplyTimeMacro() override {}
    void ApplyUnisonMacro() override {}
    cv::MacroSettings& Macros() override {
        if (failMacros)
            throw std::runtime_error("macro settings");
        return macros;
    }
    bool BackgroundWorkCancellable() const override { return backgroundWork; }
    void CancelBackgroundWork() override { ++cancels; }
    std::string TempoText() const override { return "120.0"; }
};

// One canvas over a fake host in a bare offscreen graphics context of the editor's size.
struct CanvasRig {
    std::unique_ptr<iplug::igraphics::IGraphics> g =
        iplug::igraphics::MakeOffscreenGraphics(nullptr, 1280, 816, 60, 1.f);
    FakeCanvasHost* host = nullptr;
    cv::ui::EditorView* view = nullptr;
    std::unique_ptr<iplug::igraphics::TestDriver> driver;

    explicit CanvasRig(np::Document doc) {
        auto owned = std::make_unique<FakeCanvasHost>();
        host = owned.get();
        host->session.setDocument(std::move(doc));
        view = g->AttachControl(std::make_unique<cv::ui::EditorView>(kCanvasControl, std::move(owned)), 0);
        driver = std::make_unique<iplug::igraphics::TestDriver>(*g);
    }
    ~CanvasRig() { driver.reset(); }
    const np::Note& Note(std::uint32_t id) const { return *host->session.document().findNote(id); }
};

// The plug-in with its whole editor open in the stand-in host, the document installed in its session.
struct PluginCanvasRig : EditorFixture {
    cv::ui::EditorView* view = nullptr;

    explicit PluginCanvasRig(np::Document doc,
                             const std::function<void(Corvalinth::Services&)>& customize = {})
        : EditorFixture(std::move(doc), customize) {
        view = dynamic_cast<cv::ui::EditorView*>(g->GetControlWithTag(0));
    }
    void Close() {
        EditorFixture::Close();
        view = nullptr;
    }
    np::EditSession& Session() { return plugin->Session(); }
    const np::Note& Note(std::uint32_t id) { return *Session().document().findNote(id); }
};

} // namespace cvtest
