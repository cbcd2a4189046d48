#pragma once

// What the layout, the header controls, the inspector, the key handler and the plug-in's view of the
// editor reach of the controls that other parts of the editor supply: the note canvas (tag 0), the notice
// line (17) and the overlays (9, 10, 12, 18). Each of those controls implements its seam beside IControl
// and is found by its tag. Main thread only.

#include "framework/graphics/igraphics.h"
#include "plugin/editor_controls.h"
#include "plugin/editor_viewport.h"

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace cv::ui {

// The note canvas as the rest of the editor and the plug-in use it.
class CanvasSeam {
public:
    virtual ~CanvasSeam() = default;
    virtual EditorViewportState ViewportState() const = 0;
    // False, changing nothing, when the state is refused (a value that is not finite).
    virtual bool RestoreViewport(const EditorViewportState& state) = 0;
    virtual void FitToDocument() = 0;
    // Zooms time about the canvas's horizontal centre: factor > 1 zooms out.
    virtual void ZoomTime(double factor) = 0;
    virtual void SetPlayheadDocFrame(std::int64_t frame) = 0;
    // Selected note ids in ascending order.
    virtual std::vector<std::uint32_t> SelectionIds() const = 0;
    // Selects exactly ids (those naming a note); redraws.
    virtual void SetSelectionIds(const std::vector<std::uint32_t>& ids) = 0;
    virtual void ClearSelection() = 0;
    virtual bool SplitMode() const = 0;
    // Arms or leaves split mode; leaving forgets the split hover position. Redraws.
    virtual void SetSplitMode(bool armed) = 0;
    // Tool index 0 Main, 1 Pitch, 2 Formant, 3 Amp, 4 Time, 5 Mod. Redraws.
    virtual void SetTool(std::uint32_t tool) = 0;
    virtual std::uint32_t Tool() const = 0;
    // With source audio, every note of the document; nothing without. Redraws.
    virtual void SelectAll() = 0;
};

// The notice line (tag 17).
class NoticeSeam {
public:
    virtual ~NoticeSeam() = default;
    // A status, success, warning or error notice; durationMs below 1 stays until dismissed.
    virtual void Show(const char* text, NoticeKind kind, int durationMs) = 0;
    virtual void ShowProgress(const char* text, float fraction, bool cancellable) = 0;
    virtual void Dismiss() = 0;
    // The kind showing, or empty while the line is hidden.
    virtual std::optional<NoticeKind> ShownKind() const = 0;
};

// The help, preferences and software-updates overlays (tags 9, 10, 12).
class ModalSeam {
public:
    virtual ~ModalSeam() = default;
    virtual void OpenModal() = 0;
};

// The confirmation overlay (tag 18): a question with buttons; onResult gets the chosen button's index,
// the cancel index for a dismissal.
class ConfirmSeam {
public:
    virtual ~ConfirmSeam() = default;
    virtual void OpenModal(const std::string& title, const std::string& message,
                           const std::vector<std::string>& buttons, int cancelIndex,
                           std::function<void(int)> onResult) = 0;
};

// The control with the tag as the seam type, or null when there is none or it is another kind.
template <class Seam>
Seam* FindSeam(const iplug::igraphics::IGraphics* g, int tag) {
    return g ? dynamic_cast<Seam*>(g->GetControlWithTag(tag)) : nullptr;
}

} // namespace cv::ui
