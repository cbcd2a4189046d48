#pragma once

// DesktopPlatform: the platform services of the window backend on a Linux desktop. Web addresses open
// through xdg-open, started with an argument vector (never through a shell) and only for http and https;
// the save-file prompt is zenity's when it is installed, else a path field drawn in the editor. Either
// asks before a save replaces a file, and a save guard set by the application may refuse a destination
// (the drawn field then shows why and stays open). Child processes are reaped, and prompt results
// delivered, from the frame tick.

#include "framework/graphics/icontrol.h"
#include "framework/graphics/platform.h"
#include "framework/graphics/save_destination.h"
#include "framework/graphics/window/line_edit.h"

#include <filesystem>
#include <functional>
#include <string>
#include <sys/types.h>
#include <vector>

namespace iplug::igraphics {

// Starts program with the arguments (argv[0] is the program, looked up on PATH) without a shell;
// stdoutFd receives the read end of a pipe of its standard output when not null. -1 on failure.
pid_t SpawnProgram(const std::vector<std::string>& argv, int* stdoutFd = nullptr);
// Whether an address may be handed to the desktop's opener: http:// or https:// and no control characters.
bool IsOpenableURL(const std::string& url);

// Judges where a save would land before the prompt hands the path on: an empty sentence lets it through,
// any other refuses it with that sentence. Main thread.
using SaveGuard = std::function<std::string(const std::filesystem::path& destination)>;

// What a save prompt checks before a path goes: the extension its caller adds and the application's
// guard. An Open prompt checks nothing.
struct SaveCheck {
    EFileAction action = EFileAction::Open;
    std::string extension;
    SaveGuard guard; // may be empty
};

// What a save prompt does with a chosen path.
struct SaveVerdict {
    enum class Kind { Go, Ask, Refuse };
    Kind kind = Kind::Go;
    std::string sentence; // the question or the refusal, shown under the field
};

// Judges a chosen path: refused when it names no file (SaveDestinationRefusal: a blank name, a folder)
// or when the guard refuses its destination; asked about when the destination is an existing file other
// than agreed (the file the user already agreed to replace; empty for none); else it goes.
SaveVerdict JudgeSave(const std::string& path, const SaveCheck& check, const std::filesystem::path& agreed);

// The drawn prompt: a path field over the editor. The path edits as a one-line field does (typing at the
// caret, Backspace, Delete, Left, Right, Home, End; Ctrl+A selects it all, which typing replaces; Ctrl+V
// pastes the clipboard's first line); Enter accepts (an empty path cancels), Escape or a press outside the
// box cancels. A save that would replace an existing file asks first: a second Enter replaces, Escape or
// an edit of the path goes back to the field. A path that names no file, or a destination the guard
// refuses, stays in the field with the refusal's sentence under it.
class PathPromptControl : public IControl {
public:
    // shown: the verdict on path the field opens with (a path zenity chose that still needs an answer).
    // The caret starts at the path's end.
    PathPromptControl(const IRECT& bounds, std::string title, std::string path,
                      FilePromptCompletion completion, SaveCheck check = {}, SaveVerdict shown = {});
    void Draw(IGraphics& g) override;
    void OnMouseDown(float x, float y, const IMouseMod& mod) override;
    bool OnKeyDown(float x, float y, const IKeyPress& key) override;
    const std::string& Path() const { return mLine.Text(); }
    // The path with its caret and selection.
    const LineEdit& Line() const { return mLine; }
    // The question or refusal under the field ("" while the path is being edited).
    const std::string& Notice() const { return mShown.sentence; }

private:
    void Accept();
    void Finish(const std::string& path);
    // Edits the path by key; a key that edits nothing is ignored.
    void Edit(const IKeyPress& key);
    IRECT Box() const;
    std::string mTitle;
    LineEdit mLine;
    float mScrollX = 0.f; // how far the path is scrolled left in the field, in design units
    FilePromptCompletion mCompletion;
    SaveCheck mCheck;
    SaveVerdict mShown; // Go while the path is being edited
};

class DesktopPlatform : public IPlatform {
public:
    // clipboard: set and get the window system's clipboard (set returns false when refused).
    DesktopPlatform(std::function<bool(const std::string&)> setClipboard,
                    std::function<bool(std::string&)> getClipboard, std::function<void(ECursor)> setCursor);
    ~DesktopPlatform() override;

    // Where the drawn path field shows when zenity is missing.
    void SetGraphics(IGraphics* graphics) { mGraphics = graphics; }
    // Tests: use the drawn field even when zenity is installed.
    void SetUseZenity(bool use) { mUseZenity = use; }
    // Judges every save's destination, whichever prompt chose it (empty: every destination goes).
    void SetSaveGuard(SaveGuard guard) { mSaveGuard = std::move(guard); }

    bool SetTextInClipboard(const std::string& text) override { return mSetClipboard(text); }
    bool GetTextFromClipboard(std::string& text) override { return mGetClipboard(text); }
    bool OpenURL(const std::string& url) override;
    void PromptForFile(const FilePromptRequest& request, FilePromptCompletion completion) override;
    void SetCursor(ECursor cursor) override { mSetCursor(cursor); }
    void Poll() override;

private:
    struct Prompt {
        pid_t pid = -1;
        int fd = -1;
        std::string output;
        FilePromptCompletion completion;
        SaveCheck check;
    };
    std::function<bool(const std::string&)> mSetClipboard;
    std::function<bool(std::string&)> mGetClipboard;
    std::function<void(ECursor)> mSetCursor;
    IGraphics* mGraphics = nullptr;
    bool mUseZenity = true;
    SaveGuard mSaveGuard;
    std::vector<pid_t> mChildren; // openers to reap
    Prompt mPrompt;
};

} // namespace iplug::igraphics
