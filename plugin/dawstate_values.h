#pragma once

#include "engine/model/document.h"
#include "framework/editor_delegate.h"
#include "plugin/dawstate_chunk.h"

// The six host-state values beside the plug-in's parameter table: what a save stores, what a restore
// accepts, and the session settings they stand for. Pure functions; any thread (parameter values are
// atomics).
namespace cv::dawstate {

// The six parameters' current values in chunk order.
Values parameterValues(const iplug::IEditorDelegate& parameters) noexcept;

// True when every value is finite and its parameter's own constrain rule leaves it unchanged. Only the
// enumerations are stepped: Volume and Tempo keep their fractions and are checked against their range.
bool valuesFitParameters(const Values& values, const iplug::IEditorDelegate& parameters) noexcept;

// The values a save stores: the parameter values, except that the Algorithm of a session holding an
// analysis is the algorithm of that analysis, not a changed parameter still awaiting confirmation.
Values valuesToSave(const Values& parameterValues, bool sessionHasAnalysis,
                    int lastAnalysedAlgorithm) noexcept;

// The session settings the six values stand for: key root, scale kind and algorithm are the indices
// truncated, A4 the reference of the A4 index clamped to 0..7, tempo as is. Any values give settings
// within range: an index that is not finite counts as 0 and one out of range is clamped.
np::SessionMeta DawMetaFromParameters(const Values& values) noexcept;

} // namespace cv::dawstate
