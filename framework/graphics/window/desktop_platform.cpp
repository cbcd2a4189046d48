#include "framework/graphics/window/desktop_platform.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace iplug::igraphics {
namespace {

bool OnPath(const char* program) {
    const char* path = std::getenv("PATH");
    std::string dirs = path ? path : "/usr/bin:/bin";
    std::size_t start = 0;
    while (start <= dirs.size()) {
        const std::size_t end = std::min(dirs.find(':', start), dirs.size());
        const std::string candidate = dirs.substr(start, end - start) + "/" + program;
        if (end > start && access(candidate.c_str(), X_OK) == 0)
            return true;
        start = end + 1;
    }
    return false;
}

std::string HomeFolder() {
    const char* home = std::getenv("HOME");
    return home && *home ? home : "/tmp";
}

const char* TitleOf(EFileAction action) {
    return action == EFileAction::Save ? "Save as" : "Open";
}

// The colours of the line under the field: the hint, a question, a refusal.
const IColor kHintColour(255, 154, 160, 166);
const IColor kAskColour(255, 240, 190, 90);
const IColor kRefuseColour(255, 240, 110, 100);
const IColor kTextColour(255, 232, 234, 237);
const IColor kSelectionColour(255, 52, 84, 128);
constexpr float kCaretWidth = 1.5f;

} // namespace

