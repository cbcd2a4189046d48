#pragma once

// DesktopPlatform: the platform services of the window backend on a Linux desktop. Web addresses open
// through xdg-open, started with an argument vector (never through a shell) and only for http and https;
// the save-file prompt is zenity's when it is installed, else a path field drawn in the editor. Child
// processes are reaped, and prompt results delivered, from the frame tick.

#include "framework/graphics/icontrol.h"
#include "framework/graphics/platform.h"

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

// The drawn prompt: a path field over the editor. Typing edits the path, Backspace deletes, Enter
// accepts (an empty path cancels), Escape or a press outside the box cancels.
class PathPromptControl : public IControl {
public:
    PathPromptControl(const IRECT& bounds, std::string title, std::string path,
                      FilePromptCompletion completion);
    void Draw(IGraphics& g) override;
    void OnMouseDown(float x, float y, const IMouseMod& mod) override;
    bool OnKeyDown(float x, float y, const IKeyPress& key) override;
    const std::string& Path() const { return mPath; }

private:
    void Finish(const std::string& path);
    IRECT Box() const;
    std::string mTitle;
    std::string mPath;
    FilePromptCompletion mCompletion;
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
    };
    std::function<bool(const std::string&)> mSetClipboard;
    std::function<bool(std::string&)> mGetClipboard;
    std::function<void(ECursor)> mSetCursor;
    IGraphics* mGraphics = nullptr;
    bool mUseZenity = true;
    std::vector<pid_t> mChildren; // openers to reap
    Prompt mPrompt;
};

} // namespace iplug::igraphics
