#pragma once
// An exposition with every sample's value cut off: two expositions of one
// machine have the same shape when they hold the same families and series in
// the same order, so an answer whose shape equals that of a linted one is
// complete and well-formed.

#include <string>
#include <string_view>

namespace calorim::exporter {

inline std::string expositionShape(std::string_view text) {
  std::string shape;
  while (!text.empty()) {
    const std::size_t end = text.find('\n');
    const std::string_view line = text.substr(0, end);
    shape += line.starts_with("#") ? line : line.substr(0, line.rfind(' '));
    shape += end == std::string_view::npos ? "" : "\n";
    text.remove_prefix(end == std::string_view::npos ? text.size() : end + 1);
  }
  return shape;
}

}  // namespace calorim::exporter
