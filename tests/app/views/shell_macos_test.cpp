// The parts of the macOS shell that are not AppKit calls: what the settings
// window's toggle makes of the login item's statuses.

#include <QTest>

#include "app/shell/login_item.h"

namespace calorim::app {

class ShellMacosTest : public QObject {
  Q_OBJECT

 private slots:
  void loginItemStatusDecidesTheToggle() {
    struct Case {
      bool wantOn;
      long rawStatus;
      bool shownOn, openSettings, succeeded;
    };
    const Case cases[] = {
        {true, 1, true, false, true},     // registered
        {true, 2, false, true, false},    // waits for the user to allow it
        {true, 0, false, false, false},   // registration failed
        {true, 3, false, false, false},   // not found (no application bundle)
        {true, 42, false, false, false},  // a status of a later system
        {false, 0, false, false, true},   // removed
        {false, 2, false, false, true},   // not allowed is off already
        {false, 1, true, false, false},   // removal failed
        {false, -1, false, false, true},
    };
    for (const Case& c : cases) {
      const LoginItemOutcome outcome = loginItemOutcome(c.wantOn, loginItemStatus(c.rawStatus));
      const QByteArray where = QByteArray::number(c.rawStatus) + (c.wantOn ? " on" : " off");
      QVERIFY2(outcome.shownOn == c.shownOn, where);
      QVERIFY2(outcome.openSettings == c.openSettings, where);
      QVERIFY2(outcome.succeeded == c.succeeded, where);
    }
  }
};

}  // namespace calorim::app

QTEST_APPLESS_MAIN(calorim::app::ShellMacosTest)
#include "shell_macos_test.moc"
