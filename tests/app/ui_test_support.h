#pragma once
// Helpers of the view and shell tests: those of every application test, a
// place for screenshots, a text picture of a widget tree and golden files
// for QTest programs.

#include <QAbstractButton>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QPixmap>
#include <QScrollBar>

#include <functional>

#include "tests/app/app_test_support.h"

namespace calorim::app::testing {

// Saves `picture` as `name` under $SCREENSHOT_DIR (the system's
// temporary folder when unset); true when written.
inline bool saveScreenshot(const QPixmap& picture, const QString& name) {
  const QDir dir(qEnvironmentVariable("SCREENSHOT_DIR", QDir::tempPath()));
  return QDir().mkpath(dir.path()) && picture.save(dir.filePath(name));
}

// The named widgets shown under `root`, one a line in the order they were
// made, indented by their depth among named widgets: the name, a label's or
// a button's text ("[x]" after a ticked one), "(disabled)" where it takes
// no input and what `note` adds. Unnamed
// widgets and Qt's own parts of a scroll area give no line; scroll bars none
// at all, as they come and go with the window's size.
inline QString widgetTree(const QWidget* root, const std::function<QString(const QWidget*)>& note = {}) {
  QString out;
  const std::function<void(const QWidget*, int)> visit = [&](const QWidget* parent, int depth) {
    for (const QObject* child : parent->children()) {
      const auto* widget = qobject_cast<const QWidget*>(child);
      if (widget == nullptr || !widget->isVisibleTo(root) || qobject_cast<const QScrollBar*>(widget)) continue;
      if (widget->objectName().isEmpty() || widget->objectName().startsWith(QLatin1String("qt_"))) {
        visit(widget, depth);
        continue;
      }
      QString line = QString(depth * 2, QLatin1Char(' ')) + widget->objectName();
      QString text;
      if (const auto* label = qobject_cast<const QLabel*>(widget)) text = QStringLiteral(": ") + label->text();
      if (const auto* button = qobject_cast<const QAbstractButton*>(widget)) {
        text = QStringLiteral(": ") + button->text() + (button->isChecked() ? QStringLiteral(" [x]") : QString());
      }
      line += text == QLatin1String(": ") ? QStringLiteral(":") : text;  // no blank at the end of a line
      if (!widget->isEnabledTo(root)) line += QStringLiteral(" (disabled)");
      if (const QString extra = note ? note(widget) : QString(); !extra.isEmpty()) line += QLatin1Char(' ') + extra;
      out += line + QLatin1Char('\n');
      visit(widget, depth + 1);
    }
  };
  visit(root, 0);
  return out;
}

// True when `actual` is the text of the golden file `path`; with
// UPDATE_GOLDEN=1 it writes the file instead (review the difference like
// code). A difference or a missing file is told on the log.
inline bool matchesGolden(const QString& path, const QString& actual) {
  QFile file(path);
  if (qEnvironmentVariable("UPDATE_GOLDEN") == QLatin1String("1")) {
    return file.open(QIODevice::WriteOnly) && file.write(actual.toUtf8()) >= 0;
  }
  if (!file.open(QIODevice::ReadOnly)) {
    qWarning("%s is missing: write it with UPDATE_GOLDEN=1 and review it", qPrintable(path));
    return false;
  }
  const QString expected = QString::fromUtf8(file.readAll());
  if (expected != actual) qWarning("%s differs; the widgets show:\n%s", qPrintable(path), qPrintable(actual));
  return expected == actual;
}

}  // namespace calorim::app::testing
