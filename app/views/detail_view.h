#pragma once
// `DetailView`: the content of the "detail" window. One scrolling page of
// cards showing everything the live monitor holds for its latest sample:
// an error banner while the monitor has an error, the hero card (system and
// SoC totals, power history, peak and mean, battery/adapter and RAM/swap),
// then the cards of the CPU, GPU, neural engine, memory, display, other SoC
// blocks, unclassified channels, fans and the machine.
//
// Up to 780 px wide the cards stand in one column; wider, in two columns
// (CPU, GPU and neural engine on the left, the rest on the right). The view
// is built once; each publication of the monitor (and a change of the
// temperature unit) only rewrites texts and values and shows or hides the
// conditional parts, and lists of channels, core temperatures and fans are
// rebuilt only when their length or names change.
//
// Where the energy counters cannot be read, the totals of power, the history
// with its peak and mean, and the cards of the neural engine, memory, display
// and other blocks are left out, the CPU and GPU show "—" for their power, and
// a notice in the hero card ("energyNotice") says why and where access is
// explained; usage, temperatures, fans, battery and memory stay.
//
// It samples nothing and writes only the monitor's pause flag: cleared 0.5 s
// after the view is shown, and at once when it is hidden or closed.
//
// Inspected parts carry object names: "errorBanner" ("errorText"), "heroCard"
// ("systemTotal" with "systemCaption"/"systemValue", "totalsDivider",
// "socCaption", "socValue", "historyLine", "peakLabel", "avgLabel",
// "batteryGroup" with "batteryPercent", "batteryIcon", "adapterLabel",
// "chargingLabel", "boostLabel", and "memoryGroup" with "ramLabel",
// "swapLabel"), the cards "cpuCard", "gpuCard", "aneCard", "memoryCard",
// "displayCard", "otherSocCard", "unclassifiedCard", "fansCard",
// "systemInfoCard".

#include <QWidget>

#include <cstdint>
#include <utility>
#include <vector>

class QHBoxLayout;
class QLabel;
class QScrollArea;
class QTimer;
class QToolButton;
class QVBoxLayout;

namespace calorim::app {

class ChannelGrid;
class ClusterBar;
class CoreTempGrid;
class HistoryLine;
class LiveMonitor;
class Preferences;
class SectionHeader;
class SymbolIcon;
class UsageBar;
class WattsRow;

class DetailView : public QWidget {
  Q_OBJECT

 public:
  static constexpr int kNarrowUpTo = 780;  // px: wider pages get two columns
  static constexpr int kUnpauseDelayMs = 500;

  // Both must outlive the view.
  DetailView(LiveMonitor& monitor, Preferences& preferences, QWidget* parent = nullptr);
  ~DetailView() override;

  // True while the cards stand in two columns.
  [[nodiscard]] bool isWide() const { return wide_; }
  [[nodiscard]] HistoryLine* historyLine() const { return historyLine_; }

 protected:
  void resizeEvent(QResizeEvent* event) override;
  void showEvent(QShowEvent* event) override;
  void hideEvent(QHideEvent* event) override;

 private:
  struct FanItem {
    QWidget* widget;
    QLabel* name;
    QLabel* rpm;
  };
  struct BreakdownCard {
    QWidget* card;
    QLabel* total;
  };

  void buildBanner(QVBoxLayout* page);
  void buildHero(QVBoxLayout* page);
  void buildCards();
  QWidget* buildBreakdownCard(const char* objectName, const QString& title, BreakdownCard& out,
                              std::vector<std::pair<WattsRow*, const char*>> rows);
  void arrange(bool wide);
  void refresh();
  void refreshHero();
  void refreshCpu();
  void refreshFans();
  void refreshSystemInfo();

  LiveMonitor& monitor_;
  Preferences& preferences_;
  bool wide_ = false;
  bool arranged_ = false;

  QScrollArea* scroll_ = nullptr;
  QHBoxLayout* columns_ = nullptr;
  QVBoxLayout* leftColumn_ = nullptr;   // layouts of one widget, so that moving a
  QVBoxLayout* rightColumn_ = nullptr;  // card between them never reparents it
  std::vector<QWidget*> cards_;  // in the one-column order

  // Error banner.
  QWidget* banner_ = nullptr;
  QLabel* bannerText_ = nullptr;

  // Hero card.
  QWidget* systemTotal_ = nullptr;
  QLabel* systemCaption_ = nullptr;
  QLabel* systemValue_ = nullptr;
  QWidget* totalsDivider_ = nullptr;
  QLabel* socValue_ = nullptr;
  QLabel* energyNotice_ = nullptr;
  int socPixelSize_ = 0;
  HistoryLine* historyLine_ = nullptr;
  QLabel* peak_ = nullptr;
  QLabel* avg_ = nullptr;
  QWidget* batteryGroup_ = nullptr;
  QLabel* batteryPercent_ = nullptr;
  SymbolIcon* batteryIcon_ = nullptr;
  QLabel* adapter_ = nullptr;
  QLabel* charging_ = nullptr;
  QLabel* boost_ = nullptr;
  QWidget* memoryGroup_ = nullptr;
  QLabel* ram_ = nullptr;
  QLabel* swap_ = nullptr;

  // CPU card.
  SectionHeader* cpuHeader_ = nullptr;
  ClusterBar* eCluster_ = nullptr;
  ClusterBar* pCluster_ = nullptr;
  QWidget* clusterSection_ = nullptr;
  QVBoxLayout* clusterRowsLayout_ = nullptr;
  std::vector<WattsRow*> clusterRows_;
  QWidget* coreSection_ = nullptr;
  ChannelGrid* coreGrid_ = nullptr;
  QWidget* coreTempSection_ = nullptr;
  CoreTempGrid* coreTempGrid_ = nullptr;

  // GPU and neural engine.
  SectionHeader* gpuHeader_ = nullptr;
  UsageBar* gpuUsage_ = nullptr;
  QLabel* gpuFreq_ = nullptr;
  QWidget* aneCard_ = nullptr;
  WattsRow* aneRow_ = nullptr;

  // Memory, display, other SoC.
  BreakdownCard memoryCard_{};
  WattsRow* dramRow_ = nullptr;
  WattsRow* amccRow_ = nullptr;
  WattsRow* dcsRow_ = nullptr;
  BreakdownCard displayCard_{};
  WattsRow* displayRow_ = nullptr;
  WattsRow* displayExtRow_ = nullptr;
  BreakdownCard otherSocCard_{};
  WattsRow* fabricRow_ = nullptr;
  WattsRow* ispRow_ = nullptr;
  WattsRow* mediaRow_ = nullptr;

  // Unclassified channels.
  QWidget* unclassifiedCard_ = nullptr;
  QToolButton* unclassifiedToggle_ = nullptr;
  QLabel* unclassifiedCount_ = nullptr;
  QLabel* unclassifiedTotal_ = nullptr;
  ChannelGrid* unclassifiedGrid_ = nullptr;

  // Fans.
  QWidget* fansCard_ = nullptr;
  QWidget* fansRow_ = nullptr;
  std::vector<FanItem> fanItems_;
  std::vector<std::int64_t> fanIds_;

  // The machine.
  QWidget* systemInfoCard_ = nullptr;
  QLabel* chipLabel_ = nullptr;
  QLabel* coresLabel_ = nullptr;
  QLabel* gpuCoresLabel_ = nullptr;
  QLabel* memoryLabel_ = nullptr;
};

}  // namespace calorim::app
