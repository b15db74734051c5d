#pragma once
// The layout pieces the detail window's cards stand on:
//
//   Card            a rounded card filled with the base colour, a hairline border
//   DisclosureGround  the faint rounded ground of a group that opens and closes
//   BannerGround    the red ground of an error banner
//   ClickableRow    a row that reports left clicks anywhere on it
//   WrapRow         a layout that wraps its items onto more lines
//
// and two helpers: the padded stack inside a card and a faint divider line.

#include <QLayout>
#include <QList>
#include <QWidget>

#include <functional>

class QFrame;
class QVBoxLayout;

namespace calorim::app {

class Card : public QWidget {
 public:
  static constexpr int kPadding = 12;
  static constexpr int kCornerRadius = 8;

  explicit Card(const char* objectName, QWidget* parent = nullptr);

 protected:
  void paintEvent(QPaintEvent* event) override;
};

class DisclosureGround : public QWidget {
 public:
  explicit DisclosureGround(const char* objectName, QWidget* parent = nullptr);

 protected:
  void paintEvent(QPaintEvent* event) override;
};

class BannerGround : public QWidget {
 public:
  explicit BannerGround(const char* objectName, QWidget* parent = nullptr);

 protected:
  void paintEvent(QPaintEvent* event) override;
};

class ClickableRow : public QWidget {
 public:
  ClickableRow(QWidget* parent, std::function<void()> onClick);

 protected:
  void mouseReleaseEvent(QMouseEvent* event) override;

 private:
  std::function<void()> onClick_;
};

// Items from left to right, `spacing` apart; an item that does not fit on
// the line starts the next one, so the row needs no more width than its
// widest item. With `lastAtRightEnd`, the last item keeps the right end while
// it stands on the first line. Hidden items take no room.
class WrapRow : public QLayout {
 public:
  WrapRow(int spacing, int lineSpacing, bool lastAtRightEnd);
  ~WrapRow() override;

  void addItem(QLayoutItem* item) override;
  [[nodiscard]] int count() const override;
  [[nodiscard]] QLayoutItem* itemAt(int i) const override;
  QLayoutItem* takeAt(int i) override;
  [[nodiscard]] Qt::Orientations expandingDirections() const override;
  [[nodiscard]] bool hasHeightForWidth() const override;
  [[nodiscard]] int heightForWidth(int width) const override;
  [[nodiscard]] QSize sizeHint() const override;
  [[nodiscard]] QSize minimumSize() const override;
  void setGeometry(const QRect& rect) override;

 private:
  // Places the shown items in `rect` when `apply`; returns the height used.
  int arrange(const QRect& rect, bool apply) const;

  QList<QLayoutItem*> items_;
  int spacing_;
  int lineSpacing_;
  bool lastAtRightEnd_;
};

// The vertical stack of a card's content, `spacing` apart, inside the card's padding.
QVBoxLayout* cardStack(QWidget* card, int spacing);
// A thin line in the window text's colour at 15 % opacity.
QFrame* makeDivider(QWidget* parent, Qt::Orientation orientation);

}  // namespace calorim::app
