#include "app/views/panel_view.h"

#include <QFrame>
#include <QHBoxLayout>
#include <QKeySequence>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

#include <cmath>
#include <utility>

#include "app/model/live_monitor.h"
#include "app/model/preferences.h"
#include "app/model/strings.h"
#include "app/model/update_check.h"
#include "app/views/detail_widgets.h"
#include "app/views/detail_text.h"
#include "app/views/palette.h"
#include "app/views/temperature_colour.h"

namespace calorim::app {
namespace {

constexpr int kTotalPixelSize = 20;
constexpr double kNoteFrom = 0.005;  // W: what "%.2f" writes as at least 0.01

QString wattsText(std::optional<double> watts) {
  return watts ? fixedText(*watts, 2) + QStringLiteral(" W") : QStringLiteral("\u2014");
}

QLabel* makeLabel(const char* objectName, const QFont& font, Qt::Alignment alignment, QWidget* parent) {
  auto* label = new QLabel(parent);
  label->setObjectName(QLatin1String(objectName));
  label->setFont(font);
  label->setTextFormat(Qt::PlainText);
  label->setAlignment(alignment | Qt::AlignVCenter);
  return label;
}

// A box of at least `width` px that grows rather than clip an unusually long
// number; every row's boxes share the widths, so the columns line up.
void setBoxWidth(QLabel* label, int width) {
  label->setMinimumWidth(width);
  label->setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Preferred);
}

QFrame* makeDivider(QWidget* parent, const char* objectName = "divider") {
  auto* line = new QFrame(parent);
  line->setObjectName(QLatin1String(objectName));
  line->setFrameShape(QFrame::HLine);
  line->setFrameShadow(QFrame::Plain);
  line->setFixedHeight(1);
  QPalette palette = line->palette();
  palette.setColor(QPalette::WindowText, secondaryTextColour(palette).lighter(160));
  line->setPalette(palette);
  return line;
}

// A button that reads like an item of a menu: a single line, left-aligned.
QPushButton* makeButton(const char* objectName, const QString& text, QWidget* parent) {
  auto* button = new QPushButton(parent);
  button->setObjectName(QLatin1String(objectName));
  button->setText(withoutMnemonic(text));
  button->setFlat(true);
  button->setCursor(Qt::PointingHandCursor);
  // Reached by Tab, not focused by a click: no button starts out marked.
  button->setFocusPolicy(Qt::TabFocus);
  return button;
}

}  // namespace

std::optional<QString> energyNotice(const EnergyAccess& access) {
  switch (access.state) {
    case EnergyAccess::State::readable: return std::nullopt;
    // No access would help: the notice says what still works instead.
    case EnergyAccess::State::absent: return localized("energy.absent");
    case EnergyAccess::State::denied: {
      if (access.folder.empty()) return localized("energy.unavailable");
      // A long path may break after each slash when the notice wraps.
      const QString folder =
          QString::fromStdString(access.folder).replace(QLatin1Char('/'), QStringLiteral("/\u200B"));
      return localized("energy.denied").arg(folder);
    }
  }
  return std::nullopt;
}

// ---- PowerRow ------------------------------------------------------------------

PowerRow::PowerRow(const QString& label, QWidget* parent) : QWidget(parent) {
  const QFont font = styleFont(TextStyle::body, QFont::Normal, /*monospaced=*/true);
  auto* row = new QHBoxLayout(this);
  row->setContentsMargins(0, 0, 0, 0);
  row->setSpacing(0);

  label_ = makeLabel("label", font, Qt::AlignLeading, this);
  label_->setText(label);
  setAccessibleName(label);
  setBoxWidth(label_, kLabelWidth);
  usage_ = makeLabel("usage", font, Qt::AlignTrailing, this);
  setBoxWidth(usage_, kUsageWidth);
  setLabelColour(usage_, secondaryTextColour(palette()));
  usage_->hide();
  watts_ = makeLabel("watts", font, Qt::AlignTrailing, this);
  setBoxWidth(watts_, kWattsWidth);
  temp_ = makeLabel("temp", font, Qt::AlignTrailing, this);
  setBoxWidth(temp_, kTempWidth);

  row->addWidget(label_);
  row->addStretch(1);
  row->addWidget(usage_);
  // Nor three-digit watts ("126.00 W", a desktop's cards) into the usage.
  row->addSpacing(kColumnGap);
  row->addWidget(watts_);
  // Three-digit temperatures ("117°") must not run into the watts.
  row->addSpacing(kColumnGap);
  row->addWidget(temp_);
}

