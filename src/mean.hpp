#pragma once

// The module function get_mean: a free function, not part of the frame.

#include <vector>

// The arithmetic mean in element order, NaN included; 0.0 for no values.
double get_mean(const std::vector<double>& values);
