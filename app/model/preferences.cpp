#include "app/model/preferences.h"

#include <QVariant>

namespace calorim::app {
namespace {

const QString kDefaultItems = QString();
const QString kDefaultStyle = QStringLiteral("full");
const QString kDefaultUnit = QStringLiteral("celsius");

}  // namespace

Preferences::Preferences(QObject* parent)
    : QObject(parent), settings_(QStringLiteral("Calorim"), QStringLiteral("Calorim")) {}

QString Preferences::text(const QString& key, const QString& fallback) const {
  const QVariant v = settings_.value(key);
  if (v.typeId() == QMetaType::QString) return v.toString();
  // The INI backend reads an unquoted text holding commas, as a hand-edited
  // "menuBarItems=cpuTemp,socPower" would be, as a list of its pieces.
  if (v.typeId() == QMetaType::QStringList) return v.toStringList().join(QLatin1Char(','));
  // Nothing stored, or a value of another kind written by another program.
  return fallback;
}

bool Preferences::store(const QString& key, const QString& raw, const QString& fallback) {
  const bool changed = text(key, fallback) != raw;
  settings_.setValue(key, raw);
  settings_.sync();
  return changed;
}

QString Preferences::menuBarItemsRaw() const { return text(kMenuBarItemsKey, kDefaultItems); }
QString Preferences::menuBarStyleRaw() const { return text(kMenuBarStyleKey, kDefaultStyle); }
QString Preferences::tempUnitRaw() const { return text(kTempUnitKey, kDefaultUnit); }

MenuBarItemSet Preferences::menuBarItems() const { return MenuBarConfig::load(menuBarItemsRaw().toStdString()); }
MenuBarStyle Preferences::menuBarStyle() const { return menuBarStyleFromStored(menuBarStyleRaw().toStdString()); }
TempUnit Preferences::tempUnit() const { return tempUnitFromStored(tempUnitRaw().toStdString()); }

void Preferences::setMenuBarItemsRaw(const QString& raw) {
  if (store(kMenuBarItemsKey, raw, kDefaultItems)) emit menuBarItemsChanged();
}

void Preferences::setMenuBarStyleRaw(const QString& raw) {
  if (store(kMenuBarStyleKey, raw, kDefaultStyle)) emit menuBarStyleChanged();
}

void Preferences::setTempUnitRaw(const QString& raw) {
  if (store(kTempUnitKey, raw, kDefaultUnit)) emit tempUnitChanged();
}

void Preferences::setMenuBarItems(const MenuBarItemSet& items) {
  setMenuBarItemsRaw(QString::fromStdString(MenuBarConfig::save(items)));
}

void Preferences::setMenuBarStyle(MenuBarStyle style) {
  setMenuBarStyleRaw(QString::fromUtf8(rawValue(style).data(), static_cast<qsizetype>(rawValue(style).size())));
}

void Preferences::setTempUnit(TempUnit unit) {
  setTempUnitRaw(QString::fromUtf8(rawValue(unit).data(), static_cast<qsizetype>(rawValue(unit).size())));
}

namespace {

QString windowSizeKey(const QString& identifier) { return QStringLiteral("windows/%1/size").arg(identifier); }

}  // namespace

std::optional<QSize> Preferences::windowSize(const QString& identifier) const {
  const QVariant stored = settings_.value(windowSizeKey(identifier));
  if (stored.typeId() != QMetaType::QSize) return std::nullopt;
  const QSize size = stored.toSize();
  // Another program may have written anything here.
  constexpr int kLargest = 16384;
  if (!size.isValid() || size.isEmpty() || size.width() > kLargest || size.height() > kLargest) return std::nullopt;
  return size;
}

void Preferences::setWindowSize(const QString& identifier, QSize size) {
  settings_.setValue(windowSizeKey(identifier), size);
}

}  // namespace calorim::app
