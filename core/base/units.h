#pragma once
// Unit factors used across the program.

#include <string_view>

namespace calorim {

// Memory sizes and bandwidths are given in GB of 2^30 bytes.
inline constexpr double kBytesPerGB = 1073741824.0;

// Clock frequencies are given in MHz.
inline constexpr double kHzPerMHz = 1e6;

// How many of an energy counter's units make one joule, from its unit label:
// "nJ" 1e9, "uJ" (also written with the micro sign or the Greek mu) 1e6, and
// 1e3 for "mJ", a missing label or one not known.
[[nodiscard]] constexpr double unitsPerJoule(std::string_view label) {
  if (label == "nJ") return 1e9;
  if (label == "uJ" || label == "\u00B5J" /* micro sign */ || label == "\u03BCJ" /* Greek mu */) return 1e6;
  return 1e3;
}

}  // namespace calorim
