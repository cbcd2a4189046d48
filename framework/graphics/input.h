#pragma once

// Mouse and keyboard input as the editor receives it, and the mouse cursors it can ask for.

#include <array>

namespace iplug {

// Modifier and button state of a mouse event. C is the command modifier: Command on macOS, Ctrl here.
struct IMouseMod {
    bool L = false; // left button
    bool R = false; // right button
    bool S = false; // Shift
    bool C = false; // command (Ctrl)
    bool A = false; // Alt

    IMouseMod() = default;
    IMouseMod(bool l, bool r = false, bool s = false, bool c = false, bool a = false)
        : L(l), R(r), S(s), C(c), A(a) {}
};

// Windows virtual-key codes for the keys the editor handles by code; letters and digits come as text.
inline constexpr int kVK_BACK = 8;
inline constexpr int kVK_TAB = 9;
inline constexpr int kVK_RETURN = 13;
inline constexpr int kVK_ESCAPE = 27;
inline constexpr int kVK_SPACE = 32;
inline constexpr int kVK_END = 35;
inline constexpr int kVK_HOME = 36;
inline constexpr int kVK_LEFT = 37;
inline constexpr int kVK_UP = 38;
inline constexpr int kVK_RIGHT = 39;
inline constexpr int kVK_DOWN = 40;
inline constexpr int kVK_DELETE = 46;
inline constexpr int kVK_NONE = 0;

// One key press: its virtual-key code, its UTF-8 text (up to four bytes and a terminator; empty for keys
// without text) and the modifiers. C is the command modifier (Ctrl here).
struct IKeyPress {
    int VK = kVK_NONE;
    std::array<char, 5> utf8{};
    bool S = false;
    bool C = false;
    bool A = false;

    IKeyPress() = default;
    // text: at most four bytes are kept.
    IKeyPress(const char* text, int vk, bool shift = false, bool cmd = false, bool alt = false);
};

namespace igraphics {

enum class ECursor {
    ARROW,
    IBEAM,
    WAIT,
    CROSS,
    UPARROW,
    SIZENWSE,
    SIZENESW,
    SIZEWE,
    SIZENS,
    SIZEALL,
    NO,
    HAND
};

} // namespace igraphics
} // namespace iplug
