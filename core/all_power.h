#pragma once
// The per-domain split of the energy channels of a delta into an
// `EnergyBreakdown`: an ordered list of name rules, the first match decides.
// The machine's own domains (the sampler's domain group) are listed apart,
// in delta order. Powers in W, each channel converted as the counter sampler
// converts it.

#include <optional>

#include "core/platform/counter_report_port.h"
#include "core/records.h"

namespace calorim {

// The breakdown of `delta` over `duration` seconds (all powers 0 when the
// duration is not above 0). One pass in channel order; pure and safe to call
// from several threads at once.
[[nodiscard]] EnergyBreakdown parseAllPower(const CounterDelta& delta, double duration);

// The power of the whole platform: the domain of `breakdown` that
// IOReportSampler::kPlatformDomain names; absent where there is none.
[[nodiscard]] std::optional<double> platformWatts(const EnergyBreakdown& breakdown);

}  // namespace calorim
