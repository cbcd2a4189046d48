// Random sequences of every edit, split, merge, gesture, undo and redo must keep each note storable:
// fields within their ranges, curves finite within the curve range, ids unique and never reused.

#include "engine/model/edit_session.h"

#include <algorithm>
#include <cmath>
#include <gtest/gtest.h>
#include <random>
#include <set>

namespace {

np::Document randomDocument(std::mt19937& rng) {
    np::AnalysisResult result;
    std::uniform_real_distribution<double> pitch(30.0, 100.0);
    std::uniform_real_distribution<float> cents(-4000.0f, 4000.0f);
    std::int64_t at = 0;
    for (int i = 0; i < 8; ++i) {
        np::NoteEvent e;
        e.start = at;
        e.end = at + 256 * (4 + static_cast<std::int64_t>(rng() % 40));
        e.pitch = pitch(rng);
        e.pitched = rng() % 4 != 0;
        const auto hops = static_cast<std::size_t>((e.end - e.start) / 256);
        const bool wild = rng() % 3 == 0;
        for (std::size_t h = 0; h < hops; ++h) {
            e.pitchCurve.push_back(wild ? cents(rng) : static_cast<float>(h % 7) * 5.0f);
            e.levelCurve.push_back(0.1f);
        }
        result.notes.push_back(std::move(e));
        at = result.notes.back().end + static_cast<std::int64_t>(rng() % 2) * 512;
    }
    auto audio = std::make_shared<np::AudioBuffer>();
    audio->resize(static_cast<int>(1 + rng() % 2), at + 4096);
    return np::makeDocument(std::move(audio), 48000.0, result);
}

void expectStorable(const np::EditSession& session, std::uint32_t& lastNextId) {
    const auto& doc = session.document();
    const std::int64_t limit = session.timelineLimitFrames();
    ASSERT_GE(doc.nextNoteId, lastNextId) << "an id was given back";
    lastNextId = doc.nextNoteId;
    std::set<std::uint32_t> ids;
    for (const auto& n : doc.notes) {
        ASSERT_TRUE(ids.insert(n.id).second) << "duplicate id " << n.id;
        ASSERT_LT(n.id, doc.nextNoteId);
        ASSERT_LT(n.sourceStart, n.sourceEnd);
        ASSERT_GE(n.start, 0);
        ASSERT_GE(n.length, 1);
        ASSERT_LE(n.start + n.length, limit);
        ASSERT_TRUE(std::isfinite(n.pitch) && n.pitch >= -24.0 && n.pitch <= 156.0) << n.pitch;
        ASSERT_TRUE(n.pitchOffset >= -24.0 && n.pitchOffset <= 24.0);
        ASSERT_TRUE(n.driftScale >= 0.0 && n.driftScale <= 2.0);
        ASSERT_TRUE(n.formantShift >= -12.0 && n.formantShift <= 12.0);
        ASSERT_TRUE(n.gainDb >= -60.0 && n.gainDb <= 24.0);
        ASSERT_TRUE(n.pitchCurve && n.levelCurve);
        for (float v : *n.pitchCurve)
            ASSERT_TRUE(std::isfinite(v) && v >= -4800.0f && v <= 4800.0f) << v;
        for (float v : *n.levelCurve)
            ASSERT_TRUE(std::isfinite(v));
    }
}

TEST(EditSessionRandom, EverySequenceKeepsTheDocumentStorable) {
    for (std::uint32_t seed = 1; seed <= 12; ++seed) {
        SCOPED_TRACE(seed);
        std::mt19937 rng(seed);
        np::EditSession session;
        session.setDocument(randomDocument(rng));
        session.setKeyScale({static_cast<int>(rng() % 12), static_cast<unsigned>(rng() % 3)});
        std::uint32_t lastNextId = 1;
        std::uniform_real_distribution<double> amount(-40.0, 40.0);
        const double special[] = {NAN, INFINITY, -INFINITY, 1e300, -1e300};
        int splits = 0;
        int merges = 0;

        for (int step = 0; step < 1500; ++step) {
            const auto& notes = session.document().notes;
            std::vector<std::uint32_t> ids;
            for (const auto& n : notes)
                if (rng() % 3 == 0)
                    ids.push_back(n.id);
            if (rng() % 8 == 0)
                ids.push_back(999999);
            const double value = rng() % 20 == 0 ? special[rng() % 5] : amount(rng);
            const std::uint32_t one = notes.empty() ? 1 : notes[rng() % notes.size()].id;
            switch (rng() % 17) {
            case 0:
                session.addPitchOffset(ids, value);
                break;
            case 1:
                session.setDriftScale(ids, value / 10.0);
                break;
            case 2:
                session.addFormantShift(ids, value);
                break;
            case 3:
                session.addGainDb(ids, value * 3.0);
                break;
            case 4:
                session.setMuted(ids, rng() % 2 == 0);
                break;
            case 5:
                session.moveTime(ids, std::isfinite(value)
                                          ? static_cast<std::int64_t>(std::clamp(value, -1e9, 1e9) * 1e9)
                                          : INT64_MIN);
                break;
            case 6:
                session.resizeNote(one, static_cast<std::int64_t>(rng() % 200000) - 1000);
                break;
            case 7:
                session.snapToScale(ids);
                break;
            case 8:
                session.applyPitchCorrection(ids, value / 20.0, value / 20.0);
                break;
            case 9:
                session.applyTimeQuantize(ids, static_cast<std::int64_t>(rng() % 30000) - 100, value / 20.0);
                break;
            case 10:
                session.applyUnison(ids, 60.0 + value);
                break;
            case 11:
            case 12: {
                const np::Note* n = session.document().findNote(one);
                if (n != nullptr)
                    splits += session.splitNote(
                                  one, n->start + static_cast<std::int64_t>(
                                                      rng() % static_cast<unsigned>(n->length + 2))) != 0;
                break;
            }
            case 13: {
                // Mostly neighbours in the source, which can merge; sometimes the random selection.
                std::vector<std::pair<std::int64_t, std::uint32_t>> bySource;
                for (const auto& n : notes)
                    bySource.emplace_back(n.sourceStart, n.id);
                std::sort(bySource.begin(), bySource.end());
                if (bySource.size() >= 2 && rng() % 4 != 0) {
                    const std::size_t j = rng() % (bySource.size() - 1);
                    ids = {bySource[j].second, bySource[j + 1].second};
                }
                merges += session.mergeNotes(ids, nullptr) ? 1 : 0;
                break;
            }
            case 14:
                rng() % 2 ? session.undo() : session.redo();
                break;
            case 15:
                session.beginGesture();
                break;
            case 16:
                rng() % 3 == 0 ? session.cancelGesture() : static_cast<void>(session.endGesture());
                break;
            }
            ASSERT_NO_FATAL_FAILURE(expectStorable(session, lastNextId)) << "step " << step;
            if (!session.inGesture()) { // a gesture's own state is trimmed when the gesture ends
                ASSERT_LE(session.undoStates().size() + session.redoStates().size(), 200u);
            }
        }
        // The sequence must really have cut and joined notes, or it proves little.
        EXPECT_GT(splits, 10);
        EXPECT_GT(merges, 0);
    }
}

} // namespace
