#pragma once

// `corvalinth render IN OUT.wav`: the way to hear an edit on this platform. The input is analysed as
// `analyse` does, the edits go through an edit session as the editor's would, the document is rendered
// and written as a WAV file at the input's rate.

#include "engine/io/wav_writer.h"
#include "engine/model/edit_session.h"
#include "engine/render/render_types.h"
#include "host/cli_args.h"

#include <string>

namespace cv::cli {

// The output's sample coding: 16-bit for 8- and 16-bit integer input, 24-bit for everything else
// (24-bit, wider integers, float and lossy input).
np::WavBitDepth renderDepth(int fileFormat);

// Scales rendered audio so that the WAV writer codes every unedited sample of integer input back to its
// own value: the reader divides by 2^(bits - 1), the writer multiplies by 2^(bits - 1) - 1. Leaves
// other input alone.
void matchWriterScale(np::AudioBuffer& audio, int fileFormat);

// The factor matchWriterScale applies to each sample (in double, the result rounded to float); exactly 1
// for input it leaves alone.
double writerScale(int fileFormat);

// Applies the command's edits to its notes (every note when it lists none) through the session: pitch
// correction (chromatic, no vibrato flattening), transpose, formant, gain, then each note's timeline
// length times the stretch ratio. Returns false with one line in error when a listed note does not exist.
bool applyRenderEdits(np::EditSession& session, const RenderCommand& command, std::string& error);

// What was rendered: every rendered unit's notes, timeline start and engine (copy, psola, vocoder,
// stretch), as a table or one JSON object.
std::string formatRenderReport(const RenderCommand& command, const np::Document& document,
                               const np::RenderHints& hints, np::WavBitDepth depth);

// Runs the whole command, printing the report on standard output, a progress line on standard error
// when that is a terminal, and one line "corvalinth: ..." on standard error on failure. Returns the
// exit code: 0, or 1 when a file could not be read or written or the render failed.
int runRender(const RenderCommand& command);

} // namespace cv::cli
