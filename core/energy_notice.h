#pragma once
// Why a program shows no power figures, in the words the application's
// notice uses: one sentence naming the cause and, where access would help,
// where to read how to grant it. The terminal programs print it; the
// application takes the same texts from its (translatable) string table.

#include <optional>
#include <string>

#include "core/platform/counter_report_port.h"

namespace calorim {

// Absent where the counters are readable.
[[nodiscard]] std::optional<std::string> energyNotice(const EnergyAccess& access);

}  // namespace calorim
