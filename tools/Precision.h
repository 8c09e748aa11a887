// How many significant digits a network file's readout carries, and whether its weights need more.
#pragma once

#include <string>
#include <vector>

namespace rcnet::tools {

// The most significant digits any readout weight needs to be written back as read: at most 6 for a file
// saved with the default 6, up to 17 for one saved with exact digits (SetNetFilePrecision 0).
int ReadoutDigits(const std::vector<std::vector<double>>& readout);

// A warning when the weights reach 1e4 and the file does not keep them exactly (fewer than 17 digits):
// such weights cancel each other, and the rounding shows in the outputs. Empty when there is none.
std::string ReadoutPrecisionWarning(const std::vector<std::vector<double>>& readout);

}  // namespace rcnet::tools
