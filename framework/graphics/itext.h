#pragma once

// IText: how a string is drawn (font, size, colour and alignment inside a rectangle).

#include "framework/graphics/icolor.h"

#include <string>

namespace iplug::igraphics {

enum class EAlign { Near, Center, Far };    // horizontal: left, centre, right
enum class EVAlign { Top, Middle, Bottom }; // vertical

struct IText {
    float mSize = 14.f; // NanoVG font size: the em height in design units
    IColor mFGColor = COLOR_BLACK;
    std::string mFont; // a font identifier given to IGraphics::LoadFont; empty: the first loaded
    EAlign mAlign = EAlign::Center;
    EVAlign mVAlign = EVAlign::Middle;

    IText() = default;
    IText(float size, const IColor& color = COLOR_BLACK, std::string font = {}, EAlign align = EAlign::Center,
          EVAlign valign = EVAlign::Middle)
        : mSize(size), mFGColor(color), mFont(std::move(font)), mAlign(align), mVAlign(valign) {}

    IText WithFGColor(const IColor& c) const {
        IText t = *this;
        t.mFGColor = c;
        return t;
    }
    IText WithAlign(EAlign a) const {
        IText t = *this;
        t.mAlign = a;
        return t;
    }
    IText WithVAlign(EVAlign v) const {
        IText t = *this;
        t.mVAlign = v;
        return t;
    }
    IText WithSize(float s) const {
        IText t = *this;
        t.mSize = s;
        return t;
    }
};

} // namespace iplug::igraphics
