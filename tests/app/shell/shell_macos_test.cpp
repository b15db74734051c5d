// The parts of the macOS shell that are not AppKit calls: where the status
// item lies in Qt's coordinates, and what the settings window's toggle makes
// of the login item's statuses.

#include <QTest>

#include "app/shell/login_item.h"
#include "app/shell/macos/screen_rect.h"

namespace calorim::app {

class ShellMacosTest : public QObject {
  Q_OBJECT

 private slots:
  void statusItemInQtCoordinates() {
    struct Case {
      QRectF appKit;
      qreal primaryHeight;
      QRect qt;
    };
    const Case cases[] = {
        // In the menu bar of a 1440 × 900 primary screen.
        {{1200, 876, 64, 24}, 900, {1200, 0, 64, 24}},
        // On a screen above the primary one, and on one to its left.
        {{300, 2076, 64, 24}, 900, {300, -1200, 64, 24}},
        {{-1620, 1056, 64, 24}, 900, {-1620, -180, 64, 24}},
        // Fractions widen to whole points.
        {{10.5, 876.25, 60, 23.5}, 900, {10, 0, 61, 24}},
        {{0, 0, 0, 24}, 900, {}},
        {{0, 876, 64, 24}, 0, {}},
        {{qQNaN(), 876, 64, 24}, 900, {}},
        {{1e300, 876, 64, 24}, 900, {}},
    };
    for (const Case& c : cases) QCOMPARE(qtScreenRect(c.appKit, c.primaryHeight), c.qt);
  }

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
