#include "app/views/detail_view.h"

#include <QFrame>
#include <QLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QMouseEvent>
#include <QPainter>
#include <QResizeEvent>
#include <QScrollArea>
#include <QTimer>
#include <QToolButton>
#include <QVBoxLayout>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <functional>
#include <limits>
#include <numeric>
#include <optional>

#include "app/model/live_monitor.h"
#include "app/model/preferences.h"
#include "app/model/strings.h"
#include "app/views/detail_widgets.h"
#include "app/views/panel_view.h"

namespace calorim::app {
namespace {

const QColor kCyan(0x32, 0xAD, 0xE6);
const QColor kBlue(0x0A, 0x84, 0xFF);
const QColor kGreen(0x28, 0xB4, 0x46);
const QColor kOrange(0xFF, 0x95, 0x00);
const QColor kRed(0xFF, 0x3B, 0x30);

constexpr int kPagePadding = 16;
constexpr int kPageSpacing = 14;
constexpr int kCardPadding = 12;
constexpr int kCornerRadius = 8;

QString text(const char* key) { return localized(key); }

QString watts(double w, int decimals, const char* unit = " W") {
  return fixedText(w, decimals) + QLatin1String(unit);
}

// `v` truncated toward zero, when it is a finite number an int64 can hold.
std::optional<std::int64_t> truncated(double v) {
  constexpr double kLimit = 9.2e18;
  if (!std::isfinite(v) || v >= kLimit || v <= -kLimit) return std::nullopt;
  return static_cast<std::int64_t>(v);
}

QString wholeText(double v) {
  const std::optional<std::int64_t> n = truncated(v);
  return n ? integerText(*n) : QStringLiteral("\u2014");
}

QLabel* makeLabel(const char* objectName, const QFont& font, QWidget* parent, const QColor& colour = {}) {
  auto* label = new QLabel(parent);
  label->setObjectName(QLatin1String(objectName));
  label->setFont(font);
  label->setTextFormat(Qt::PlainText);
  if (colour.isValid()) setLabelColour(label, colour);
  return label;
}

QFrame* makeDivider(QWidget* parent, Qt::Orientation orientation) {
  auto* line = new QFrame(parent);
  line->setFrameShape(orientation == Qt::Horizontal ? QFrame::HLine : QFrame::VLine);
  line->setFrameShadow(QFrame::Plain);
  QPalette palette = line->palette();
  QColor colour = palette.color(QPalette::WindowText);
  colour.setAlphaF(0.15f);
  palette.setColor(QPalette::WindowText, colour);
  line->setPalette(palette);
  return line;
}

// A bordered card: rounded, filled with the base colour, a hairline border.
class Card : public QWidget {
 public:
  explicit Card(const char* objectName, QWidget* parent = nullptr) : QWidget(parent) {
    setObjectName(QLatin1String(objectName));
  }

 protected:
  void paintEvent(QPaintEvent*) override {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    QColor border = palette().color(QPalette::WindowText);
    border.setAlphaF(0.14f);
    painter.setPen(QPen(border, 1));
    painter.setBrush(palette().color(QPalette::Base));
    painter.drawRoundedRect(QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5), kCornerRadius, kCornerRadius);
  }
};

// The faint rounded ground of the unclassified group.
class DisclosureGround : public QWidget {
 public:
  explicit DisclosureGround(QWidget* parent = nullptr) : QWidget(parent) {
    setObjectName(QStringLiteral("unclassifiedCard"));
  }

 protected:
  void paintEvent(QPaintEvent*) override {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(Qt::NoPen);
    QColor fill = palette().color(QPalette::WindowText);
    fill.setAlphaF(0.06f);
    painter.setBrush(fill);
    painter.drawRoundedRect(rect(), kCornerRadius, kCornerRadius);
  }
};

// A row that reports clicks anywhere on it.
class ClickableRow : public QWidget {
 public:
  ClickableRow(QWidget* parent, std::function<void()> onClick) : QWidget(parent), onClick_(std::move(onClick)) {
    setCursor(Qt::PointingHandCursor);
  }

 protected:
  void mouseReleaseEvent(QMouseEvent* event) override {
    if (event->button() == Qt::LeftButton && rect().contains(event->position().toPoint())) onClick_();
  }

 private:
  std::function<void()> onClick_;
};

// The red banner of a failed start.
class Banner : public QWidget {
 public:
  explicit Banner(QWidget* parent) : QWidget(parent) { setObjectName(QStringLiteral("errorBanner")); }

