#include "host/cli_render.h"

#include "engine/io/wav_export.h"
#include "engine/render/document_render.h"
#include "engine/render/render_units.h"
#include "host/cli_audio_file.h"
#include "host/cli_files.h"
#include "host/cli_progress.h"
#include "host/cli_report.h"
#include "host/cli_run.h"

#include <cmath>
#include <cstdio>
#include <exception>
#include <memory>
#include <sndfile.h>

namespace cv::cli {
namespace {

const char* engineName(np::RenderEngine engine) {
    switch (engine) {
    case np::RenderEngine::Copy:
        return "copy";
    case np::RenderEngine::Psola:
        return "psola";
    case np::RenderEngine::World:
        return "vocoder";
    case np::RenderEngine::Stretch:
        return "stretch";
    }
    return "unknown";
}

// Bits of the integer coding of a file format; 0 for float, lossy and other codings.
int integerBits(int fileFormat) {
    switch (fileFormat & SF_FORMAT_SUBMASK) {
    case SF_FORMAT_PCM_S8:
    case SF_FORMAT_PCM_U8:
    case SF_FORMAT_DPCM_8:
        return 8;
    case SF_FORMAT_PCM_16:
    case SF_FORMAT_DPCM_16:
    case SF_FORMAT_ALAC_16:
        return 16;
    case SF_FORMAT_PCM_24:
    case SF_FORMAT_ALAC_20:
    case SF_FORMAT_ALAC_24:
        return 24;
    default:
        return 0;
    }
}

int fail(ProgressLine& progress, const std::string& error) {
    progress.finish();
    std::fprintf(stderr, "corvalinth: %s\n", error.c_str());
    return 1;
}

} // namespace

np::WavBitDepth renderDepth(int fileFormat) {
    const int bits = integerBits(fileFormat);
    return bits == 8 || bits == 16 ? np::WavBitDepth::Pcm16 : np::WavBitDepth::Pcm24;
}

double writerScale(int fileFormat) {
    if (integerBits(fileFormat) == 0)
        return 1.0;
    // 8-bit input is written with 16 bits, where its codes are multiples of 256.
    const double full = renderDepth(fileFormat) == np::WavBitDepth::Pcm16 ? 32768.0 : 8388608.0;
    return full / (full - 1.0);
}

void matchWriterScale(np::AudioBuffer& audio, int fileFormat) {
    const double scale = writerScale(fileFormat);
    if (scale == 1.0)
        return;
    for (float& x : audio.samples)
        x = static_cast<float>(static_cast<double>(x) * scale);
}

bool applyRenderEdits(np::EditSession& session, const RenderCommand& command, std::string& error) {
    const np::Document& doc = session.document();
    std::vector<std::uint32_t> ids = command.notes;
    if (ids.empty()) {
        for (const np::Note& note : doc.notes)
            ids.push_back(note.id);
    }
    for (const std::uint32_t id : ids) {
        if (doc.findNote(id) == nullptr) {
            error = "note " + std::to_string(id) + " does not exist: the analysis found " +
                    std::to_string(doc.notes.size()) + " notes" +
                    (doc.notes.empty() ? "" : ", ids 1 to " + std::to_string(doc.notes.back().id));
            return false;
        }
    }
    if (command.correct)
        session.applyPitchCorrection(ids, *command.correct, 0.0);
    if (command.transpose)
        session.addPitchOffset(ids, *command.transpose);
    if (command.formant)
        session.addFormantShift(ids, *command.formant);
    if (command.gain)
        session.addGainDb(ids, *command.gain);
    if (command.stretch) {
        for (const std::uint32_t id : ids) {
            const auto length = static_cast<double>(session.document().findNote(id)->length);
            session.resizeNote(id, std::llround(length * *command.stretch));
        }
    }
    return true;
}

std::string formatRenderReport(const RenderCommand& command, const np::Document& document,
                               const np::RenderHints& hints, np::WavBitDepth depth) {
    const bool json = command.format == OutputFormat::Json;
    const char* depthName = depth == np::WavBitDepth::Pcm16 ? "16-bit" : "24-bit";
    const np::RenderUnits units = np::groupRenderUnits(document);
    std::string rows;
    std::size_t rendered = 0;
    for (const np::RenderUnit& unit : units.units) {
        const std::span<const np::Note* const> notes = units.notesOf(unit);
        const auto engine = hints.engineByNote.find(notes.front()->id);
        if (engine == hints.engineByNote.end())
            continue;
        std::string ids;
        for (const np::Note* note : notes)
            ids += (ids.empty() ? "" : ",") + std::to_string(note->id);
        const double start = static_cast<double>(notes.front()->start) / document.sampleRate;
        char line[96];
        if (json) {
            std::snprintf(line, sizeof line, "\"start\":%.6f,\"engine\":\"%s\"}", start,
                          engineName(engine->second));
            rows += std::string(rendered > 0 ? "," : "") + "{\"notes\":[" + ids + "]," + line;
        } else {
            std::snprintf(line, sizeof line, "%5zu  %9.3f  %-8s  ", rendered + 1, start,
                          engineName(engine->second));
            rows += line + ids + "\n";
        }
        ++rendered;
    }
    char rate[32];
    std::snprintf(rate, sizeof rate, "%.0f", document.sampleRate);
    if (json)
        return "{\"input\":\"" + jsonEscape(command.input) + "\",\"output\":\"" + jsonEscape(command.output) +
               "\",\"sampleRate\":" + rate + ",\"depth\":\"" + depthName +
               "\",\"notes\":" + std::to_string(document.notes.size()) + ",\"units\":[" + rows + "]}\n";
    return inputName(command.input) + " -> " + printableName(command.output) + ": " +
           std::to_string(document.notes.size()) + " notes, " + std::to_string(rendered) +
           " units rendered (" + rate + " Hz, " + depthName + ")\n" +
           (rendered > 0 ? " unit    start s  engine    notes\n" + rows : std::string());
}

int runRender(const RenderCommand& command) {
    ProgressLine progress;
    try {
        LoadedAudio loaded;
        std::string error;
        if (!checkOutputFile(command.output, {command.input}, error) ||
            !readAudioFile(command.input, command.algorithm, loaded, error))
            return fail(progress, error);
        std::fputs(readNotices(command.input, loaded).c_str(), stderr);
        const double rate = loaded.sampleRate;
        const int fileFormat = loaded.fileFormat;
        const auto audio = std::make_shared<const np::AudioBuffer>(std::move(loaded.audio));

        np::AnalysisResult analysis;
        if (!runAnalysis(
                audio, rate, command.algorithm, [&](float f) { progress.show("Analysing", f); }, analysis,
                error))
            return fail(progress, error);
        np::EditSession session;
        session.setDocument(np::makeDocument(audio, rate, analysis));
        if (!applyRenderEdits(session, command, error))
            return fail(progress, error);

        np::RenderHints hints;
        np::RenderOptions options;
        options.forcePsola = command.engine == EngineChoice::Psola;
        options.forceStretch = command.engine == EngineChoice::Stretch;
        options.forceWorld = command.engine == EngineChoice::Vocoder;
        options.hints = &hints;
        options.progress = [&](float f) { progress.show("Rendering", f); };
        np::AudioBuffer rendered = np::renderDocument(session.document(), options);

        const np::WavBitDepth depth = renderDepth(fileFormat);
        matchWriterScale(rendered, fileFormat);
        if (!np::saveWav(command.output, rendered, rate, depth, &error, [&](float f) {
                progress.show("Writing", f);
                return true;
            }))
            return fail(progress,
                        "Could not write " + printableName(command.output) + ": " + printableName(error));
        progress.finish();
        std::fputs(formatRenderReport(command, session.document(), hints, depth).c_str(), stdout);
        return 0;
    } catch (const std::exception& e) {
        return fail(progress, e.what());
    }
}

} // namespace cv::cli
