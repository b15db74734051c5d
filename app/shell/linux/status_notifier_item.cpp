#include "app/shell/linux/status_notifier_item.h"

#include <QCoreApplication>
#include <QDBusAbstractAdaptor>
#include <QDBusArgument>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusMetaType>
#include <QDBusServiceWatcher>
#include <QImage>
#include <QMenu>
#include <QtEndian>

#include <array>

namespace calorim::app::sni {

// One picture of the icon: width, height and ARGB32 pixels in network byte order.
struct Pixmap {
  int width = 0;
  int height = 0;
  QByteArray argb;
};
using Pixmaps = QList<Pixmap>;

struct ToolTip {
  QString iconName;
  Pixmaps pixmaps;
  QString title;
  QString text;
};

QDBusArgument& operator<<(QDBusArgument& out, const Pixmap& p) {
  out.beginStructure();
  out << p.width << p.height << p.argb;
  out.endStructure();
  return out;
}
const QDBusArgument& operator>>(const QDBusArgument& in, Pixmap& p) {
  in.beginStructure();
  in >> p.width >> p.height >> p.argb;
  in.endStructure();
  return in;
}
QDBusArgument& operator<<(QDBusArgument& out, const ToolTip& t) {
  out.beginStructure();
  out << t.iconName << t.pixmaps << t.title << t.text;
  out.endStructure();
  return out;
}
const QDBusArgument& operator>>(const QDBusArgument& in, ToolTip& t) {
  in.beginStructure();
  in >> t.iconName >> t.pixmaps >> t.title >> t.text;
  in.endStructure();
  return in;
}

}  // namespace calorim::app::sni

Q_DECLARE_METATYPE(calorim::app::sni::Pixmap)
Q_DECLARE_METATYPE(calorim::app::sni::ToolTip)

namespace calorim::app {
namespace {

constexpr std::array kIconSizes = {16, 22, 32};

sni::Pixmaps toPixmaps(const QIcon& icon) {
  sni::Pixmaps out;
  if (icon.isNull()) return out;
  for (int side : kIconSizes) {
    const QImage image = icon.pixmap(QSize(side, side), 1.0).toImage().convertToFormat(QImage::Format_ARGB32);
    if (image.isNull()) continue;
    sni::Pixmap p{image.width(), image.height(), QByteArray()};
    p.argb.resize(static_cast<qsizetype>(image.width()) * image.height() * 4);
    auto* to = reinterpret_cast<uchar*>(p.argb.data());
    for (int y = 0; y < image.height(); ++y) {
      const auto* row = reinterpret_cast<const quint32*>(image.constScanLine(y));
      for (int x = 0; x < image.width(); ++x, to += 4) qToBigEndian(row[x], to);
    }
    out.append(std::move(p));
  }
  return out;
}

// The label's room: as many characters, every digit a zero, so the host keeps
// the same width while the figures change.
QString labelGuide(const QString& label) {
  QString guide = label;
  for (QChar& c : guide) {
    if (c.isDigit()) c = QLatin1Char('0');
  }
  return guide;
}

}  // namespace

// The item's interface on the bus.
class StatusNotifierAdaptor : public QDBusAbstractAdaptor {
  Q_OBJECT
  Q_CLASSINFO("D-Bus Interface", "org.kde.StatusNotifierItem")
  Q_PROPERTY(QString Category READ category)
  Q_PROPERTY(QString Id READ id)
  Q_PROPERTY(QString Title READ title)
  Q_PROPERTY(QString Status READ status)
  Q_PROPERTY(int WindowId READ windowId)
  Q_PROPERTY(QString IconName READ empty)
  Q_PROPERTY(calorim::app::sni::Pixmaps IconPixmap READ iconPixmap)
  Q_PROPERTY(QString OverlayIconName READ empty)
  Q_PROPERTY(QString AttentionIconName READ empty)
  Q_PROPERTY(calorim::app::sni::ToolTip ToolTip READ toolTip)
  Q_PROPERTY(bool ItemIsMenu READ itemIsMenu)
  Q_PROPERTY(QString XAyatanaLabel READ label)
  Q_PROPERTY(QString XAyatanaLabelGuide READ guide)

 public:
  explicit StatusNotifierAdaptor(StatusNotifierItem* item) : QDBusAbstractAdaptor(item), item_(item) {}

