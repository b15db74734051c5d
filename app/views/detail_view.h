#pragma once
// `DetailView`: the content of the "detail" window. One scrolling page of
// cards showing everything the live monitor holds for its latest sample:
// an error banner while the monitor has an error, the hero card (system, or
// else whole-platform, and SoC totals, power history, peak and mean,
// battery/adapter and RAM/swap), then the cards of the CPU, GPU, neural
// engine, the processes using the CPU's power, memory, display, other SoC
// blocks, unclassified channels (or the machine's own energy domains), fans
// and the machine.
//
// Up to 780 px wide the cards stand in one column; wider, in two columns
// (CPU, GPU, neural engine and processes on the left, the rest on the right). The view
// only assembles the cards (detail_cards.h) and hands them each publication
// of the monitor and each change of the temperature unit; the cards rewrite
// only texts and values and show or hide their conditional parts.
//
// Where the energy counters cannot be read, the totals of power, the history
// with its peak and mean, and the cards of the neural engine, memory, display
// and other blocks are left out, the CPU and GPU show "—" for their power, and
// a notice in the hero card ("energyNotice") says why and where access is
// explained; usage, temperatures, fans, battery and memory stay.
//
// It samples nothing and writes only the monitor's pause flag (cleared 0.5 s
// after the view is shown, and at once when it is hidden or closed) and its
// watch on processes (held while the view is shown).
//
// Inspected parts carry object names: "errorBanner" ("errorText"), "heroCard"
// ("systemTotal" with "systemCaption"/"systemValue", "totalsDivider",
// "socCaption", "socValue", "historyLine", "peakLabel", "avgLabel",
// "batteryGroup" with "batteryPercent", "batteryIcon", "adapterLabel",
// "chargingLabel", "boostLabel", and "memoryGroup" with "ramLabel",
// "swapLabel"), the cards "cpuCard", "gpuCard", "aneCard", "processesCard"
// ("methodLabel", "processesNone", "processRow" and "otherRow", each with
// "processName", "processCpu", "processWatts"), "memoryCard",
// "displayCard", "otherSocCard", "unclassifiedCard", "fansCard",
// "systemInfoCard".

#include <QWidget>

#include <vector>

class QHBoxLayout;
class QVBoxLayout;

namespace calorim::app {

class AneCard;
class CpuCard;
class DisplayCard;
class ErrorBanner;
class FansCard;
class GpuCard;
class HeroCard;
class HistoryLine;
class LiveMonitor;
class MachineCard;
class MemoryCard;
class OtherSocCard;
class Preferences;
class ProcessesCard;
class UnclassifiedCard;

class DetailView : public QWidget {
  Q_OBJECT

 public:
  static constexpr int kNarrowUpTo = 780;  // px: wider pages get two columns
  static constexpr int kUnpauseDelayMs = 500;

  // Both must outlive the view.
  DetailView(LiveMonitor& monitor, Preferences& preferences, QWidget* parent = nullptr);
  ~DetailView() override;

  static constexpr int kOpeningWidth = 480;
  static constexpr int kCardsShownAtOpening = 3;

  // The size a new window opens at: `kOpeningWidth` wide and tall enough to
  // show the first three cards shown (the error banner counts while shown)
  // without scrolling, at most `available` (the screen's room).
  [[nodiscard]] QSize openingSize(QSize available) const;

  // True while the cards stand in two columns.
  [[nodiscard]] bool isWide() const { return wide_; }
  [[nodiscard]] HistoryLine* historyLine() const;

 protected:
  void resizeEvent(QResizeEvent* event) override;
  void showEvent(QShowEvent* event) override;
  void hideEvent(QHideEvent* event) override;

 private:
  void arrange(bool wide);
  void refresh();
  void watchProcesses(bool watching);

  LiveMonitor& monitor_;
  Preferences& preferences_;
  bool wide_ = false;
  bool arranged_ = false;
  bool watchingProcesses_ = false;

  QHBoxLayout* columns_ = nullptr;
  QVBoxLayout* leftColumn_ = nullptr;   // layouts of one widget, so that moving a
  QVBoxLayout* rightColumn_ = nullptr;  // card between them never reparents it
  std::vector<QWidget*> cards_;  // in the one-column order

  ErrorBanner* banner_;
  HeroCard* hero_;
  CpuCard* cpu_;
  GpuCard* gpu_;
  AneCard* ane_;
  ProcessesCard* processes_;
  MemoryCard* memory_;
  DisplayCard* display_;
  OtherSocCard* otherSoc_;
  UnclassifiedCard* unclassified_;
  FansCard* fans_;
  MachineCard* machine_;
};

}  // namespace calorim::app
