// The status item on a private session bus, with a watcher written here: the
// Qt tray icon while no watcher is on the bus; with one, the application's own
// StatusNotifierItem, registered with the watcher, its label following the
// menu-bar text on each publication, its icon the rendered first value, its
// activation opening the panel, and its menu offering the panel's buttons.

#include <QDBusArgument>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QDBusPendingCall>
#include <QDBusVariant>
#include <QProcess>
#include <QTest>

#include "app/model/preferences.h"
#include "app/shell/calorim_app.h"
#include "app/shell/linux/status_notifier_item.h"
#include "app/shell/qt_tray_item.h"
#include "app/shell/tray.h"
#include "app/shell/window_registry.h"
#include "app/views/panel_view.h"
#include "tests/app/ui_test_support.h"

namespace calorim::app {
namespace {

const QString kItemInterface = QStringLiteral("org.kde.StatusNotifierItem");

// The watcher of the panel: it records the items that register.
class Watcher : public QObject {
  Q_OBJECT
  Q_CLASSINFO("D-Bus Interface", "org.kde.StatusNotifierWatcher")

 public:
  QStringList registered;
  QStringList labels;  // each XAyatanaNewLabel: "label|guide"

 public slots:
  void RegisterStatusNotifierItem(const QString& service) { registered.append(service); }
  void newLabel(const QString& label, const QString& guide) { labels.append(label + QLatin1Char('|') + guide); }
};

}  // namespace

class ShellStatusNotifierTest : public QObject {
  Q_OBJECT

 public:
  static void initMain() { testing::prepareTestProgram(); }

 private:
  // The reply to `call` made from the watcher's connection without blocking
  // this thread, which also serves the item; an empty message on an error.
  QDBusMessage reply(const QDBusMessage& call) {
    QDBusPendingCall pending = watcherBus_.asyncCall(call);
    if (!QTest::qWaitFor([&] { return pending.isFinished(); }, 10000) || pending.isError()) return {};
    return pending.reply();
  }
  QVariant itemProperty(const QString& service, const char* name) {
    const QString properties = QStringLiteral("org.freedesktop.DBus.Properties");
    QDBusMessage get = QDBusMessage::createMethodCall(service, StatusNotifierItem::kObjectPath, properties,
                                                      QStringLiteral("Get"));
    return reply(get << kItemInterface << QLatin1String(name)).arguments().value(0).value<QDBusVariant>().variant();
  }

  QProcess bus_;
  QDBusConnection watcherBus_{QString()};

 private slots:
  void initTestCase() {
    QVERIFY(testing::openSourceStringBundle());
    // A session bus of the test's own, before anything here reaches for one.
    bus_.start(QStringLiteral("dbus-daemon"), {QStringLiteral("--session"), QStringLiteral("--nofork"),
                                               QStringLiteral("--print-address")});
    if (!bus_.waitForStarted(5000)) QSKIP("no dbus-daemon here: the status notifier item is not tested");
    QVERIFY(bus_.waitForReadyRead(5000));
    const QByteArray address = bus_.readLine().trimmed();
    QVERIFY(!address.isEmpty());
    qputenv("DBUS_SESSION_BUS_ADDRESS", address);
    QVERIFY(QDBusConnection::sessionBus().isConnected());
    watcherBus_ = QDBusConnection::connectToBus(QString::fromUtf8(address), QStringLiteral("watcher"));
    QVERIFY(watcherBus_.isConnected());
  }
  void init() { testing::clearPreferences(); }
  void cleanupTestCase() {
    QDBusConnection::disconnectFromBus(QStringLiteral("watcher"));
    bus_.kill();
    bus_.waitForFinished();
  }

  void withoutAWatcherTheQtTrayIconIsUsed() {
    QVERIFY(!StatusNotifierItem::watcherPresent(QDBusConnection::sessionBus()));
    QVERIFY(dynamic_cast<QtTrayItem*>(makeStatusItem().get()) != nullptr);
  }

