#include "run/report.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

#include "core/base/utf8.h"
#include "core/json.h"

namespace calorim::run {
namespace {

// `value` with `decimals` digits after the point, in the C locale's form.
std::string fixed(double value, int decimals) {
  char text[64];
  std::snprintf(text, sizeof text, "%.*f", decimals, value);
  return text;
}

// `text` as valid UTF-8 with control characters as '?', so that it cannot
// move the terminal's cursor or change its colours.
std::string printable(const std::string& text) {
  std::string out = repairUtf8(text);
  for (char& c : out) {
    const auto u = static_cast<unsigned char>(c);
    if (u < 0x20 || u == 0x7f) c = '?';
  }
  return out;
}

// A word of the command as a shell would take it back: bare when it is
// plain, else in single quotes; printable either way.
std::string shellWord(const std::string& word) {
  const bool plain = !word.empty() && std::all_of(word.begin(), word.end(), [](char c) {
    const auto u = static_cast<unsigned char>(c);
    return (u >= 'a' && u <= 'z') || (u >= 'A' && u <= 'Z') || (u >= '0' && u <= '9') ||
           std::string_view("_./:=,+@%-").find(c) != std::string_view::npos;
  });
  if (plain) return word;
  std::string quoted = "'";
  for (const char c : printable(word)) quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return quoted + "'";
}

std::string commandLine(const std::vector<std::string>& command) {
  std::string line;
  for (const std::string& word : command) {
    if (!line.empty()) line += ' ';
    line += shellWord(word);
  }
  return line;
}

std::string row(std::string_view label, const std::string& value) {
  std::string line = "  " + std::string(label);
  line.resize(std::max<std::size_t>(line.size() + 1, 16), ' ');
  return line + value + "\n";
}

// A figure right-aligned with its unit, so that the figures line up.
std::string figure(double value, std::string_view unit) {
  std::string text = fixed(value, 2);
  if (text.size() < 9) text.insert(0, 9 - text.size(), ' ');
  return text + " " + std::string(unit);
}

// JSON figures to the micro-unit, the finest the counters give: no noise of
// floating-point sums in the last digits.
// (Past 1e9 a double has no micro-units left to round.)
double micro(double value, const char* key) {
  finiteOrThrow(value, key);
  return std::abs(value) < 1e9 ? std::round(value * 1e6) / 1e6 : value;
}

}  // namespace

void EnergyTally::add(const EnergyMetrics& stretch) {
  sum_ = EnergyMetrics(sum_.duration() + stretch.duration(), sum_.cpuEnergy() + stretch.cpuEnergy(),
                       sum_.gpuEnergy() + stretch.gpuEnergy(), sum_.aneEnergy() + stretch.aneEnergy(),
                       sum_.dramEnergy() + stretch.dramEnergy(), sum_.totalEnergy() + stretch.totalEnergy());
  if (stretch.duration() > 0 && stretch.duration() >= interval_ / 2) {
    peak_ = std::max(peak_.value_or(0), stretch.totalPowerAvg());
  }
}

EnergyMetrics EnergyTally::sum() const { return sum_; }

double EnergyTally::peakWatts() const { return std::max(peak_.value_or(0), sum_.totalPowerAvg()); }

std::vector<DomainEnergy> measuredDomains(const MeasuredFigures& measured, const EnergyMetrics& energy) {
  std::vector<DomainEnergy> domains;
  if (measured.cpuPower) domains.push_back({"cpu", "CPU", energy.cpuEnergy()});
  if (measured.gpuPower) domains.push_back({"gpu", "GPU", energy.gpuEnergy()});
  if (measured.anePower) domains.push_back({"ane", "ANE", energy.aneEnergy()});
  if (measured.dramPower) domains.push_back({"dram", "DRAM", energy.dramEnergy()});
  return domains;
}

std::optional<double> cpuTimeShare(double commandSeconds, double elapsedSeconds,
                                   const std::optional<std::vector<CpuTicks>>& before,
                                   const std::optional<std::vector<CpuTicks>>& after) {
  if (!before || !after || before->size() != after->size() || before->empty()) return std::nullopt;
  double busyFractions = 0;  // the CPUs' busy fractions summed: busy CPUs on average
  bool moved = false;
  for (std::size_t i = 0; i < before->size(); ++i) {
    const CpuTicks& a = (*before)[i];
    const CpuTicks& b = (*after)[i];
    const auto gained = [](std::uint64_t from, std::uint64_t to) { return to >= from ? double(to - from) : 0.0; };
    const double busy = gained(a.user, b.user) + gained(a.system, b.system) + gained(a.nice, b.nice);
    const double all = busy + gained(a.idle, b.idle);
    if (all <= 0) continue;
    moved = true;
    busyFractions += busy / all;
  }
  if (!moved || !(elapsedSeconds > 0) || !(commandSeconds >= 0)) return std::nullopt;
  const double used = std::max(busyFractions * elapsedSeconds, commandSeconds);
  return used > 0 ? commandSeconds / used : 0.0;
}

std::optional<double> RunReport::commandCpuJoules() const {
  if (!cpuShare) return std::nullopt;
  for (const DomainEnergy& domain : domains) {
    if (domain.key == "cpu") return *cpuShare * domain.joules;
  }
  return std::nullopt;
}

std::string reportText(const RunReport& report) {
  std::string text = "calorim-run: " + commandLine(report.command) + "\n";
  if (report.simulatedMachine) {
    text += row("SIMULATED", "a simulated machine (" + printable(*report.simulatedMachine) +
                                 "): its energy is made up, not measured");
  }
  text += row("elapsed", figure(report.elapsedSeconds, "s"));
  if (report.energyNotice) {
    text += row("energy", "not measured. " + *report.energyNotice);
  }
  for (const DomainEnergy& domain : report.domains) text += row(domain.name, figure(domain.joules, "J"));
  if (report.totalJoules) {
    std::string whole = figure(*report.totalJoules, "J");
    if (report.meanWatts) whole += "   mean " + fixed(*report.meanWatts, 2) + " W";
    if (report.peakWatts) whole += "   peak " + fixed(*report.peakWatts, 2) + " W";
    text += row("total", whole);
  }
  std::string cpu = figure(report.commandCpuSeconds, "s");
  if (report.cpuShare) {
    cpu += ", " + fixed(*report.cpuShare * 100, 1) + " % of all CPU time";
    if (const std::optional<double> joules = report.commandCpuJoules()) {
      cpu += ": about " + fixed(*joules, 2) + " J of the CPU's (estimate)";
    } else {
      cpu += " (estimate)";
    }
  }
  text += row("command CPU", cpu);
  text += row("exit status", report.signal ? std::to_string(report.exitStatus) + " (signal " +
                                                  std::to_string(*report.signal) + ")"
                                            : std::to_string(report.exitStatus));
  return text;
}

std::string reportJson(const RunReport& report) {
  Json json;
  json["command"] = report.command;
  json["simulated"] = report.simulatedMachine.has_value();
  if (report.simulatedMachine) json["simulatedMachine"] = *report.simulatedMachine;
  json["elapsedS"] = micro(report.elapsedSeconds, "elapsedS");
  json["exitStatus"] = report.exitStatus;
  if (report.signal) json["signal"] = *report.signal;
  json["energyMeasured"] = !report.energyNotice.has_value();
  if (report.energyNotice) json["energyNotice"] = *report.energyNotice;
  if (!report.domains.empty()) {
    Json domains = Json::object();
    for (const DomainEnergy& domain : report.domains) domains[domain.key] = micro(domain.joules, "energyJ");
    json["energyJ"] = std::move(domains);
  }
  if (report.totalJoules) json["totalEnergyJ"] = micro(*report.totalJoules, "totalEnergyJ");
  if (report.meanWatts) json["meanPowerW"] = micro(*report.meanWatts, "meanPowerW");
  if (report.peakWatts) json["peakPowerW"] = micro(*report.peakWatts, "peakPowerW");
  Json cpu = {{"cpuTimeS", micro(report.commandCpuSeconds, "cpuTimeS")}, {"estimate", true}};
  if (report.cpuShare) cpu["shareOfCpuTime"] = micro(*report.cpuShare, "shareOfCpuTime");
  if (const std::optional<double> joules = report.commandCpuJoules()) {
    cpu["cpuEnergyJ"] = micro(*joules, "cpuEnergyJ");
  }
  json["commandCpu"] = std::move(cpu);
  return json.dump(-1, ' ', false, Json::error_handler_t::replace) + "\n";
}

}  // namespace calorim::run
