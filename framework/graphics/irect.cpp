#include "framework/graphics/irect.h"

namespace iplug::igraphics {

IRECT IRECT::Union(const IRECT& r) const {
    if (r.Empty())
        return *this;
    if (Empty())
        return r;
    return {std::min(L, r.L), std::min(T, r.T), std::max(R, r.R), std::max(B, r.B)};
}

IRECT IRECT::Intersect(const IRECT& r) const {
    if (!Intersects(r))
        return {};
    return {std::max(L, r.L), std::max(T, r.T), std::min(R, r.R), std::min(B, r.B)};
}

IRECT IRECT::SubRectVertical(int n, int i) const {
    n = std::max(1, n);
    i = std::clamp(i, 0, n - 1);
    const float h = H() / static_cast<float>(n);
    return {L, T + h * static_cast<float>(i), R, i == n - 1 ? B : T + h * static_cast<float>(i + 1)};
}

IRECT IRECT::SubRectHorizontal(int n, int i) const {
    n = std::max(1, n);
    i = std::clamp(i, 0, n - 1);
    const float w = W() / static_cast<float>(n);
    return {L + w * static_cast<float>(i), T, i == n - 1 ? R : L + w * static_cast<float>(i + 1), B};
}

IRECT IRECT::GetGridCell(int row, int col, int nRows, int nCols) const {
    return SubRectVertical(nRows, row).SubRectHorizontal(nCols, col);
}

} // namespace iplug::igraphics