  void withAWatcherTheItemRegistersShowsTheLineAndOpensThePanel() {
    Watcher watcher;
    QVERIFY(watcherBus_.registerObject(QStringLiteral("/StatusNotifierWatcher"), &watcher,
                                       QDBusConnection::ExportAllSlots));
    QVERIFY(watcherBus_.registerService(StatusNotifierItem::kWatcherService));

    testing::SimulatedRig rig;
    CalorimApp app(rig.machine.platform(), rig.options);
    auto* item = dynamic_cast<StatusNotifierItem*>(&app.tray().statusItem());
    QVERIFY(item != nullptr);
    QTRY_COMPARE(watcher.registered, QStringList{item->serviceName()});
    QVERIFY(app.tray().hasTrayIcon());
    QVERIFY(app.tray().fallbackWindow() == nullptr);
    const QString service = item->serviceName();
    QVERIFY(watcherBus_.connect(service, StatusNotifierItem::kObjectPath, kItemInterface,
                                QStringLiteral("XAyatanaNewLabel"), &watcher, SLOT(newLabel(QString, QString))));

    QCOMPARE(itemProperty(service, "XAyatanaLabel").toString(), QStringLiteral("SoC 0.0W"));
    QCOMPARE(itemProperty(service, "XAyatanaLabelGuide").toString(), QStringLiteral("SoC 0.0W"));
    QCOMPARE(itemProperty(service, "Id").toString(), QStringLiteral("calorim"));

    // The label follows every publication and every change of the chosen items.
    app.monitor().publish(testing::sampleWith(50));
    QTRY_COMPARE(watcher.labels, QStringList{QStringLiteral("SoC 5.6W|SoC 0.0W")});
    app.preferences().setMenuBarItemsRaw(QStringLiteral("cpuTemp,gpuPower"));
    QTRY_COMPARE(watcher.labels.size(), 2);
    QCOMPARE(watcher.labels.last(), QStringLiteral("GPU1.1W CPU50\u00B0|GPU0.0W CPU00\u00B0"));
    QCOMPARE(itemProperty(service, "XAyatanaLabel").toString(), QStringLiteral("GPU1.1W CPU50\u00B0"));

    // The icon: the rendered first value at three sizes, ARGB32 in network byte order.
    const auto pixmaps = qvariant_cast<QDBusArgument>(itemProperty(service, "IconPixmap"));
    QList<int> sides;
    pixmaps.beginArray();
    while (!pixmaps.atEnd()) {
      int width = 0, height = 0;
      QByteArray argb;
      pixmaps.beginStructure();
      pixmaps >> width >> height >> argb;
      pixmaps.endStructure();
      QCOMPARE(argb.size(), width * height * 4);
      // The corner is transparent, the middle of the dark square opaque.
      QCOMPARE(static_cast<quint8>(argb[0]), quint8(0));
      QVERIFY(static_cast<quint8>(argb[(height / 2 * width + 2) * 4]) > 200);
      sides.append(width);
    }
    pixmaps.endArray();
    QCOMPARE(sides, (QList<int>{16, 22, 32}));

    // A click on the item opens the panel, below the place the host gave.
    watcherBus_.send(QDBusMessage::createMethodCall(service, StatusNotifierItem::kObjectPath, kItemInterface,
                                                    QStringLiteral("Activate"))
                     << 10 << 10);
    QTRY_VERIFY(app.tray().popupPanel() != nullptr && app.tray().popupPanel()->isVisible());
    QCOMPARE(app.tray().popupPanel()->y(), 10 + 1 + 4);

    // The context menu, as a host that draws it reads it: the panel's buttons;
    // a click on one of them does what the button does.
    QCOMPARE(qvariant_cast<QDBusObjectPath>(itemProperty(service, "Menu")).path(),
             StatusNotifierItem::kMenuPath);
    const auto menuCall = [&](const char* method) {
      return QDBusMessage::createMethodCall(service, StatusNotifierItem::kMenuPath, QStringLiteral("com.canonical.dbusmenu"),
                                            QLatin1String(method));
    };
    QCOMPARE(reply(menuCall("GetGroupProperties") << QVariant::fromValue(QList<int>{2}) << QStringList()).type(),
             QDBusMessage::ReplyMessage);
    const QDBusMessage layoutReply = reply(menuCall("GetLayout") << 0 << -1 << QStringList());
    const auto layout = qvariant_cast<QDBusArgument>(layoutReply.arguments().value(1));
    QStringList entries;
    int rootId = -1;
    QVariantMap rootProperties;
    layout.beginStructure();
    layout >> rootId >> rootProperties;
    layout.beginArray();
    while (!layout.atEnd()) {
      QDBusVariant child;
      layout >> child;
      const auto entry = qvariant_cast<QDBusArgument>(child.variant());
      int id = 0;
      QVariantMap properties;
      entry.beginStructure();
      entry >> id >> properties;
      entries.append(QString::number(id) + QLatin1Char(' ') +
                     properties.value(QStringLiteral("label"), properties.value(QStringLiteral("type"))).toString());
    }
    layout.endArray();
    layout.endStructure();
    QCOMPARE(rootId, 0);
    QCOMPARE(entries, (QStringList{QStringLiteral("1 ") + localized("menu.openDetail"),
                                   QStringLiteral("2 ") + localized("menu.settings"), QStringLiteral("3 Ports & Power"),
                                   QStringLiteral("4 separator"), QStringLiteral("5 ") + localized("menu.quit")}));
    watcherBus_.send(menuCall("Event") << 2 << QStringLiteral("clicked") << QVariant::fromValue(QDBusVariant(0)) << 0u);
    QTRY_VERIFY(app.windows().window(CalorimApp::kSettings) != nullptr);
  }
};

}  // namespace calorim::app

QTEST_MAIN(calorim::app::ShellStatusNotifierTest)
#include "shell_status_notifier_test.moc"
