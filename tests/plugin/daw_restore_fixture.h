#pragma once

// A session worth saving, and the comparison a restore must pass: the host-state round trips.

#include "plugin/dawstate_chunk.h"
#include "tests/plugin/flow_fixture.h"

#include <tuple>
#include <utility>

// Captured one second at frame 9600 on a 48 kHz mono engine, analysed into four notes, every parameter
// but Algorithm moved (Volume and Tempo with fractions), two notes shifted and the first one split.
struct EditedSession : FlowFixture {
    static constexpr std::int64_t kAnchor = 9600;

    EditedSession() {
        configure(48000.0, 512, 1);
        captureAndAnalyse(kAnchor, 48000);
        const std::pair<int, double> parameters[] = {{cv::kParamVolume, 62.5},
                                                     {cv::kParamKey, 4.0},
                                                     {cv::kParamScale, 1.0},
                                                     {cv::kParamTempo, 97.25},
                                                     {cv::kParamA4, 6.0}};
        for (const auto& [index, value] : parameters)
            host->setParameter(index, value);
        host->idle();
        const std::uint32_t shifted[] = {2, 3};
        plugin->Session().addPitchOffset(shifted, 1.5);
        plugin->OnDocumentEdited();
        const np::Note& first = *plugin->Session().document().findNote(1);
        plugin->Session().splitNote(1, first.start + first.length / 2);
        plugin->OnDocumentEdited();
        settleRender();
    }
};

// Value `index` (cv::dawstate::ValueIndex) of a saved state.
inline double savedValue(const iplug::HostStateRecord& record, std::size_t index) {
    const cv::dawstate::DecodeResult decoded =
        cv::dawstate::decode(record.data, cv::dawstate::kMaxChunkBytes, cv::dawstate::TrailerPolicy::Strict);
    EXPECT_EQ(decoded.status, cv::dawstate::DecodeStatus::Ok);
    return decoded.state.values[index];
}

// The live session of `actual` (not only what it would save) holds the notes and anchor of `expected`;
// a save compares the rest byte for byte.
inline void expectSameSession(const Corvalinth& expected, const Corvalinth& actual) {
    const np::Document& want = expected.Session().document();
    const np::Document& got = actual.Session().document();
    ASSERT_NE(got.audio, nullptr);
    EXPECT_EQ(got.audio->frames, want.audio->frames);
    EXPECT_EQ(CorvalinthProbe::anchor(actual), CorvalinthProbe::anchor(expected));
    ASSERT_EQ(got.notes.size(), want.notes.size());
    for (std::size_t i = 0; i < got.notes.size(); ++i) {
        const np::Note& w = want.notes[i];
        const np::Note& g = got.notes[i];
        EXPECT_EQ(std::tie(g.id, g.start, g.length, g.pitchOffset),
                  std::tie(w.id, w.start, w.length, w.pitchOffset))
            << "note " << i;
        EXPECT_EQ(*g.pitchCurve, *w.pitchCurve) << "note " << i;
    }
}