void PowerRow::setValues(std::optional<double> watts, std::optional<double> temp, std::optional<double> usage, TempUnit unit) {
  if (usage) setLabelText(usage_, fixedText(*usage * 100, 0) + QLatin1Char('%'));
  setShown(usage_, usage.has_value());
  setLabelText(watts_, wattsText(watts));
  const QString subject = label_->text();
  if (usage) setSpoken(usage_, loadOf(subject), spokenPercent(*usage));
  setSpoken(watts_, powerOf(subject), spokenWatts(watts, 2));
  // Rows without a temperature (the neural engine, memory) say nothing of one.
  if (temp) {
    setSpoken(temp_, temperatureOf(subject), spokenTemperature(temp, unit));
  } else if (!temp_->accessibleName().isEmpty()) {
    temp_->setAccessibleName(QString());
  }
  // NaN is not above 0 either.
  if (temp && *temp > 0) {
    setLabelText(temp_, QString::fromStdString(formatShort(unit, *temp)));
    temp_->setAlignment(Qt::AlignTrailing | Qt::AlignVCenter);
    setLabelColour(temp_, temperatureColour(*temp));
  } else {
    setLabelText(temp_, QString());
    temp_->setAlignment(Qt::AlignCenter);
  }
}

// ---- MenuBarPanel --------------------------------------------------------------

