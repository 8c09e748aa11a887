#include "tools/Precision.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>

namespace rcnet::tools {
namespace {
constexpr int kExact = 17;  // every double reads back from 17 significant digits

int DigitsOf(double value) {
    if (!std::isfinite(value) || value == 0) return 1;
    char text[40];
    for (int digits = 1; digits < kExact; ++digits) {
        std::snprintf(text, sizeof text, "%.*g", digits, value);
        if (std::strtod(text, nullptr) == value) return digits;
    }
    return kExact;
}
}  // namespace

int ReadoutDigits(const std::vector<std::vector<double>>& readout) {
    int digits = 1;
    for (const auto& row : readout)
        for (double w : row) digits = std::max(digits, DigitsOf(w));
    return digits;
}

std::string ReadoutPrecisionWarning(const std::vector<std::vector<double>>& readout) {
    double largest = 0.0;
    for (const auto& row : readout)
        for (double w : row) largest = std::isfinite(w) ? std::max(largest, std::fabs(w)) : largest;
    const int digits = ReadoutDigits(readout);
    // 16 digits may already be every digit a weight has; only fewer can have lost some.
    if (largest < 1e4 || digits >= kExact - 1) return "";
    char text[400];
    std::snprintf(
        text, sizeof text,
        "readout weights reach %.3g but are written with at most %d significant digits, so the loaded "
        "network's "
        "outputs may differ visibly from those of the network saved (save with exact digits: "
        "SetNetFilePrecision 0, the tool's default)",
        largest, digits);
    return text;
}

}  // namespace rcnet::tools