 protected:
  void paintEvent(QPaintEvent*) override {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    QColor fill = kRed;
    fill.setAlphaF(0.10f);
    painter.setPen(QPen(kRed, 1));
    painter.setBrush(fill);
    painter.drawRoundedRect(QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5), 6, 6);
  }
};

// Items from left to right, `spacing` apart; an item that does not fit on
// the line starts the next one, so the row needs no more width than its
// widest item. With `lastAtRightEnd`, the last item keeps the right end while
// it stands on the first line. Hidden items take no room.
class WrapRow : public QLayout {
 public:
  WrapRow(int spacing, int lineSpacing, bool lastAtRightEnd)
      : spacing_(spacing), lineSpacing_(lineSpacing), lastAtRightEnd_(lastAtRightEnd) {}
  ~WrapRow() override {
    while (QLayoutItem* item = takeAt(0)) delete item;
  }

  void addItem(QLayoutItem* item) override { items_.append(item); }
  int count() const override { return static_cast<int>(items_.size()); }
  QLayoutItem* itemAt(int i) const override { return items_.value(i); }
  QLayoutItem* takeAt(int i) override {
    return i >= 0 && i < items_.size() ? items_.takeAt(i) : nullptr;
  }
  Qt::Orientations expandingDirections() const override { return Qt::Horizontal; }
  bool hasHeightForWidth() const override { return true; }
  int heightForWidth(int width) const override { return arrange(QRect(0, 0, width, 0), false); }

  QSize sizeHint() const override {
    int w = 0;
    int h = 0;
    for (QLayoutItem* item : items_) {
      if (item->isEmpty()) continue;
      w += (w > 0 ? spacing_ : 0) + item->sizeHint().width();
      h = std::max(h, item->sizeHint().height());
    }
    return {w, h};
  }
  QSize minimumSize() const override {
    int w = 0;
    int h = 0;
    for (QLayoutItem* item : items_) {
      if (item->isEmpty()) continue;
      w = std::max(w, item->minimumSize().width());
      h += (h > 0 ? lineSpacing_ : 0) + item->sizeHint().height();
    }
    return {w, h};
  }
  void setGeometry(const QRect& rect) override {
    QLayout::setGeometry(rect);
    arrange(rect, true);
  }

 private:
  // Places the shown items in `rect` when `apply`; returns the height used.
  int arrange(const QRect& rect, bool apply) const {
    struct Placed {
      QLayoutItem* item;
      QSize size;
      int x;
      int line;
    };
    QList<Placed> placed;
    QList<int> lineHeights;
    int x = 0;
    for (QLayoutItem* item : items_) {
      if (item->isEmpty()) continue;
      const QSize size(std::min(item->sizeHint().width(), rect.width()), item->sizeHint().height());
      if (lineHeights.isEmpty() || x + spacing_ + size.width() > rect.width()) {
        lineHeights.append(0);
        x = 0;
      } else {
        x += spacing_;
      }
      placed.append({item, size, x, static_cast<int>(lineHeights.size()) - 1});
      lineHeights.last() = std::max(lineHeights.last(), size.height());
      x += size.width();
    }
    if (lastAtRightEnd_ && !placed.isEmpty() && placed.last().item == items_.last() && placed.last().line == 0) {
      placed.last().x = std::max(0, rect.width() - placed.last().size.width());
    }
    QList<int> lineTops;
    int height = 0;
    for (int lineHeight : lineHeights) {
      if (!lineTops.isEmpty()) height += lineSpacing_;
      lineTops.append(height);
      height += lineHeight;
    }
    if (apply) {
      for (const Placed& p : placed) {
        const int y = rect.top() + lineTops[p.line] + (lineHeights[p.line] - p.size.height()) / 2;
        p.item->setGeometry(QRect(QPoint(rect.left() + p.x, y), p.size));
      }
    }
    return height;
  }

  QList<QLayoutItem*> items_;
  int spacing_;
  int lineSpacing_;
  bool lastAtRightEnd_;
};

QVBoxLayout* cardStack(QWidget* card, int spacing) {
  auto* stack = new QVBoxLayout(card);
  stack->setContentsMargins(kCardPadding, kCardPadding, kCardPadding, kCardPadding);
  stack->setSpacing(spacing);
  return stack;
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

}  // namespace