MenuBarPanel::MenuBarPanel(LiveMonitor& monitor, Preferences& preferences, PanelActions actions, QWidget* parent)
    : QWidget(parent), monitor_(monitor), preferences_(preferences), actions_(std::move(actions)) {
  setStyleSheet(QStringLiteral(
      "QPushButton { text-align: left; padding: 3px 6px; border: none; border-radius: 4px; }"
      "QPushButton:hover { background: palette(highlight); color: palette(highlighted-text); }"
      "QPushButton:focus { border: 1px solid palette(highlight); }"));

  auto* stack = new QVBoxLayout(this);
  stack->setContentsMargins(kMargin, kMargin, kMargin, kMargin);
  stack->setSpacing(kSpacing);
  // The panel takes the height of what it shows, also as a window of its own.
  stack->setSizeConstraint(QLayout::SetFixedSize);

  auto* title = makeLabel("title", styleFont(TextStyle::headline, QFont::DemiBold), Qt::AlignLeading, this);
  title->setText(localized(monitor.simulated() ? "app.nameSimulated" : "app.name"));
  // The title line spans the column, which makes the panel its fixed width.
  title->setFixedWidth(kWidth - 2 * kMargin);
  stack->addWidget(title);
  energyNotice_ = makeLabel("energyNotice", styleFont(TextStyle::caption), Qt::AlignLeading, this);
  energyNotice_->setWordWrap(true);
  energyNotice_->setFixedWidth(kWidth - 2 * kMargin);
  setLabelColour(energyNotice_, secondaryTextColour(palette()));
  stack->addWidget(energyNotice_);
  stack->addWidget(makeDivider(this));

  auto addRow = [&](const char* objectName, const QString& label) {
    auto* row = new PowerRow(label, this);
    row->setObjectName(QLatin1String(objectName));
    stack->addWidget(row);
    return row;
  };
  cpuRow_ = addRow("cpuRow", localized("cpu.title"));
  gpuRow_ = addRow("gpuRow", localized("gpu.title"));
  aneRow_ = addRow("aneRow", localized("ane.short"));
  dramRow_ = addRow("dramRow", localized("mem.dram"));

  fansDivider_ = makeDivider(this, "fansDivider");
  stack->addWidget(fansDivider_);
  fans_ = new QWidget(this);
  fans_->setObjectName(QStringLiteral("fans"));
  fansLayout_ = new QVBoxLayout(fans_);
  fansLayout_->setContentsMargins(0, 0, 0, 0);
  fansLayout_->setSpacing(kSpacing);
  stack->addWidget(fans_);

  stack->addWidget(makeDivider(this));
  auto* total = new QHBoxLayout;
  total->setSpacing(0);
  auto* totalLabel = makeLabel("totalLabel", styleFont(TextStyle::body, QFont::Medium), Qt::AlignLeading, this);
  totalLabel->setText(localized("menu.total"));
  QFont totalFont = styleFont(TextStyle::body, QFont::Bold, /*monospaced=*/true);
  totalFont.setPixelSize(kTotalPixelSize);
  totalValue_ = makeLabel("totalValue", totalFont, Qt::AlignTrailing, this);
  total->addWidget(totalLabel);
  total->addStretch(1);
  total->addWidget(totalValue_);
  stack->addLayout(total);
  totalNote_ = makeLabel("totalNote", styleFont(TextStyle::caption), Qt::AlignLeading, this);
  totalNote_->setWordWrap(true);
  totalNote_->setFixedWidth(kWidth - 2 * kMargin);
  setLabelColour(totalNote_, secondaryTextColour(palette()));
  stack->addWidget(totalNote_);
  platformRow_ = addRow("platformRow", localized("menu.platform"));

  significantDivider_ = makeDivider(this, "significantDivider");
  stack->addWidget(significantDivider_);
  significantTitle_ = makeLabel("significantTitle", styleFont(TextStyle::body, QFont::Medium), Qt::AlignLeading, this);
  significantTitle_->setText(localized("panel.significant"));
  stack->addWidget(significantTitle_);
  significantCaption_ = makeLabel("significantCaption", styleFont(TextStyle::caption), Qt::AlignLeading, this);
  significantCaption_->setWordWrap(true);
  significantCaption_->setFixedWidth(kWidth - 2 * kMargin);
  setLabelColour(significantCaption_, secondaryTextColour(palette()));
  stack->addWidget(significantCaption_);
  const QFont rowFont = styleFont(TextStyle::body, QFont::Normal, /*monospaced=*/true);
  significantNone_ = makeLabel("significantNone", rowFont, Qt::AlignLeading, this);
  stack->addWidget(significantNone_);
  for (std::size_t i = 0; i < kSignificantCount; ++i) {
    auto* row = new QWidget(this);
    row->setObjectName(QStringLiteral("significantRow"));
    auto* line = new QHBoxLayout(row);
    line->setContentsMargins(0, 0, 0, 0);
    line->setSpacing(8);
    auto* name = makeLabel("processName", styleFont(TextStyle::body), Qt::AlignLeading, row);
    name->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
    auto* watts = makeLabel("processWatts", rowFont, Qt::AlignTrailing, row);
    setBoxWidth(watts, PowerRow::kWattsWidth);
    line->addWidget(name, 1);
    line->addWidget(watts);
    significantRows_.push_back(row);
    stack->addWidget(row);
  }

  stack->addWidget(makeDivider(this));
  auto* settings = makeButton("settingsButton", localized("menu.settings"), this);
  settings->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_Comma));
  auto* detail = makeButton("detailButton", localized("menu.openDetail"), this);
  auto* ports = makeButton("portsButton", localized("ports.title"), this);
  auto* quit = makeButton("quitButton", localized("menu.quit"), this);
  quit->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_Q));
  for (QPushButton* button : {settings, detail, ports, quit}) {
    if (!button->shortcut().isEmpty()) {
      button->setToolTip(button->shortcut().toString(QKeySequence::NativeText));
    }
    stack->addWidget(button);
  }
  connect(settings, &QPushButton::clicked, this, &MenuBarPanel::openSettings);
  connect(detail, &QPushButton::clicked, this, &MenuBarPanel::openDetail);
  connect(ports, &QPushButton::clicked, this, &MenuBarPanel::openPorts);
  connect(quit, &QPushButton::clicked, this, [this] {
    if (actions_.quit) actions_.quit();
  });

  updateDivider_ = makeDivider(this, "updateDivider");
  stack->addWidget(updateDivider_);
  updateLink_ = makeLabel("updateLink", styleFont(TextStyle::body), Qt::AlignLeading, this);
  updateLink_->setOpenExternalLinks(true);
  setLabelColour(updateLink_, colours::kOrange);
  stack->addWidget(updateLink_);

  connect(&monitor_, &LiveMonitor::published, this, &MenuBarPanel::refresh);
  connect(&monitor_, &LiveMonitor::energyAccessChanged, this, &MenuBarPanel::refresh);
  connect(&monitor_, &LiveMonitor::updateAvailableChanged, this, &MenuBarPanel::refreshUpdate);
  connect(&preferences_, &Preferences::tempUnitChanged, this, &MenuBarPanel::refresh);
  refresh();
  refreshUpdate();
}

