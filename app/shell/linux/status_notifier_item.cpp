#include "app/shell/linux/status_notifier_item.h"

#include <QCoreApplication>
#include <QDBusAbstractAdaptor>
#include <QDBusArgument>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusMetaType>
#include <QDBusObjectPath>
#include <QDBusVariant>
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

// One entry of the exported menu and its entries below it.
struct MenuLayout {
  int id = 0;
  QVariantMap properties;
  QList<MenuLayout> children;
};

struct MenuProperties {
  int id = 0;
  QVariantMap properties;
};
using MenuPropertiesList = QList<MenuProperties>;

}  // namespace calorim::app::sni

Q_DECLARE_METATYPE(calorim::app::sni::Pixmap)
Q_DECLARE_METATYPE(calorim::app::sni::ToolTip)
Q_DECLARE_METATYPE(calorim::app::sni::MenuLayout)
Q_DECLARE_METATYPE(calorim::app::sni::MenuProperties)

namespace calorim::app::sni {

QDBusArgument& operator<<(QDBusArgument& out, const MenuLayout& item) {
  out.beginStructure();
  out << item.id << item.properties;
  out.beginArray(qMetaTypeId<QDBusVariant>());
  for (const MenuLayout& child : item.children) out << QDBusVariant(QVariant::fromValue(child));
  out.endArray();
  out.endStructure();
  return out;
}
const QDBusArgument& operator>>(const QDBusArgument& in, MenuLayout& item) {
  in.beginStructure();
  in >> item.id >> item.properties;
  in.beginArray();
  item.children.clear();
  while (!in.atEnd()) {
    QDBusVariant child;
    in >> child;
    item.children.append(qdbus_cast<MenuLayout>(child.variant()));
  }
  in.endArray();
  in.endStructure();
  return in;
}
QDBusArgument& operator<<(QDBusArgument& out, const MenuProperties& item) {
  out.beginStructure();
  out << item.id << item.properties;
  out.endStructure();
  return out;
}
const QDBusArgument& operator>>(const QDBusArgument& in, MenuProperties& item) {
  in.beginStructure();
  in >> item.id >> item.properties;
  in.endStructure();
  return in;
}

}  // namespace calorim::app::sni

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
  Q_PROPERTY(QDBusObjectPath Menu READ menu)
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
  QDBusObjectPath menu() const { return QDBusObjectPath(StatusNotifierItem::kMenuPath); }
  QString label() const { return item_->look().text; }
  QString guide() const { return labelGuide(item_->look().text); }

 public slots:
  void Activate(int x, int y) { item_->activate(x, y); }
  void SecondaryActivate(int x, int y) { item_->activate(x, y); }
  void ContextMenu(int x, int y) { item_->contextMenu(x, y); }
  void Scroll(int, const QString&) {}

 signals:
  void NewIcon();
  void NewToolTip();
  void XAyatanaNewLabel(const QString& label, const QString& guide);

 private:
  StatusNotifierItem* item_;
};

// The context menu for hosts that draw menus themselves: a flat list, one
// entry per action of the menu (id = its place + 1; 0 is the root), which a
// "clicked" event triggers.
class MenuExporter : public QDBusAbstractAdaptor {
  Q_OBJECT
  Q_CLASSINFO("D-Bus Interface", "com.canonical.dbusmenu")
  Q_PROPERTY(uint Version READ version)
  Q_PROPERTY(QString TextDirection READ textDirection)
  Q_PROPERTY(QString Status READ status)
  Q_PROPERTY(QStringList IconThemePath READ iconThemePath)

 public:
  MenuExporter(QObject* parent, StatusNotifierItem* item) : QDBusAbstractAdaptor(parent), item_(item) {}

  uint version() const { return 3; }
  QString textDirection() const { return QStringLiteral("ltr"); }
  QString status() const { return QStringLiteral("normal"); }
  QStringList iconThemePath() const { return {}; }

 public slots:
  // Types spelt out in full: the bus finds them by these names.
  uint GetLayout(int parentId, int, const QStringList&, calorim::app::sni::MenuLayout& layout) {
    layout = {parentId, {}, {}};
    if (parentId != 0) return kRevision;
    layout.properties.insert(QStringLiteral("children-display"), QStringLiteral("submenu"));
    const QList<QAction*> actions = this->actions();
    for (int i = 0; i < actions.size(); ++i) layout.children.append({i + 1, properties(i + 1), {}});
    return kRevision;
  }
  calorim::app::sni::MenuPropertiesList GetGroupProperties(const QList<int>& ids, const QStringList&) {
    // Only the menu's own entries, each once, whatever the caller asks for.
    sni::MenuPropertiesList out;
    const qsizetype count = actions().size();
    for (int id = 1; id <= count; ++id) {
      if (ids.contains(id)) out.append({id, properties(id)});
    }
    return out;
  }
  QDBusVariant GetProperty(int id, const QString& name) { return QDBusVariant(properties(id).value(name)); }
  void Event(int id, const QString& eventId, const QDBusVariant&, uint) {
    if (eventId != QLatin1String("clicked")) return;
    const QList<QAction*> actions = this->actions();
    if (id < 1 || id > actions.size()) return;
    // After the reply: the action may open windows or quit.
    QMetaObject::invokeMethod(actions[id - 1], &QAction::trigger, Qt::QueuedConnection);
  }
  bool AboutToShow(int) { return false; }

