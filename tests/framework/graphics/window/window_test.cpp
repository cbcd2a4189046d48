// The window backend under a real (virtual, in CI) X server: a frame shows in the window, the corner
// resizer resizes it, keys translate as the editor expects, and the desktop services start programs with
// argument vectors and draw their own path prompt.

#include "framework/graphics/basic_controls.h"
#include "framework/graphics/testing/test_driver.h"
#include "framework/graphics/testing/test_scene.h"
#include "framework/graphics/window/glfw_backend.h"
#include "tests/framework/graphics/window/shown_pixel.h"

#include <GLFW/glfw3.h>
#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <gtest/gtest-spi.h>
#include <gtest/gtest.h>
#include <optional>
#include <sys/wait.h>

// The GL and X client libraries keep process-lifetime allocations that are not ours to free.
extern "C" const char* __lsan_default_suppressions() {
    return "leak:libGLX\nleak:libGLdispatch\nleak:libX11\nleak:libEGL_mesa\nleak:swrast_dri\nleak:"
           "libgallium\n"
           "leak:libLLVM\nleak:libglfw\nleak:libdrm\nleak:libxcb\n";
}

namespace iplug::igraphics {
namespace {

TEST(Window, ShowsAFrameAndFollowsTheCornerResizer) {
    auto backend = std::make_unique<GlfwBackend>();
    GlfwBackend* b = backend.get();
    IGraphics g(nullptr, 200, 100, 60, 1.f, std::move(backend));
    g.SetScaleConstraints(0.7f, 1.5f);
    g.AttachCornerResizer(EUIResizerMode::Scale, false, COLOR_TRANSPARENT, COLOR_BLACK, COLOR_BLACK, 20.f);
    g.AttachControl(std::make_unique<IPanelControl>(IRECT(0, 0, 100, 100), IColor(255, 20, 180, 90)));
    ASSERT_NE(g.OpenWindow(nullptr), nullptr);
    b->SetCaptureFrames(true);
    b->PumpOnce(0.0); // everything starts dirty, so this draws
    const RGBAImage frame = b->LastFrame();
    ASSERT_GT(frame.w, 0);
    const float s = g.GetScreenScale();
    EXPECT_EQ(frame.At(static_cast<int>(50 * s), static_cast<int>(50 * s)), IColor(255, 20, 180, 90));
    EXPECT_EQ(frame.At(static_cast<int>(150 * s), static_cast<int>(50 * s)), COLOR_BLACK);
    // Drag the grip 20 pixels right and down: scale min(220/200, 120/100) = 1.1.
    g.OnMouseMove(195, 95, {});
    g.OnMouseDown(195, 95, IMouseMod(true));
    g.OnMouseMove(215, 115, IMouseMod(true));
    g.OnMouseUp(215, 115, IMouseMod(true));
    int w = 0, h = 0;
    // The X server applies the size when it gets to it; the deadline only bounds a size that never comes.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (w != 220 && std::chrono::steady_clock::now() < deadline) {
        b->PumpOnce(0.01);
        glfwGetWindowSize(b->Window(), &w, &h);
    }
    EXPECT_EQ(w, 220);
    EXPECT_EQ(h, 110);
    g.CloseWindow();
}

// A window at rest draws nothing, so what it drew must show whole: an editor larger than the window GLFW
// first makes, whose first frame went out before the window had taken its size.
TEST(Window, TheFirstFrameShowsWholeOnceTheWindowHasItsSize) {
    auto backend = std::make_unique<GlfwBackend>();
    GlfwBackend* b = backend.get();
    IGraphics g(nullptr, 1280, 816, 60, 1.f, std::move(backend));
    g.AttachControl(std::make_unique<IPanelControl>(IRECT(0, 0, 1280, 816), IColor(255, 20, 180, 90)));
    ASSERT_NE(g.OpenWindow(nullptr), nullptr);
    b->PumpOnce(0.0);
    const std::pair<float, float> points[] = {{10.f, 10.f}, {1270.f, 806.f}, {1270.f, 10.f}};
    auto shown = [&](std::pair<float, float> p) {
        const float s = g.GetScreenScale();
        return ShownPixel(b->Window(), static_cast<int>(p.first * s), static_cast<int>(p.second * s));
    };
    // Let the X server's answers in, however late a loaded machine gives them; nothing changes, so no tick
    // draws. The deadline only bounds a window that never shows the frame whole.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (!std::ranges::all_of(points, [&](auto p) { return shown(p) == IColor(255, 20, 180, 90); }) &&
           std::chrono::steady_clock::now() < deadline)
        b->PumpOnce(0.01);
    for (const auto& [x, y] : points) {
        SCOPED_TRACE(testing::Message() << x << ", " << y);
        EXPECT_EQ(shown({x, y}), IColor(255, 20, 180, 90));
    }
    g.CloseWindow();
}

