// The floor for the application's memory: a bare Qt Widgets program that
// draws what calorim draws while it idles without a tray (its panel in a
// window of its own, and the tray icon rendered anew with every sample), with
// nothing else: no monitor, no machine, no string bundle, no session bus.
// Every 2.5 s it writes new figures into the panel's labels and renders the
// icon at three sizes, as calorim does with each sample. Runs until killed.
//
//   bare_qt_panel        (under QT_QPA_PLATFORM=offscreen, as the benchmark runs it)

#include <QApplication>
#include <QFontDatabase>
#include <QHBoxLayout>
#include <QLabel>
#include <QPainter>
#include <QPixmap>
#include <QPushButton>
#include <QTimer>
#include <QVBoxLayout>
#include <QWidget>

#include <vector>

namespace {

constexpr int kRows = 4;      // CPU, GPU, neural engine, memory
constexpr int kFigures = 3;   // load, watts, temperature
constexpr int kSampleMs = 2500;

QPixmap renderIcon(const QString& text, int side) {
  QPixmap pixmap(side, side);
  pixmap.fill(Qt::transparent);
  QPainter painter(&pixmap);
  painter.setRenderHint(QPainter::Antialiasing);
  painter.setBrush(QColor(0x20, 0x21, 0x24));
  painter.setPen(Qt::NoPen);
  painter.drawRoundedRect(pixmap.rect(), 4, 4);
  QFont font = QFontDatabase::systemFont(QFontDatabase::FixedFont);
  font.setBold(true);
  font.setPixelSize(side * 2 / 3);
  painter.setFont(font);
  painter.setPen(Qt::white);
  painter.drawText(pixmap.rect(), Qt::AlignCenter, text);
  return pixmap;
}

}  // namespace

int main(int argc, char** argv) {
  QApplication application(argc, argv);
  QWidget window;
  window.setWindowTitle(QStringLiteral("Panel"));
  auto* column = new QVBoxLayout(&window);
  column->setSizeConstraint(QLayout::SetFixedSize);
  column->addWidget(new QLabel(QStringLiteral("Panel")));
  const QFont mono = QFontDatabase::systemFont(QFontDatabase::FixedFont);
  std::vector<QLabel*> figures;
  for (int r = 0; r < kRows; ++r) {
    auto* row = new QHBoxLayout;
    auto* name = new QLabel(QStringLiteral("Row %1").arg(r));
    name->setFont(mono);
    row->addWidget(name);
    row->addStretch(1);
    for (int f = 0; f < kFigures; ++f) {
      auto* figure = new QLabel;
      figure->setFont(mono);
      figure->setMinimumWidth(40);
      row->addWidget(figure);
      figures.push_back(figure);
    }
    column->addLayout(row);
  }
  auto* total = new QLabel;
  column->addWidget(total);
  figures.push_back(total);
  for (const char* text : {"Settings…", "Open Detail Window", "Ports && Power", "Quit"}) {
    auto* button = new QPushButton(QString::fromUtf8(text));
    button->setFlat(true);
    column->addWidget(button);
  }
  window.show();

  int tick = 0;
  QTimer sample;
  QObject::connect(&sample, &QTimer::timeout, [&] {
    ++tick;
    for (std::size_t i = 0; i < figures.size(); ++i) {
      figures[i]->setText(QStringLiteral("%1.%2 W").arg((tick + i) % 20).arg(tick % 100, 2, 10, QLatin1Char('0')));
    }
    for (int side : {16, 22, 32}) {
      for (int scale : {1, 2}) renderIcon(QString::number(tick % 100), side * scale);
    }
  });
  sample.start(kSampleMs);
  return QApplication::exec();
}
