#include "app/shell/login_item.h"

#include <QtGlobal>

#include "app/model/strings.h"
#include "app/shell/autostart.h"

namespace calorim::app {

LoginItemStatus loginItemStatus(long raw) {
  switch (raw) {
    case 0:
      return LoginItemStatus::notRegistered;
    case 1:
      return LoginItemStatus::enabled;
    case 2:
      return LoginItemStatus::requiresApproval;
    default:
      return LoginItemStatus::notFound;
  }
}

LoginItemOutcome loginItemOutcome(bool wantOn, LoginItemStatus after) {
  LoginItemOutcome outcome;
  outcome.shownOn = after == LoginItemStatus::enabled;
  // Registered but not allowed: only the user can allow it, in the settings.
  outcome.openSettings = wantOn && after == LoginItemStatus::requiresApproval;
  // The status decides, not the call's answer: a call that reports success
  // while the status says otherwise did not do what was asked, and a failed
  // one whose status is as asked (removing what was never registered) leaves
  // nothing to mend.
  outcome.succeeded = outcome.shownOn == wantOn;
  return outcome;
}

QString loginItemUnavailableReason(const QString& bundlePath) {
  if (bundlePath.contains(QStringLiteral("/AppTranslocation/"))) return localized("settings.loginItemTranslocated");
  return {};
}

// macOS has its own, in macos/.
#if !defined(Q_OS_MACOS)
std::unique_ptr<LoginItem> makeLoginItem() { return std::make_unique<XdgAutostart>(); }
#endif

}  // namespace calorim::app
