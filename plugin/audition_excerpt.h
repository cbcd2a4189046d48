#pragma once

// Which part of a note the live audition freezes. Pure; any thread.

#include "engine/model/document.h"

#include <cstdint>
#include <utility>

namespace cv {

// The source frames [first, second) of the excerpt a live audition of note analyses: 0.35 s around the
// centre of the steadiest fully voiced window of up to 0.14 s inside the note (the smallest coefficient
// of variation of F0, the first of equals), or around the note's centre when no window is voiced
// throughout; clipped to the note's source span.
std::pair<std::int64_t, std::int64_t> auditionExcerptRange(const np::Document& doc, const np::Note& note);

} // namespace cv
