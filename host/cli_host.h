#pragma once

// `corvalinth host IN OUT.wav [--edit SCRIPT]`: IN runs through the plug-in in the stand-in host as a DAW
// would run it. The host configures audio at IN's rate and channels, the plug-in arms its capture, the
// host plays IN as the track from timeline position 0 and stops, the plug-in analyses the capture (its
// idle loop ticking every 20 ms), the edit script's steps go through the plug-in's edit commands, and
// the host bounces the track offline into OUT.wav. Without a script the bounce equals IN sample for
// sample (16- or 24-bit PCM and 32-bit float input).

#include "engine/model/document.h"
#include "host/cli_args.h"
#include "plugin/Corvalinth.h"

#include <string>

namespace cv::cli {

// The notes of a document as the user reads them under title (written by printableName): id, timeline
// start and length in seconds, sounding pitch (base pitch plus offset) with its name, and the edits a
// note carries.
std::string formatDocumentNotes(const std::string& title, const np::Document& document);

// Runs the whole command: the notes after the analysis (and after the script) on standard output, the
// plug-in's notices and one line "corvalinth: ..." per failure on standard error, with a line for each
// step that changed nothing and for each move the timeline limited (how far the notes moved). Returns 0, or 1
// when a file could not be read or written, the script could not be applied, or the plug-in reported an error
// (an edit it could not render among them: then no bounce is written). services: the plug-in's own
// (defaults: the analyses and the document render it ships with).
int runHost(const HostCommand& command, Corvalinth::Services services = {});

} // namespace cv::cli
