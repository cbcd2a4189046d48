#include "ui/key_handler.h"

#include "framework/graphics/icontrol.h"
#include "ui/edit_boundary.h"
#include "ui/editor_seams.h"
#include "ui/editor_tags.h"

#include <array>

namespace cv::ui {

using iplug::IKeyPress;
using iplug::igraphics::IControl;
using iplug::igraphics::IGraphics;

namespace {

// The overlays in the order they get a key; the first that shows takes it.
constexpr std::array<int, 4> kOverlayOrder{kTagConfirm, kTagUpdates, kTagHelp, kTagPrefs};

} // namespace

EditorKeyHandler::EditorKeyHandler(IGraphics& g, std::shared_ptr<EditorCommands> commands)
    : mG(&g), mCommands(std::move(commands)) {}

bool EditorKeyHandler::operator()(const IKeyPress& key, bool isUp) {
    if (isUp)
        return false;
    if (ToOverlay(key))
        return true;
    const EditorKeyAction action = MapEditorKey(key, State());
    Run(action);
    return action.Handled();
}

bool EditorKeyHandler::ToOverlay(const IKeyPress& key) {
    for (int tag : kOverlayOrder) {
        IControl* overlay = mG->GetControlWithTag(tag);
        if (overlay != nullptr && !overlay->IsHidden()) {
            overlay->OnKeyDown(0.f, 0.f, key); // consumed whatever the overlay makes of it
            return true;
        }
    }
    return false;
}

EditorKeyState EditorKeyHandler::State() const {
    EditorKeyState s;
    if (const CanvasSeam* canvas = FindSeam<CanvasSeam>(mG, kTagCanvas)) {
        s.canvas = true;
        s.selectedNotes = canvas->SelectionIds().size();
        s.splitMode = canvas->SplitMode();
    }
    s.helpOverlay = FindSeam<ModalSeam>(mG, kTagHelp) != nullptr;
    if (mCommands) {
        s.gestureOpen = mCommands->Session().inGesture();
        s.backgroundWork = mCommands->BackgroundWorkCancellable();
        s.documentRateHz = mCommands->Session().document().sampleRate;
    }
    return s;
}

void EditorKeyHandler::Run(const EditorKeyAction& action) {
    using enum EditorKeyCommand;
    CanvasSeam* canvas = FindSeam<CanvasSeam>(mG, kTagCanvas);
    switch (action.command) {
    case ZoomIn:
        canvas->ZoomTime(1.0 / 1.3);
        return;
    case ZoomOut:
        canvas->ZoomTime(1.3);
        return;
    case Fit:
        canvas->FitToDocument();
        return;
    case OpenHelp:
        FindSeam<ModalSeam>(mG, kTagHelp)->OpenModal();
        return;
    default:
        break;
    }
    if (!mCommands)
        return;
    EditorCommands& c = *mCommands;
    np::EditSession& session = c.Session();
    switch (action.command) {
    case NudgePitch:
    case NudgeTime:
        runUiEditBoundary(
            session,
            [&] {
                const std::vector<std::uint32_t> ids = canvas->SelectionIds();
                const bool changed = action.command == NudgePitch
                                         ? session.addPitchOffset(ids, action.semitones)
                                         : session.moveTime(ids, action.frames);
                if (changed)
                    c.OnDocumentEdited();
            },
            c);
        break;
    case SelectAll:
        runUiEditBoundary(
            session, [&] { canvas->SelectAll(); }, c);
        break;
    case Undo:
        c.Undo();
        break;
    case Redo:
        c.Redo();
        break;
    case Merge:
        c.MergeSelection();
        break;
    case SplitAtPlayhead:
        c.SplitAtPlayhead();
        break;
    case CancelBackgroundWork:
        c.CancelBackgroundWork();
        break;
    case LeaveSplitMode:
        c.ToggleSplitMode();
        break;
    default:
        break;
    }
}

void InstallEditorKeyHandler(IGraphics& g) {
    std::shared_ptr<EditorCommands> commands;
    if (auto* plugin = dynamic_cast<Corvalinth*>(g.GetDelegate()))
        commands = MakePluginEditorCommands(*plugin);
    g.SetKeyHandlerFunc(EditorKeyHandler(g, std::move(commands)));
}

} // namespace cv::ui
