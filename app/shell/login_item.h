#pragma once
// Launch at login. On Linux an XDG autostart entry (see autostart.h); on
// macOS the application's own login item in the system's service management
// (`SMAppService` main-app service). The settings window's switch shows the
// real state: on only while the login item is enabled.
//
// The macOS login item has four states. "Requires approval" means the
// registration exists but the user has not allowed it (or has switched it
// off in the system's Login Items settings): it counts as off, and when the
// user has just asked to switch it on, those settings are opened so that the
// user can allow it there.

#include <QString>

#include <memory>

#include "app/views/settings_view.h"

namespace calorim::app {

// The login item's state, in the service-management numbering.
enum class LoginItemStatus { notRegistered = 0, enabled = 1, requiresApproval = 2, notFound = 3 };

// The state of a raw status value; a value the system may add later counts
// as `notFound`.
[[nodiscard]] LoginItemStatus loginItemStatus(long raw);

// What follows a request to switch the login item on (`wantOn`) or off, from
// the status read after the system call.
struct LoginItemOutcome {
  bool shownOn = false;       // the switch shows on
  bool openSettings = false;  // open the system's Login Items settings
  bool succeeded = false;     // the login item is now as asked
};
[[nodiscard]] LoginItemOutcome loginItemOutcome(bool wantOn, LoginItemStatus after);

// Why no login item can be registered for the application bundle at
// `bundlePath`; empty when one can. An application opened straight from a
// download runs from a read-only copy the system makes under a random
// "/AppTranslocation/" folder, which is gone after the next restart: a login
// item would point at nothing.
[[nodiscard]] QString loginItemUnavailableReason(const QString& bundlePath);

// The login item of this platform.
[[nodiscard]] std::unique_ptr<LoginItem> makeLoginItem();

}  // namespace calorim::app