pid_t SpawnProgram(const std::vector<std::string>& argv, int* stdoutFd) {
    if (argv.empty())
        return -1;
    std::vector<char*> args;
    for (const std::string& a : argv)
        args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    int fds[2] = {-1, -1};
    if (stdoutFd && pipe2(fds, O_CLOEXEC) != 0)
        return -1;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    if (stdoutFd)
        posix_spawn_file_actions_adddup2(&actions, fds[1], 1);
    pid_t pid = -1;
    const int rc = posix_spawnp(&pid, args[0], &actions, nullptr, args.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (stdoutFd) {
        close(fds[1]);
        if (rc != 0) {
            close(fds[0]);
            return -1;
        }
        fcntl(fds[0], F_SETFL, fcntl(fds[0], F_GETFL) | O_NONBLOCK);
        *stdoutFd = fds[0];
    }
    return rc == 0 ? pid : -1;
}

bool IsOpenableURL(const std::string& url) {
    if (url.rfind("https://", 0) != 0 && url.rfind("http://", 0) != 0)
        return false;
    for (unsigned char c : url) {
        if (c < 0x20 || c == 0x7f)
            return false;
    }
    return true;
}

SaveVerdict JudgeSave(const std::string& path, const SaveCheck& check, const std::filesystem::path& agreed) {
    if (check.action != EFileAction::Save || path.empty())
        return {};
    if (std::string refusal = SaveDestinationRefusal(path, check.extension); !refusal.empty())
        return {SaveVerdict::Kind::Refuse, std::move(refusal)};
    const std::filesystem::path destination = SaveDestination(path, check.extension);
    if (check.guard) {
        if (std::string refusal = check.guard(destination); !refusal.empty())
            return {SaveVerdict::Kind::Refuse, std::move(refusal)};
    }
    std::error_code ec;
    const std::filesystem::file_status status = std::filesystem::status(destination, ec);
    if (!std::filesystem::exists(status) || destination == agreed)
        return {};
    return {SaveVerdict::Kind::Ask,
            destination.filename().string() + " already exists. Enter replaces it, Escape goes back."};
}

PathPromptControl::PathPromptControl(const IRECT& bounds, std::string title, std::string path,
                                     FilePromptCompletion completion, SaveCheck check, SaveVerdict shown)
    : IControl(bounds), mTitle(std::move(title)), mLine(std::move(path)), mCompletion(std::move(completion)),
      mCheck(std::move(check)), mShown(std::move(shown)) {}

IRECT PathPromptControl::Box() const {
    return GetRECT().GetCentredInside(std::min(560.f, GetRECT().W() - 20.f), 120.f);
}

void PathPromptControl::Draw(IGraphics& g) {
    g.FillRect(IColor(150, 0, 0, 0), GetRECT());
    const IRECT box = Box();
    g.FillRoundRect(IColor(255, 29, 31, 33), box, 12.f);
    g.DrawRoundRect(IColor(255, 11, 12, 13), box, 12.f);
    const IText title(17.f, kTextColour, {}, EAlign::Near);
    g.DrawText(title, mTitle.c_str(), box.GetPadded(-18.f).GetFromTop(24.f));
    const IRECT field = IRECT(box.L + 18.f, box.MH() - 16.f, box.R - 18.f, box.MH() + 16.f);
    g.FillRoundRect(IColor(255, 15, 16, 18), field, 6.f);
    // The path scrolls so that the caret stays in view: at its end, the file name shows.
    const IText text(15.f, kTextColour, {}, EAlign::Near);
    const std::string& path = mLine.Text();
    const auto widthTo = [&](std::size_t bytes) {
        return g.MeasureTextWidth(text, path.substr(0, bytes).c_str());
    };
    const IRECT view = field.GetHPadded(-8.f);
    const float caretX = widthTo(mLine.Caret()), textW = widthTo(path.size());
    mScrollX = ScrollToShowCaret(mScrollX, caretX, textW, view.W() - kCaretWidth);
    const float left = view.L - mScrollX;
    const IRECT row = field.GetVPadded(-7.f);
    g.PathTransformSave();
    g.PathClipRegion(field.GetPadded(-4.f));
    if (mLine.HasSelection())
        g.FillRect(kSelectionColour, IRECT(left + widthTo(mLine.SelectionStart()), row.T,
                                           left + widthTo(mLine.SelectionEnd()), row.B));
    g.DrawText(text, path.c_str(), IRECT(left, field.T, left + textW + 1.f, field.B));
    g.FillRect(kTextColour, IRECT(left + caretX, row.T, left + caretX + kCaretWidth, row.B));
    g.PathTransformRestore();
    const bool editing = mShown.kind == SaveVerdict::Kind::Go;
    const IColor& colour = editing                                 ? kHintColour
                           : mShown.kind == SaveVerdict::Kind::Ask ? kAskColour
                                                                   : kRefuseColour;
    const IRECT line = box.GetPadded(-18.f).GetFromBottom(18.f);
    g.PathTransformSave();
    g.PathClipRegion(line);
    g.DrawText(IText(13.f, colour, {}, EAlign::Near),
               editing ? "Enter saves, Escape cancels" : Notice().c_str(), line);
    g.PathTransformRestore();
}

void PathPromptControl::OnMouseDown(float x, float y, const IMouseMod&) {
    if (!Box().Contains(x, y))
        Finish({});
}

bool PathPromptControl::OnKeyDown(float, float, const IKeyPress& key) {
    const bool editing = mShown.kind == SaveVerdict::Kind::Go;
    if (key.VK == kVK_RETURN) {
        Accept();
        return true;
    }
    // A question or a refusal ends with any other key: Escape goes back to the field, an edit edits.
    mShown = {};
    if (key.VK == kVK_ESCAPE) {
        if (editing)
            Finish({});
    } else {
        Edit(key);
    }
    SetDirty(false);
    return true;
}

void PathPromptControl::Edit(const IKeyPress& key) {
    const char letter = static_cast<char>(std::tolower(static_cast<unsigned char>(key.utf8[0])));
    if (key.C && letter == 'a') {
        mLine.SelectAll();
    } else if (key.C && letter == 'v') {
        std::string clipboard;
        if (GetUI() && GetUI()->GetTextFromClipboard(clipboard))
            mLine.Insert(PastedLine(clipboard));
    } else if (key.VK == kVK_BACK) {
        mLine.DeleteBackward();
    } else if (key.VK == kVK_DELETE) {
        mLine.DeleteForward();
    } else if (key.VK == kVK_LEFT) {
        mLine.MoveLeft();
    } else if (key.VK == kVK_RIGHT) {
        mLine.MoveRight();
    } else if (key.VK == kVK_HOME) {
        mLine.MoveHome();
    } else if (key.VK == kVK_END) {
        mLine.MoveEnd();
    } else if (!key.C && !key.A && static_cast<unsigned char>(key.utf8[0]) >= 0x20 && key.utf8[0] != 0x7F) {
        mLine.Insert(key.utf8.data());
    }
}

void PathPromptControl::Accept() {
    // A second Enter on the question agrees to replace the file it named.
    const std::filesystem::path agreed = mShown.kind == SaveVerdict::Kind::Ask
                                             ? SaveDestination(Path(), mCheck.extension)
                                             : std::filesystem::path();
    mShown = JudgeSave(Path(), mCheck, agreed);
    if (mShown.kind == SaveVerdict::Kind::Go)
        Finish(Path());
    else
        SetDirty(false);
}

void PathPromptControl::Finish(const std::string& path) {
    FilePromptCompletion completion = std::move(mCompletion);
    mCompletion = nullptr;
    if (GetUI())
        GetUI()->CloseModalControl(); // freed at the next frame tick, not under our feet
    if (completion)
        completion(path);
}

DesktopPlatform::DesktopPlatform(std::function<bool(const std::string&)> setClipboard,
                                 std::function<bool(std::string&)> getClipboard,
                                 std::function<void(ECursor)> setCursor)
    : mSetClipboard(std::move(setClipboard)), mGetClipboard(std::move(getClipboard)),
      mSetCursor(std::move(setCursor)) {}

DesktopPlatform::~DesktopPlatform() {
    if (mPrompt.pid > 0) {
        kill(mPrompt.pid, SIGTERM);
        waitpid(mPrompt.pid, nullptr, 0);
    }
    if (mPrompt.fd >= 0)
        close(mPrompt.fd);
    for (pid_t pid : mChildren)
        waitpid(pid, nullptr, WNOHANG);
}

bool DesktopPlatform::OpenURL(const std::string& url) {
    if (!IsOpenableURL(url))
        return false;
    const pid_t pid = SpawnProgram({"xdg-open", url});
    if (pid < 0)
        return false;
    mChildren.push_back(pid);
    return true;
}

void DesktopPlatform::PromptForFile(const FilePromptRequest& request, FilePromptCompletion completion) {
    // One prompt at a time: a second request while one is open is cancelled at once.
    if (mPrompt.pid > 0 || (mGraphics && mGraphics->GetModalControl())) {
        if (completion)
            completion({});
        return;
    }
    const SaveCheck check{request.action, request.extension, mSaveGuard};
    const std::string folder = request.folder.empty() ? HomeFolder() : request.folder;
    const std::string suggested = folder + "/" + request.defaultName;
    if (mUseZenity && OnPath("zenity")) {
        std::vector<std::string> argv = {"zenity", "--file-selection", "--filename=" + suggested};
        const bool save = request.action == EFileAction::Save;
        if (save) {
            argv.push_back("--save");
            argv.push_back("--confirm-overwrite");
        }
        if (!request.extension.empty())
            argv.push_back("--file-filter=*." + request.extension);
        int fd = -1;
        const pid_t pid = SpawnProgram(argv, &fd);
        if (pid > 0) {
            mPrompt = {pid, fd, {}, std::move(completion), check};
            return;
        }
    }
    if (!mGraphics) {
        if (completion)
            completion({});
        return;
    }
    mGraphics->ShowModalControl(std::make_unique<PathPromptControl>(
        mGraphics->GetBounds(), TitleOf(request.action), suggested, std::move(completion), check));
}

void DesktopPlatform::Poll() {
    std::erase_if(mChildren, [](pid_t pid) { return waitpid(pid, nullptr, WNOHANG) != 0; });
    if (mPrompt.pid <= 0)
        return;
    char buffer[1024];
    for (ssize_t n; (n = read(mPrompt.fd, buffer, sizeof buffer)) > 0;)
        mPrompt.output.append(buffer, static_cast<std::size_t>(n));
    int status = 0;
    if (waitpid(mPrompt.pid, &status, WNOHANG) != mPrompt.pid)
        return;
    for (ssize_t n; (n = read(mPrompt.fd, buffer, sizeof buffer)) > 0;)
        mPrompt.output.append(buffer, static_cast<std::size_t>(n));
    close(mPrompt.fd);
    Prompt done = std::move(mPrompt);
    mPrompt = {};
    while (!done.output.empty() && (done.output.back() == '\n' || done.output.back() == '\r'))
        done.output.pop_back();
    const bool chosen = WIFEXITED(status) && WEXITSTATUS(status) == 0 && !done.output.empty();
    if (!chosen) {
        if (done.completion)
            done.completion({});
        return;
    }
    // zenity asked about the path it returns; the guard and the file with the extension added are still
    // to be judged. What needs an answer goes on in the drawn field, where the user sees why.
    SaveVerdict verdict = JudgeSave(done.output, done.check, done.output);
    if (verdict.kind == SaveVerdict::Kind::Go || !mGraphics || mGraphics->GetModalControl()) {
        if (done.completion)
            done.completion(verdict.kind == SaveVerdict::Kind::Go ? done.output : std::string());
        return;
    }
    mGraphics->ShowModalControl(std::make_unique<PathPromptControl>(
        mGraphics->GetBounds(), TitleOf(done.check.action), done.output, std::move(done.completion),
        std::move(done.check), std::move(verdict)));
}

} // namespace iplug::igraphics
