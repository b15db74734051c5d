#include "app/views/detail_cards.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QToolButton>
#include <QVBoxLayout>

#include <numeric>

#include "app/model/strings.h"
#include "app/views/detail_text.h"
#include "app/views/detail_widgets.h"
#include "app/views/palette.h"

namespace calorim::app {
namespace {

QLabel* makeLabel(const char* objectName, const QFont& font, QWidget* parent, const QColor& colour = {}) {
  auto* label = new QLabel(parent);
  label->setObjectName(QLatin1String(objectName));
  label->setFont(font);
  label->setTextFormat(Qt::PlainText);
  if (colour.isValid()) setLabelColour(label, colour);
  return label;
}

// An icon followed by its text, as one item of a row.
QWidget* symbolItem(QWidget* parent, const char* symbol, QLabel*& label, const char* labelName, const QFont& font,
                    const QColor& colour, SymbolIcon** icon = nullptr) {
  auto* item = new QWidget(parent);
  auto* row = new QHBoxLayout(item);
  row->setContentsMargins(0, 0, 0, 0);
  row->setSpacing(4);
  auto* symbolIcon = new SymbolIcon(QLatin1String(symbol), colour, QFontMetrics(font).height() - 2, item);
  label = makeLabel(labelName, font, item, colour);
  row->addWidget(symbolIcon, 0, Qt::AlignVCenter);
  row->addWidget(label, 0, Qt::AlignVCenter);
  if (icon != nullptr) *icon = symbolIcon;
  return item;
}

// Sets `label` to `text` and shows it; hides it without a text.
void showText(QLabel* label, const std::optional<QString>& text) {
  if (text) setLabelText(label, *text);
  setShown(label, text.has_value());
}

// What the sample's machine measures; null while that is not known yet.
const MeasuredFigures* measuredBy(const PowerSample& s) { return s.machine ? &s.machine->measured : nullptr; }

std::optional<double> powerOf(const PowerSample& s, double watts) {
  return s.hasPower ? std::optional(watts) : std::nullopt;
}

}  // namespace

// ---- error banner ---------------------------------------------------------------

ErrorBanner::ErrorBanner(QWidget* parent) : BannerGround("errorBanner", parent) {
  auto* row = new QHBoxLayout(this);
  row->setContentsMargins(10, 8, 10, 8);
  row->setSpacing(8);
  auto* icon = new SymbolIcon(QStringLiteral("exclamationmark.triangle.fill"), colours::kRed, 16, this);
  text_ = makeLabel("errorText", styleFont(TextStyle::body), this, colours::kRed);
  text_->setWordWrap(true);
  row->addWidget(icon, 0, Qt::AlignTop);
  row->addWidget(text_, 1);
  hide();
}

void ErrorBanner::update(const std::optional<QString>& error) {
  if (error) setLabelText(text_, *error);
  setShown(this, error.has_value());
}

// ---- hero ---------------------------------------------------------------------------

HeroCard::HeroCard(bool simulated, QWidget* parent) : Card("heroCard", parent) {
  auto* stack = cardStack(this, 10);
  const QColor secondary = secondaryTextColour(palette());
  const QFont captionFont = styleFont(TextStyle::subheadline);

  if (simulated) {
    QLabel* label = makeLabel("simulatedLabel", styleFont(TextStyle::callout, QFont::DemiBold), this, colours::kOrange);
    label->setText(localized("detail.simulated"));
    label->setWordWrap(true);
    stack->addWidget(label);
  }
  energyNotice_ = makeLabel("energyNotice", styleFont(TextStyle::callout), this, secondary);
  energyNotice_->setWordWrap(true);
  energyNotice_->hide();
  stack->addWidget(energyNotice_);

  // 1. Totals.
  auto* totals = new QHBoxLayout;
  totals->setSpacing(24);
  systemTotal_ = new QWidget(this);
  systemTotal_->setObjectName(QStringLiteral("systemTotal"));
  auto* systemColumn = new QVBoxLayout(systemTotal_);
  systemColumn->setContentsMargins(0, 0, 0, 0);
  systemColumn->setSpacing(4);
  systemCaption_ = makeLabel("systemCaption", captionFont, systemTotal_, secondary);
  systemValue_ = makeLabel("systemValue", totalFont(36), systemTotal_);
  systemColumn->addWidget(systemCaption_, 0, Qt::AlignHCenter);
  systemColumn->addWidget(systemValue_, 0, Qt::AlignHCenter);
  totalsDivider_ = makeDivider(this, Qt::Vertical);
  totalsDivider_->setObjectName(QStringLiteral("totalsDivider"));
  totalsDivider_->setFixedHeight(50);
  auto* socColumn = new QVBoxLayout;
  socColumn->setSpacing(4);
  socCaption_ = makeLabel("socCaption", captionFont, this, secondary);
  socCaption_->setText(localized("detail.socTotal"));
  socColumn->addWidget(socCaption_, 0, Qt::AlignHCenter);
  socPixelSize_ = 36;
  socValue_ = makeLabel("socValue", totalFont(socPixelSize_), this);
  socColumn->addWidget(socValue_, 0, Qt::AlignHCenter);
  totals->addStretch(1);
  totals->addWidget(systemTotal_, 0, Qt::AlignVCenter);
  totals->addWidget(totalsDivider_, 0, Qt::AlignVCenter);
  totals->addLayout(socColumn);
  totals->addStretch(1);
  stack->addLayout(totals);

  // 2. History.
  historyLine_ = new HistoryLine(this);
  historyLine_->setObjectName(QStringLiteral("historyLine"));
  stack->addWidget(historyLine_);

  // 3. Peak and mean.
  const QFont caption = styleFont(TextStyle::caption);
  auto* stats = new QHBoxLayout;
  peak_ = makeLabel("peakLabel", caption, this, secondary);
  avg_ = makeLabel("avgLabel", caption, this, secondary);
  stats->addWidget(peak_);
  stats->addStretch(1);
  stats->addWidget(avg_);
  stack->addLayout(stats);

  // 4. Battery and memory.
  auto* status = new WrapRow(16, 4, true);
  batteryGroup_ = new QWidget(this);
  batteryGroup_->setObjectName(QStringLiteral("batteryGroup"));
  auto* battery = new QHBoxLayout(batteryGroup_);
  battery->setContentsMargins(0, 0, 0, 0);
  battery->setSpacing(16);
  battery->addWidget(symbolItem(batteryGroup_, "battery.75", batteryPercent_, "batteryPercent", caption, secondary,
                                &batteryIcon_));
  batteryIcon_->setObjectName(QStringLiteral("batteryIcon"));
  adapter_ = makeLabel("adapterLabel", caption, batteryGroup_, secondary);
  charging_ = makeLabel("chargingLabel", caption, batteryGroup_, colours::kGreen);
  boost_ = makeLabel("boostLabel", caption, batteryGroup_, colours::kOrange);
  battery->addWidget(adapter_);
  battery->addWidget(charging_);
  battery->addWidget(boost_);
  memoryGroup_ = new QWidget(this);
  memoryGroup_->setObjectName(QStringLiteral("memoryGroup"));
  auto* memory = new QHBoxLayout(memoryGroup_);
  memory->setContentsMargins(0, 0, 0, 0);
  memory->setSpacing(16);
  ram_ = makeLabel("ramLabel", caption, memoryGroup_, secondary);
  swap_ = makeLabel("swapLabel", caption, memoryGroup_, secondary);
  memory->addWidget(ram_);
  memory->addWidget(swap_);
  status->addWidget(batteryGroup_);
  status->addWidget(memoryGroup_);
  stack->addLayout(status);
}

void HeroCard::update(const PowerSample& s, const std::vector<double>& history, double peak, double avg,
                      const std::optional<QString>& notice) {
  const HeroTexts t = heroTexts(s, peak, avg);
  if (t.systemCaption) setLabelText(systemCaption_, *t.systemCaption);
  if (t.systemValue) setLabelText(systemValue_, *t.systemValue);
  setShown(systemTotal_, t.systemValue.has_value());
  setShown(totalsDivider_, t.systemValue.has_value());
  const int socSize = t.systemValue ? 28 : 36;
  if (socSize != socPixelSize_) {
    socPixelSize_ = socSize;
    socValue_->setFont(totalFont(socSize));
  }
  setLabelText(socCaption_, t.socCaption);
  setLabelText(socValue_, t.socValue);
  if (t.systemValue) {
    setSpoken(systemValue_, t.systemSpoken, spokenWatts(s.systemPower > 0 ? s.systemPower : s.platform, 1));
  }
  setSpoken(socValue_, t.socCaption,
            spokenWatts(s.hasPower ? std::optional(s.total) : std::nullopt, 1));

  historyLine_->setValues(history);
  setLabelText(peak_, t.peak);
  setLabelText(avg_, t.avg);
  for (QWidget* part : {static_cast<QWidget*>(historyLine_), static_cast<QWidget*>(peak_), static_cast<QWidget*>(avg_)}) {
    setShown(part, s.hasPower);
  }
  showText(energyNotice_, notice);

  const std::optional<BatteryTexts> battery = batteryTexts(s);
  if (battery) {
    setLabelText(batteryPercent_, battery->percent);
    batteryIcon_->setName(battery->icon);
    showText(adapter_, battery->adapter);
    showText(charging_, battery->charging);
    showText(boost_, battery->boost);
  }
  setShown(batteryGroup_, battery.has_value());

  const std::optional<MemoryTexts> memory = memoryTexts(s);
  if (memory) {
    setLabelText(ram_, memory->ram);
    showText(swap_, memory->swap);
  }
  setShown(memoryGroup_, memory.has_value());
}

// ---- CPU, GPU, neural engine ------------------------------------------------------

CpuCard::CpuCard(QWidget* parent) : Card("cpuCard", parent) {
  auto* stack = cardStack(this, 8);
  header_ = new SectionHeader(this);
  header_->setObjectName(QStringLiteral("cpuHeader"));
  stack->addWidget(header_);
  auto* clusters = new QHBoxLayout;
  clusters->setSpacing(16);
  eCluster_ = new ClusterBar(colours::kCyan, this);
  eCluster_->setObjectName(QStringLiteral("eClusterBar"));
  pCluster_ = new ClusterBar(colours::kBlue, this);
  pCluster_->setObjectName(QStringLiteral("pClusterBar"));
  clusters->addWidget(eCluster_, 1, Qt::AlignVCenter);
  clusters->addWidget(pCluster_, 1, Qt::AlignVCenter);
  stack->addLayout(clusters);

  auto section = [&](const char* name, QWidget* content) {
    auto* widget = new QWidget(this);
    widget->setObjectName(QLatin1String(name));
    auto* sectionStack = new QVBoxLayout(widget);
    sectionStack->setContentsMargins(0, 0, 0, 0);
    sectionStack->setSpacing(8);
    sectionStack->addWidget(makeDivider(widget, Qt::Horizontal));
    if (content != nullptr) sectionStack->addWidget(content);
    widget->hide();
    stack->addWidget(widget);
    return widget;
  };
  clusterSection_ = section("cpuClusters", nullptr);
  clusterRowsLayout_ = new QVBoxLayout;
  clusterRowsLayout_->setSpacing(4);
  static_cast<QVBoxLayout*>(clusterSection_->layout())->addLayout(clusterRowsLayout_);
  coreGrid_ = new ChannelGrid;
  coreGrid_->setObjectName(QStringLiteral("cpuCoreGrid"));
  coreSection_ = section("cpuCores", coreGrid_);
  coreTempGrid_ = new CoreTempGrid;
  coreTempGrid_->setObjectName(QStringLiteral("coreTempGrid"));
  coreTempSection_ = section("cpuCoreTemps", coreTempGrid_);
}

void CpuCard::update(const PowerSample& s, TempUnit unit) {
  const EnergyBreakdown& b = s.breakdown;
  header_->setValues(localized("cpu.title"), powerOf(s, b.cpuTotal()), s.cpuTemp, unit);
  // A kind's power the machine does not measure is unknown, not 0 W; a
  // machine with one kind of core has no split at all.
  const MeasuredFigures* m = measuredBy(s);
  const auto kindPower = [&](bool measured, double watts) { return measured ? powerOf(s, watts) : std::nullopt; };
  const bool split = !m || m->eCpuUsage || m->eCpuPower;
  eCluster_->setValues(localized("cpu.eCluster"), s.eCpuUsage, kindPower(!m || m->eCpuPower, s.eCpu));
  pCluster_->setValues(localized(split ? "cpu.pCluster" : "cpu.allCores"), split ? s.pCpuUsage : s.cpuUsage,
                       kindPower(!m || m->pCpuPower, s.pCpu));
  setShown(eCluster_, split);

  const std::vector<ChannelPower>& clusters = b.cpuClusters();
  while (clusterRows_.size() > clusters.size()) {
    delete clusterRows_.back();
    clusterRows_.pop_back();
  }
  while (clusterRows_.size() < clusters.size()) {
    auto* row = new WattsRow(false, clusterSection_);
    row->setObjectName(QStringLiteral("clusterRow"));
    clusterRowsLayout_->addWidget(row);
    clusterRows_.push_back(row);
  }
  for (std::size_t i = 0; i < clusters.size(); ++i) {
    clusterRows_[i]->setValues(readableName(clusters[i].name()), clusters[i].watts());
  }
  setShown(clusterSection_, !clusters.empty());

  if (!b.cpuCores().empty()) coreGrid_->setChannels(b.cpuCores());
  setShown(coreSection_, !b.cpuCores().empty());

  if (!s.coreTemps.empty()) coreTempGrid_->setTemps(s.coreTemps, unit);
  setShown(coreTempSection_, !s.coreTemps.empty());
}

GpuCard::GpuCard(QWidget* parent) : Card("gpuCard", parent) {
  auto* stack = cardStack(this, 8);
  header_ = new SectionHeader(this);
  header_->setObjectName(QStringLiteral("gpuHeader"));
  stack->addWidget(header_);
  auto* row = new QHBoxLayout;
  usage_ = new UsageBar(colours::kGreen, this);
  usage_->setObjectName(QStringLiteral("gpuUsageBar"));
  freq_ = makeLabel("gpuFreq", styleFont(TextStyle::caption), this, secondaryTextColour(palette()));
  row->addWidget(usage_, 1, Qt::AlignVCenter);
  row->addStretch(1);
  row->addWidget(freq_, 0, Qt::AlignVCenter);
  stack->addLayout(row);
  list_ = new QWidget(this);
  list_->setObjectName(QStringLiteral("gpuList"));
  auto* items = new QVBoxLayout(list_);
  items->setContentsMargins(0, 0, 0, 0);
  items->setSpacing(6);
  stack->addWidget(list_);
  setShown(list_, false);
}

void GpuCard::update(const PowerSample& s, TempUnit unit) {
  const MeasuredFigures* m = measuredBy(s);
  header_->setValues(localized("gpu.title"), m && !m->gpuPower ? std::nullopt : powerOf(s, s.breakdown.gpu()),
                     s.gpuTemp, unit);
  // One GPU is the card itself; several are listed, each with its own figures.
  const bool listed = s.gpus.size() > 1;
  setShown(list_, listed);
  setShown(usage_, !listed && (!m || m->gpuUsage));
  usage_->setUsage(s.gpuUsage, localized("gpu.title"));
  showText(freq_, !listed && s.gpuFreqMHz > 0 ? std::optional(frequencyText(s.gpuFreqMHz)) : std::nullopt);
  if (!listed) return;
  std::vector<std::string> names;
  names.reserve(s.gpus.size());
  for (const GpuFigures& gpu : s.gpus) names.push_back(gpu.name);
  if (names != names_) {
    for (GpuItem& item : items_) delete item.widget;
    items_.clear();
    names_ = names;
    for (const std::string& name : names) {
      auto* widget = new QWidget(list_);
      widget->setObjectName(QStringLiteral("gpuItem"));
      auto* item = new QVBoxLayout(widget);
      item->setContentsMargins(0, 0, 0, 0);
      item->setSpacing(2);
      QLabel* nameLabel = makeLabel("gpuName", styleFont(TextStyle::body, QFont::Medium), widget);
      nameLabel->setWordWrap(true);
      nameLabel->setText(QString::fromStdString(name));
      QLabel* figures = makeLabel("gpuFigures", styleFont(TextStyle::caption), widget, secondaryTextColour(palette()));
      item->addWidget(nameLabel);
      item->addWidget(figures);
      list_->layout()->addWidget(widget);
      items_.push_back({widget, figures});
    }
  }
  for (std::size_t i = 0; i < s.gpus.size(); ++i) {
    GpuFigures gpu = s.gpus[i];
    if (!s.hasPower) gpu.watts.reset();
    setLabelText(items_[i].figures, gpuFiguresText(gpu, unit));
  }
}

AneCard::AneCard(QWidget* parent) : Card("aneCard", parent) {
  auto* stack = cardStack(this, 0);
  row_ = new WattsRow(true, this);
  row_->setObjectName(QStringLiteral("aneRow"));
  stack->addWidget(row_);
}

void AneCard::update(const PowerSample& s) {
  row_->setValues(localized("ane.title"), s.breakdown.ane());
  const MeasuredFigures* m = measuredBy(s);
  setShown(this, s.hasPower && (!m || m->anePower));
}

// ---- breakdowns -----------------------------------------------------------------------

BreakdownCard::BreakdownCard(const char* objectName, const QString& title, QWidget* parent)
    : Card(objectName, parent) {
  stack_ = cardStack(this, 6);
  auto* header = new QHBoxLayout;
  auto* titleLabel = makeLabel("title", styleFont(TextStyle::headline, QFont::DemiBold), this);
  titleLabel->setText(title);
  total_ = makeLabel("total", styleFont(TextStyle::body, QFont::DemiBold), this);
  header->addWidget(titleLabel);
  header->addStretch(1);
  header->addWidget(total_);
  stack_->addLayout(header);
}

WattsRow* BreakdownCard::addRow(const char* objectName) {
  auto* row = new WattsRow(false, this);
  row->setObjectName(QLatin1String(objectName));
  stack_->addWidget(row);
  return row;
}

void BreakdownCard::setTotal(double watts) { setLabelText(total_, wattsText(watts, 2)); }

MemoryCard::MemoryCard(QWidget* parent)
    : BreakdownCard("memoryCard", localized("detail.memory"), parent),
      dram_(addRow("dramRow")),
      amcc_(addRow("amccRow")),
      dcs_(addRow("dcsRow")) {}

void MemoryCard::update(const PowerSample& s) {
  const EnergyBreakdown& b = s.breakdown;
  setTotal(b.dram() + b.amcc() + b.dcs());
  dram_->setValues(localized("mem.dram"), b.dram());
  amcc_->setValues(localized("mem.controller"), b.amcc());
  dcs_->setValues(localized("mem.phy"), b.dcs());
  const MeasuredFigures* m = measuredBy(s);
  setShown(dram_, !m || m->dramPower);
  setShown(amcc_, !m || m->amcc);
  setShown(dcs_, !m || m->dcs);
  setShown(this, s.hasPower && (!m || m->dramPower || m->amcc || m->dcs));
}

DisplayCard::DisplayCard(QWidget* parent)
    : BreakdownCard("displayCard", localized("detail.display"), parent),
      internal_(addRow("displayInternalRow")),
      external_(addRow("displayExternalRow")) {}

void DisplayCard::update(const PowerSample& s) {
  const EnergyBreakdown& b = s.breakdown;
  const bool internal = b.display() > 0.001;
  const bool external = b.displayExt() > 0.001;
  setTotal(b.display() + b.displayExt());
  internal_->setValues(localized("disp.internal"), b.display());
  external_->setValues(localized("disp.external"), b.displayExt());
  setShown(internal_, internal);
  setShown(external_, external);
  setShown(this, s.hasPower && (internal || external));
}

OtherSocCard::OtherSocCard(QWidget* parent)
    : BreakdownCard("otherSocCard", localized("detail.otherSoc"), parent),
      fabric_(addRow("fabricRow")),
      isp_(addRow("ispRow")),
      media_(addRow("mediaRow")) {}

void OtherSocCard::update(const PowerSample& s) {
  const EnergyBreakdown& b = s.breakdown;
  setTotal(b.fabric() + b.isp() + b.media());
  fabric_->setValues(localized("soc.fabric"), b.fabric());
  isp_->setValues(localized("soc.isp"), b.isp());
  media_->setValues(localized("soc.media"), b.media());
  const MeasuredFigures* m = measuredBy(s);
  setShown(fabric_, !m || m->fabric);
  setShown(isp_, !m || m->isp);
  setShown(media_, !m || m->media);
  setShown(this, s.hasPower && (!m || m->fabric || m->isp || m->media));
}

UnclassifiedCard::UnclassifiedCard(QWidget* parent) : DisclosureGround("unclassifiedCard", parent) {
  const QColor secondary = secondaryTextColour(palette());
  auto* group = new QVBoxLayout(this);
  group->setContentsMargins(8, 8, 8, 8);
  group->setSpacing(8);
  grid_ = new ChannelGrid(this);
  grid_->setObjectName(QStringLiteral("unclassifiedGrid"));
  grid_->hide();
  auto* header = new ClickableRow(this, [this] { toggle_->click(); });
  auto* headerRow = new QHBoxLayout(header);
  headerRow->setContentsMargins(0, 0, 0, 0);
  headerRow->setSpacing(6);
  toggle_ = new QToolButton(header);
  toggle_->setObjectName(QStringLiteral("unclassifiedToggle"));
  toggle_->setAutoRaise(true);
  toggle_->setArrowType(Qt::RightArrow);
  toggle_->setFixedSize(16, 16);
  connect(toggle_, &QToolButton::clicked, this, [this] {
    const bool open = grid_->isHidden();
    toggle_->setArrowType(open ? Qt::DownArrow : Qt::RightArrow);
    grid_->setVisible(open);
  });
  title_ = makeLabel("unclassifiedTitle", styleFont(TextStyle::headline, QFont::DemiBold), header);
  title_->setText(localized("detail.unclassified"));
  count_ = makeLabel("unclassifiedCount", styleFont(TextStyle::body), header, secondary);
  total_ = makeLabel("unclassifiedTotal", styleFont(TextStyle::body, QFont::DemiBold), header);
  headerRow->addWidget(toggle_, 0, Qt::AlignVCenter);
  headerRow->addWidget(title_, 0, Qt::AlignVCenter);
  headerRow->addWidget(count_, 0, Qt::AlignVCenter);
  headerRow->addStretch(1);
  headerRow->addWidget(total_, 0, Qt::AlignVCenter);
  group->addWidget(header);
  group->addWidget(grid_);
}

void UnclassifiedCard::update(const PowerSample& s) {
  const std::vector<ChannelPower>& domains = s.breakdown.domains();
  const bool named = !domains.empty();
  const std::vector<ChannelPower>& channels = named ? domains : s.breakdown.other();
  if (!channels.empty()) {
    setLabelText(title_, localized(named ? "detail.domains" : "detail.unclassified"));
    setLabelText(count_, countText(channels.size()));
    if (!named) {
      const double sum = std::accumulate(channels.begin(), channels.end(), 0.0,
                                         [](double acc, const ChannelPower& c) { return acc + c.watts(); });
      setLabelText(total_, wattsText(sum, 2));
    }
    grid_->setChannels(channels);
  }
  setShown(total_, !named);
  setShown(this, s.hasPower && !channels.empty());
}

// ---- fans and the machine ------------------------------------------------------------

ProcessesCard::ProcessesCard(QWidget* parent) : Card("processesCard", parent) {
  auto* stack = cardStack(this, 6);
  auto* title = makeLabel("title", styleFont(TextStyle::headline, QFont::DemiBold), this);
  title->setText(localized("detail.processes"));
  stack->addWidget(title);
  method_ = makeLabel("methodLabel", styleFont(TextStyle::caption), this, secondaryTextColour(palette()));
  method_->setWordWrap(true);
  stack->addWidget(method_);
  none_ = makeLabel("processesNone", styleFont(TextStyle::body), this);
  none_->setText(QStringLiteral("\u2014"));
  stack->addWidget(none_);
  const QFont font = styleFont(TextStyle::body);
  const QFont figures = styleFont(TextStyle::body, QFont::Medium, /*monospaced=*/true);
  const auto makeRow = [&](const char* objectName) {
    Row row{new QWidget(this), nullptr, nullptr, nullptr};
    row.widget->setObjectName(QLatin1String(objectName));
    auto* line = new QHBoxLayout(row.widget);
    line->setContentsMargins(0, 0, 0, 0);
    line->setSpacing(8);
    row.name = makeLabel("processName", font, row.widget);
    row.cpu = makeLabel("processCpu", figures, row.widget, secondaryTextColour(palette()));
    row.cpu->setAlignment(Qt::AlignTrailing | Qt::AlignVCenter);
    row.cpu->setMinimumWidth(48);
    row.watts = makeLabel("processWatts", figures, row.widget);
    row.watts->setAlignment(Qt::AlignTrailing | Qt::AlignVCenter);
    row.watts->setMinimumWidth(64);
    line->addWidget(row.name, 1);
    line->addWidget(row.cpu);
    line->addWidget(row.watts);
    stack->addWidget(row.widget);
    return row;
  };
  for (std::size_t i = 0; i < PowerSample::kProcessesKept; ++i) rows_.push_back(makeRow("processRow"));
  other_ = makeRow("otherRow");
  other_.name->setText(localized("detail.processesOther"));
}

void ProcessesCard::update(const PowerSample& s) {
  setShown(this, s.hasPower);
  const std::optional<ProcessAttribution>& p = s.processes;
  setShown(method_, p.has_value());
  setShown(none_, !p);
  if (p) {
    setLabelText(method_, localized(p->method == AttributionMethod::osEnergy ? "detail.processesMeasured"
                                                                              : "detail.processesEstimated"));
  }
  const std::size_t count = p ? p->processes.size() : 0;
  for (std::size_t i = 0; i < rows_.size(); ++i) {
    setShown(rows_[i].widget, i < count);
    if (i >= count) continue;
    const ProcessPower& process = p->processes[i];
    setLabelText(rows_[i].name, processName(process));
    rows_[i].name->setToolTip(localized("detail.processId").arg(process.pid));
    setLabelText(rows_[i].cpu, cpuPercentText(process.cpuPercent));
    setLabelText(rows_[i].watts, wattsText(process.powerW, 2));
    setSpoken(rows_[i].watts, powerOf(processName(process)), spokenWatts(process.powerW, 2));
  }
  setShown(other_.widget, p.has_value());
  if (p) {
    setLabelText(other_.watts, wattsText(p->otherPowerW, 2));
    setSpoken(other_.watts, powerOf(localized("detail.processesOther")), spokenWatts(p->otherPowerW, 2));
  }
}

FansCard::FansCard(QWidget* parent) : Card("fansCard", parent) {
  auto* stack = cardStack(this, 0);
  row_ = new QWidget(this);
  row_->setObjectName(QStringLiteral("fansRow"));
  auto* row = new WrapRow(24, 6, false);
  row->setContentsMargins(0, 0, 0, 0);
  row_->setLayout(row);
  stack->addWidget(row_);
}

void FansCard::update(const PowerSample& s) {
  const std::vector<FanInfo>& fans = s.fans;
  std::vector<std::int64_t> ids;
  ids.reserve(fans.size());
  for (const FanInfo& fan : fans) ids.push_back(fan.id());
  if (ids != ids_) {
    // A different set of fans: one item per fan, in list order.
    for (FanItem& item : items_) delete item.widget;
    items_.clear();
    ids_ = ids;
    const QColor secondary = secondaryTextColour(palette());
    const QFont font = styleFont(TextStyle::body);
    for (std::int64_t id : ids) {
      auto* widget = new QWidget(row_);
      widget->setObjectName(QStringLiteral("fanItem"));
      auto* item = new QHBoxLayout(widget);
      item->setContentsMargins(0, 0, 0, 0);
      item->setSpacing(6);
      item->addWidget(new SymbolIcon(QStringLiteral("fan.fill"), secondary, QFontMetrics(font).height(), widget), 0,
                      Qt::AlignVCenter);
      QLabel* name = makeLabel("fanName", font, widget);
      name->setText(localized("menu.fan").arg(id));
      QLabel* rpm = makeLabel("fanRpm", styleFont(TextStyle::body, QFont::Medium), widget);
      item->addWidget(name, 0, Qt::AlignVCenter);
      item->addWidget(rpm, 0, Qt::AlignVCenter);
      row_->layout()->addWidget(widget);
      items_.push_back({widget, rpm});
    }
  }
  for (std::size_t i = 0; i < fans.size(); ++i) setLabelText(items_[i].rpm, fanSpeedText(fans[i].rpm()));
  setShown(this, !fans.empty());
}

MachineCard::MachineCard(QWidget* parent) : Card("systemInfoCard", parent) {
  const QColor secondary = secondaryTextColour(palette());
  auto* stack = cardStack(this, 0);
  auto* row = new WrapRow(20, 6, false);
  const QFont callout = styleFont(TextStyle::callout);
  row->addWidget(symbolItem(this, "cpu", chip_, "chipLabel", callout, secondary));
  row->addWidget(symbolItem(this, "bolt.fill", cores_, "coresLabel", callout, secondary));
  row->addWidget(symbolItem(this, "gpu", gpuCores_, "gpuCoresLabel", callout, secondary));
  row->addWidget(symbolItem(this, "memorychip", memory_, "memoryLabel", callout, secondary));
  stack->addLayout(row);
}

void MachineCard::update(const std::optional<SystemInfo>& info) {
  if (info) {
    const MachineTexts t = machineTexts(*info);
    setLabelText(chip_, QString::fromStdString(info->chipName()));
    setLabelText(cores_, t.cores);
    setLabelText(gpuCores_, t.gpuCores);
    setLabelText(memory_, t.memory);
    // Only a machine whose GPU reports its cores shows a count.
    setShown(gpuCores_->parentWidget(), info->gpuCores() > 0);
  }
  setShown(this, info.has_value());
}

}  // namespace calorim::app
