#pragma once
// The application's standing with the system's power management while it
// samples: as an accessory with no window in front, macOS would put it in App
// Nap and let its timers slip by seconds, which stretches the interval
// between two readings. A held activity keeps it out of App Nap; idle system
// sleep stays allowed. Elsewhere the system has no such throttling and
// holding one does nothing.

#include <memory>

namespace calorim::app {

// Held until destroyed.
class LiveActivity {
 public:
  virtual ~LiveActivity() = default;
};

// Begins the activity of this platform: from now until the object is destroyed.
[[nodiscard]] std::unique_ptr<LiveActivity> beginLiveActivity();

}  // namespace calorim::app