DetailView::DetailView(LiveMonitor& monitor, Preferences& preferences, QWidget* parent)
    : QWidget(parent), monitor_(monitor), preferences_(preferences) {
  setObjectName(QStringLiteral("detailView"));
  auto* outer = new QVBoxLayout(this);
  outer->setContentsMargins(0, 0, 0, 0);

  scroll_ = new QScrollArea(this);
  scroll_->setObjectName(QStringLiteral("detailScroll"));
  scroll_->setFrameShape(QFrame::NoFrame);
  scroll_->setWidgetResizable(true);
  scroll_->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
  scroll_->setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
  scroll_->viewport()->setBackgroundRole(QPalette::Window);
  outer->addWidget(scroll_);

  auto* pageWidget = new QWidget;
  pageWidget->setObjectName(QStringLiteral("detailPage"));
  auto* page = new QVBoxLayout(pageWidget);
  page->setContentsMargins(kPagePadding, kPagePadding, kPagePadding, kPagePadding);
  page->setSpacing(kPageSpacing);

  buildBanner(page);
  buildHero(page);
  buildCards();

  auto* cardsArea = new QWidget(pageWidget);
  cardsArea->setObjectName(QStringLiteral("cardsArea"));
  auto* columns = new QHBoxLayout(cardsArea);
  columns->setContentsMargins(0, 0, 0, 0);
  columns->setSpacing(kPageSpacing);
  leftColumn_ = new QVBoxLayout;
  rightColumn_ = new QVBoxLayout;
  for (QVBoxLayout* column : {leftColumn_, rightColumn_}) {
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(kPageSpacing);
    columns->addLayout(column, 1);
  }
  columns_ = columns;
  for (QWidget* card : cards_) card->setParent(cardsArea);
  page->addWidget(cardsArea);
  page->addStretch(1);
  scroll_->setWidget(pageWidget);

  arrange(false);
  refresh();

  connect(&monitor_, &LiveMonitor::published, this, &DetailView::refresh);
  for (auto change : {&LiveMonitor::energyAccessChanged, &LiveMonitor::errorChanged, &LiveMonitor::systemInfoChanged}) {
    connect(&monitor_, change, this, &DetailView::refresh);
  }
  connect(&preferences_, &Preferences::tempUnitChanged, this, &DetailView::refresh);
}

DetailView::~DetailView() = default;

// ---- building -------------------------------------------------------------------

void DetailView::buildBanner(QVBoxLayout* page) {
  banner_ = new Banner(page->parentWidget());
  auto* row = new QHBoxLayout(banner_);
  row->setContentsMargins(10, 8, 10, 8);
  row->setSpacing(8);
  const QFont font = styleFont(TextStyle::body);
  auto* icon = new SymbolIcon(QStringLiteral("exclamationmark.triangle.fill"), kRed, 16, banner_);
  bannerText_ = makeLabel("errorText", font, banner_, kRed);
  bannerText_->setWordWrap(true);
  row->addWidget(icon, 0, Qt::AlignTop);
  row->addWidget(bannerText_, 1);
  banner_->hide();
  page->addWidget(banner_);
}

