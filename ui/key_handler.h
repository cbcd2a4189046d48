#pragma once

// The editor's one key handler, installed by the layout as the graphics context's key handler function.
// A key press goes to the first overlay that shows, in this order: the confirmation dialog (tag 18), the
// software-updates overlay (12), help (9), preferences (10); that overlay consumes every key, so nothing
// reaches the editor behind it, not even Ctrl+Z. Otherwise the key table (editor_keys.h) picks a
// command, which runs here; keyboard edits run inside the edit boundary (edit_boundary.h). It returns
// whether it consumed the key; an unconsumed key goes back to the host (Space plays). A key-up is never
// consumed. Main thread only.

#include "framework/graphics/igraphics.h"
#include "ui/editor_commands.h"
#include "ui/editor_keys.h"

#include <memory>

namespace cv::ui {

class EditorKeyHandler {
public:
    // commands may be null (no plug-in): the overlays still get their keys, and the table's commands
    // that need the plug-in do nothing.
    EditorKeyHandler(iplug::igraphics::IGraphics& g, std::shared_ptr<EditorCommands> commands);

    bool operator()(const iplug::IKeyPress& key, bool isUp);

    // The table's view of the editor now.
    EditorKeyState State() const;

private:
    bool ToOverlay(const iplug::IKeyPress& key);
    void Run(const EditorKeyAction& action);

    iplug::igraphics::IGraphics* mG;
    std::shared_ptr<EditorCommands> mCommands;
};

// Installs the handler in g, reaching the plug-in of g's delegate when there is one.
void InstallEditorKeyHandler(iplug::igraphics::IGraphics& g);

} // namespace cv::ui
