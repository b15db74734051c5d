#include "app/views/detail_view.h"

#include <QFrame>
#include <QHBoxLayout>
#include <QResizeEvent>
#include <QScrollArea>
#include <QTimer>
#include <QVBoxLayout>

#include "app/model/live_monitor.h"
#include "app/model/preferences.h"
#include "app/views/detail_cards.h"
#include "app/views/panel_view.h"

namespace calorim::app {
namespace {

constexpr int kPagePadding = 16;
constexpr int kPageSpacing = 14;

}  // namespace

DetailView::DetailView(LiveMonitor& monitor, Preferences& preferences, QWidget* parent)
    : QWidget(parent), monitor_(monitor), preferences_(preferences) {
  setObjectName(QStringLiteral("detailView"));
  auto* outer = new QVBoxLayout(this);
  outer->setContentsMargins(0, 0, 0, 0);

  auto* scroll = new QScrollArea(this);
  scroll->setObjectName(QStringLiteral("detailScroll"));
  scroll->setFrameShape(QFrame::NoFrame);
  scroll->setWidgetResizable(true);
  scroll->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
  scroll->setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
  scroll->viewport()->setBackgroundRole(QPalette::Window);
  outer->addWidget(scroll);

  auto* pageWidget = new QWidget;
  pageWidget->setObjectName(QStringLiteral("detailPage"));
  auto* page = new QVBoxLayout(pageWidget);
  page->setContentsMargins(kPagePadding, kPagePadding, kPagePadding, kPagePadding);
  page->setSpacing(kPageSpacing);

  banner_ = new ErrorBanner(pageWidget);
  page->addWidget(banner_);
  hero_ = new HeroCard(monitor_.simulated(), pageWidget);
  page->addWidget(hero_);

  auto* cardsArea = new QWidget(pageWidget);
  cardsArea->setObjectName(QStringLiteral("cardsArea"));
  cpu_ = new CpuCard(cardsArea);
  gpu_ = new GpuCard(cardsArea);
  ane_ = new AneCard(cardsArea);
  processes_ = new ProcessesCard(cardsArea);
  memory_ = new MemoryCard(cardsArea);
  display_ = new DisplayCard(cardsArea);
  otherSoc_ = new OtherSocCard(cardsArea);
  unclassified_ = new UnclassifiedCard(cardsArea);
  fans_ = new FansCard(cardsArea);
  machine_ = new MachineCard(cardsArea);
  cards_ = {cpu_, gpu_, ane_, processes_, memory_, display_, otherSoc_, unclassified_, fans_, machine_};

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
  page->addWidget(cardsArea);
  page->addStretch(1);
  scroll->setWidget(pageWidget);

  arrange(false);
  refresh();

  connect(&monitor_, &LiveMonitor::published, this, &DetailView::refresh);
  for (auto change : {&LiveMonitor::energyAccessChanged, &LiveMonitor::errorChanged, &LiveMonitor::systemInfoChanged}) {
    connect(&monitor_, change, this, &DetailView::refresh);
  }
  connect(&preferences_, &Preferences::tempUnitChanged, this, &DetailView::refresh);
}

DetailView::~DetailView() { watchProcesses(false); }

void DetailView::watchProcesses(bool watching) {
  if (watching == watchingProcesses_) return;
  watchingProcesses_ = watching;
  monitor_.watchProcesses(watching);
}

HistoryLine* DetailView::historyLine() const { return hero_->historyLine(); }

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
  constexpr std::size_t kLeftInWide = 4;  // CPU, GPU, neural engine, processes
  for (std::size_t i = 0; i < cards_.size(); ++i) {
    (wide && i >= kLeftInWide ? right : left)->addWidget(cards_[i]);
  }
  left->addStretch(1);
  if (wide) right->addStretch(1);
  // An empty column would still take its half of the width.
  columns_->setStretchFactor(right, wide ? 1 : 0);
}

QSize DetailView::openingSize(QSize available) const {
  // The one-column order: banner, hero card, then the cards.
  std::vector<QWidget*> order = {banner_, hero_};
  order.insert(order.end(), cards_.begin(), cards_.end());
  const int innerWidth = kOpeningWidth - 2 * kPagePadding;
  int height = 2 * kPagePadding;
  int counted = 0;
  for (QWidget* card : order) {
    if (card->isHidden()) continue;
    if (counted == kCardsShownAtOpening) break;
    if (counted > 0) height += kPageSpacing;
    height += card->hasHeightForWidth() ? card->heightForWidth(innerWidth) : card->sizeHint().height();
    ++counted;
  }
  return QSize(kOpeningWidth, height).boundedTo(available);
}

void DetailView::resizeEvent(QResizeEvent* event) {
  QWidget::resizeEvent(event);
  arrange(event->size().width() > kNarrowUpTo);
}

void DetailView::showEvent(QShowEvent* event) {
  QWidget::showEvent(event);
  watchProcesses(true);
  QTimer::singleShot(kUnpauseDelayMs, this, [this] { monitor_.setPaused(false); });
}

void DetailView::hideEvent(QHideEvent* event) {
  QWidget::hideEvent(event);
  watchProcesses(false);
  monitor_.setPaused(false);
}

void DetailView::refresh() {
  const PowerSample& s = monitor_.latest();
  const TempUnit unit = preferences_.tempUnit();
  banner_->update(monitor_.error());
  hero_->update(s, monitor_.history(), monitor_.peakPower(), monitor_.avgPower(),
                energyNotice(monitor_.energyAccess()));
  cpu_->update(s, unit);
  gpu_->update(s, unit);
  ane_->update(s);
  processes_->update(s);
  memory_->update(s);
  display_->update(s);
  otherSoc_->update(s);
  unclassified_->update(s);
  fans_->update(s);
  machine_->update(monitor_.systemInfo());
}

}  // namespace calorim::app
