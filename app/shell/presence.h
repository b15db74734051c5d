#pragma once
// How the application presents itself among the running applications. As a
// tray application it is an "accessory": no entry among the running
// applications and no application menu while none of its windows is open.
// The panel switches it to "regular" before it opens the detail or ports
// window, and the shell back to accessory once the last window has closed.
//
// On macOS that is the activation policy (a Dock icon and an application
// menu only while regular) and the activation ahead of other applications.
// On Linux the desktop decides from the windows themselves (a window on the
// taskbar while it is open, the tray icon otherwise), and the window that
// opens next raises and activates itself, so the policy is only recorded.
// UI thread only.

#include <memory>

namespace calorim::app {

enum class PresencePolicy { accessory, regular };

class Presence {
 public:
  virtual ~Presence() = default;
  // Sets the application's presence policy.
  virtual void setPolicy(PresencePolicy policy) { policy_ = policy; }
  // The policy last set; `accessory` before any.
  [[nodiscard]] PresencePolicy policy() const { return policy_; }
  // Brings the application ahead of other applications.
  virtual void bringToFront() {}

 private:
  PresencePolicy policy_ = PresencePolicy::accessory;
};

// The presence of this platform: the activation policy on macOS, the
// recorded one elsewhere. Make it after the QApplication.
[[nodiscard]] std::unique_ptr<Presence> makePresence();

}  // namespace calorim::app
