#include "engine/io/project_model_check.h"

#include "engine/audio/cancellation.h"

#include <cmath>
#include <unordered_set>

namespace np::project {

namespace {

bool checkedMul(std::uint64_t a, std::uint64_t b, std::uint64_t& out) noexcept {
    return !__builtin_mul_overflow(a, b, &out);
}

bool checkedAdd(std::uint64_t a, std::uint64_t b, std::uint64_t& out) noexcept {
    return !__builtin_add_overflow(a, b, &out);
}

std::uint64_t curveLength(const SharedCurve& curve) noexcept {
    return curve ? curve->size() : 0;
}

void pollCheck(const std::function<bool()>& keepGoing) {
    throwIfCancelled(keepGoing, msg::kCheckCancelled);
}

ModelCheck refused(const char* message, bool overLimit = false) {
    ModelCheck check;
    check.message = message;
    check.overLimit = overLimit;
    return check;
}

// Size of the version-3 file; false when it cannot be represented.
bool fileBytesOf(const Document& document, std::uint64_t totalCurveValues, std::uint64_t& size) noexcept {
    const AudioBuffer& audio = *document.audio;
    std::uint64_t sampleBytes = 0;
    std::uint64_t frameBytes = 0;
    std::uint64_t noteBytes = 0;
    std::uint64_t curveBytes = 0;
    return checkedMul(static_cast<std::uint64_t>(audio.channels) * 4u,
                      static_cast<std::uint64_t>(audio.frames), sampleBytes) &&
           checkedMul(kFrameRecordBytes, document.track.frames.size(), frameBytes) &&
           checkedMul(kNoteMinimumBytes, document.notes.size(), noteBytes) &&
           checkedMul(4, totalCurveValues, curveBytes) && checkedAdd(kFixedFileBytes, sampleBytes, size) &&
           checkedAdd(size, frameBytes, size) && checkedAdd(size, noteBytes, size) &&
           checkedAdd(size, curveBytes, size);
}

// The resident estimate of the decoded model, charged step by step against the plan's limit.
bool planResidentBytes(const Document& document, std::uint64_t totalCurveValues, std::uint64_t nonEmptyCurves,
                       const ModelPlan& plan, std::uint64_t& resident) noexcept {
    if (plan.limitBytes < kFixedFileBytes) {
        return false;
    }
    ProjectMemoryBudget budget(plan.limitBytes);
    const AudioBuffer& audio = *document.audio;
    const std::uint64_t frameCount = document.track.frames.size();
    std::uint64_t curveBytes = 0;
    std::uint64_t curveOverhead = 0;
    const bool ok = budget.add(kFixedFileBytes) &&
                    budget.addAudioMemory(static_cast<std::uint64_t>(audio.channels) * 4u *
                                          static_cast<std::uint64_t>(audio.frames)) &&
                    budget.add(24 * frameCount) && (frameCount == 0 || budget.add(64)) &&
                    budget.addNoteModelMemory(document.notes.size()) &&
                    checkedMul(4, totalCurveValues, curveBytes) && budget.add(curveBytes) &&
                    checkedMul(64, nonEmptyCurves, curveOverhead) && budget.add(curveOverhead) &&
                    budget.add(plan.reserveBytes);
    resident = budget.usedBytes();
    return ok;
}

} // namespace

bool ProjectMemoryBudget::add(std::uint64_t bytes) noexcept {
    std::uint64_t sum = 0;
    if (!checkedAdd(used_, bytes, sum) || sum > limit_) {
        return false;
    }
    used_ = sum;
    return true;
}

bool ProjectMemoryBudget::addAudioMemory(std::uint64_t sampleBytes) noexcept {
    return add(40) && add(64) && add(sampleBytes) && (sampleBytes == 0 || add(64));
}

bool ProjectMemoryBudget::addNoteModelMemory(std::uint64_t notes) noexcept {
    std::uint64_t records = 0;
    std::uint64_t ids = 0;
    std::uint64_t holders = 0;
    std::uint64_t curves = 0;
    if (!checkedMul(128, notes, records) || !checkedMul(16, notes, ids) || !checkedAdd(ids, 8, ids) ||
        !checkedMul(64, notes, holders) || !checkedMul(176, notes, curves)) {
        return false;
    }
    return add(records) && (notes == 0 || add(64)) && add(40) && add(ids) && add(64) && add(holders) &&
           add(curves);
}

bool finiteWithin(double value, double low, double high) noexcept {
    return std::isfinite(value) && value >= low && value <= high;
}

bool validAudioShape(std::int64_t channels, std::int64_t frames, double sampleRate) noexcept {
    if (frames < 1 || channels < 1 || channels > 2 ||
        !finiteWithin(sampleRate, kMinSampleRate, kMaxSampleRate)) {
        return false;
    }
    return static_cast<double>(frames) / sampleRate <= kMaxSeconds && frames <= kMaxSamples / channels;
}

bool validTrackMetadata(double trackRate, double documentRate, std::int64_t hop, std::int64_t frame,
                        std::uint64_t frameCount) noexcept {
    if (!finiteWithin(trackRate, kMinSampleRate, kMaxSampleRate)) {
        return false;
    }
    const double tolerance = std::max(documentRate * 0.000001, 0.000001);
    if (!(std::fabs(trackRate - documentRate) <= tolerance)) {
        return false;
    }
    return hop >= 1 && frame <= kMaxAnalysisFrame && frame >= hop && frameCount <= kMaxTrackFrames;
}

bool trackFitsAudio(std::uint64_t frameCount, std::int64_t audioFrames, std::int64_t hop) noexcept {
    return hop >= 1 && audioFrames >= 0 && frameCount <= static_cast<std::uint64_t>(audioFrames / hop) + 2;
}

bool validFrameValues(double hz, double confidence, std::uint8_t sibilant) noexcept {
    return finiteWithin(hz, 0.0, kMaxFrameHz) && finiteWithin(confidence, 0.0, 1.0) && sibilant <= 1;
}

bool validNoteFields(const Note& note, std::int64_t audioFrames, std::int64_t channels) noexcept {
    if (note.id == 0 || note.sourceStart < 0 || note.sourceStart >= note.sourceEnd ||
        note.sourceEnd > audioFrames) {
        return false;
    }
    if (channels < 1 || channels > 2) {
        return false;
    }
    const std::int64_t timelineEnd = kTimelineBytes / (4 * channels);
    if (note.start < 0 || note.length < 1 || note.length > timelineEnd ||
        note.start > timelineEnd - note.length) {
        return false;
    }
    return finiteWithin(note.pitch, kMinNotePitch, kMaxNotePitch) &&
           finiteWithin(note.pitchOffset, -24.0, 24.0) && finiteWithin(note.driftScale, 0.0, 2.0) &&
           finiteWithin(note.formantShift, -12.0, 12.0) && finiteWithin(note.gainDb, -60.0, 24.0) &&
           finiteWithin(note.pitchConfidence, 0.0, 1.0);
}

bool curveFitsSpan(std::uint64_t length, const Note& note, std::int64_t hop) noexcept {
    if (hop < 1 || note.sourceEnd < note.sourceStart) {
        return false;
    }
    const std::uint64_t hops = static_cast<std::uint64_t>((note.sourceEnd - note.sourceStart) / hop);
    return length <= hops + kCurveSlackHops;
}

bool validSettings(std::uint32_t keyRoot, std::uint32_t scaleKind, double a4Hz, double tempoBpm,
                   std::uint32_t algorithm) noexcept {
    return keyRoot <= 11 && scaleKind <= 2 && finiteWithin(a4Hz, 300.0, 500.0) &&
           finiteWithin(tempoBpm, 20.0, 300.0) && algorithm <= 1;
}

bool validCurveValues(const std::vector<float>* curve, float low, float high,
                      const std::function<bool()>& keepGoing) {
    if (curve == nullptr) {
        return true;
    }
    for (std::size_t i = 0; i < curve->size(); ++i) {
        if (i % kFloatsPerPoll == 0) {
            pollCheck(keepGoing);
        }
        if (!finiteWithin((*curve)[i], low, high)) {
            return false;
        }
    }
    return true;
}

ModelCheck validateDocumentModel(const Document& document, const SessionMeta& settings, const ModelPlan& plan,
                                 const std::function<bool()>& keepGoing) {
    pollCheck(keepGoing);
    if (!document.audio) {
        return refused(msg::kNoAudio);
    }
    const AudioBuffer& audio = *document.audio;
    // A buffer whose sample vector disagrees with its shape would be read past its end.
    if (!validAudioShape(audio.channels, audio.frames, document.sampleRate) ||
        audio.samples.size() !=
            static_cast<std::size_t>(audio.channels) * static_cast<std::size_t>(audio.frames)) {
        return refused(msg::kAudioLimits);
    }
    for (int c = 0; c < audio.channels; ++c) {
        const auto channel = audio.channel(c);
        for (std::size_t i = 0; i < channel.size(); ++i) {
            if (i % kFloatsPerPoll == 0) {
                pollCheck(keepGoing);
            }
            if (!std::isfinite(channel[i])) {
                return refused(msg::kAudioSamples);
            }
        }
    }

    const PitchTrack& track = document.track;
    const std::int64_t hop = track.hop;
    if (!validTrackMetadata(track.sampleRate, document.sampleRate, hop, track.frame, track.frames.size())) {
        return refused(msg::kTrackMetadata);
    }
    if (!trackFitsAudio(track.frames.size(), audio.frames, hop)) {
        return refused(msg::kTrackInconsistent);
    }
    for (std::size_t i = 0; i < track.frames.size(); ++i) {
        if (i % kFramesPerPoll == 0) {
            pollCheck(keepGoing);
        }
        const PitchFrame& frame = track.frames[i];
        if (!validFrameValues(frame.hz, frame.confidence, frame.flags)) {
            return refused(msg::kTrackValues);
        }
    }

    if (document.notes.size() > kMaxNotes) {
        return refused(msg::kTooManyNotes);
    }
    std::unordered_set<std::uint32_t> ids;
    ids.reserve(document.notes.size());
    std::uint64_t totalCurveValues = 0;
    std::uint64_t nonEmptyCurves = 0;
    std::uint32_t largestId = 0;
    for (std::size_t n = 0; n < document.notes.size(); ++n) {
        if (n % kNotesPerPoll == 0) {
            pollCheck(keepGoing);
        }
        const Note& note = document.notes[n];
        if (!validNoteFields(note, audio.frames, audio.channels) || !ids.insert(note.id).second) {
            return refused(msg::kInvalidNote);
        }
        largestId = std::max(largestId, note.id);
        const std::uint64_t pitchLength = curveLength(note.pitchCurve);
        const std::uint64_t levelLength = curveLength(note.levelCurve);
        // Same order as the reader: both lengths against the running total, then the span, then values.
        if (pitchLength > kMaxCurveValues - totalCurveValues) {
            return refused(msg::kCurveSpan);
        }
        totalCurveValues += pitchLength;
        if (levelLength > kMaxCurveValues - totalCurveValues) {
            return refused(msg::kTooMuchCurveData);
        }
        totalCurveValues += levelLength;
        nonEmptyCurves += (pitchLength > 0 ? 1 : 0) + (levelLength > 0 ? 1 : 0);
        if (!curveFitsSpan(pitchLength, note, hop) || !curveFitsSpan(levelLength, note, hop) ||
            !validCurveValues(note.pitchCurve.get(), kMinPitchCents, kMaxPitchCents, keepGoing) ||
            !validCurveValues(note.levelCurve.get(), 0.0f, kMaxLevel, keepGoing)) {
            return refused(msg::kCurveSpan);
        }
    }
    if (document.nextNoteId == 0 || (!document.notes.empty() && document.nextNoteId <= largestId)) {
        return refused(msg::kNoteIds);
    }
    if (!validSettings(static_cast<std::uint32_t>(settings.keyRoot),
                       static_cast<std::uint32_t>(settings.scaleKind), settings.a4Hz, settings.tempoBpm,
                       static_cast<std::uint32_t>(settings.algorithm))) {
        return refused(msg::kSettingsInvalid);
    }

    std::uint64_t fileBytes = 0;
    if (!fileBytesOf(document, totalCurveValues, fileBytes) || fileBytes > kStateLimitBytes) {
        return refused(msg::kStateLimit, true);
    }
    std::uint64_t resident = 0;
    if (!planResidentBytes(document, totalCurveValues, nonEmptyCurves, plan, resident)) {
        return refused(msg::kResidentCopy, true);
    }
    // fileBytes is at most 640 MiB and resident at most the limit, so these sums cannot overflow.
    if (resident + fileBytes + 64 > plan.limitBytes ||
        (plan.copies != 1 && resident + 2 * (fileBytes + 64) > plan.limitBytes)) {
        return refused(msg::kResidentCopies, true);
    }
    ModelCheck check;
    check.valid = true;
    check.fileBytes = fileBytes;
    return check;
}

} // namespace np::project
