// The bench's clock (QueryPerformanceCounter, in milliseconds: the clock that stamps a
// program's output lines) and the median of timings.
#pragma once

#include <vector>

namespace bench {

double nowMs();

// The middle value (the mean of the two middle ones for an even count); 0 for none.
double median(std::vector<double> values);

} // namespace bench