MenuBarPanel::~MenuBarPanel() { watchProcesses(false); }

void MenuBarPanel::watchProcesses(bool watching) {
  if (watching == watchingProcesses_) return;
  watchingProcesses_ = watching;
  monitor_.watchProcesses(watching);
}

void MenuBarPanel::hideEvent(QHideEvent* event) {
  QWidget::hideEvent(event);
  watchProcesses(false);
}

void MenuBarPanel::showEvent(QShowEvent* event) {
  QWidget::showEvent(event);
  watchProcesses(true);
  // The panel itself holds the focus, so no button opens marked as chosen.
  setFocus(Qt::OtherFocusReason);
}

void MenuBarPanel::refresh() {
  const PowerSample& s = monitor_.latest();
  const TempUnit unit = preferences_.tempUnit();
  auto power = [&](double watts) { return s.hasPower ? std::optional(watts) : std::nullopt; };
  // Rows of figures the machine does not measure are not shown; a GPU without
  // a power reading of its own shows its power as unknown.
  const MeasuredFigures* measured = s.machine ? &s.machine->measured : nullptr;
  const bool gpuPower = measured == nullptr || measured->gpuPower;
  cpuRow_->setValues(power(s.cpu), s.cpuTemp, s.cpuUsage, unit);
  gpuRow_->setValues(gpuPower ? power(s.gpu) : std::nullopt, s.gpuTemp, s.gpuUsage, unit);
  aneRow_->setValues(power(s.ane), std::nullopt, std::nullopt, unit);
  dramRow_->setValues(power(s.dram), std::nullopt, std::nullopt, unit);
  setShown(aneRow_, measured == nullptr || measured->anePower);
  setShown(dramRow_, measured == nullptr || measured->dramPower);
  refreshFans();
  setLabelText(totalValue_, wattsText(power(s.total)));
  setSpoken(totalValue_, powerOf(localized("menu.total")), spokenWatts(power(s.total), 2));
  // What the total holds beyond the rows above it, where that shows at the
  // rows' precision.
  const double beyondRows = s.total - (s.cpu + s.gpu + s.ane + s.dram);
  const bool noted = s.hasPower && beyondRows >= kNoteFrom;
  if (noted) setLabelText(totalNote_, localized("menu.totalNote").arg(wattsText(beyondRows)));
  setShown(totalNote_, noted);
  platformRow_->setValues(s.hasPower ? s.platform : std::nullopt, std::nullopt, std::nullopt, unit);
  setShown(platformRow_, measured != nullptr && measured->platformPower);
  refreshProcesses();
  const std::optional<QString> notice = energyNotice(monitor_.energyAccess());
  if (notice) setLabelText(energyNotice_, *notice);
  setShown(energyNotice_, notice.has_value());
}

void MenuBarPanel::refreshFans() {
  const std::vector<FanInfo>& fans = monitor_.latest().fans;
  std::vector<std::int64_t> ids;
  ids.reserve(fans.size());
  for (const FanInfo& fan : fans) ids.push_back(fan.id());

  if (ids != fanIds_) {
    // Rebuilt only when the fans themselves change, not their speeds.
    while (QLayoutItem* item = fansLayout_->takeAt(0)) {
      delete item->widget();
      delete item;
    }
    const QFont font = styleFont(TextStyle::body, QFont::Normal, /*monospaced=*/true);
    for (std::int64_t id : ids) {
      auto* row = new QWidget(fans_);
      row->setObjectName(QStringLiteral("fanRow"));
      auto* line = new QHBoxLayout(row);
      line->setContentsMargins(0, 0, 0, 0);
      line->setSpacing(0);
      auto* name = makeLabel("fanName", font, Qt::AlignLeading, row);
      name->setText(localized("menu.fan").arg(id));
      setBoxWidth(name, 50);
      line->addWidget(name);
      line->addStretch(1);
      line->addWidget(makeLabel("fanSpeed", font, Qt::AlignTrailing, row));
      fansLayout_->addWidget(row);
    }
    fanIds_ = std::move(ids);
  }
  for (std::size_t i = 0; i < fans.size(); ++i) {
    auto* speed = fansLayout_->itemAt(static_cast<int>(i))->widget()->findChild<QLabel*>(QStringLiteral("fanSpeed"));
    setLabelText(speed, fanSpeedText(fans[i].rpm()));
    setSpoken(speed, localized("menu.fan").arg(fans[i].id()), speed->text());
  }
  setShown(fansDivider_, !fans.empty());
  setShown(fans_, !fans.empty());
}