void DetailView::buildHero(QVBoxLayout* page) {
  auto* hero = new Card("heroCard", page->parentWidget());
  auto* stack = cardStack(hero, 10);
  const QColor secondary = secondaryTextColour(palette());
  const QFont captionFont = styleFont(TextStyle::subheadline);

  if (monitor_.simulated()) {
    QLabel* simulated = makeLabel("simulatedLabel", styleFont(TextStyle::callout, QFont::DemiBold), hero, kOrange);
    simulated->setText(text("detail.simulated"));
    simulated->setWordWrap(true);
    stack->addWidget(simulated);
  }
  energyNotice_ = makeLabel("energyNotice", styleFont(TextStyle::callout), hero, secondary);
  energyNotice_->setWordWrap(true);
  energyNotice_->hide();
  stack->addWidget(energyNotice_);

  // 1. Totals.
  auto* totals = new QHBoxLayout;
  totals->setSpacing(24);
  systemTotal_ = new QWidget(hero);
  systemTotal_->setObjectName(QStringLiteral("systemTotal"));
  auto* systemColumn = new QVBoxLayout(systemTotal_);
  systemColumn->setContentsMargins(0, 0, 0, 0);
  systemColumn->setSpacing(4);
  systemCaption_ = makeLabel("systemCaption", captionFont, systemTotal_, secondary);
  systemValue_ = makeLabel("systemValue", totalFont(36), systemTotal_);
  systemColumn->addWidget(systemCaption_, 0, Qt::AlignHCenter);
  systemColumn->addWidget(systemValue_, 0, Qt::AlignHCenter);
  totalsDivider_ = makeDivider(hero, Qt::Vertical);
  totalsDivider_->setObjectName(QStringLiteral("totalsDivider"));
  totalsDivider_->setFixedHeight(50);
  auto* socColumn = new QVBoxLayout;
  socColumn->setSpacing(4);
  QLabel* socCaption = makeLabel("socCaption", captionFont, hero, secondary);
  socCaption->setText(text("detail.socTotal"));
  socColumn->addWidget(socCaption, 0, Qt::AlignHCenter);
  socPixelSize_ = 36;
  socValue_ = makeLabel("socValue", totalFont(socPixelSize_), hero);
  socColumn->addWidget(socValue_, 0, Qt::AlignHCenter);
  totals->addStretch(1);
  totals->addWidget(systemTotal_, 0, Qt::AlignVCenter);
  totals->addWidget(totalsDivider_, 0, Qt::AlignVCenter);
  totals->addLayout(socColumn);
  totals->addStretch(1);
  stack->addLayout(totals);

  // 2. History.
  historyLine_ = new HistoryLine(hero);
  historyLine_->setObjectName(QStringLiteral("historyLine"));
  stack->addWidget(historyLine_);

  // 3. Peak and mean.
  const QFont caption = styleFont(TextStyle::caption);
  auto* stats = new QHBoxLayout;
  peak_ = makeLabel("peakLabel", caption, hero, secondary);
  avg_ = makeLabel("avgLabel", caption, hero, secondary);
  stats->addWidget(peak_);
  stats->addStretch(1);
  stats->addWidget(avg_);
  stack->addLayout(stats);

  // 4. Battery and memory.
  auto* status = new WrapRow(16, 4, true);
  batteryGroup_ = new QWidget(hero);
  batteryGroup_->setObjectName(QStringLiteral("batteryGroup"));
  auto* battery = new QHBoxLayout(batteryGroup_);
  battery->setContentsMargins(0, 0, 0, 0);
  battery->setSpacing(16);
  battery->addWidget(symbolItem(batteryGroup_, "battery.75", batteryPercent_, "batteryPercent", caption, secondary,
                                &batteryIcon_));
  batteryIcon_->setObjectName(QStringLiteral("batteryIcon"));
  adapter_ = makeLabel("adapterLabel", caption, batteryGroup_, secondary);
  charging_ = makeLabel("chargingLabel", caption, batteryGroup_, kGreen);
  boost_ = makeLabel("boostLabel", caption, batteryGroup_, kOrange);
  battery->addWidget(adapter_);
  battery->addWidget(charging_);
  battery->addWidget(boost_);
  memoryGroup_ = new QWidget(hero);
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

  page->addWidget(hero);
}

QWidget* DetailView::buildBreakdownCard(const char* objectName, const QString& title, BreakdownCard& out,
                                        std::vector<std::pair<WattsRow*, const char*>> rows) {
  auto* card = new Card(objectName);
  auto* stack = cardStack(card, 6);
  auto* header = new QHBoxLayout;
  auto* titleLabel = makeLabel("title", styleFont(TextStyle::headline, QFont::DemiBold), card);
  titleLabel->setText(title);
  out.total = makeLabel("total", styleFont(TextStyle::body, QFont::DemiBold), card);
  header->addWidget(titleLabel);
  header->addStretch(1);
  header->addWidget(out.total);
  stack->addLayout(header);
  for (auto& [row, name] : rows) {
    row->setParent(card);
    row->setObjectName(QLatin1String(name));
    stack->addWidget(row);
  }
  out.card = card;
  return card;
}