 signals:
  void LayoutUpdated(uint revision, int parent);

 private:
  static constexpr uint kRevision = 1;

  QList<QAction*> actions() const { return item_->menu() ? item_->menu()->actions() : QList<QAction*>(); }
  QVariantMap properties(int id) const {
    const QList<QAction*> actions = this->actions();
    if (id < 1 || id > actions.size()) return {};
    const QAction* action = actions[id - 1];
    if (action->isSeparator()) return {{QStringLiteral("type"), QStringLiteral("separator")}};
    // The actions' texts carry no mnemonic, their "&" doubled; a menu label
    // here marks one with "_" instead, so a "_" of the text is doubled.
    QString label = action->text().replace(QStringLiteral("&&"), QStringLiteral("&"));
    label.replace(QLatin1Char('_'), QStringLiteral("__"));
    return {{QStringLiteral("label"), label}, {QStringLiteral("enabled"), action->isEnabled()}};
  }

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
      menuObject_(new QObject(this)),
      watcher_(new QDBusServiceWatcher(kWatcherService, bus_,
                                       QDBusServiceWatcher::WatchForRegistration |
                                           QDBusServiceWatcher::WatchForUnregistration,
                                       this)) {
  qDBusRegisterMetaType<sni::Pixmap>();
  qDBusRegisterMetaType<sni::Pixmaps>();
  qDBusRegisterMetaType<sni::ToolTip>();
  qDBusRegisterMetaType<sni::MenuLayout>();
  qDBusRegisterMetaType<sni::MenuProperties>();
  qDBusRegisterMetaType<sni::MenuPropertiesList>();
  new MenuExporter(menuObject_, this);
  static int made = 0;
  serviceName_ =
      QStringLiteral("org.kde.StatusNotifierItem-%1-%2").arg(QCoreApplication::applicationPid()).arg(++made);
  watcherPresent_ = watcherPresent(bus_);
  connect(watcher_, &QDBusServiceWatcher::serviceRegistered, this, [this] {
    watcherPresent_ = true;
    // A watcher that starts anew knows no items: each registers again.
    if (shown_) registerWithWatcher();
    emit availabilityChanged();
  });
  connect(watcher_, &QDBusServiceWatcher::serviceUnregistered, this, [this] {
    watcherPresent_ = false;
    emit availabilityChanged();
  });
}

StatusNotifierItem::~StatusNotifierItem() { hide(); }

void StatusNotifierItem::show() {
  if (shown_ || !bus_.isConnected()) return;
  if (!bus_.registerService(serviceName_)) return;
  if (!bus_.registerObject(kObjectPath, this, QDBusConnection::ExportAdaptors) ||
      !bus_.registerObject(kMenuPath, menuObject_, QDBusConnection::ExportAdaptors)) {
    bus_.unregisterObject(kObjectPath);
    bus_.unregisterService(serviceName_);
    return;
  }
  shown_ = true;
  registerWithWatcher();
}

void StatusNotifierItem::hide() {
  if (!shown_) return;
  bus_.unregisterObject(kObjectPath);
  bus_.unregisterObject(kMenuPath);
  bus_.unregisterService(serviceName_);
  shown_ = false;
}

void StatusNotifierItem::registerWithWatcher() {
  QDBusMessage call = QDBusMessage::createMethodCall(kWatcherService, QStringLiteral("/StatusNotifierWatcher"),
                                                     kWatcherService, QStringLiteral("RegisterStatusNotifierItem"));
  call << serviceName_;
  // No answer waited for: the watcher may live on this very thread.
  bus_.send(call);
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

QMenu* StatusNotifierItem::menu() const { return menu_.data(); }

void StatusNotifierItem::activate(int x, int y) {
  anchor_ = x == 0 && y == 0 ? QRect() : QRect(x, y, 1, 1);
  emit activated();
}

void StatusNotifierItem::contextMenu(int x, int y) {
  if (menu_) menu_->popup(QPoint(x, y));
}

}  // namespace calorim::app

#include "status_notifier_item.moc"
