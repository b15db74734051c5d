#pragma once
// The cards of the detail window. Each builds its widgets once and then
// only rewrites texts and values, and shows or hides its conditional parts,
// from each new sample; lists of channels, core temperatures and fans are
// rebuilt only when their length or names change. Inspected parts carry the
// object names listed in detail_view.h.

#include <QWidget>

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "app/model/power_sample.h"
#include "app/model/preferences.h"
#include "app/views/layout_widgets.h"
#include "core/system_info.h"

class QLabel;
class QToolButton;
class QVBoxLayout;

namespace calorim::app {

class ChannelGrid;
class ClusterBar;
class CoreTempGrid;
class HistoryLine;
class SectionHeader;
class SymbolIcon;
class UsageBar;
class WattsRow;

// The red banner of a failed start ("errorBanner", text "errorText").
class ErrorBanner : public BannerGround {
 public:
  explicit ErrorBanner(QWidget* parent = nullptr);
  // Shown with `error`'s text; hidden without one.
  void update(const std::optional<QString>& error);

 private:
  QLabel* text_;
};

// Totals, power history with peak and mean, the battery and memory lines.
class HeroCard : public Card {
 public:
  HeroCard(bool simulated, QWidget* parent = nullptr);
  // `notice`: why no power figures are shown, if so.
  void update(const PowerSample& s, const std::vector<double>& history, double peak, double avg,
              const std::optional<QString>& notice);
  [[nodiscard]] HistoryLine* historyLine() const { return historyLine_; }

 private:
  QWidget* systemTotal_;
  QLabel* systemCaption_;
  QLabel* systemValue_;
  QWidget* totalsDivider_;
  QLabel* socCaption_;
  QLabel* socValue_;
  QLabel* energyNotice_;
  int socPixelSize_;
  HistoryLine* historyLine_;
  QLabel* peak_;
  QLabel* avg_;
  QWidget* batteryGroup_;
  QLabel* batteryPercent_ = nullptr;
  SymbolIcon* batteryIcon_ = nullptr;
  QLabel* adapter_;
  QLabel* charging_;
  QLabel* boost_;
  QWidget* memoryGroup_;
  QLabel* ram_;
  QLabel* swap_;
};

// CPU power and temperature, the two clusters, cluster channels, cores and core temperatures.
class CpuCard : public Card {
 public:
  explicit CpuCard(QWidget* parent = nullptr);
  void update(const PowerSample& s, TempUnit unit);

 private:
  SectionHeader* header_;
  ClusterBar* eCluster_;
  ClusterBar* pCluster_;
  QWidget* clusterSection_;
  QVBoxLayout* clusterRowsLayout_;
  std::vector<WattsRow*> clusterRows_;
  QWidget* coreSection_;
  ChannelGrid* coreGrid_;
  QWidget* coreTempSection_;
  CoreTempGrid* coreTempGrid_;
};

// GPU power, temperature, usage and frequency. With several GPUs listed one
// by one, one item per GPU ("gpuItem": "gpuName", "gpuFigures") in place of
// the usage and frequency row, each with its power, busy share, clock and
// temperature.
class GpuCard : public Card {
 public:
  explicit GpuCard(QWidget* parent = nullptr);
  void update(const PowerSample& s, TempUnit unit);

 private:
  struct GpuItem {
    QWidget* widget;
    QLabel* figures;
  };

  SectionHeader* header_;
  UsageBar* usage_;
  QLabel* freq_;
  QWidget* list_;
  std::vector<GpuItem> items_;
  std::vector<std::string> names_;
};

// The neural engine's power; hidden without power figures.
class AneCard : public Card {
 public:
  explicit AneCard(QWidget* parent = nullptr);
  void update(const PowerSample& s);

 private:
  WattsRow* row_;
};

// A titled card of power rows with their sum ("title", "total").
class BreakdownCard : public Card {
 protected:
  BreakdownCard(const char* objectName, const QString& title, QWidget* parent);
  WattsRow* addRow(const char* objectName);
  void setTotal(double watts);

 private:
  QVBoxLayout* stack_;
  QLabel* total_;
};

// DRAM, memory controller and interface.
class MemoryCard : public BreakdownCard {
 public:
  explicit MemoryCard(QWidget* parent = nullptr);
  void update(const PowerSample& s);

 private:
  WattsRow* dram_;
  WattsRow* amcc_;
  WattsRow* dcs_;
};

// Built-in and external display; each row only while it draws power.
class DisplayCard : public BreakdownCard {
 public:
  explicit DisplayCard(QWidget* parent = nullptr);
  void update(const PowerSample& s);

 private:
  WattsRow* internal_;
  WattsRow* external_;
};

// Fabric, image signal processor and media engines.
class OtherSocCard : public BreakdownCard {
 public:
  explicit OtherSocCard(QWidget* parent = nullptr);
  void update(const PowerSample& s);

 private:
  WattsRow* fabric_;
  WattsRow* isp_;
  WattsRow* media_;
};

// The channels no domain claims, collapsed until the user opens it, with
// their count and sum. On a machine with energy domains of its own ("Package",
// "Cores", "Platform" on a PC) the card lists those instead, by the machine's
// names and without a sum (they overlap): the channels left unclaimed there
// are what remains of one of them.
class UnclassifiedCard : public DisclosureGround {
 public:
  explicit UnclassifiedCard(QWidget* parent = nullptr);
  void update(const PowerSample& s);

 private:
  QLabel* title_;
  QToolButton* toggle_;
  QLabel* count_;
  QLabel* total_;
  ChannelGrid* grid_;
};

// One item per fan, in list order.
class FansCard : public Card {
 public:
  explicit FansCard(QWidget* parent = nullptr);
  void update(const PowerSample& s);

 private:
  struct FanItem {
    QWidget* widget;
    QLabel* rpm;
  };

  QWidget* row_;
  std::vector<FanItem> items_;
  std::vector<std::int64_t> ids_;
};

// The processes using the most of the CPU's power (up to ten, each with its
// CPU time and watts), everything else in one row, and how their power was
// found; hidden without power figures. Until the processes have been read
// once it shows "—".
class ProcessesCard : public Card {
 public:
  explicit ProcessesCard(QWidget* parent = nullptr);
  void update(const PowerSample& s);

 private:
  struct Row {
    QWidget* widget;
    QLabel* name;
    QLabel* cpu;
    QLabel* watts;
  };

  QLabel* method_;
  QLabel* none_;
  std::vector<Row> rows_;
  Row other_;
};

// The chip, its cores, GPU cores and memory size; hidden until they are known.
class MachineCard : public Card {
 public:
  explicit MachineCard(QWidget* parent = nullptr);
  void update(const std::optional<SystemInfo>& info);

 private:
  QLabel* chip_ = nullptr;
  QLabel* cores_ = nullptr;
  QLabel* gpuCores_ = nullptr;
  QLabel* memory_ = nullptr;
};

}  // namespace calorim::app