void DetailView::buildCards() {
  const QColor secondary = secondaryTextColour(palette());

  // CPU.
  auto* cpu = new Card("cpuCard");
  auto* cpuStack = cardStack(cpu, 8);
  cpuHeader_ = new SectionHeader(cpu);
  cpuHeader_->setObjectName(QStringLiteral("cpuHeader"));
  cpuStack->addWidget(cpuHeader_);
  auto* clusters = new QHBoxLayout;
  clusters->setSpacing(16);
  eCluster_ = new ClusterBar(kCyan, cpu);
  eCluster_->setObjectName(QStringLiteral("eClusterBar"));
  pCluster_ = new ClusterBar(kBlue, cpu);
  pCluster_->setObjectName(QStringLiteral("pClusterBar"));
  clusters->addWidget(eCluster_, 1, Qt::AlignVCenter);
  clusters->addWidget(pCluster_, 1, Qt::AlignVCenter);
  cpuStack->addLayout(clusters);

  auto section = [&](const char* name, QWidget* content) {
    auto* widget = new QWidget(cpu);
    widget->setObjectName(QLatin1String(name));
    auto* stack = new QVBoxLayout(widget);
    stack->setContentsMargins(0, 0, 0, 0);
    stack->setSpacing(8);
    stack->addWidget(makeDivider(widget, Qt::Horizontal));
    if (content != nullptr) stack->addWidget(content);
    widget->hide();
    cpuStack->addWidget(widget);
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
  cards_.push_back(cpu);

  // GPU.
  auto* gpu = new Card("gpuCard");
  auto* gpuStack = cardStack(gpu, 8);
  gpuHeader_ = new SectionHeader(gpu);
  gpuHeader_->setObjectName(QStringLiteral("gpuHeader"));
  gpuStack->addWidget(gpuHeader_);
  auto* gpuRow = new QHBoxLayout;
  gpuUsage_ = new UsageBar(kGreen, gpu);
  gpuUsage_->setObjectName(QStringLiteral("gpuUsageBar"));
  gpuFreq_ = makeLabel("gpuFreq", styleFont(TextStyle::caption), gpu, secondary);
  gpuRow->addWidget(gpuUsage_, 1, Qt::AlignVCenter);
  gpuRow->addStretch(1);
  gpuRow->addWidget(gpuFreq_, 0, Qt::AlignVCenter);
  gpuStack->addLayout(gpuRow);
  cards_.push_back(gpu);

  // Neural engine.
  auto* ane = new Card("aneCard");
  aneCard_ = ane;
  auto* aneStack = cardStack(ane, 0);
  aneRow_ = new WattsRow(true, ane);
  aneRow_->setObjectName(QStringLiteral("aneRow"));
  aneStack->addWidget(aneRow_);
  cards_.push_back(ane);

  // Memory, display, other SoC.
  dramRow_ = new WattsRow;
  amccRow_ = new WattsRow;
  dcsRow_ = new WattsRow;
  cards_.push_back(buildBreakdownCard("memoryCard", text("detail.memory"), memoryCard_,
                                      {{dramRow_, "dramRow"}, {amccRow_, "amccRow"}, {dcsRow_, "dcsRow"}}));
  displayRow_ = new WattsRow;
  displayExtRow_ = new WattsRow;
  cards_.push_back(buildBreakdownCard("displayCard", text("detail.display"), displayCard_,
                                      {{displayRow_, "displayInternalRow"}, {displayExtRow_, "displayExternalRow"}}));
  fabricRow_ = new WattsRow;
  ispRow_ = new WattsRow;
  mediaRow_ = new WattsRow;
  cards_.push_back(buildBreakdownCard("otherSocCard", text("detail.otherSoc"), otherSocCard_,
                                      {{fabricRow_, "fabricRow"}, {ispRow_, "ispRow"}, {mediaRow_, "mediaRow"}}));

  // Unclassified channels: collapsed until the user opens it.
  unclassifiedCard_ = new DisclosureGround;
  auto* group = new QVBoxLayout(unclassifiedCard_);
  group->setContentsMargins(8, 8, 8, 8);
  group->setSpacing(8);
  unclassifiedGrid_ = new ChannelGrid(unclassifiedCard_);
  unclassifiedGrid_->setObjectName(QStringLiteral("unclassifiedGrid"));
  unclassifiedGrid_->hide();
  auto* header = new ClickableRow(unclassifiedCard_, [this] { unclassifiedToggle_->click(); });
  auto* headerRow = new QHBoxLayout(header);
  headerRow->setContentsMargins(0, 0, 0, 0);
  headerRow->setSpacing(6);
  unclassifiedToggle_ = new QToolButton(header);
  unclassifiedToggle_->setObjectName(QStringLiteral("unclassifiedToggle"));
  unclassifiedToggle_->setAutoRaise(true);
  unclassifiedToggle_->setArrowType(Qt::RightArrow);
  unclassifiedToggle_->setFixedSize(16, 16);
  connect(unclassifiedToggle_, &QToolButton::clicked, this, [this] {
    const bool open = unclassifiedGrid_->isHidden();
    unclassifiedToggle_->setArrowType(open ? Qt::DownArrow : Qt::RightArrow);
    unclassifiedGrid_->setVisible(open);
  });
  auto* title = makeLabel("unclassifiedTitle", styleFont(TextStyle::headline, QFont::DemiBold), header);
  title->setText(text("detail.unclassified"));
  unclassifiedCount_ = makeLabel("unclassifiedCount", styleFont(TextStyle::body), header, secondary);
  unclassifiedTotal_ = makeLabel("unclassifiedTotal", styleFont(TextStyle::body, QFont::DemiBold), header);
  headerRow->addWidget(unclassifiedToggle_, 0, Qt::AlignVCenter);
  headerRow->addWidget(title, 0, Qt::AlignVCenter);
  headerRow->addWidget(unclassifiedCount_, 0, Qt::AlignVCenter);
  headerRow->addStretch(1);
  headerRow->addWidget(unclassifiedTotal_, 0, Qt::AlignVCenter);
  group->addWidget(header);
  group->addWidget(unclassifiedGrid_);
  cards_.push_back(unclassifiedCard_);

  // Fans.
  fansCard_ = new Card("fansCard");
  auto* fansStack = cardStack(fansCard_, 0);
  fansRow_ = new QWidget(fansCard_);
  fansRow_->setObjectName(QStringLiteral("fansRow"));
  auto* fansRow = new WrapRow(24, 6, false);
  fansRow->setContentsMargins(0, 0, 0, 0);
  fansRow_->setLayout(fansRow);
  fansStack->addWidget(fansRow_);
  cards_.push_back(fansCard_);

  // The machine.
  systemInfoCard_ = new Card("systemInfoCard");
  auto* infoStack = cardStack(systemInfoCard_, 0);
  auto* infoRow = new WrapRow(20, 6, false);
  const QFont callout = styleFont(TextStyle::callout);
  infoRow->addWidget(symbolItem(systemInfoCard_, "cpu", chipLabel_, "chipLabel", callout, secondary));
  infoRow->addWidget(symbolItem(systemInfoCard_, "bolt.fill", coresLabel_, "coresLabel", callout, secondary));
  infoRow->addWidget(symbolItem(systemInfoCard_, "gpu", gpuCoresLabel_, "gpuCoresLabel", callout, secondary));
  infoRow->addWidget(symbolItem(systemInfoCard_, "memorychip", memoryLabel_, "memoryLabel", callout, secondary));
  infoStack->addLayout(infoRow);
  cards_.push_back(systemInfoCard_);
}

// ---- layout -------------------------------------------------------------------------

void DetailView::arrange(bool wide) {
  if (arranged_ && wide == wide_) return;
  arranged_ = true;
  wide_ = wide;
  QVBoxLayout* left = leftColumn_;
  QVBoxLayout* right = rightColumn_;
  // Both columns hold only cards and a closing stretch; the cards keep their
  // parent, so moving them between the two shows and hides nothing.
  for (QVBoxLayout* column : {left, right}) {
    while (QLayoutItem* item = column->takeAt(0)) delete item;
  }
  constexpr std::size_t kLeftInWide = 3;  // CPU, GPU, neural engine
  for (std::size_t i = 0; i < cards_.size(); ++i) {
    (wide && i >= kLeftInWide ? right : left)->addWidget(cards_[i]);
  }
  left->addStretch(1);
  if (wide) right->addStretch(1);
  // An empty column would still take its half of the width.
  columns_->setStretchFactor(right, wide ? 1 : 0);
}

void DetailView::resizeEvent(QResizeEvent* event) {
  QWidget::resizeEvent(event);
  arrange(event->size().width() > kNarrowUpTo);
}

void DetailView::showEvent(QShowEvent* event) {
  QWidget::showEvent(event);
  QTimer::singleShot(kUnpauseDelayMs, this, [this] { monitor_.setPaused(false); });
}

void DetailView::hideEvent(QHideEvent* event) {
  QWidget::hideEvent(event);
  monitor_.setPaused(false);
}

// ---- updates ------------------------------------------------------------------------

void DetailView::refresh() {
  const std::optional<QString>& error = monitor_.error();
  if (error) setLabelText(bannerText_, *error);
  setShown(banner_, error.has_value());

  refreshHero();
  refreshCpu();

  const PowerSample& s = monitor_.latest();
  const EnergyBreakdown& b = s.breakdown;
  const TempUnit unit = preferences_.tempUnit();

  gpuHeader_->setValues(QStringLiteral("GPU"), s.hasPower ? std::optional(b.gpu()) : std::nullopt, s.gpuTemp, unit);
  gpuUsage_->setUsage(s.gpuUsage);
  if (s.gpuFreqMHz > 0) setLabelText(gpuFreq_, fixedText(s.gpuFreqMHz, 0) + QStringLiteral(" MHz"));
  setShown(gpuFreq_, s.gpuFreqMHz > 0);

  aneRow_->setValues(text("ane.title"), b.ane());

  setLabelText(memoryCard_.total, watts(b.dram() + b.amcc() + b.dcs(), 2));
  dramRow_->setValues(text("mem.dram"), b.dram());
  amccRow_->setValues(text("mem.controller"), b.amcc());
  dcsRow_->setValues(text("mem.phy"), b.dcs());

  const bool internal = b.display() > 0.001;
  const bool external = b.displayExt() > 0.001;
  setLabelText(displayCard_.total, watts(b.display() + b.displayExt(), 2));
  displayRow_->setValues(text("disp.internal"), b.display());
  displayExtRow_->setValues(text("disp.external"), b.displayExt());
  setShown(displayRow_, internal);
  setShown(displayExtRow_, external);
  setShown(displayCard_.card, s.hasPower && (internal || external));
  // Cards of power alone have nothing to show without it.
  for (QWidget* card : {aneCard_, memoryCard_.card, otherSocCard_.card}) setShown(card, s.hasPower);

  setLabelText(otherSocCard_.total, watts(b.fabric() + b.isp() + b.media(), 2));
  fabricRow_->setValues(text("soc.fabric"), b.fabric());
  ispRow_->setValues(text("soc.isp"), b.isp());
  mediaRow_->setValues(text("soc.media"), b.media());

  const std::vector<ChannelPower>& other = b.other();
  if (!other.empty()) {
    const double sum = std::accumulate(other.begin(), other.end(), 0.0,
                                       [](double acc, const ChannelPower& c) { return acc + c.watts(); });
    setLabelText(unclassifiedCount_, QLatin1Char('(') + integerText(static_cast<std::int64_t>(other.size())) + QLatin1Char(')'));
    setLabelText(unclassifiedTotal_, watts(sum, 2));
    unclassifiedGrid_->setChannels(other);
  }
  setShown(unclassifiedCard_, s.hasPower && !other.empty());

  refreshFans();
  refreshSystemInfo();
}

void DetailView::refreshHero() {
  const PowerSample& s = monitor_.latest();
  const bool hasSystem = s.systemPower > 0;
  if (hasSystem) {
    QString caption = text("detail.systemTotal");
    if (s.isCharging) caption += QStringLiteral(" \u26A1");
    setLabelText(systemCaption_, caption);
    setLabelText(systemValue_, watts(s.systemPower, 1));
  }
  setShown(systemTotal_, hasSystem);
  setShown(totalsDivider_, hasSystem);
  const int socSize = hasSystem ? 28 : 36;
  if (socSize != socPixelSize_) {
    socPixelSize_ = socSize;
    socValue_->setFont(totalFont(socSize));
  }
  setLabelText(socValue_, s.hasPower ? watts(s.total, 1) : QStringLiteral("\u2014"));

  historyLine_->setValues(monitor_.history());
  setLabelText(peak_, text("stat.peak") + QStringLiteral(": ") + watts(monitor_.peakPower(), 1));
  setLabelText(avg_, text("stat.avg") + QStringLiteral(": ") + watts(monitor_.avgPower(), 1));
  for (QWidget* part : {static_cast<QWidget*>(historyLine_), static_cast<QWidget*>(peak_), static_cast<QWidget*>(avg_)}) {
    setShown(part, s.hasPower);
  }
  const std::optional<QString> notice = energyNotice(monitor_.energyAccess());
  if (notice) setLabelText(energyNotice_, *notice);
  setShown(energyNotice_, notice.has_value());

  const bool hasBattery = s.batteryPercent >= 1;
  if (hasBattery) {
    QString percent = integerText(s.batteryPercent) + QLatin1Char('%');
    if (s.isCharging) percent += QStringLiteral(" \u26A1");
    setLabelText(batteryPercent_, percent);
    batteryIcon_->setName(s.isCharging ? QStringLiteral("battery.100.bolt") : QStringLiteral("battery.75"));
    if (s.adapterWatts >= 1) {
      setLabelText(adapter_, integerText(s.adapterWatts) + QStringLiteral("W@") + fixedText(s.adapterVoltage, 0) +
                                 QLatin1Char('V'));
    }
    setShown(adapter_, s.adapterWatts >= 1);
    if (s.chargingPower > 1.0) {
      setLabelText(charging_, QStringLiteral("\u26A1 ") + fixedText(s.chargingPower, 0) + QStringLiteral("W charging"));
    }
    setShown(charging_, s.chargingPower > 1.0);
    if (s.batteryDischargeW > 1.0) {
      setLabelText(boost_, QStringLiteral("\U0001F50B ") + fixedText(s.batteryDischargeW, 0) + QStringLiteral("W boost"));
    }
    setShown(boost_, s.batteryDischargeW > 1.0);
  }
  setShown(batteryGroup_, hasBattery);

  const bool hasMemory = s.ramTotalGB > 0;
  if (hasMemory) {
    setLabelText(ram_, QStringLiteral("RAM ") + fixedText(s.ramUsedGB, 0) + QLatin1Char('/') + fixedText(s.ramTotalGB, 0) +
                           QStringLiteral(" GB"));
    if (s.swapUsedGB > 0.01) setLabelText(swap_, QStringLiteral("Swap ") + fixedText(s.swapUsedGB, 1) + QStringLiteral(" GB"));
    setShown(swap_, s.swapUsedGB > 0.01);
  }
  setShown(memoryGroup_, hasMemory);
}

void DetailView::refreshCpu() {
  const PowerSample& s = monitor_.latest();
  const EnergyBreakdown& b = s.breakdown;
  const TempUnit unit = preferences_.tempUnit();

  auto power = [&](double watts) { return s.hasPower ? std::optional(watts) : std::nullopt; };
  cpuHeader_->setValues(QStringLiteral("CPU"), power(b.cpuTotal()), s.cpuTemp, unit);
  eCluster_->setValues(text("cpu.eCluster"), s.eCpuUsage, power(s.eCpu));
  pCluster_->setValues(text("cpu.pCluster"), s.pCpuUsage, power(s.pCpu));

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

void DetailView::refreshFans() {
  const std::vector<FanInfo>& fans = monitor_.latest().fans;
  std::vector<std::int64_t> ids;
  ids.reserve(fans.size());
  for (const FanInfo& fan : fans) ids.push_back(fan.id());
  if (ids != fanIds_) {
    // A different set of fans: one item per fan, in list order.
    for (FanItem& item : fanItems_) delete item.widget;
    fanItems_.clear();
    fanIds_ = ids;
    QLayout* row = fansRow_->layout();
    const QColor secondary = secondaryTextColour(palette());
    const QFont font = styleFont(TextStyle::body);
    for (std::size_t i = 0; i < ids.size(); ++i) {
      auto* widget = new QWidget(fansRow_);
      widget->setObjectName(QStringLiteral("fanItem"));
      auto* item = new QHBoxLayout(widget);
      item->setContentsMargins(0, 0, 0, 0);
      item->setSpacing(6);
      item->addWidget(new SymbolIcon(QStringLiteral("fan.fill"), secondary, QFontMetrics(font).height(), widget), 0,
                      Qt::AlignVCenter);
      QLabel* name = makeLabel("fanName", font, widget);
      name->setText(text("menu.fan").arg(ids[i]));
      QLabel* rpm = makeLabel("fanRpm", styleFont(TextStyle::body, QFont::Medium), widget);
      item->addWidget(name, 0, Qt::AlignVCenter);
      item->addWidget(rpm, 0, Qt::AlignVCenter);
      row->addWidget(widget);
      fanItems_.push_back({widget, name, rpm});
    }
  }
  for (std::size_t i = 0; i < fans.size(); ++i) {
    setLabelText(fanItems_[i].rpm, wholeText(fans[i].rpm()) + QStringLiteral(" RPM"));
  }
  setShown(fansCard_, !fans.empty());
}

void DetailView::refreshSystemInfo() {
  const std::optional<SystemInfo>& info = monitor_.systemInfo();
  if (info) {
    setLabelText(chipLabel_, QString::fromStdString(info->chipName()));
    setLabelText(coresLabel_, integerText(info->eCores()) + QStringLiteral("E+") + integerText(info->pCores()) +
                                  QLatin1Char('P'));
    setLabelText(gpuCoresLabel_, integerText(info->gpuCores()) + QStringLiteral(" GPU"));
    setLabelText(memoryLabel_, wholeText(info->totalMemoryGB()) + QStringLiteral("GB"));
  }
  setShown(systemInfoCard_, info.has_value());
}

}  // namespace calorim::app
