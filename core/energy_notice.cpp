#include "core/energy_notice.h"

namespace calorim {

std::optional<std::string> energyNotice(const EnergyAccess& access) {
  switch (access.state) {
    case EnergyAccess::State::readable: return std::nullopt;
    case EnergyAccess::State::absent:
      return "No power figures: this machine has no energy counters (a virtual machine, or a processor without "
             "them). Load, temperatures, fans, battery and memory still show.";
    case EnergyAccess::State::denied:
      if (access.folder.empty()) return "No power figures: the energy counters could not be read.";
      return "No power figures: this user may not read the energy counters in " + access.folder +
             ". See \"Granting energy access\" in the README to let the group calorim read them.";
  }
  return std::nullopt;
}

}  // namespace calorim
