#pragma once
// The application's three stored preferences, all text, in the user's settings
// (QSettings with organisation and application "Calorim": the user defaults on
// macOS, an INI file under the XDG config directory on Linux):
//
//   "menuBarItems"  default ""         the chosen items, see `MenuBarConfig`
//   "menuBarStyle"  default "full"     "full", "short" or "minimal"
//   "tempUnit"      default "celsius"  "celsius" or "fahrenheit"
//
// A stored text that is not a valid raw value is kept as it is; the typed
// readers apply the fallbacks (style `full`, unit `celsius`, unknown item
// names dropped and nothing left meaning `defaultItems`).
//
// Besides these, the size each window had when it last closed (see
// `windowSize`).
//
// The application makes one `Preferences` and hands it to every view: each
// setter writes at once and signals the change, so every view sees it at once.
// Use from the UI thread.

#include <QObject>
#include <QSettings>
#include <QSize>
#include <QString>

#include <optional>

#include "app/model/menu_bar_text.h"

namespace calorim::app {

class Preferences : public QObject {
  Q_OBJECT

 public:
  static inline const QString kMenuBarItemsKey = QStringLiteral("menuBarItems");
  static inline const QString kMenuBarStyleKey = QStringLiteral("menuBarStyle");
  static inline const QString kTempUnitKey = QStringLiteral("tempUnit");

  explicit Preferences(QObject* parent = nullptr);

  // The stored texts, or their defaults when nothing (or a non-text value) is stored.
  [[nodiscard]] QString menuBarItemsRaw() const;
  [[nodiscard]] QString menuBarStyleRaw() const;
  [[nodiscard]] QString tempUnitRaw() const;

  // The stored texts read with their fallbacks.
  [[nodiscard]] MenuBarItemSet menuBarItems() const;
  [[nodiscard]] MenuBarStyle menuBarStyle() const;
  [[nodiscard]] TempUnit tempUnit() const;

  // Store `raw` as it is (no check) and signal when it differs from what was stored.
  void setMenuBarItemsRaw(const QString& raw);
  void setMenuBarStyleRaw(const QString& raw);
  void setTempUnitRaw(const QString& raw);

  // Store the stored form of a typed value.
  void setMenuBarItems(const MenuBarItemSet& items);
  void setMenuBarStyle(MenuBarStyle style);
  void setTempUnit(TempUnit unit);

  // The size a window of `identifier` had when it last closed
  // ("windows/<identifier>/size"); absent when none, or none of sense, is stored.
  [[nodiscard]] std::optional<QSize> windowSize(const QString& identifier) const;
  void setWindowSize(const QString& identifier, QSize size);

 signals:
  void menuBarItemsChanged();
  void menuBarStyleChanged();
  void tempUnitChanged();

 private:
  [[nodiscard]] QString text(const QString& key, const QString& fallback) const;
  // Stores `raw` under `key`; true when that changed the stored value.
  bool store(const QString& key, const QString& raw, const QString& fallback);

  QSettings settings_;
};

}  // namespace calorim::app
