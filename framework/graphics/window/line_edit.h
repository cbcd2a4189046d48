#pragma once

// LineEdit: the text of a one-line field with its caret and selection, edited as a person's hands expect
// of such a field. Offsets are in bytes of UTF-8 and always fall between whole characters, so no edit
// splits a character. One selection at most, anchored where it began; no undo. A plain value, any thread.

#include <cstddef>
#include <string>
#include <string_view>

namespace iplug::igraphics {

class LineEdit {
public:
    // The caret goes at the end of text.
    explicit LineEdit(std::string text = {});

    const std::string& Text() const { return mText; }
    std::size_t Caret() const { return mCaret; }
    // The selected bytes [SelectionStart, SelectionEnd); empty when nothing is selected.
    std::size_t SelectionStart() const { return mCaret < mAnchor ? mCaret : mAnchor; }
    std::size_t SelectionEnd() const { return mCaret < mAnchor ? mAnchor : mCaret; }
    bool HasSelection() const { return mCaret != mAnchor; }

    // Types typed at the caret, in place of the selection if there is one.
    void Insert(std::string_view typed);
    // Backspace and Delete: remove the selection, else the character before or after the caret.
    void DeleteBackward();
    void DeleteForward();
    // Left and Right move by one character; with a selection they go to its start or its end.
    void MoveLeft();
    void MoveRight();
    void MoveHome();
    void MoveEnd();
    void SelectAll();

private:
    void RemoveSelection();
    std::string mText;
    std::size_t mCaret = 0;
    std::size_t mAnchor = 0; // the selection's other end; the caret's offset when nothing is selected
};

// What a paste into a one-line field types: the clipboard's first line without its control characters.
std::string PastedLine(std::string_view clipboard);

// Where a one-line field scrolls its text to (the text's x offset hidden left of the view, in the units
// of the arguments): the last scroll while the caret stays in view, else the least move that brings it
// back, and never more than a text as wide as the view needs.
float ScrollToShowCaret(float scroll, float caretX, float textW, float viewW);

} // namespace iplug::igraphics
