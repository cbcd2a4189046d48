#include "engine/render/render_types.h"

#include <algorithm>
#include <array>

namespace np {

void smoothCurve(std::vector<double>& curve) {
    const auto n = static_cast<std::ptrdiff_t>(curve.size());
    if (n < 3)
        return;
    constexpr std::array<double, 5> kWeights = {1.0, 2.0, 3.0, 2.0, 1.0};
    const std::vector<double> in = curve;
    for (std::ptrdiff_t i = 0; i < n; ++i) {
        double sum = 0.0, weights = 0.0;
        for (std::ptrdiff_t d = -2; d <= 2; ++d) {
            if (i + d < 0 || i + d >= n)
                continue;
            sum += kWeights[static_cast<std::size_t>(d + 2)] * in[static_cast<std::size_t>(i + d)];
            weights += kWeights[static_cast<std::size_t>(d + 2)];
        }
        curve[static_cast<std::size_t>(i)] = sum / weights;
    }
}

} // namespace np
