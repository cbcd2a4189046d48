#pragma once

// IRECT: an axis-aligned rectangle in design units (left, top, right, bottom), y growing downwards.

#include <algorithm>

namespace iplug::igraphics {

struct IRECT {
    float L = 0.f;
    float T = 0.f;
    float R = 0.f;
    float B = 0.f;

    constexpr IRECT() = default;
    constexpr IRECT(float l, float t, float r, float b) : L(l), T(t), R(r), B(b) {}
    static constexpr IRECT MakeXYWH(float x, float y, float w, float h) { return {x, y, x + w, y + h}; }

    constexpr float W() const { return R - L; }
    constexpr float H() const { return B - T; }
    constexpr float MW() const { return 0.5f * (L + R); }
    constexpr float MH() const { return 0.5f * (T + B); }
    // True when the rectangle covers no area (zero or negative width or height).
    constexpr bool Empty() const { return !(R > L && B > T); }

    // Left and top are inside, right and bottom are not, so neighbouring rectangles share no point.
    constexpr bool Contains(float x, float y) const { return x >= L && x < R && y >= T && y < B; }
    constexpr bool Contains(const IRECT& r) const { return r.L >= L && r.R <= R && r.T >= T && r.B <= B; }
    constexpr bool Intersects(const IRECT& r) const { return L < r.R && r.L < R && T < r.B && r.T < B; }

    // The smallest rectangle holding both; an empty operand is ignored.
    IRECT Union(const IRECT& r) const;
    // The overlap of both; an empty rectangle (all zero) when they do not overlap.
    IRECT Intersect(const IRECT& r) const;

    // Padding grows the rectangle outwards for positive values and moves the edges in for negative ones.
    constexpr IRECT GetPadded(float p) const { return {L - p, T - p, R + p, B + p}; }
    constexpr IRECT GetPadded(float l, float t, float r, float b) const {
        return {L - l, T - t, R + r, B + b};
    }
    constexpr IRECT GetHPadded(float p) const { return {L - p, T, R + p, B}; }
    constexpr IRECT GetVPadded(float p) const { return {L, T - p, R, B + p}; }
    constexpr IRECT GetTranslated(float dx, float dy) const { return {L + dx, T + dy, R + dx, B + dy}; }
    constexpr IRECT GetVShifted(float dy) const { return GetTranslated(0.f, dy); }
    constexpr IRECT GetHShifted(float dx) const { return GetTranslated(dx, 0.f); }
    // Every coordinate multiplied by s (design units to device pixels and back).
    constexpr IRECT GetScaled(float s) const { return {L * s, T * s, R * s, B * s}; }

    // A w x h rectangle centred on this one's centre.
    constexpr IRECT GetCentredInside(float w, float h) const {
        return {MW() - 0.5f * w, MH() - 0.5f * h, MW() + 0.5f * w, MH() + 0.5f * h};
    }
    constexpr IRECT GetCentredInside(float size) const { return GetCentredInside(size, size); }

    // Bands of this rectangle along one edge (clamped to the rectangle).
    constexpr IRECT GetFromTop(float h) const { return {L, T, R, std::min(B, T + h)}; }
    constexpr IRECT GetFromBottom(float h) const { return {L, std::max(T, B - h), R, B}; }
    constexpr IRECT GetFromLeft(float w) const { return {L, T, std::min(R, L + w), B}; }
    constexpr IRECT GetFromRight(float w) const { return {std::max(L, R - w), T, R, B}; }
    // What remains after taking a band off one edge.
    constexpr IRECT GetReducedFromTop(float h) const { return {L, std::min(B, T + h), R, B}; }
    constexpr IRECT GetReducedFromBottom(float h) const { return {L, T, R, std::max(T, B - h)}; }
    constexpr IRECT GetReducedFromLeft(float w) const { return {std::min(R, L + w), T, R, B}; }
    constexpr IRECT GetReducedFromRight(float w) const { return {L, T, std::max(L, R - w), B}; }

    // Part i of n equal parts stacked top to bottom, or side by side left to right; i is clamped to 0..n-1
    // and n below 1 counts as 1. The last part ends exactly on the far edge.
    IRECT SubRectVertical(int n, int i) const;
    IRECT SubRectHorizontal(int n, int i) const;
    // The cell (row, col) of an nRows x nCols grid.
    IRECT GetGridCell(int row, int col, int nRows, int nCols) const;

    constexpr bool operator==(const IRECT&) const = default;
};

} // namespace iplug::igraphics
