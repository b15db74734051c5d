#pragma once
// The settings window's content (as large as its sections ask, scrolling
// only where the window is made smaller): which metrics the menu bar shows and in which style, the
// temperature unit used everywhere, and whether the application starts at
// login. Four sections:
//
//   "settings.menuBarDisplay"  "Select up to 3 items", one checkbox per item
//   "settings.tempUnit"        two segments, Celsius and Fahrenheit
//   "Display Style"            three radio buttons, full / short / minimal,
//                              each with the line it would show (`styleExample`)
//   "General"                  "Launch at Login"
//
// The three preferences are written at once on every change and read back
// whenever they change, so the view holds no state of its own apart from the
// launch-at-login toggle, which is read from the login item when the view is
// made.
//
// Only the items the machine measures are offered (all of them until the
// machine is known, `setMachine`). A stored item the machine lacks stays
// stored, ticked and listed, its text saying that it is not measured here (the
// menu bar shows "—" for it), until the user unticks it.
//
// Checkbox rule: at most 3 items can be ticked; while 3 or more are (a stored
// selection may hold more) every unticked box is disabled. Unticking the last
// ticked item stores the default selection (`socPower` alone) instead of
// nothing.
//
// Inspected parts carry object names: "item_<raw value>" for the checkboxes
// (e.g. "item_socPower"), "celsiusSegment", "fahrenheitSegment",
// "style_full", "style_short", "style_minimal", "launchAtLogin", and
// "loginItemNote": the line under the switch that says why it is disabled or
// why the last change failed (hidden when there is nothing to say).

#include <QString>
#include <QWidget>

#include <map>
#include <memory>

#include "app/model/menu_bar_text.h"

class QAbstractButton;
class QCheckBox;
class QLabel;
class QRadioButton;
class QScrollArea;

namespace calorim::app {

class Preferences;

// What a request to change the login registration came to.
struct LoginItemChange {
  bool succeeded = false;
  // Why it failed, in the system's own words; empty when it gave none.
  QString error;
};

// The application's registration to start when the user logs in.
class LoginItem {
 public:
  virtual ~LoginItem() = default;
  // True when the application is registered and the registration is active.
  [[nodiscard]] virtual bool isEnabled() const = 0;
  // Registers (`enabled`) or removes the registration. Blocks on file or
  // system calls; never throws.
  virtual LoginItemChange setEnabled(bool enabled) = 0;
  // Why the registration cannot be changed from where the application runs,
  // as a sentence for the user; empty when it can.
  [[nodiscard]] virtual QString unavailableReason() const { return {}; }
};

class SettingsView : public QWidget {
  Q_OBJECT

 public:
  static constexpr int kMinimumWidth = 320;

  // `preferences` and `loginItem` must outlive the view.
  SettingsView(Preferences& preferences, LoginItem& loginItem, QWidget* parent = nullptr);

  // The machine whose items are offered; null while it is not known.
  void setMachine(std::shared_ptr<const MachineDescription> machine);

  // The size that shows every section without scrolling.
  [[nodiscard]] QSize sizeHint() const override;

 protected:
  // Grows a window opened shorter than its sections, once they are laid out.
  void showEvent(QShowEvent* event) override;

 private:
  QWidget* buildItemsSection();
  QWidget* buildUnitSection();
  QWidget* buildStyleSection();
  QWidget* buildGeneralSection();
  void refresh();
  void itemClicked(MenuBarItem item, bool ticked);
  void launchAtLoginClicked(bool enabled);

  Preferences& preferences_;
  LoginItem& loginItem_;
  std::map<MenuBarItem, QCheckBox*> itemBoxes_;
  QAbstractButton* celsius_ = nullptr;
  QAbstractButton* fahrenheit_ = nullptr;
  std::map<MenuBarStyle, QRadioButton*> styleButtons_;
  QCheckBox* launchAtLogin_ = nullptr;
  QScrollArea* scroll_ = nullptr;
  QLabel* loginItemNote_ = nullptr;
  std::shared_ptr<const MachineDescription> machine_;
};

}  // namespace calorim::app