TEST(Window, KeysTranslateWithTheirTextAndModifiers) {
    struct Case {
        int key, mods;
        const char* name;
        int vk;
        const char* text;
        bool shift, cmd, alt;
    } cases[] = {
        {GLFW_KEY_Z, GLFW_MOD_CONTROL, "z", 'Z', "z", false, true, false}, // no character event with Ctrl
        {GLFW_KEY_Z, GLFW_MOD_CONTROL | GLFW_MOD_SHIFT, "z", 'Z', "Z", true, true, false},
        {GLFW_KEY_EQUAL, GLFW_MOD_CONTROL, "=", 0, "=", false, true, false},
        {GLFW_KEY_LEFT, GLFW_MOD_CONTROL | GLFW_MOD_ALT, nullptr, kVK_LEFT, "", false, true, true},
        {GLFW_KEY_ENTER, 0, nullptr, kVK_RETURN, "", false, false, false},
        {GLFW_KEY_SPACE, 0, nullptr, kVK_SPACE, " ", false, false, false},
        {GLFW_KEY_ESCAPE, 0, nullptr, kVK_ESCAPE, "", false, false, false},
        {GLFW_KEY_HOME, 0, nullptr, kVK_HOME, "", false, false, false},
        {GLFW_KEY_END, 0, nullptr, kVK_END, "", false, false, false},
        {GLFW_KEY_DELETE, 0, nullptr, kVK_DELETE, "", false, false, false},
        {GLFW_KEY_BACKSPACE, 0, nullptr, kVK_BACK, "", false, false, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << "key " << c.key << " " << c.text);
        const IKeyPress k = TranslateKey(c.key, c.mods, c.name);
        EXPECT_EQ(k.VK, c.vk);
        EXPECT_STREQ(k.utf8.data(), c.text);
        EXPECT_EQ(k.S, c.shift);
        EXPECT_EQ(k.C, c.cmd);
        EXPECT_EQ(k.A, c.alt);
    }
}

// The key and character callbacks the window installed, called as GLFW calls them: a key's press, then
// its character when it has one (none while Ctrl or Alt is held), then its release.
struct GlfwKeys {
    GLFWwindow* window;
    GLFWkeyfun key = glfwSetKeyCallback(window, nullptr);
    GLFWcharfun character = glfwSetCharCallback(window, nullptr);
    explicit GlfwKeys(GLFWwindow* w) : window(w) {
        glfwSetKeyCallback(window, key);
        glfwSetCharCallback(window, character);
    }
    // codepoint 0: the key brings no character event.
    void Type(int glfwKey, unsigned codepoint, int mods = 0) const {
        key(window, glfwKey, 0, GLFW_PRESS, mods);
        if (codepoint != 0)
            character(window, codepoint);
        key(window, glfwKey, 0, GLFW_RELEASE, mods);
    }
};

