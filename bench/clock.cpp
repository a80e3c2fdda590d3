#include "clock.h"

#include "piped_child.h"

#include <algorithm>

namespace bench {

double nowMs() {
    return kyrtest::clockMs();
}

double median(std::vector<double> values) {
    if (values.empty()) {
        return 0;
    }
    std::sort(values.begin(), values.end());
    const std::size_t middle = values.size() / 2;
    return values.size() % 2 ? values[middle] : (values[middle - 1] + values[middle]) / 2;
}

} // namespace bench
