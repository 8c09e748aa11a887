// The value types shared by every part of the library.
#pragma once

#include <vector>

namespace rcnet {

using Vector = std::vector<double>;
// A list of rows; rectangular wherever the library builds one.
using Matrix = std::vector<Vector>;

}  // namespace rcnet