TEST(Window, EveryTypedKeyReachesTheDrawnFieldOnce) {
    auto backend = std::make_unique<GlfwBackend>();
    GlfwBackend* b = backend.get();
    IGraphics g(nullptr, 400, 300, 60, 1.f, std::move(backend));
    b->Desktop().SetUseZenity(false);
    const GlfwKeys keys(b->Window());
    struct Typed {
        int key;
        unsigned codepoint;
        int mods = 0;
    };
    const struct {
        const char* what;
        std::vector<Typed> typed;
        std::optional<std::string> result; // none: the field is still open, its path the default + typed
        std::string typedText;
    } cases[] = {
        {"letters and a space", {{GLFW_KEY_A, 'a'}, {GLFW_KEY_SPACE, ' '}, {GLFW_KEY_B, 'b'}}, {}, "a b"},
        {"the keypad's digits and signs",
         {{GLFW_KEY_KP_1, '1'}, {GLFW_KEY_KP_DECIMAL, '.'}, {GLFW_KEY_KP_ADD, '+'}},
         {},
         "1.+"},
        {"Shift's capital", {{GLFW_KEY_A, 'A', GLFW_MOD_SHIFT}}, {}, "A"},
        {"a key whose character never comes, then another",
         {{GLFW_KEY_APOSTROPHE, 0}, {GLFW_KEY_E, 0xE9}},
         {},
         "é"},
        {"Alt types nothing, the next key types its own",
         {{GLFW_KEY_A, 0, GLFW_MOD_ALT}, {GLFW_KEY_B, 'b'}},
         {},
         "b"},
        {"the keypad's Enter accepts", {{GLFW_KEY_X, 'x'}, {GLFW_KEY_KP_ENTER, 0}}, "/music/take.wavx", ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        std::vector<std::string> results;
        g.PromptForFile({EFileAction::Save, "take.wav", "/music", "wav"},
                        [&](const std::string& p) { results.push_back(p); });
        for (const Typed& t : c.typed)
            keys.Type(t.key, t.codepoint, t.mods);
        b->PumpOnce(0.0);
        if (c.result) {
            EXPECT_EQ(g.GetModalControl(), nullptr);
            EXPECT_EQ(results, std::vector<std::string>{*c.result});
            continue;
        }
        auto* field = dynamic_cast<PathPromptControl*>(g.GetModalControl());
        ASSERT_NE(field, nullptr);
        EXPECT_EQ(field->Path(), "/music/take.wav" + c.typedText);
        keys.Type(GLFW_KEY_ESCAPE, 0);
        b->PumpOnce(0.0);
        EXPECT_EQ(results, std::vector<std::string>{""});
    }
}

// With no field or overlay holding the keyboard, a key the editor leaves goes to the window's host once:
// Space, which plays and stops there, as the space it is; a key without a character event all the same.
TEST(Window, AnUnhandledKeyReachesTheHostOnce) {
    auto backend = std::make_unique<GlfwBackend>();
    GlfwBackend* b = backend.get();
    IGraphics g(nullptr, 200, 100, 60, 1.f, std::move(backend));
    std::vector<IKeyPress> host;
    b->SetUnhandledKeyHandler([&](const IKeyPress& k) { host.push_back(k); });
    const GlfwKeys keys(b->Window());
    const struct {
        const char* what;
        int key;
        unsigned codepoint;
        int mods;
        int vk;
        const char* text;
        bool alt;
    } cases[] = {
        {"Space", GLFW_KEY_SPACE, ' ', 0, kVK_SPACE, " ", false},
        {"a keypad digit without its character (Num Lock off)", GLFW_KEY_KP_1, 0, 0, kVK_NONE, "", false},
        {"Alt and a letter", GLFW_KEY_M, 0, GLFW_MOD_ALT, 'M', "m", true},
        {"the keypad's Enter", GLFW_KEY_KP_ENTER, 0, 0, kVK_RETURN, "", false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        host.clear();
        keys.Type(c.key, c.codepoint, c.mods);
        b->PumpOnce(0.0);
        EXPECT_EQ(host.size(), 1u);
        if (host.empty())
            continue;
        EXPECT_EQ(host[0].VK, c.vk);
        EXPECT_STREQ(host[0].utf8.data(), c.text);
        EXPECT_EQ(host[0].A, c.alt);
    }
}

TEST(DesktopServices, ProgramsGetArgumentsVerbatimWithoutAShell) {
    const std::filesystem::path dir =
        std::filesystem::temp_directory_path() / ("cv-spawn-" + std::to_string(getpid()));
    std::filesystem::create_directories(dir);
    const std::filesystem::path pwned = dir / "pwned";
    // printf's own argument vector shows what arrived.
    int fd = -1;
    const pid_t pid = SpawnProgram({"printf", "%s\\n", "https://a.invalid/x y;touch " + pwned.string()}, &fd);
    ASSERT_GT(pid, 0);
    int status = 0;
    ASSERT_EQ(waitpid(pid, &status, 0), pid);
    std::string text(256, '\0');
    text.resize(static_cast<std::size_t>(std::max<ssize_t>(0, read(fd, text.data(), text.size()))));
    close(fd);
    EXPECT_EQ(text, "https://a.invalid/x y;touch " + pwned.string() + "\n");
    EXPECT_FALSE(std::filesystem::exists(pwned));
    EXPECT_LT(SpawnProgram({"/nonexistent/program"}), 0);
    std::filesystem::remove_all(dir);
    for (const char* url : {"file:///etc/passwd", "-h", "javascript:alert(1)", "https://a\nb", ""})
        EXPECT_FALSE(IsOpenableURL(url)) << url;
    EXPECT_TRUE(IsOpenableURL("https://example.invalid/changelog"));
    DesktopPlatform platform([](const std::string&) { return true; }, [](std::string&) { return true; },
                             [](ECursor) {});
    EXPECT_FALSE(platform.OpenURL("file:///etc/passwd"));
}

// A small offscreen editor whose platform is the desktop's, with the save prompt drawn (no zenity unless
// a test puts one on the PATH).
struct DesktopEditor {
    std::unique_ptr<IGraphics> g = MakeOffscreenGraphics(nullptr, 400, 300, 60, 1.f);
    TestDriver d{*g};
    DesktopPlatform platform{[](const std::string& text) {
                                 clipboard = text;
                                 return true;
                             },
                             [](std::string& text) {
                                 text = clipboard;
                                 return true;
                             },
                             [](ECursor) {}};
    static inline std::string clipboard; // the desktop's, one per process
    explicit DesktopEditor(bool zenity = false) {
        clipboard.clear();
        platform.SetGraphics(g.get());
        platform.SetUseZenity(zenity);
        g->SetPlatform(&platform);
    }
    ~DesktopEditor() { g->SetPlatform(nullptr); }
};

TEST(DesktopServices, TheDrawnPathFieldEditsAcceptsAndCancels) {
    DesktopEditor editor;
    auto& [g, d, platform] = editor;
    std::vector<std::string> results;
    auto prompt = [&] {
        g->PromptForFile({EFileAction::Save, "take-edited.wav", "/music", "wav"},
                         [&](const std::string& p) { results.push_back(p); });
    };
    prompt();
    ASSERT_NE(g->GetModalControl(), nullptr);
    prompt(); // a second prompt while one is open is cancelled at once
    for (int i = 0; i < 4; ++i)
        g->OnKeyDown(0, 0, IKeyPress("", kVK_BACK)); // ".wav" goes
    g->OnKeyDown(0, 0, IKeyPress("ü", 0));
    g->OnKeyDown(0, 0, IKeyPress("", kVK_RETURN));
    g->OnFrame();
    EXPECT_EQ(g->GetModalControl(), nullptr);
    prompt();
    g->OnMouseDown(2, 2, IMouseMod(true)); // outside the box
    EXPECT_EQ(results, (std::vector<std::string>{"", "/music/take-editedü", ""}));
}

// The field edits as a one-line field does, at a caret that never splits a character.
TEST(DesktopServices, TheDrawnPathFieldEditsAtItsCaret) {
    DesktopEditor editor;
    auto& [g, d, platform] = editor;
    const IKeyPress left("", kVK_LEFT), right("", kVK_RIGHT), home("", kVK_HOME), end("", kVK_END);
    const IKeyPress back("", kVK_BACK), del("", kVK_DELETE);
    const IKeyPress all("a", 'A', false, true), paste("v", 'V', false, true), undo("z", 'Z', false, true);
    const IKeyPress x("x", 'X');
    struct Selected {
        std::size_t start = 0, end = 0; // none: nothing selected
    };
    const struct {
        const char* what;
        std::vector<IKeyPress> keys;
        const char* clipboard;
        std::string text;
        std::size_t caret;
        Selected selected;
    } cases[] = {
        // "/m/aü.wav": ü takes bytes 4 and 5, the text ten.
        {"typing at the start", {home, del, x}, "", "xm/aü.wav", 1, {}},
        {"Left steps over a whole character", {left, left, left, left, left, del}, "", "/m/a.wav", 4, {}},
        {"Backspace before it", {left, left, left, left, left, back}, "", "/m/ü.wav", 3, {}},
        {"Right steps over it", {left, left, left, left, left, right, x}, "", "/m/aüx.wav", 7, {}},
        {"nothing to delete at either end", {del, home, back}, "", "/m/aü.wav", 0, {}},
        {"Home and End", {home, end}, "", "/m/aü.wav", 10, {}},
        {"Ctrl+A selects everything", {all}, "", "/m/aü.wav", 10, {0, 10}},
        {"typing replaces the selection", {all, x}, "", "x", 1, {}},
        {"Backspace removes it", {all, back}, "", "", 0, {}},
        {"Delete removes it", {all, del}, "", "", 0, {}},
        {"Left leaves it at its start", {all, left}, "", "/m/aü.wav", 0, {}},
        {"Right leaves it at its end", {home, all, right}, "", "/m/aü.wav", 10, {}},
        {"Ctrl+V pastes the first line at the caret",
         {home, paste},
         "mixes/a b\nsecond",
         "mixes/a b/m/aü.wav",
         9,
         {}},
        {"over the selection, without control characters", {all, paste}, "\tx\x01y\x7f\r\nz", "xy", 2, {}},
        {"other Ctrl keys type nothing", {undo}, "", "/m/aü.wav", 10, {}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        DesktopEditor::clipboard = c.clipboard;
        g->PromptForFile({EFileAction::Save, "aü.wav", "/m", "wav"}, [](const std::string&) {});
        for (const IKeyPress& key : c.keys)
            d.KeyDown(key);
        auto* field = dynamic_cast<PathPromptControl*>(g->GetModalControl());
        ASSERT_NE(field, nullptr);
        EXPECT_EQ(field->Path(), c.text);
        EXPECT_EQ(field->Line().Caret(), c.caret);
        const Selected want = c.selected.end > 0 ? c.selected : Selected{c.caret, c.caret};
        EXPECT_EQ(field->Line().SelectionStart(), want.start);
        EXPECT_EQ(field->Line().SelectionEnd(), want.end);
        d.KeyDown(IKeyPress("", kVK_ESCAPE));
        d.Tick();
    }
}

// The caret shows where it is, the selection behind the text, and a path wider than the field scrolls no
// further than keeps the caret in view.
TEST(DesktopServices, TheDrawnPathFieldShowsItsCaretAndSelection) {
    DesktopEditor editor;
    auto& [g, d, platform] = editor;
    g->AddResourcePath(ResourcesDir() / "fonts");
    for (const SceneFont& f : EditorFonts())
        ASSERT_TRUE(g->LoadFont(f.id, f.file)) << f.file;
    g->PromptForFile({EFileAction::Save, "take.wav", "/music", "wav"}, [](const std::string&) {});
    // In a 400 x 300 editor the field's text starts at x = 36, its caret spans y = 141 to 159.
    const IColor text(255, 232, 234, 237), selection(255, 52, 84, 128);
    auto caretAtStart = [&] {
        const RGBAImage frame = d.Render();
        for (int y = 142; y < 158; ++y) {
            if (frame.At(36, y) != text)
                return false;
        }
        return true;
    };
    auto selected = [&] {
        const RGBAImage frame = d.Render();
        int n = 0;
        for (int y = 134; y < 166; ++y) {
            for (int px = 28; px < 372; ++px)
                n += frame.At(px, y) == selection;
        }
        return n;
    };
    EXPECT_FALSE(caretAtStart());
    EXPECT_EQ(selected(), 0);
    d.KeyDown(IKeyPress("", kVK_HOME));
    EXPECT_TRUE(caretAtStart());
    d.KeyDown(IKeyPress("a", 'A', false, true));
    EXPECT_GT(selected(), 500);
    const struct {
        float scroll, caretX, textW, viewW, expected;
    } scrolls[] = {
        {0.f, 50.f, 80.f, 100.f, 0.f},       // a path that fits does not scroll
        {0.f, 250.f, 250.f, 100.f, 150.f},   // the caret at the end of a long path: its end shows
        {150.f, 200.f, 250.f, 100.f, 150.f}, // a caret still in view moves nothing
        {150.f, 20.f, 250.f, 100.f, 20.f},   // a caret left of the view brings it back by the least
        {150.f, 20.f, 30.f, 100.f, 0.f},     // the path shortened to fit shows from its start
        {0.f, 20.f, 30.f, -5.f, 20.f},       // a field narrower than nothing shows the caret at its left
    };
    for (const auto& s : scrolls) {
        SCOPED_TRACE(testing::Message() << s.scroll << " " << s.caretX << " " << s.textW << " " << s.viewW);
        EXPECT_FLOAT_EQ(ScrollToShowCaret(s.scroll, s.caretX, s.textW, s.viewW), s.expected);
    }
}

// The pointer as a user moves it: the field ends only on a press outside its box, Escape or Enter.
TEST(DesktopServices, TheDrawnPathFieldOutlivesPointerMoves) {
    DesktopEditor editor;
    auto& [g, d, platform] = editor;
    const IKeyPress enter("", kVK_RETURN);
    const IKeyPress escape("", kVK_ESCAPE);
    struct Case {
        const char* what;
        std::function<void()> act;
        std::optional<std::string> result; // none: the field is still open
    } cases[] = {
        {"moves outside and across the box",
         [&] {
             d.MouseMove(2, 2);
             d.MouseMove(200, 150);
             d.MouseMove(398, 298);
         },
         std::nullopt},
        {"a press inside the box", [&] { d.Click(200, 150); }, std::nullopt},
        {"a drag from inside to outside the box", [&] { d.Drag(200, 150, 2, 2); }, std::nullopt},
        {"a press outside", [&] { d.Click(2, 2); }, ""},
        {"Escape", [&] { d.KeyDown(escape); }, ""},
        {"a move outside, typing and Enter",
         [&] {
             d.MouseMove(5, 5);
             d.KeyDown(IKeyPress("x", 'X'));
             d.KeyDown(enter);
         },
         "/music/take-edited.wavx"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        std::vector<std::string> results;
        g->PromptForFile({EFileAction::Save, "take-edited.wav", "/music", "wav"},
                         [&](const std::string& p) { results.push_back(p); });
        ASSERT_NE(g->GetModalControl(), nullptr);
        c.act();
        d.Tick();
        if (c.result) {
            EXPECT_EQ(g->GetModalControl(), nullptr);
            EXPECT_EQ(results, std::vector<std::string>{*c.result});
        } else {
            EXPECT_NE(g->GetModalControl(), nullptr);
            EXPECT_TRUE(results.empty());
            d.KeyDown(escape);
            d.Tick();
        }
    }
}

// Over an existing file the field asks first, as a desktop save dialog does: a second Enter replaces,
// Escape or an edit of the path goes back to the field. The file the caller writes carries the extension,
// so a path typed without it asks about the file with it.
TEST(DesktopServices, TheDrawnPathFieldAsksBeforeReplacingAFile) {
    const std::filesystem::path dir =
        std::filesystem::temp_directory_path() / ("cv-replace-" + std::to_string(getpid()));
    std::filesystem::create_directories(dir);
    std::ofstream(dir / "take-edited.wav") << "mine";
    DesktopEditor editor;
    auto& [g, d, platform] = editor;
    const IKeyPress enter("", kVK_RETURN);
    const IKeyPress escape("", kVK_ESCAPE);
    const IKeyPress back("", kVK_BACK);
    const std::string existing = (dir / "take-edited.wav").string();
    struct Case {
        const char* what;
        std::vector<IKeyPress> keys;
        std::optional<std::string> result; // none: the field is still open
    } cases[] = {
        {"Enter asks, a second Enter replaces", {enter, enter}, existing},
        {"Enter asks and waits", {enter}, std::nullopt},
        {"Escape goes back to the field, a second Escape cancels", {enter, escape, escape}, ""},
        {"an edit goes back to the field", {enter, IKeyPress("x", 'X'), enter}, existing + "x"},
        {"a path without the extension asks about the file with it",
         {back, back, back, back, enter, enter},
         (dir / "take-edited").string()},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        std::vector<std::string> results;
        g->PromptForFile({EFileAction::Save, "take-edited.wav", dir.string(), "wav"},
                         [&](const std::string& p) { results.push_back(p); });
        for (std::size_t k = 0; k < c.keys.size(); ++k) {
            d.KeyDown(c.keys[k]);
            d.Tick();
            if (k + 1 < c.keys.size()) {
                ASSERT_TRUE(results.empty()) << "finished after key " << k;
            }
        }
        if (c.result) {
            EXPECT_EQ(g->GetModalControl(), nullptr);
            EXPECT_EQ(results, std::vector<std::string>{*c.result});
        } else {
            EXPECT_NE(g->GetModalControl(), nullptr);
            EXPECT_TRUE(results.empty());
            d.KeyDown(escape);
            d.KeyDown(escape);
            d.Tick();
            EXPECT_EQ(g->GetModalControl(), nullptr);
        }
    }
    std::filesystem::remove_all(dir);
}

// Puts a folder of stand-in programs first on the PATH for its scope and restores the PATH on every way
// out, an assertion's early return included: the cases after it run in the same process.
class StandInsOnPath {
public:
    explicit StandInsOnPath(const std::filesystem::path& dir) {
        if (const char* path = std::getenv("PATH"))
            mOld = path;
        setenv("PATH", (dir.string() + ":" + mOld.value_or("/usr/bin:/bin")).c_str(), 1);
    }
    ~StandInsOnPath() {
        if (mOld)
            setenv("PATH", mOld->c_str(), 1);
        else
            unsetenv("PATH");
    }
    StandInsOnPath(const StandInsOnPath&) = delete;
    StandInsOnPath& operator=(const StandInsOnPath&) = delete;

private:
    std::optional<std::string> mOld;
};

TEST(DesktopServices, StandInsLeaveThePathOnAnAssertionsEarlyReturn) {
    const std::string before = std::getenv("PATH") ? std::getenv("PATH") : "";
    EXPECT_FATAL_FAILURE(
        {
            const StandInsOnPath standIns("/nonexistent/stand-ins");
            // Fails, and so returns early, exactly when the stand-ins come first.
            ASSERT_FALSE(std::string(std::getenv("PATH")).starts_with("/nonexistent/stand-ins:"))
                << "the stand-ins come first";
        },
        "the stand-ins come first");
    EXPECT_EQ(std::getenv("PATH") ? std::getenv("PATH") : "", before);
}

// zenity asks only about the path it returns: the guard, a path naming no file, and a file that the
// extension added makes an existing one, are judged afterwards, and what needs an answer goes on in the
// drawn field.
TEST(DesktopServices, APathFromZenityIsGuardedAndAskedAbout) {
    const std::filesystem::path dir =
        std::filesystem::temp_directory_path() / ("cv-zenity-" + std::to_string(getpid()));
    std::filesystem::create_directories(dir);
    std::ofstream(dir / "old.wav") << "old";
    std::filesystem::create_directory(dir / "adir");
    // A stand-in for zenity that prints the answer file as the user's choice.
    std::ofstream(dir / "zenity") << "#!/bin/sh\ncat '" << (dir / "answer").string() << "'\n";
    std::filesystem::permissions(dir / "zenity", std::filesystem::perms::owner_all);
    const StandInsOnPath standIns(dir);
    DesktopEditor editor(true);
    auto& [g, d, platform] = editor;
    platform.SetSaveGuard([&](const std::filesystem::path& p) {
        return p == dir / "take.wav" ? std::string("take.wav is open here.") : std::string();
    });
    const struct {
        const char* answer;
        const char* notice;     // under the drawn field; null: zenity's answer goes at once
        const char* afterEnter; // what Enter in the field gives; null: the field stays open
    } cases[] = {
        {"take", "take.wav is open here.", nullptr},
        {"old", "old.wav already exists. Enter replaces it, Escape goes back.", "old"},
        {"old.wav", nullptr, nullptr},
        {"adir", "adir is a folder; name a file inside it.", nullptr}, // zenity may return a folder
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.answer);
        const std::string answer = (dir / c.answer).string();
        std::ofstream(dir / "answer") << answer << "\n";
        std::vector<std::string> results;
        g->PromptForFile({EFileAction::Save, "take-edited.wav", dir.string(), "wav"},
                         [&](const std::string& p) { results.push_back(p); });
        // Frame ticks reap zenity; the bound only keeps a broken child from holding the test.
        for (int i = 0; i < 5000 && results.empty() && g->GetModalControl() == nullptr; ++i) {
            usleep(1000);
            d.Tick();
        }
        auto* field = dynamic_cast<PathPromptControl*>(g->GetModalControl());
        if (c.notice == nullptr) {
            EXPECT_EQ(field, nullptr);
            EXPECT_EQ(results, std::vector<std::string>{answer});
            continue;
        }
        ASSERT_NE(field, nullptr);
        EXPECT_TRUE(results.empty());
        EXPECT_EQ(field->Path(), answer);
        EXPECT_EQ(field->Notice(), c.notice);
        d.KeyDown(IKeyPress("", kVK_RETURN));
        if (c.afterEnter != nullptr) {
            EXPECT_EQ(results, std::vector<std::string>{(dir / c.afterEnter).string()});
        } else {
            EXPECT_EQ(field->Notice(), c.notice); // a refusal holds
            d.KeyDown(IKeyPress("", kVK_ESCAPE));
            d.KeyDown(IKeyPress("", kVK_ESCAPE));
            EXPECT_EQ(results, std::vector<std::string>{""});
        }
        d.Tick();
        EXPECT_EQ(g->GetModalControl(), nullptr);
    }
    std::filesystem::remove_all(dir);
}

} // namespace
} // namespace iplug::igraphics
