#pragma once
// A strict reader of the expositions the exporter writes, for tests that
// cannot run promtool on every answer: metadata, sample lines, one block per
// family, label syntax, numbers, and the end of the text.

#include <cstdlib>
#include <set>
#include <string>
#include <string_view>

#include "exporter/exposition.h"

namespace calorim::exporter {

// "" when `text` is a complete, well-formed exposition in `format`; otherwise
// the first problem and its line.
inline std::string expositionProblem(std::string_view text, ExpositionFormat format) {
  const bool om = format == ExpositionFormat::openMetrics;
  if (text.empty() || text.back() != '\n') return "does not end with a line end";
  if (om && !text.ends_with("\n# EOF\n")) return "does not end with # EOF";
  std::set<std::string, std::less<>> families;
  std::string family;  // of the latest TYPE line
  std::string type;
  std::size_t samples = 0;
  const auto isName = [](std::string_view n) {
    if (n.empty() || (n[0] >= '0' && n[0] <= '9')) return false;
    for (const char c : n) {
      if (!((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_' || c == ':')) {
        return false;
      }
    }
    return true;
  };
  std::string_view rest = text;
  std::string_view helpFor;
  while (!rest.empty()) {
    const std::size_t end = rest.find('\n');
    const std::string_view line = rest.substr(0, end);
    rest.remove_prefix(end + 1);
    const std::string where = " in line '" + std::string(line) + "'";
    if (line == "# EOF") {
      if (!om || !rest.empty()) return "misplaced # EOF";
      continue;
    }
    if (line.starts_with("# HELP ")) {
      const std::string_view name = line.substr(7, line.find(' ', 7) - 7);
      if (!isName(name) || line.size() <= 8 + name.size()) return "bad HELP" + where;
      helpFor = name;
      continue;
    }
    if (line.starts_with("# TYPE ")) {
      const std::size_t space = line.find(' ', 7);
      const std::string_view name = line.substr(7, space - 7);
      const std::string_view t = space == std::string_view::npos ? "" : line.substr(space + 1);
      if (name != helpFor) return "TYPE without its HELP" + where;
      if (!(t == "counter" || t == "gauge" || (om && t == "info"))) return "bad type" + where;
      if (!families.emplace(name).second) return "family in two blocks" + where;
      if (!family.empty() && samples == 0) return "family without samples before" + where;
      family = name;
      type = t;
      samples = 0;
      continue;
    }
    if (line.starts_with("#")) return "unknown comment" + where;
    // A sample: name, optional labels, a space, a number.
    const std::size_t nameEnd = line.find_first_of("{ ");
    if (nameEnd == std::string_view::npos) return "sample without value" + where;
    const std::string_view name = line.substr(0, nameEnd);
    std::string expected = family;
    if (om && type == "counter") expected += "_total";
    if (om && type == "info") expected += "_info";
    if (family.empty() || name != expected) return "sample outside its family" + where;
    std::string_view after = line.substr(nameEnd);
    if (after.starts_with("{")) {
      after.remove_prefix(1);
      while (true) {
        const std::size_t eq = after.find("=\"");
        if (eq == std::string_view::npos || !isName(after.substr(0, eq))) return "bad label" + where;
        after.remove_prefix(eq + 2);
        std::size_t i = 0;
        for (; i < after.size() && after[i] != '"'; ++i) {
          if (after[i] == '\\') {
            if (i + 1 >= after.size() || std::string_view("\\\"n").find(after[i + 1]) == std::string_view::npos) {
              return "bad escape" + where;
            }
            ++i;
          }
        }
        if (i >= after.size()) return "unterminated label value" + where;
        after.remove_prefix(i + 1);
        if (after.starts_with(",")) {
          after.remove_prefix(1);
          continue;
        }
        if (!after.starts_with("}")) return "bad label list" + where;
        after.remove_prefix(1);
        break;
      }
    }
    if (!after.starts_with(" ") || after.size() < 2) return "no value" + where;
    const std::string value(after.substr(1));
    char* parsedEnd = nullptr;
    const double number = std::strtod(value.c_str(), &parsedEnd);
    if (parsedEnd != value.c_str() + value.size()) return "bad value" + where;
    if (type == "counter" && !(number >= 0)) return "negative counter" + where;
    ++samples;
  }
  if (samples == 0) return "last family without samples";
  return "";
}

}  // namespace calorim::exporter
