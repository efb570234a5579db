// The spread of a figure measured several times in one run: its median, its
// least and its greatest value. The benchmarks print the median as the
// figure and the range beside it, so that one slow moment of the machine
// neither hides nor fakes a change.
#pragma once

#include <algorithm>
#include <vector>

namespace strata::bench {

struct Spread {
  double Median = 0;
  double Min = 0;
  double Max = 0;
};

// The spread of the samples (all zero for none). An even count takes the
// mean of the two middle samples.
inline Spread SpreadOf(std::vector<double> samples) {
  if (samples.empty()) return {};
  std::sort(samples.begin(), samples.end());
  const std::size_t n = samples.size();
  const double median =
      n % 2 == 1 ? samples[n / 2] : (samples[n / 2 - 1] + samples[n / 2]) / 2.0;
  return {median, samples.front(), samples.back()};
}

}  // namespace strata::bench
