#pragma once
// Helpers of the view and shell tests: those of every application test, a
// place for screenshots, a text picture of a widget tree and golden files
// for QTest programs, and looking widgets up by name.

#include <QAbstractButton>
#include <QDir>
#include <QLabel>
#include <QPixmap>
#include <QScrollBar>

#include <functional>
#include <string>

#include "tests/app/app_test_support.h"
#include "tests/support/golden.h"

namespace calorim::app::testing {

// Saves `picture` as `name` under $SCREENSHOT_DIR (the system's
// temporary folder when unset); true when written.
inline bool saveScreenshot(const QPixmap& picture, const QString& name) {
  const QDir dir(qEnvironmentVariable("SCREENSHOT_DIR", QDir::tempPath()));
  return QDir().mkpath(dir.path()) && picture.save(dir.filePath(name));
}

// The widget named `name` under `root`; the program ends where there is none.
template <typename T = QWidget>
T* part(const QObject* root, const char* name) {
  T* found = root->findChild<T*>(QLatin1String(name));
  if (found == nullptr) qFatal("no part named %s", name);
  return found;
}

// Whether the widget named `name` under `root` shows when `root` does.
inline bool shown(const QWidget* root, const char* name) { return part(root, name)->isVisibleTo(root); }

// The named widgets shown under `root`, one a line in the order they were
// made, indented by their depth among named widgets: the name, a label's or
// a button's text ("[x]" after a ticked one), its accessible name in «» where
// that says more than the text, "(disabled)" where it takes
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
      // What a screen reader says, where the widget names itself beyond its text.
      if (!widget->accessibleName().isEmpty() && QStringLiteral(": ") + widget->accessibleName() != text) {
        line += QStringLiteral(" \u00AB") + widget->accessibleName() + QStringLiteral("\u00BB");
      }
      if (!widget->isEnabledTo(root)) line += QStringLiteral(" (disabled)");
      if (const QString extra = note ? note(widget) : QString(); !extra.isEmpty()) line += QLatin1Char(' ') + extra;
      out += line + QLatin1Char('\n');
      visit(widget, depth + 1);
    }
  };
  visit(root, 0);
  return out;
}

// True when `actual` is the text of the golden file `path` (see
// tests/support/golden.h); a difference is told on the log.
inline bool matchesGolden(const std::string& path, const QString& actual) {
  const std::string difference = calorim::testing::goldenDifference(path, actual.toStdString());
  if (!difference.empty()) qWarning("%s", difference.c_str());
  return difference.empty();
}

}  // namespace calorim::app::testing