void MenuBarPanel::refreshProcesses() {
  const PowerSample& s = monitor_.latest();
  for (QWidget* part : {significantDivider_, static_cast<QWidget*>(significantTitle_),
                        static_cast<QWidget*>(significantCaption_)}) {
    setShown(part, s.hasPower);
  }
  const long percent = std::lround(kSignificantShare * 100);
  const std::vector<ProcessPower> shown =
      s.hasPower && s.processes ? significantProcesses(*s.processes, kSignificantShare, kSignificantCount)
                                : std::vector<ProcessPower>{};
  setLabelText(significantCaption_,
               s.processes ? localized("panel.significantOverHow").arg(percent).arg(methodText(s.processes->method))
                           : localized("panel.significantOver").arg(percent));
  // Until the processes have been read once there is nothing to tell yet.
  setLabelText(significantNone_, s.processes ? localized("panel.significantNone") : QStringLiteral("\u2014"));
  setShown(significantNone_, s.hasPower && shown.empty());
  for (std::size_t i = 0; i < significantRows_.size(); ++i) {
    QWidget* row = significantRows_[i];
    setShown(row, i < shown.size());
    if (i >= shown.size()) continue;
    auto* name = row->findChild<QLabel*>(QStringLiteral("processName"));
    const QString full = processName(shown[i]);
    setLabelText(name, name->fontMetrics().elidedText(full, Qt::ElideRight, kWidth - 2 * kMargin - PowerRow::kWattsWidth - 8));
    name->setToolTip(full);
    auto* watts = row->findChild<QLabel*>(QStringLiteral("processWatts"));
    setLabelText(watts, wattsText(shown[i].powerW));
    setSpoken(watts, powerOf(full), spokenWatts(shown[i].powerW, 2));
  }
}

void MenuBarPanel::refreshUpdate() {
  const std::optional<UpdateInfo>& update = monitor_.updateAvailable();
  setShown(updateDivider_, update.has_value());
  setShown(updateLink_, update.has_value());
  if (!update) return;
  const QString text = localized("panel.updateAvailable").arg(update->version);
  if (isWebUrl(update->url)) {
    // Rich text only around our own escaped pieces.
    updateLink_->setTextFormat(Qt::RichText);
    updateLink_->setText(QStringLiteral("<a href=\"%1\" style=\"color:%2; text-decoration:none\">%3</a>")
                             .arg(update->url.toHtmlEscaped(), colours::kOrange.name(), text.toHtmlEscaped()));
    updateLink_->setToolTip(update->url);
  } else {
    // Nothing to open: the news without the link.
    updateLink_->setTextFormat(Qt::PlainText);
    updateLink_->setText(text);
    updateLink_->setToolTip(QString());
  }
}

void MenuBarPanel::openSettings() { openSettingsWindow(actions_); }

void MenuBarPanel::openDetail() { openDetailWindow(monitor_, actions_); }

void MenuBarPanel::openPorts() { openPortsWindow(actions_); }

void openSettingsWindow(const PanelActions& actions) {
  if (actions.bringToFront) actions.bringToFront();
  if (actions.openWindow) actions.openWindow(QStringLiteral("settings"));
}

void openDetailWindow(LiveMonitor& monitor, const PanelActions& actions) {
  // Before the window exists: it clears the pause once it is shown.
  monitor.setPaused(true);
  if (actions.showApplication) actions.showApplication();
  if (actions.bringToFront) actions.bringToFront();
  if (actions.openWindow) actions.openWindow(QStringLiteral("detail"));
}

void openPortsWindow(const PanelActions& actions) {
  if (actions.showApplication) actions.showApplication();
  if (actions.bringToFront) actions.bringToFront();
  if (actions.openWindow) actions.openWindow(QStringLiteral("ports"));
}

}  // namespace calorim::app
