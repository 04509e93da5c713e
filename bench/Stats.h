#pragma once

#include <algorithm>
#include <cmath>
#include <limits>
#include <utility>
#include <vector>

namespace qx200::bench {

// The nearest-rank percentile (0 < p <= 100); NaN for no samples.
inline double percentile(std::vector<double> samples, double p)
{
    if (samples.empty())
        return std::numeric_limits<double>::quiet_NaN();
    std::ranges::sort(samples);
    const auto rank = std::size_t(std::ceil(p / 100 * double(samples.size())));
    return samples[std::clamp<std::size_t>(rank, 1, samples.size()) - 1];
}

inline double median(std::vector<double> samples)
{
    return percentile(std::move(samples), 50);
}

} // namespace qx200::bench