  QString category() const { return QStringLiteral("Hardware"); }
  QString id() const { return QStringLiteral("calorim"); }
  QString title() const { return QStringLiteral("Calorim"); }
  QString status() const { return QStringLiteral("Active"); }
  int windowId() const { return 0; }
  QString empty() const { return {}; }
  sni::Pixmaps iconPixmap() const { return toPixmaps(item_->look().icon); }
  sni::ToolTip toolTip() const { return {QString(), {}, title(), item_->look().toolTip}; }
  bool itemIsMenu() const { return false; }
  QString label() const { return item_->look().text; }
  QString guide() const { return labelGuide(item_->look().text); }

 public slots:
  void Activate(int, int) { item_->activate(); }
  void SecondaryActivate(int, int) { item_->activate(); }
  void ContextMenu(int x, int y) { item_->contextMenu(x, y); }
  void Scroll(int, const QString&) {}

 signals:
  void NewIcon();
  void NewToolTip();
  void XAyatanaNewLabel(const QString& label, const QString& guide);

 private:
  StatusNotifierItem* item_;
};

bool StatusNotifierItem::watcherPresent(const QDBusConnection& bus) {
  return bus.isConnected() && bus.interface() != nullptr &&
         bus.interface()->isServiceRegistered(kWatcherService).value();
}

StatusNotifierItem::StatusNotifierItem(QDBusConnection bus, QObject* parent)
    : StatusItem(parent),
      bus_(std::move(bus)),
      adaptor_(new StatusNotifierAdaptor(this)),
      watcher_(new QDBusServiceWatcher(kWatcherService, bus_,
                                       QDBusServiceWatcher::WatchForRegistration |
                                           QDBusServiceWatcher::WatchForUnregistration,
                                       this)) {
  qDBusRegisterMetaType<sni::Pixmap>();
  qDBusRegisterMetaType<sni::Pixmaps>();
  qDBusRegisterMetaType<sni::ToolTip>();
  static int made = 0;
  serviceName_ =
      QStringLiteral("org.kde.StatusNotifierItem-%1-%2").arg(QCoreApplication::applicationPid()).arg(++made);
  watcherPresent_ = watcherPresent(bus_);
  connect(watcher_, &QDBusServiceWatcher::serviceRegistered, this, [this] {
    watcherPresent_ = true;
    // A watcher that starts anew knows no items: each registers again.
    if (shown_) registerWithWatcher();
  });
  connect(watcher_, &QDBusServiceWatcher::serviceUnregistered, this, [this] { watcherPresent_ = false; });
}

StatusNotifierItem::~StatusNotifierItem() { hide(); }

void StatusNotifierItem::show() {
  if (shown_ || !bus_.isConnected()) return;
  if (!bus_.registerService(serviceName_)) return;
  if (!bus_.registerObject(kObjectPath, this, QDBusConnection::ExportAdaptors)) {
    bus_.unregisterService(serviceName_);
    return;
  }
  shown_ = true;
  registerWithWatcher();
}

void StatusNotifierItem::hide() {
  if (!shown_) return;
  bus_.unregisterObject(kObjectPath);
  bus_.unregisterService(serviceName_);
  shown_ = false;
}

void StatusNotifierItem::registerWithWatcher() {
  QDBusMessage call = QDBusMessage::createMethodCall(kWatcherService, QStringLiteral("/StatusNotifierWatcher"),
                                                     kWatcherService, QStringLiteral("RegisterStatusNotifierItem"));
  call << serviceName_;
  // Not waited for: the watcher may live on this very thread.
  bus_.asyncCall(call);
}

void StatusNotifierItem::setLook(const StatusItemLook& look) {
  const bool newLabel = look.text != look_.text;
  const bool newToolTip = look.toolTip != look_.toolTip;
  look_ = look;
  if (!shown_) return;
  emit adaptor_->NewIcon();
  if (newToolTip) emit adaptor_->NewToolTip();
  if (newLabel) emit adaptor_->XAyatanaNewLabel(look_.text, labelGuide(look_.text));
}

void StatusNotifierItem::setMenu(QMenu* menu) { menu_ = menu; }

void StatusNotifierItem::activate() { emit activated(); }

void StatusNotifierItem::contextMenu(int x, int y) {
  if (menu_) menu_->popup(QPoint(x, y));
}

}  // namespace calorim::app

#include "status_notifier_item.moc"
