#pragma once
// The menu-bar panel: what the user sees after clicking the tray icon. A
// narrow column (280 px, 12 px margins, 8 px between elements) holding the
// application's name, the power of the CPU, GPU, neural engine and DRAM with
// their load and temperature (`PowerRow`), one row per fan, the chip's total,
// the whole platform's power where the machine measures it (below the total,
// which it holds),
// the processes using significant energy (up to three over a tenth of the
// CPU's power, each with its watts, and how their power was found), the
// buttons that open the settings, detail and ports windows or quit, and,
// when the update check found one, a link to the newer version.
//
// Every figure carries what a screen reader says for it as its accessible
// name ("CPU power 3.62 watts"; `setSpoken`).
//
// The panel holds no state of its own: every publication of the monitor, a
// found update and a change of the temperature unit redraw it from the
// monitor's latest sample and the preferences. Before the first sample it
// shows the zero sample. Under the total, a note ("totalNote") says how much
// of it comes from parts without a row. Powers are written "%.2f W", loads "%.0f%%",
// temperatures in the chosen unit without its letter, coloured by their
// Celsius value (temperature_colour.h); all numbers in the C locale. Where the
// energy counters cannot be read, every power shows as "—", the processes are
// left out, and a notice under the title ("energyNotice") says why and where
// access is explained. While the panel is shown it holds a watch on the
// monitor's processes, so they are only read while someone can see them.
//
// Inspected parts carry object names: "title"; the rows "cpuRow", "gpuRow",
// "aneRow", "dramRow" (each with "label", "usage", "watts", "temp"); "fans"
// holding one "fanRow" per fan (with "fanName", "fanSpeed"); "totalLabel",
// "totalValue"; "significantDivider", "significantTitle", "significantCaption",
// "significantNone" and three "significantRow" (each with "processName",
// "processWatts"); the buttons "settingsButton", "detailButton", "portsButton",
// "quitButton"; "updateDivider" and "updateLink".

#include <QString>
#include <QWidget>

#include <cstdint>
#include <functional>
#include <optional>
#include <vector>

#include "app/model/menu_bar_text.h"
#include "core/platform/counter_report_port.h"

class QLabel;
class QPushButton;
class QVBoxLayout;

namespace calorim::app {

class LiveMonitor;
class Preferences;

// What the panel's buttons ask of the application shell. Each may be empty.
struct PanelActions {
  // Opens the window of `identifier` ("detail", "settings", "ports"), or
  // brings it forward when it is open.
  std::function<void(const QString& identifier)> openWindow;
  // Switches the application's presence to regular (shown among the running
  // applications while one of its windows is open).
  std::function<void()> showApplication;
  // Brings the application to the front, ahead of other applications.
  std::function<void()> bringToFront;
  // Ends the application.
  std::function<void()> quit;
};

// What the panel's buttons do, also offered elsewhere (the status item's
// context menu): the settings window brought forward; the detail window, with
// sampling paused until it is shown; the ports window.
void openSettingsWindow(const PanelActions& actions);
void openDetailWindow(LiveMonitor& monitor, const PanelActions& actions);
void openPortsWindow(const PanelActions& actions);

// Why no power is shown: where the machine has no counters, the text of
// "energy.absent" (what still works; no access would help); where this user
// may not read them, "energy.denied" with the counters' folder (a zero-width
// space after each "/", where a wrapped line may break), or
// "energy.unavailable" where the backend names no folder. Absent while the
// counters are read.
[[nodiscard]] std::optional<QString> energyNotice(const EnergyAccess& access);

// One domain's line: label (40 px, leading), a flexible space, the load
// (36 px, trailing, dimmed; only when present), the watts (64 px, trailing)
// and the temperature (36 px; empty when absent or not above 0). Monospaced
// body text, so the columns of all rows line up.
class PowerRow : public QWidget {
  Q_OBJECT

 public:
  static constexpr int kLabelWidth = 40;
  static constexpr int kUsageWidth = 36;
  static constexpr int kWattsWidth = 64;
  static constexpr int kTempWidth = 36;
  static constexpr int kColumnGap = 6;  // between the usage, the watts and the temperature

  explicit PowerRow(const QString& label, QWidget* parent = nullptr);

  // `temp` in °C, written in `unit`; `usage` a fraction 0..1. Absent values
  // leave their box empty (the load box then takes no room at all).
  // Absent `watts` (no energy counters) shows as "—".
  void setValues(std::optional<double> watts, std::optional<double> temp, std::optional<double> usage, TempUnit unit);

 private:
  QLabel* label_;
  QLabel* usage_;
  QLabel* watts_;
  QLabel* temp_;
};

class MenuBarPanel : public QWidget {
  Q_OBJECT

 public:
  static constexpr int kWidth = 280;
  static constexpr int kMargin = 12;
  static constexpr int kSpacing = 8;
  // A process uses significant energy above this share of the CPU's power.
  static constexpr double kSignificantShare = 0.10;
  static constexpr std::size_t kSignificantCount = 3;

  // `monitor` and `preferences` must outlive the panel.
  MenuBarPanel(LiveMonitor& monitor, Preferences& preferences, PanelActions actions, QWidget* parent = nullptr);
  ~MenuBarPanel() override;

  // Redraws from the monitor's latest sample and the preferences.
  void refresh();

 protected:
  void showEvent(QShowEvent* event) override;
  void hideEvent(QHideEvent* event) override;

 private:
  void refreshFans();
  void refreshProcesses();
  void watchProcesses(bool watching);
  void refreshUpdate();
  void openSettings();
  void openDetail();
  void openPorts();

  LiveMonitor& monitor_;
  Preferences& preferences_;
  PanelActions actions_;

  PowerRow* cpuRow_;
  PowerRow* gpuRow_;
  PowerRow* aneRow_;
  PowerRow* dramRow_;
  QWidget* fansDivider_;
  QWidget* fans_;
  QVBoxLayout* fansLayout_;
  std::vector<std::int64_t> fanIds_;  // of the fan rows shown
  QLabel* totalValue_;
  QLabel* totalNote_;
  PowerRow* platformRow_;
  QWidget* significantDivider_;
  QLabel* significantTitle_;
  QLabel* significantCaption_;
  QLabel* significantNone_;
  std::vector<QWidget*> significantRows_;
  bool watchingProcesses_ = false;
  QLabel* energyNotice_;
  QWidget* updateDivider_;
  QLabel* updateLink_;
};

}  // namespace calorim::app
