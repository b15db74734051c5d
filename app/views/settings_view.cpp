#include "app/views/settings_view.h"

#include <QButtonGroup>
#include <QScreen>
#include <QScrollBar>
#include <QTimer>
#include <QCheckBox>
#include <QFrame>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QRadioButton>
#include <QScrollArea>
#include <QVBoxLayout>

#include <algorithm>

#include "app/model/preferences.h"
#include "app/model/strings.h"
#include "app/views/detail_widgets.h"

namespace calorim::app {
namespace {

QString fromView(std::string_view text) {
  return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

// One section of the grouped form: a heading above a rounded card that holds
// the section's controls. Returns the card's layout through `body`.
QWidget* makeSection(const QString& heading, QWidget* parent, QVBoxLayout*& body) {
  auto* section = new QWidget(parent);
  auto* column = new QVBoxLayout(section);
  column->setContentsMargins(0, 0, 0, 0);
  column->setSpacing(4);

  auto* title = new QLabel(heading, section);
  title->setTextFormat(Qt::PlainText);
  title->setFont(styleFont(TextStyle::subheadline, QFont::DemiBold));
  title->setContentsMargins(4, 0, 0, 0);
  column->addWidget(title);

  auto* card = new QFrame(section);
  card->setObjectName(QStringLiteral("sectionCard"));
  card->setStyleSheet(QStringLiteral(
      "#sectionCard { background: palette(base); border: 1px solid palette(mid); border-radius: 6px; }"));
  body = new QVBoxLayout(card);
  body->setContentsMargins(10, 8, 10, 8);
  body->setSpacing(4);
  column->addWidget(card);
  return section;
}

}  // namespace

SettingsView::SettingsView(Preferences& preferences, LoginItem& loginItem, QWidget* parent)
    : QWidget(parent), preferences_(preferences), loginItem_(loginItem) {
  setWindowTitle(localized("settings.title"));

  auto* scroll = new QScrollArea(this);
  scroll_ = scroll;
  scroll->setFrameShape(QFrame::NoFrame);
  scroll->setWidgetResizable(true);
  scroll->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
  auto* form = new QWidget(scroll);
  auto* sections = new QVBoxLayout(form);
  sections->setContentsMargins(14, 12, 14, 12);
  sections->setSpacing(14);
  sections->addWidget(buildItemsSection());
  sections->addWidget(buildUnitSection());
  sections->addWidget(buildStyleSection());
  sections->addWidget(buildGeneralSection());
  sections->addStretch(1);
  scroll->setWidget(form);

  auto* outer = new QVBoxLayout(this);
  outer->setContentsMargins(0, 0, 0, 0);
  outer->addWidget(scroll);

  connect(&preferences_, &Preferences::menuBarItemsChanged, this, &SettingsView::refresh);
  connect(&preferences_, &Preferences::menuBarStyleChanged, this, &SettingsView::refresh);
  connect(&preferences_, &Preferences::tempUnitChanged, this, &SettingsView::refresh);
  refresh();
}

QWidget* SettingsView::buildItemsSection() {
  QVBoxLayout* body = nullptr;
  QWidget* section = makeSection(localized("settings.menuBarDisplay"), this, body);

  auto* hint = new QLabel(localized("settings.selectUpTo3"), section);
  hint->setFont(styleFont(TextStyle::caption));
  setLabelColour(hint, secondaryTextColour(hint->palette()));
  body->addWidget(hint);

  for (MenuBarItem item : kAllMenuBarItems) {
    auto* box = new QCheckBox(label(item), section);
    box->setObjectName(QStringLiteral("item_") + fromView(rawValue(item)));
    // `clicked` comes only from the user, never from `refresh` setting the state.
    connect(box, &QCheckBox::clicked, this, [this, item](bool ticked) { itemClicked(item, ticked); });
    itemBoxes_.emplace(item, box);
    body->addWidget(box);
  }
  return section;
}

QWidget* SettingsView::buildUnitSection() {
  QVBoxLayout* body = nullptr;
  QWidget* section = makeSection(localized("settings.tempUnit"), this, body);

  // A segmented control: two adjoining exclusive buttons.
  auto* segments = new QHBoxLayout;
  segments->setSpacing(0);
  auto* group = new QButtonGroup(section);
  auto makeSegment = [&](const char* objectName, const QString& text, TempUnit unit) {
    auto* button = new QPushButton(text, section);
    button->setObjectName(QLatin1String(objectName));
    button->setCheckable(true);
    button->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    group->addButton(button);
    segments->addWidget(button);
    connect(button, &QPushButton::clicked, this, [this, unit] { preferences_.setTempUnit(unit); });
    return button;
  };
  celsius_ = makeSegment("celsiusSegment", localized("menu.celsius"), TempUnit::celsius);
  fahrenheit_ = makeSegment("fahrenheitSegment", localized("menu.fahrenheit"), TempUnit::fahrenheit);
  body->addLayout(segments);
  return section;
}

QWidget* SettingsView::buildStyleSection() {
  QVBoxLayout* body = nullptr;
  QWidget* section = makeSection(localized("settings.displayStyle"), this, body);

  auto* group = new QButtonGroup(section);
  for (MenuBarStyle style : kAllMenuBarStyles) {
    // The text, with its example, comes with `refresh`.
    auto* button = new QRadioButton(section);
    button->setObjectName(QStringLiteral("style_") + fromView(rawValue(style)));
    group->addButton(button);
    connect(button, &QRadioButton::clicked, this, [this, style] { preferences_.setMenuBarStyle(style); });
    styleButtons_.emplace(style, button);
    body->addWidget(button);
  }
  return section;
}

QWidget* SettingsView::buildGeneralSection() {
  QVBoxLayout* body = nullptr;
  QWidget* section = makeSection(localized("settings.general"), this, body);

  launchAtLogin_ = new QCheckBox(localized("settings.launchAtLogin"), section);
  launchAtLogin_->setObjectName(QStringLiteral("launchAtLogin"));
  launchAtLogin_->setChecked(loginItem_.isEnabled());
  connect(launchAtLogin_, &QCheckBox::clicked, this, &SettingsView::launchAtLoginClicked);
  body->addWidget(launchAtLogin_);

  loginItemNote_ = new QLabel(section);
  loginItemNote_->setObjectName(QStringLiteral("loginItemNote"));
  loginItemNote_->setWordWrap(true);
  loginItemNote_->setTextInteractionFlags(Qt::TextSelectableByMouse);
  body->addWidget(loginItemNote_);
  const QString unavailable = loginItem_.unavailableReason();
  launchAtLogin_->setEnabled(unavailable.isEmpty());
  loginItemNote_->setText(unavailable);
  loginItemNote_->setVisible(!unavailable.isEmpty());
  return section;
}

void SettingsView::refresh() {
  const MenuBarItemSet items = preferences_.menuBarItems();
  const bool full = items.size() >= MenuBarConfig::kMaxShown;
  for (auto& [item, box] : itemBoxes_) {
    const bool ticked = items.contains(item);
    const bool measured = measuredOn(item, machine_.get());
    box->setChecked(ticked);
    box->setEnabled(ticked || !full);
    box->setText(measured ? label(item) : localized("settings.itemNotMeasured").arg(label(item)));
    box->setVisible(measured || ticked);
  }

  const TempUnit unit = preferences_.tempUnit();
  celsius_->setChecked(unit == TempUnit::celsius);
  fahrenheit_->setChecked(unit == TempUnit::fahrenheit);

  styleButtons_.at(preferences_.menuBarStyle())->setChecked(true);
  // Each style's example is the line the menu bar would show with the chosen
  // items and unit.
  const std::string storedItems = preferences_.menuBarItemsRaw().toStdString();
  const std::string storedUnit = preferences_.tempUnitRaw().toStdString();
  for (auto& [style, button] : styleButtons_) {
    const std::string key = "settings.style." + std::string(rawValue(style));
    button->setText(localized(key)
                        .arg(QString::fromStdString(styleExample(style, storedItems, storedUnit, machine_))));
  }
}

void SettingsView::setMachine(std::shared_ptr<const MachineDescription> machine) {
  const bool same = machine == machine_ || (machine && machine_ && machine->measured == machine_->measured);
  machine_ = std::move(machine);
  if (!same) refresh();
}

QSize SettingsView::sizeHint() const {
  // The whole form without scrolling, where the screen has the room: measured
  // with the style's fonts and margins, as it will be shown.
  QWidget* form = scroll_->widget();
  const QSize size = form->sizeHint().expandedTo(form->minimumSizeHint());
  return {std::max(size.width(), kMinimumWidth), size.height()};
}

void SettingsView::showEvent(QShowEvent* event) {
  QWidget::showEvent(event);
  // Only now, polished and laid out for the screen, does the form know its
  // full height: a window opened shorter than that grows to show it all,
  // within the screen's room.
  QTimer::singleShot(0, this, [this] {
    const int missing = scroll_->verticalScrollBar()->maximum();
    if (missing <= 0 || isMaximized() || isFullScreen()) return;
    int height = this->height() + missing;
    if (const QScreen* room = screen()) height = std::min(height, room->availableGeometry().height());
    resize(width(), height);
  });
}

void SettingsView::itemClicked(MenuBarItem item, bool ticked) {
  MenuBarItemSet items = preferences_.menuBarItems();
  if (ticked) {
    items.insert(item);
  } else {
    items.erase(item);
  }
  if (items.empty()) items = MenuBarConfig::defaultItems();
  preferences_.setMenuBarItems(items);
  // The stored text may not have changed (unticking the default item when it
  // is the only one), and then no change signal redraws the boxes.
  refresh();
}

void SettingsView::launchAtLoginClicked(bool enabled) {
  const LoginItemChange change = loginItem_.setEnabled(enabled);
  // The switch shows what is really registered now, and the note why that
  // is not what was asked for.
  if (!change.succeeded) launchAtLogin_->setChecked(loginItem_.isEnabled());
  const QString note = change.succeeded || change.error.isEmpty()
                           ? QString()
                           : localized("settings.loginItemFailed").arg(change.error);
  loginItemNote_->setText(note);
  loginItemNote_->setVisible(!note.isEmpty());
}

}  // namespace calorim::app
