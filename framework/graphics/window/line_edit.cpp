#include "framework/graphics/window/line_edit.h"

#include <algorithm>

namespace iplug::igraphics {
namespace {

bool Continuation(char c) {
    return (static_cast<unsigned char>(c) & 0xC0) == 0x80;
}

// The offset of the character before at, or 0.
std::size_t Previous(const std::string& text, std::size_t at) {
    while (at > 0 && Continuation(text[--at])) {
    }
    return at;
}

// The offset after the character at at, or the text's end.
std::size_t Next(const std::string& text, std::size_t at) {
    if (at >= text.size())
        return text.size();
    ++at;
    while (at < text.size() && Continuation(text[at]))
        ++at;
    return at;
}

} // namespace

LineEdit::LineEdit(std::string text) : mText(std::move(text)), mCaret(mText.size()), mAnchor(mCaret) {}

void LineEdit::RemoveSelection() {
    const std::size_t start = SelectionStart();
    mText.erase(start, SelectionEnd() - start);
    mCaret = mAnchor = start;
}

void LineEdit::Insert(std::string_view typed) {
    RemoveSelection();
    mText.insert(mCaret, typed);
    mCaret += typed.size();
    mAnchor = mCaret;
}

void LineEdit::DeleteBackward() {
    if (!HasSelection())
        mAnchor = Previous(mText, mCaret);
    RemoveSelection();
}

void LineEdit::DeleteForward() {
    if (!HasSelection())
        mAnchor = Next(mText, mCaret);
    RemoveSelection();
}

void LineEdit::MoveLeft() {
    mCaret = mAnchor = HasSelection() ? SelectionStart() : Previous(mText, mCaret);
}

void LineEdit::MoveRight() {
    mCaret = mAnchor = HasSelection() ? SelectionEnd() : Next(mText, mCaret);
}

void LineEdit::MoveHome() {
    mCaret = mAnchor = 0;
}

void LineEdit::MoveEnd() {
    mCaret = mAnchor = mText.size();
}

void LineEdit::SelectAll() {
    mAnchor = 0;
    mCaret = mText.size();
}

std::string PastedLine(std::string_view clipboard) {
    std::string line;
    for (const char c : clipboard.substr(0, clipboard.find_first_of("\r\n"))) {
        const auto u = static_cast<unsigned char>(c);
        if (u >= 0x20 && u != 0x7F)
            line += c;
    }
    return line;
}

float ScrollToShowCaret(float scroll, float caretX, float textW, float viewW) {
    scroll = std::clamp(scroll, caretX - std::max(viewW, 0.f), caretX);
    return std::clamp(scroll, 0.f, std::max(0.f, textW - viewW));
}

} // namespace iplug::igraphics
