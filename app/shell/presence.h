#pragma once
// How the application presents itself among the running applications. As a
// tray application it is an "accessory": no entry among the running
// applications and no application menu while none of its windows is open.
// The panel switches it to "regular" before it opens the detail or ports
// window, and the shell back to accessory once the last window has closed.
//
// On Linux the desktop decides from the windows themselves (a window on the
// taskbar while it is open, the tray icon otherwise), so these calls only
// record the policy; a macOS backend sets the activation policy instead.

namespace calorim::app {

enum class PresencePolicy { accessory, regular };

// Sets the application's presence policy. UI thread only.
void setPresencePolicy(PresencePolicy policy);
// The policy last set; `accessory` before any.
[[nodiscard]] PresencePolicy presencePolicy();

// Brings the application ahead of other applications. On Linux the window
// that opens next raises and activates itself, so this does nothing.
void bringApplicationToFront();

}  // namespace calorim::app
