#include "plugin/export_jobs.h"

#include "engine/audio/cancellation.h"
#include "engine/io/atomic_file.h"
#include "engine/io/midi_export.h"
#include "engine/io/wav_export.h"
#include "engine/render/document_render.h"
#include "engine/render/render_plan.h"

#include <algorithm>
#include <array>
#include <string_view>

namespace cv {

namespace {

// Labels that name where the audio came from rather than a file: no name to build on.
constexpr std::array<std::string_view, 4> kGenericLabels{"Captured audio", "Restored capture", "Transfer",
                                                         "DAW capture"};

} // namespace

std::filesystem::path pathFromUtf8(const char* text) {
    if (text == nullptr)
        return {};
    const std::string_view view(text);
    return std::filesystem::path(std::u8string(view.begin(), view.end()));
}

std::string pathToUtf8(const std::filesystem::path& path) {
    const std::u8string text = path.u8string();
    return std::string(text.begin(), text.end());
}

std::string defaultExportName(const std::string& fileLabel, FileJobKind kind) {
    const bool wav = kind == FileJobKind::WavExport;
    const std::size_t slash = fileLabel.find_last_of("/\\");
    const std::string name = slash == std::string::npos ? fileLabel : fileLabel.substr(slash + 1);
    std::string stem = pathToUtf8(pathFromUtf8(name.c_str()).stem());
    if (stem.empty() || std::find(kGenericLabels.begin(), kGenericLabels.end(), stem) != kGenericLabels.end())
        stem = wav ? "Corvalinth Export" : "Corvalinth";
    return stem + (wav ? "-edited.wav" : "-notes.mid");
}

std::uint64_t exportReservedBytes(std::uint64_t largestRenderBytes) noexcept {
    std::uint64_t reserved = 0;
    return __builtin_mul_overflow(largestRenderBytes, std::uint64_t{3}, &reserved)
               ? np::kRenderWorkingSetBytes
               : reserved;
}

FileJobResult runWavExport(WavExportRequest& request, const FileJobContext& context) {
    FileJobResult result;
    result.path = pathToUtf8(request.path);
    context.report(0.1f);

    std::shared_ptr<const np::AudioBuffer> audio = request.source;
    if (request.hasDocument) {
        np::RenderOptions options;
        options.hints = &request.hints;
        options.cancel = [&context] { return context.cancelled(); };
        options.progress = [&context](float fraction) { context.report(0.1f + 0.6f * fraction); };
        options.reservedBytes = request.reservedBytes;
        try {
            audio = std::make_shared<const np::AudioBuffer>(np::renderDocument(request.document, options));
        } catch (const np::RenderCancelled&) {
            audio.reset();
        } catch (const np::OperationCancelled&) {
            audio.reset();
        }
    }
    if (context.cancelled()) {
        result.message = "WAV export was cancelled";
        return result;
    }
    context.report(0.75f);
    if (audio == nullptr)
        return result; // nothing to write: the kind's failure text is shown
    const auto depth = static_cast<np::WavBitDepth>(std::clamp(request.depthIdx, 0, 2));
    const bool saved = np::saveWav(result.path, *audio, request.sourceRate, depth, &result.message,
                                   [&context](float fraction) {
                                       context.report(0.75f + 0.25f * fraction);
                                       return !context.cancelled();
                                   });
    if (saved) {
        result.ok = true;
        context.report(1.0f);
    }
    return result;
}

FileJobResult runMidiExport(const MidiExportRequest& request, const FileJobContext& context) {
    FileJobResult result;
    result.path = pathToUtf8(request.path);
    const std::vector<std::uint8_t> bytes =
        np::exportMidi(request.document, request.tempoBpm, request.tuningOffset,
                       [&context] { return !context.cancelled(); });
    if (bytes.empty() || context.cancelled()) {
        result.message = context.cancelled() ? "MIDI export was cancelled" : "There are no notes to export";
        return result;
    }
    result.ok = np::writeFileAtomically(request.path, bytes, &result.message, false);
    return result;
}

} // namespace cv
